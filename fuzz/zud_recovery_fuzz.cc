// Fuzz target for opening a document that a crash left behind: the notes
// after its last save, the saves they vouch for, damage, salvage.
//
// A document as a crash leaves it (saved, then more messages, folders, an
// edit, a withdrawn filing and a rewritten record after the save) is made
// once. Each input damages a copy of it: its first bytes choose where, the
// rest is written there (and may cut the file). The copy is then opened for
// reading, for writing (putting back what the notes name, copying the
// damaged file first) and salvaged. Nothing may crash, a failure must say
// why, and what opening for writing puts back must match what reading
// counted.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "store/document.h"
#include "store/journal.h"
#include "store/salvage.h"

namespace {

constexpr char16_t kLive[] = u"\\live.zud";
constexpr char16_t kPath[] = u"\\fuzz.zud";

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "zud_recovery_fuzz: %s\n", what);
  abort();
}

std::string ReadDevice(std::u16string_view path) {
  std::string bytes;
  if (!platform::files::ReadWhole(path, &bytes).ok()) bytes.clear();
  return bytes;
}

void WriteDevice(std::u16string_view path, const std::string& bytes) {
  auto out = platform::files::File::Open(path, "wb");
  Check(out != nullptr, "cannot write the document");
  Check(out->Write(bytes.data(), bytes.size()) == bytes.size(), "short write");
  Check(out->Close().ok(), "cannot close the document");
}

// The document as a crash leaves it.
std::string MakeCrashedDocument() {
  const platform::SystemTime time{2026, 12, 2, 7, 9, 0, 0, 0};
  store::Document live;
  Check(live.New(kLive, {}).ok(), "cannot make the document");
  store::Node* inbox = live.WellKnownFolder(store::kFolderInbox);
  live.StoreMessage(inbox, u"10086", u"saved", time);
  Check(live.Save().ok(), "cannot save");
  live.StoreMessage(live.FindOrCreateFolderPath(u"\\Work\\Deep"), u"10010",
                    u"\u6d88\u606f after the save", time);
  live.StoreMessage(live.recycle_bin(), u"+1555", u"binned", time);
  std::optional<store::PendingFiling> late = live.PersistMessage(
      inbox, u"1", u"late", time, store::MessageKind::kReceived, nullptr,
      store::PhoneCopy{42, 7});
  if (late) live.WithdrawPending(*late).IgnoreError();
  store::Node* guarded = live.StoreMessage(inbox, u"2", u"guarded", time);
  if (std::optional<store::NodeRecord> record = live.ReadNodeRecord(guarded)) {
    record->set_password(u"pw");
    live.RewriteNodeRecord(guarded, *record).IgnoreError();
  }
  std::string edited("edited\0", 7);
  live.ReplaceNodeRecord(inbox->child(0), *live.ReadNodeRecord(inbox->child(0)),
                         edited, u"edited")
      .IgnoreError();
  std::string bytes = ReadDevice(kLive);
  live.file().ForbidWrites();  // never saved again
  return bytes;
}

std::string& Crashed() {
  static std::string* bytes = new std::string(MakeCrashedDocument());
  return *bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/zud-recovery-fuzz-XXXXXX";
  Check(mkdtemp(pattern) != nullptr, "cannot make a scratch folder");
  setenv("TELVANE_DEVICE", pattern, 1);
  Check(platform::InitialiseDevice().ok(), "cannot make a device");
  Check(!Crashed().empty(), "no document");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input damages a copy: 4 bytes of offset, 1 byte saying whether the
  // file is cut after the patch, then the patch.
  std::string bytes = Crashed();
  if (size >= 5) {
    const uint32_t at = (uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                         uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24) %
                        (bytes.size() + 1);
    const bool cut = (data[4] & 1) != 0;
    std::string patch(reinterpret_cast<const char*>(data + 5), size - 5);
    if (at + patch.size() > bytes.size()) bytes.resize(at + patch.size());
    bytes.replace(at, patch.size(), patch);
    if (cut) bytes.resize(at + patch.size());
  }
  WriteDevice(kPath, bytes);
  for (const char16_t* name : {u"\\fuzz.zud.damaged", u"\\fuzz.zud.damaged.2"})
    platform::files::Delete(name).IgnoreError();
  if (auto key = platform::RegistryKey::Open(
          platform::RegistryRoot::kCurrentUser, store::kIndexRegistryKey)) {
    key->DeleteValue(kPath).IgnoreError();
  }
  // Notes read straight from the bytes must never break either.
  for (size_t at = bytes.find("ZudNote"); at != std::string::npos;
       at = bytes.find("ZudNote", at + 1)) {
    size_t note_size = 0;
    store::DecodeNote(std::string_view(bytes).substr(at), &note_size);
  }

  store::LoadReport read_report;
  {
    store::Document reader;
    platform::Status status = reader.OpenForReading(kPath, &read_report);
    if (!status.ok()) return 0;
    Check(ReadDevice(kPath) == bytes, "a reader wrote to the document");
  }

  store::LoadReport report;
  store::Document writer;
  platform::Status status = writer.Open(kPath, false, &report);
  Check(status.ok(), "a document a reader opens must open for writing");
  Check(report.recovered_messages <= read_report.recovered_messages,
        "more put back than counted");
  Check(report.damaged() == read_report.damaged(), "damage seen differently");
  if (report.damaged() && !report.damaged_copy.empty()) {
    Check(ReadDevice(report.damaged_copy) == bytes,
          "the damaged file was written to before it was copied");
  }
  std::set<uint32_t> reached;
  for (const store::IndexEntry& entry : writer.tree().ToIndexEntries())
    reached.insert(entry.record_offset);
  std::vector<store::SalvagedMessage> found =
      store::SalvageMessages(writer.file(), reached);
  for (const store::SalvagedMessage& message : found) {
    Check(reached.count(message.offset) == 0, "salvaged a reached record");
  }
  writer.file().ForbidWrites();
  return 0;
}
