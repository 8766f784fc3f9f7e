// The message file on a generated document of 100,000 messages in a few
// hundred folders, each measurement beside a peer doing the same work in the
// same run:
//   - appending one message durably  vs  SQLite inserting the same row, one
//     transaction each, synchronous=FULL, WAL;
//   - filing one message (StoreMessage: record, body and the note of where
//     it was filed, one commit)  vs  the floor: the same bytes appended to a
//     plain file and committed (fdatasync), and SQLite as above;
//   - opening the document with 1,000 messages filed after its last save
//     (put back from their notes)  vs  opening it without;
//   - Open + LoadIndex of the whole tree  vs  SQLite selecting the same
//     100,000 titles and offsets into memory;
//   - SaveIndex of the whole tree;
//   - CompactTo  vs  copying the file with cp.
// The loaded tree's memory is reported as the counter "tree_bytes".
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_device.h"
#include "platform/codepage.h"
#include "platform/device.h"
#include "platform/files.h"
#include "platform/time.h"
#include "store/document.h"
#include "store/message_file.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMessages = 100000;
constexpr int kFolders = 300;

using bench::EnsureDevice;

std::u16string Title(int i) {
  return u"\u5f20\u4e09 2006-3-" + std::u16string(1, u'1' + i % 9) + u" 7:08:" +
         std::u16string(1, u'0' + i % 10) + u"9";
}

struct Generated {
  std::u16string path;
  std::vector<store::IndexEntry> entries;
};

// Builds the 100,000-message document once per process.
const Generated& Document() {
  static Generated generated = [] {
    EnsureDevice();
    Generated g;
    g.path = u"\\My Documents\\bench.zud";
    store::MessageFile file;
    store::FileHeader header;
    if (!file.Create(g.path, header).ok()) return g;
    file.set_commit_appends(false);  // one commit, at the save
    std::mt19937 random(42);
    int per_folder = kMessages / kFolders;
    int message = 0;
    for (int f = 0; f < kFolders; ++f) {
      store::NodeRecord folder;
      folder.set_type(store::kRecordCompressed);
      std::optional<uint32_t> folder_offset =
          file.AppendRecord(folder, std::nullopt);
      g.entries.push_back({f % 3 == 0 ? 0 : 1,
                           u"Folder " + std::u16string(1, u'A' + f % 26),
                           folder_offset.value_or(0), store::kImageFolder});
      int depth = g.entries.back().depth + 1;
      int count = f + 1 == kFolders ? kMessages - message : per_folder;
      for (int m = 0; m < count; ++m, ++message) {
        store::NodeRecord record;
        record.set_type(store::kRecordCompressed);
        record.set_sender(u"\"Ann\"<+8613800138000>");
        std::string body = platform::WideToMultiByte(bench::RandomBody(random));
        body.push_back('\0');
        std::optional<uint32_t> offset = file.AppendRecord(record, body);
        g.entries.push_back({depth, Title(message), offset.value_or(0),
                             m % 7 == 0 ? store::kImageMessageUnread
                                        : store::kImageMessageRead});
      }
    }
    file.MarkModified();
    if (!file.SaveIndex(g.entries).ok() || !file.FlushHeader().ok())
      g.entries.clear();
    file.Close();
    return g;
  }();
  return generated;
}

// ------------------------------------------------------------- appending

void BM_AppendMessageDurable(benchmark::State& state) {
  EnsureDevice();
  store::MessageFile file;
  if (!file.Create(u"\\My Documents\\append.zud", store::FileHeader()).ok()) {
    state.SkipWithError("cannot create");
    return;
  }
  std::mt19937 random(7);
  std::vector<std::string> bodies;
  for (int i = 0; i < 1000; ++i) {
    bodies.push_back(platform::WideToMultiByte(bench::RandomBody(random)) +
                     std::string(1, '\0'));
  }
  size_t i = 0;
  for (auto _ : state) {
    store::NodeRecord record;
    record.set_type(store::kRecordCompressed);
    record.set_sender(u"+8613800138000");
    benchmark::DoNotOptimize(
        file.AppendRecord(record, bodies[i++ % bodies.size()]));
  }
  state.SetItemsProcessed(state.iterations());
  file.Close();
}
BENCHMARK(BM_AppendMessageDurable)->UseRealTime();

