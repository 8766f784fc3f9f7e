// The XML backup on a generated backup of 100,000 messages (bodies as
// bench::RandomBody makes them, every fifth one sent, every hundredth with
// an emoji; valid XML, so that the peer reads it too), each measurement
// beside a peer in the same run:
//   - importing it into a folder of a new document (filtered, parsed,
//     checked for duplicates, titled, filed, saved once)  vs  Python's
//     xml.etree.ElementTree.iterparse reading the same file
//     (bench/xml_backup_iterparse.py; counter "iterparse_ms");
//   - the filter and the parser alone: the same file with every message of
//     a type the import refuses, so nothing is filed; counter
//     "peak_rss_kb" is how far the process's peak resident memory rose
//     while it was read, "iterparse_peak_kb" the whole Python process's;
//   - exporting the 100,000 messages of the imported document.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "bench/bench_device.h"
#include "import/xml/xml_backup.h"
#include "platform/files.h"
#include "platform/time.h"
#include "platform/unicode.h"
#include "store/document.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMessages = 100000;
constexpr char16_t kBackup[] = u"\\bench-backup.xml";
constexpr char16_t kRefused[] = u"\\bench-refused.xml";

// Attribute text for the generated file.
std::string Escaped(const std::u16string& text) {
  std::string out;
  for (char c : platform::ToUtf8(text)) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string MakeBackup(int type_override) {
  std::mt19937 random(7);
  std::string xml =
      "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n"
      "<smses count=\"" +
      std::to_string(kMessages) + "\">\n";
  int64_t date = 1709632800000;
  for (int i = 0; i < kMessages; ++i) {
    const int type = type_override != 0 ? type_override : i % 5 == 0 ? 2 : 1;
    std::string body = Escaped(bench::RandomBody(random));
    if (i % 100 == 0) body += " \xF0\x9F\x98\x80";
    date += 61000;
    xml += "  <sms protocol=\"0\" address=\"+86138" + std::to_string(i % 997) +
           "\" date=\"" + std::to_string(date) + "\" type=\"" +
           std::to_string(type) + "\" subject=\"null\" body=\"" + body +
           "\" toa=\"null\" sc_toa=\"null\" service_center=\"null\" read=\"" +
           (i % 3 == 0 ? "0" : "1") +
           "\" status=\"-1\" locked=\"0\" date_sent=\"0\" "
           "readable_date=\"5 Mar 2024 10:00:00\" "
           "contact_name=\"(Unknown)\" />\n";
  }
  xml += "</smses>\n";
  return xml;
}

fs::path HostPath(std::u16string_view device_path) {
  return platform::files::Resolve(device_path).value_or(fs::path());
}

// Writes the two backups once per process.
void EnsureBackups() {
  static bool ready = [] {
    bench::EnsureDevice();
    std::ofstream(HostPath(kBackup), std::ios::binary) << MakeBackup(0);
    std::ofstream(HostPath(kRefused), std::ios::binary) << MakeBackup(3);
    return true;
  }();
  (void)ready;
}

// What the Python peer printed: seconds, messages, peak memory (KB).
struct Peer {
  double seconds = 0;
  long messages = 0;
  long peak_kb = 0;
};

std::optional<Peer> RunIterparse(std::u16string_view device_path) {
  const fs::path script =
      fs::path(__FILE__).parent_path() / "xml_backup_iterparse.py";
  const std::string command = "python3 '" + script.string() + "' '" +
                              HostPath(device_path).string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  Peer peer;
  const int read =
      fscanf(pipe, "%lf %ld %ld", &peer.seconds, &peer.messages, &peer.peak_kb);
  if (pclose(pipe) != 0 || read != 3) return std::nullopt;
  return peer;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(strlen(field)));
  }
  return 0;
}

std::unique_ptr<store::Document> NewDocument(const std::u16string& path) {
  platform::files::Delete(path).IgnoreError();
  auto document = std::make_unique<store::Document>();
  if (!document->New(path, {}).ok()) return nullptr;
  return document;
}

void ReportPeer(benchmark::State& state, std::u16string_view path) {
  if (std::optional<Peer> peer = RunIterparse(path)) {
    state.counters["iterparse_ms"] = peer->seconds * 1000;
    state.counters["iterparse_peak_kb"] = static_cast<double>(peer->peak_kb);
  } else {
    state.counters["iterparse_ms"] = -1;  // no python3 here
  }
}

void BM_Import(benchmark::State& state) {
  EnsureBackups();
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<store::Document> document = NewDocument(
        u"\\bench-import-" + std::u16string(1, u'a' + run++ % 26) + u".zud");
    if (document == nullptr) {
      state.SkipWithError("cannot make a document");
      return;
    }
    store::Node* folder = document->FindOrCreateFolderPath(u"\\Backup");
    state.ResumeTiming();
    import::xml::ImportResult result =
        import::xml::ImportBackupFile(*document, folder, kBackup);
    if (result.imported != kMessages) {
      state.SkipWithError("not every message was imported");
      return;
    }
  }
  state.counters["messages"] = kMessages;
  ReportPeer(state, kBackup);
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ParseOnly(benchmark::State& state) {
  EnsureBackups();
  std::unique_ptr<store::Document> document = NewDocument(u"\\bench-parse.zud");
  store::Node* folder = document->FindOrCreateFolderPath(u"\\Backup");
  long rise = 0;
  for (auto _ : state) {
    // The peak is measured from here (Linux: 5 resets the high-water mark).
    // What the allocator kept of earlier work goes back first, so that the
    // rise is what the reading itself needs.
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKb("VmRSS:");
    import::xml::ImportResult result =
        import::xml::ImportBackupFile(*document, folder, kRefused);
    if (result.refused != kMessages) {
      state.SkipWithError("the messages were not all refused");
      return;
    }
    rise = std::max(rise, StatusKb("VmHWM:") - before);
  }
  state.counters["peak_rss_kb"] = static_cast<double>(rise);
  ReportPeer(state, kRefused);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Export(benchmark::State& state) {
  EnsureBackups();
  std::unique_ptr<store::Document> document =
      NewDocument(u"\\bench-export.zud");
  store::Node* folder = document->FindOrCreateFolderPath(u"\\Backup");
  if (import::xml::ImportBackupFile(*document, folder, kBackup).imported !=
      kMessages) {
    state.SkipWithError("cannot import the backup");
    return;
  }
  for (auto _ : state) {
    import::xml::ExportResult result = import::xml::ExportBackup(
        *document, folder, true, u"\\bench-export.xml");
    if (!result.status.ok() || result.written != kMessages) {
      state.SkipWithError("cannot export");
      return;
    }
  }
  state.counters["messages"] = kMessages;
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
