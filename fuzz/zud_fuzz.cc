// Fuzz target for the message file: each input is written as a document on
// a scratch device, then opened, its index loaded and every record and body
// the index reaches read. A loaded index is saved again and must load back
// the same. Any broken invariant aborts with a message.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "store/message_file.h"

namespace {

constexpr char16_t kPath[] = u"\\fuzz.zud";

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "zud_fuzz: %s\n", what);
  abort();
}

// What an entry looks like after a save and a load.
store::IndexEntry Saved(store::IndexEntry entry) {
  for (char16_t& c : entry.title) {
    if (c == u'\n') c = u' ';
  }
  if (entry.image == store::kImageRecycleBinEmpty ||
      entry.image == store::kImageRecycleBinFull) {
    entry.record_offset = 0;
  }
  return entry;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/zud-fuzz-XXXXXX";
  Check(mkdtemp(pattern) != nullptr, "cannot make a scratch folder");
  setenv("TELVANE_DEVICE", pattern, 1);
  Check(platform::InitialiseDevice().ok(), "cannot make a device");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    auto out = platform::files::File::Open(kPath, "wb");
    Check(out != nullptr, "cannot write the document");
    Check(out->Write(data, size) == size, "short write");
    Check(out->Close().ok(), "cannot close the document");
  }
  // Every input starts without a remembered index.
  if (auto key = platform::RegistryKey::Open(
          platform::RegistryRoot::kCurrentUser, store::kIndexRegistryKey)) {
    key->DeleteValue(kPath).IgnoreError();
  }

  store::MessageFile file;
  if (!file.Open(kPath).ok()) {
    Check(size < store::kFileHeaderSize, "a header-sized file must open");
    return 0;
  }
  store::LoadReport report;
  platform::Status status;
  std::optional<std::vector<store::IndexEntry>> entries =
      file.LoadIndex(&report, &status);
  if (!entries) {
    Check(!status.ok(), "a failed load must say why");
    return 0;
  }
  Check(entries->size() <= size / 8, "more entries than the file can hold");
  for (const store::IndexEntry& entry : *entries) {
    std::optional<store::NodeRecord> record =
        file.ReadRecord(entry.record_offset, &status);
    if (!record) {
      Check(!status.ok(), "a failed read must say why");
      continue;
    }
    std::optional<std::string> body =
        file.ReadPayload(entry.record_offset, *record, &status);
    if (!body) Check(!status.ok(), "a failed body must say why");
    record->author();
    record->sender();
    record->password();
  }

  // Saved again, the index loads back the same.
  file.MarkModified();
  if (!file.SaveIndex(*entries).ok()) return 0;
  std::optional<std::vector<store::IndexEntry>> again = file.LoadIndex();
  Check(again.has_value(), "a saved index must load");
  Check(again->size() == entries->size(), "entry count changed");
  for (size_t i = 0; i < again->size(); ++i) {
    store::IndexEntry expected = Saved((*entries)[i]);
    const store::IndexEntry& got = (*again)[i];
    Check(got.depth == expected.depth, "depth changed");
    Check(got.title == expected.title, "title changed");
    Check(got.image == expected.image, "image changed");
    Check(got.record_offset == expected.record_offset, "offset changed");
  }
  return 0;
}