void BM_SqliteInsertDurable(benchmark::State& state) {
  EnsureDevice();
  std::string path = (platform::DeviceRoot() / "peer-insert.db").string();
  fs::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(
      db,
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
      "CREATE TABLE messages(id INTEGER PRIMARY KEY, sender TEXT, date REAL,"
      " title TEXT, body TEXT);",
      nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(
      db, "INSERT INTO messages(sender, date, title, body) VALUES(?,?,?,?)", -1,
      &insert, nullptr);
  std::mt19937 random(7);
  std::vector<std::string> bodies;
  for (int i = 0; i < 1000; ++i)
    bodies.push_back(
        platform::WideToMultiByte(bench::RandomBody(random), 65001));
  size_t i = 0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const std::string& body = bodies[i++ % bodies.size()];
    sqlite3_bind_text(insert, 1, "+8613800138000", -1, SQLITE_STATIC);
    sqlite3_bind_double(insert, 2, 39000.5);
    sqlite3_bind_text(insert, 3, "title", -1, SQLITE_STATIC);
    sqlite3_bind_text(insert, 4, body.c_str(), static_cast<int>(body.size()),
                      SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  state.SetItemsProcessed(state.iterations());
  sqlite3_finalize(insert);
  sqlite3_close(db);
}
BENCHMARK(BM_SqliteInsertDurable)->UseRealTime();

// The floor under a durable filing: the bytes one StoreMessage writes (a
// record, a compressed body of the same texts, a note of about 100 bytes)
// appended to a plain file whose space is already there, one fdatasync
// each.
void BM_AppendAndSyncFloor(benchmark::State& state) {
  EnsureDevice();
  std::optional<fs::path> host =
      platform::files::Resolve(u"\\My Documents\\floor.bin");
  if (!host) {
    state.SkipWithError("no path");
    return;
  }
  FILE* file = std::fopen(host->c_str(), "w+b");
  if (file == nullptr) {
    state.SkipWithError("cannot create");
    return;
  }
  const int fd = fileno(file);
  // Space written ahead (zeros, so that it is allocated), as the message
  // file pads, so that a commit need not change the file's size.
  constexpr off_t kAhead = 64 << 20;
  const std::string zeros(1 << 20, '\0');
  for (off_t at = 0; at < kAhead; at += static_cast<off_t>(zeros.size())) {
    if (pwrite(fd, zeros.data(), zeros.size(), at) !=
        static_cast<ssize_t>(zeros.size())) {
      state.SkipWithError("cannot size");
      std::fclose(file);
      return;
    }
  }
  if (fsync(fd) != 0) {
    state.SkipWithError("cannot commit");
    std::fclose(file);
    return;
  }
  std::mt19937 random(9);
  std::vector<std::string> writes;
  for (int i = 0; i < 1000; ++i) {
    std::string body = platform::WideToMultiByte(bench::RandomBody(random));
    // About what a record, its compressed body and its note take.
    writes.push_back(std::string(104 + 8 + body.size() * 2 / 3 + 100, 'x'));
  }
  off_t at = 0;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& bytes = writes[i++ % writes.size()];
    if (at + static_cast<off_t>(bytes.size()) > kAhead) at = 0;
    if (pwrite(fd, bytes.data(), bytes.size(), at) !=
            static_cast<ssize_t>(bytes.size()) ||
        fdatasync(fd) != 0) {
      state.SkipWithError("write failed");
      break;
    }
    at += static_cast<off_t>(bytes.size());
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(file);
}
BENCHMARK(BM_AppendAndSyncFloor)->UseRealTime();

// ------------------------------------------------------------- loading

long MaxRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss * 1024L;
}

void BM_OpenAndLoadIndex(benchmark::State& state) {
  const Generated& g = Document();
  if (g.entries.empty()) {
    state.SkipWithError("no document");
    return;
  }
  size_t tree_bytes = 0;
  for (auto _ : state) {
    store::MessageFile file;
    if (!file.Open(g.path).ok()) {
      state.SkipWithError("cannot open");
      return;
    }
    std::optional<std::vector<store::IndexEntry>> entries = file.LoadIndex();
    if (!entries || entries->size() != g.entries.size()) {
      state.SkipWithError("index differs");
      return;
    }
    tree_bytes = entries->capacity() * sizeof(store::IndexEntry);
    for (const store::IndexEntry& e : *entries)
      tree_bytes += e.title.capacity() * 2;
    file.Close();
  }
  state.counters["entries"] = static_cast<double>(g.entries.size());
  state.counters["tree_bytes"] = static_cast<double>(tree_bytes);
  state.counters["max_rss_bytes"] = static_cast<double>(MaxRssBytes());
}
BENCHMARK(BM_OpenAndLoadIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SqliteSelectTitles(benchmark::State& state) {
  const Generated& g = Document();
  std::string path = (platform::DeviceRoot() / "peer-select.db").string();
  static bool built = false;
  if (!built) {
    fs::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(
        db,
        "PRAGMA journal_mode=WAL; CREATE TABLE items(id INTEGER PRIMARY KEY,"
        " depth INTEGER, title TEXT, offset INTEGER, image INTEGER); BEGIN;",
        nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(
        db, "INSERT INTO items(depth, title, offset, image) VALUES(?,?,?,?)",
        -1, &insert, nullptr);
    for (const store::IndexEntry& e : g.entries) {
      std::string title = platform::WideToMultiByte(e.title, 65001);
      sqlite3_bind_int(insert, 1, e.depth);
      sqlite3_bind_text(insert, 2, title.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert, 3, e.record_offset);
      sqlite3_bind_int(insert, 4, static_cast<int>(e.image));
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    built = true;
  }
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT depth, title, offset, image FROM items ORDER BY id", -1,
        &select, nullptr);
    std::vector<store::IndexEntry> entries;
    while (sqlite3_step(select) == SQLITE_ROW) {
      store::IndexEntry e;
      e.depth = sqlite3_column_int(select, 0);
      e.title = platform::MultiByteToWide(
          reinterpret_cast<const char*>(sqlite3_column_text(select, 1)), 65001);
      e.record_offset = static_cast<uint32_t>(sqlite3_column_int64(select, 2));
      e.image = static_cast<uint32_t>(sqlite3_column_int(select, 3));
      entries.push_back(std::move(e));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    benchmark::DoNotOptimize(entries);
  }
}
BENCHMARK(BM_SqliteSelectTitles)->Unit(benchmark::kMillisecond)->UseRealTime();

// ------------------------------------------------------------- compacting

void BM_CompactTo(benchmark::State& state) {
  const Generated& g = Document();
  store::MessageFile file;
  if (g.entries.empty() || !file.Open(g.path).ok()) {
    state.SkipWithError("no document");
    return;
  }
  for (auto _ : state) {
    if (!file.CompactTo(u"\\My Documents\\bench.zud.ban", g.entries).ok()) {
      state.SkipWithError("compaction failed");
      return;
    }
  }
  file.Close();
  state.counters["file_bytes"] =
      static_cast<double>(platform::files::Size(g.path).value_or(0));
}
BENCHMARK(BM_CompactTo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyWithCp(benchmark::State& state) {
  const Generated& g = Document();
  std::optional<fs::path> from = platform::files::Resolve(g.path);
  if (g.entries.empty() || !from) {
    state.SkipWithError("no document");
    return;
  }
  std::string command =
      "cp '" + from->string() + "' '" + from->string() + ".copy'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("cp failed");
      return;
    }
  }
}
BENCHMARK(BM_CopyWithCp)->Unit(benchmark::kMillisecond)->UseRealTime();

// ------------------------------------------------------------- the document

// Heap bytes this process has allocated and not freed (small blocks and
// mapped ones). Unlike the resident size it falls when memory is freed, so
// the difference across one open is what the loaded document holds.
long HeapInUse() {
  struct mallinfo2 info = mallinfo2();
  return static_cast<long>(info.uordblks + info.hblkhd);
}

void BM_StoreMessageDurable(benchmark::State& state) {
  EnsureDevice();
  store::Document document;
  store::NewFileOptions options;
  // The benchmark library runs this more than once: start from no file.
  platform::files::Delete(u"\\My Documents\\store.zud").IgnoreError();
  if (!document.New(u"\\My Documents\\store.zud", options).ok()) {
    state.SkipWithError("cannot create");
    return;
  }
  store::Node* inbox = document.WellKnownFolder(store::kFolderInbox);
  std::mt19937 random(9);
  std::vector<std::u16string> bodies;
  for (int i = 0; i < 1000; ++i) bodies.push_back(bench::RandomBody(random));
  platform::SystemTime now = platform::CurrentSystemTime();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(document.StoreMessage(
        inbox, u"\"Ann\"<+8613800138000>", bodies[i++ % bodies.size()], now));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreMessageDurable)->UseRealTime();

void BM_DocumentOpen(benchmark::State& state) {
  const Generated& g = Document();
  if (g.entries.empty()) {
    state.SkipWithError("no document");
    return;
  }
  long tree_memory = 0;
  for (auto _ : state) {
    long before = HeapInUse();
    auto document = std::make_unique<store::Document>();
    if (!document->Open(g.path).ok()) {
      state.SkipWithError("cannot open");
      return;
    }
    tree_memory = std::max(tree_memory, HeapInUse() - before);
    benchmark::DoNotOptimize(document->UnreadTotal());
  }
  state.counters["nodes"] = static_cast<double>(g.entries.size());
  state.counters["loaded_tree_bytes"] = static_cast<double>(tree_memory);
}
BENCHMARK(BM_DocumentOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

// The generated document as a crash leaves it after 1,000 more messages
// were filed into its folders and never saved.
const std::u16string& CrashedDocument() {
  static std::u16string path = [] {
    const Generated& g = Document();
    const std::u16string live = u"\\My Documents\\live.zud";
    const std::u16string crashed = u"\\My Documents\\crashed.zud";
    if (g.entries.empty() || !platform::files::Copy(g.path, live, false).ok()) {
      return std::u16string();
    }
    store::Document document;
    if (!document.Open(live).ok()) return std::u16string();
    std::mt19937 random(11);
    store::Node* root = document.tree().root();
    platform::SystemTime now = platform::CurrentSystemTime();
    for (int i = 0; i < 1000; ++i) {
      store::Node* folder =
          root->child(static_cast<size_t>(i) % root->child_count());
      if (document.StoreMessage(folder, u"+8613800138000",
                                bench::RandomBody(random), now) == nullptr) {
        return std::u16string();
      }
    }
    if (!platform::files::Copy(live, crashed, false).ok()) {
      return std::u16string();
    }
    document.file().ForbidWrites();  // never saved: as the crash left it
    return crashed;
  }();
  return path;
}

void BM_DocumentOpenWithRecovery(benchmark::State& state) {
  const std::u16string& path = CrashedDocument();
  if (path.empty()) {
    state.SkipWithError("no crashed document");
    return;
  }
  int recovered = 0;
  for (auto _ : state) {
    auto document = std::make_unique<store::Document>();
    store::LoadReport report;
    if (!document->Open(path, false, &report).ok()) {
      state.SkipWithError("cannot open");
      return;
    }
    recovered = report.recovered_messages;
    benchmark::DoNotOptimize(document->UnreadTotal());
    state.PauseTiming();
    // Left as the crash left it, for the next round.
    document->file().ForbidWrites();
    document.reset();
    state.ResumeTiming();
  }
  state.counters["recovered"] = recovered;
}
BENCHMARK(BM_DocumentOpenWithRecovery)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// ------------------------------------------------------------- saving
// Last: every save appends a whole index to the document.

void BM_SaveIndex(benchmark::State& state) {
  const Generated& g = Document();
  store::MessageFile file;
  if (g.entries.empty() || !file.Open(g.path).ok()) {
    state.SkipWithError("no document");
    return;
  }
  for (auto _ : state) {
    file.MarkModified();
    if (!file.SaveIndex(g.entries).ok() || !file.FlushHeader().ok()) {
      state.SkipWithError("save failed");
      return;
    }
  }
  file.Close();
}
BENCHMARK(BM_SaveIndex)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
