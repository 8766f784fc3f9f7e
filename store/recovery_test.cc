// What a crash leaves behind, and what opening the document makes of it.
//
// A crash is taken as its worst case: the document's file exactly as the
// writer left it, never closed or saved again. Each test copies the file of
// a document that is still open (as a SIGKILL would leave it) and opens the
// copy.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/testing/temp_device.h"
#include "platform/unicode.h"
#include "store/document.h"
#include "store/journal.h"
#include "store/salvage.h"

namespace store {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kPath = u"\\My Documents\\live.zud";
constexpr std::u16string_view kCrashed = u"\\My Documents\\crashed.zud";
const platform::SystemTime kTime{2026, 12, 3, 8, 9, 30, 0, 0};

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NewFileOptions options;
    ASSERT_TRUE(live_.New(kPath, options).ok());
    ASSERT_TRUE(live_.Save().ok());
  }

  fs::path Host(std::u16string_view path) {
    return *platform::files::Resolve(path);
  }
  std::string Bytes(std::u16string_view path) {
    return platform::testing::ReadHostFile(Host(path));
  }
  void WriteBytes(std::u16string_view path, const std::string& bytes) {
    platform::testing::WriteHostFile(Host(path), bytes);
  }
  // The live document's file as a crash would leave it, under kCrashed.
  void Crash() { WriteBytes(kCrashed, Bytes(kPath)); }

  Node* File(std::u16string_view path, std::u16string_view body,
             MessageKind kind = MessageKind::kReceived) {
    Node* folder = live_.FindOrCreateFolderPath(path);
    if (folder == nullptr) return nullptr;
    return live_.StoreMessage(folder, u"+8613800138000", body, kTime, kind);
  }

  // "title [image]" lines of the tree in pre-order, indented by depth.
  static std::vector<std::string> Lines(const Document& doc) {
    std::vector<std::string> lines;
    std::vector<std::pair<const Node*, int>> stack;
    const Node* root = doc.tree().root();
    for (size_t i = root->child_count(); i-- > 0;)
      stack.emplace_back(root->child(i), 0);
    while (!stack.empty()) {
      auto [node, depth] = stack.back();
      stack.pop_back();
      lines.push_back(std::string(depth * 2, ' ') +
                      platform::ToUtf8(node->title()) + " [" +
                      std::to_string(node->image()) + "]");
      for (size_t i = node->child_count(); i-- > 0;)
        stack.emplace_back(node->child(i), depth + 1);
    }
    return lines;
  }

  platform::testing::TempDevice device_;
  Document live_;
};

TEST_F(RecoveryTest, FilingsSinceTheLastSaveComeBackWhereTheyWereFiled) {
  File(u"\\Inbox", u"first");
  File(u"\\Work\\Deep", u"\u4f60\u597d deep");
  ASSERT_NE(live_.StoreMessage(live_.recycle_bin(), u"10086", u"spam", kTime),
            nullptr);
  Node* sent = File(u"\\Sent Box", u"sent one", MessageKind::kSent);
  ASSERT_NE(sent, nullptr);
  const std::vector<std::string> expected = Lines(live_);
  Crash();

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_EQ(Lines(crashed), expected);
  EXPECT_EQ(report.recovered_messages, 4);
  EXPECT_EQ(report.recovered_folders, 2);  // \Work and \Work\Deep
  EXPECT_FALSE(report.damaged());
  EXPECT_TRUE(report.damaged_copy.empty());
  // Unread state as filed, counts and the published total follow.
  EXPECT_EQ(crashed.UnreadTotal(), 2);
  EXPECT_EQ(crashed.recycle_bin()->image(), kImageRecycleBinFull);
  // The bodies read back through the records the notes named.
  Node* deep = crashed.FindOrCreateFolderPath(u"\\Work\\Deep");
  ASSERT_EQ(deep->child_count(), 1u);
  EXPECT_EQ(crashed.ReadNodeBody(deep->child(0)), u"\u4f60\u597d deep");

  // Opened again before any save (a second crash): the same, nothing twice.
  WriteBytes(u"\\again.zud", Bytes(kCrashed));
  Document again;
  ASSERT_TRUE(again.Open(u"\\again.zud").ok());
  EXPECT_EQ(Lines(again), expected);

  // Once saved, the notes lie behind the index: nothing more to recover.
  ASSERT_TRUE(crashed.Close().ok());
  LoadReport after;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &after).ok());
  EXPECT_EQ(Lines(crashed), expected);
  EXPECT_EQ(after.recovered_messages + after.recovered_folders, 0);
}

TEST_F(RecoveryTest, APlainReaderSeesTheLastSaveAndIgnoresTheNotes) {
  File(u"\\Inbox", u"saved");
  ASSERT_TRUE(live_.Save().ok());
  const std::vector<std::string> saved = Lines(live_);
  File(u"\\Inbox", u"after the save");
  Crash();

  // The format's own reading: the header's index, nothing else.
  MessageFile plain;
  ASSERT_TRUE(plain.Open(kCrashed, Access::kRead).ok());
  LoadReport report;
  std::optional<std::vector<IndexEntry>> entries = plain.LoadIndex(&report);
  ASSERT_TRUE(entries.has_value());
  EXPECT_TRUE(report.problems.empty());
  MessageTree tree;
  tree.Build(*entries);
  Document view;
  ASSERT_TRUE(view.OpenForReading(kCrashed, &report).ok());
  EXPECT_EQ(Lines(view), saved);
  EXPECT_EQ(tree.size(), view.tree().size());
  // A reader only counts what recovery would bring back.
  EXPECT_EQ(report.recovered_messages, 1);

  // A compacted copy holds no notes at all.
  ASSERT_TRUE(live_.Compact().ok());
  const std::string packed = Bytes(kPath);
  EXPECT_EQ(packed.find(std::string(kNoteMagic, kNoteMagicSize)),
            std::string::npos);
}

TEST_F(RecoveryTest, ASaveWhoseHeaderWriteNeverHappenedIsTaken) {
  File(u"\\Inbox", u"one");
  Node* gone = File(u"\\Inbox", u"deleted before the save");
  ASSERT_TRUE(live_.DeleteNodes(std::vector<Node*>{gone}));
  // The index and its note are committed; the header is not rewritten.
  ASSERT_TRUE(live_.file().SaveIndex(live_.tree().ToIndexEntries()).ok());
  const std::vector<std::string> expected = Lines(live_);
  const uint32_t new_index = live_.file().header().index_offset();
  Crash();

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_TRUE(report.used_noted_index);
  EXPECT_EQ(report.index_used, new_index);
  EXPECT_NE(report.header_index, new_index);
  EXPECT_EQ(Lines(crashed), expected);  // the deletion holds
  EXPECT_FALSE(report.damaged());
}

TEST_F(RecoveryTest, WithdrawnFilingsEditsAndRewrittenRecords) {
  Node* folder = live_.FindOrCreateFolderPath(u"\\Inbox");
  // A message persisted, then withdrawn (its answer came too late).
  std::optional<PendingFiling> late =
      live_.PersistMessage(folder, u"10010", u"too late", kTime);
  ASSERT_TRUE(late.has_value());
  ASSERT_TRUE(live_.WithdrawPending(*late).ok());
  EXPECT_EQ(live_.InsertPending(*late), nullptr);
  // A message whose password changed after it was filed.
  Node* guarded = File(u"\\Inbox", u"guarded");
  NodeRecord record = *live_.ReadNodeRecord(guarded);
  record.set_password(u"pw");
  ASSERT_TRUE(live_.RewriteNodeRecord(guarded, record).ok());
  // A saved draft edited after the save.
  Node* draft = File(u"\\Drafts", u"draft v1", MessageKind::kSent);
  ASSERT_TRUE(live_.Save().ok());
  NodeRecord edited = *live_.ReadNodeRecord(draft);
  const std::string v2("draft v2", 9);
  ASSERT_TRUE(
      live_.ReplaceNodeRecord(draft, edited, std::string_view(v2), u"v2").ok());
  const std::vector<std::string> expected = Lines(live_);
  ASSERT_TRUE(live_.file().IsOpen());
  Crash();

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_EQ(Lines(crashed), expected);
  EXPECT_EQ(report.recovered_edits, 1);
  Node* drafts = crashed.FindOrCreateFolderPath(u"\\Drafts");
  ASSERT_EQ(drafts->child_count(), 1u);
  EXPECT_EQ(crashed.ReadNodeBody(drafts->child(0)), u"draft v2");
  EXPECT_FALSE(report.damaged());
}

TEST_F(RecoveryTest, FilingsThatAnsweredForThePhonesCopyNameIt) {
  Node* inbox = live_.FindOrCreateFolderPath(u"\\Inbox");
  const PhoneCopy copy{0x01DC000000000001ull, 0xC0FFEE};
  std::optional<PendingFiling> hidden = live_.PersistMessage(
      inbox, u"10086", u"hidden", kTime, MessageKind::kReceived, nullptr, copy);
  ASSERT_TRUE(hidden.has_value());
  // A message kept in the phone's Inbox as well names no copy.
  ASSERT_TRUE(
      live_.PersistMessage(inbox, u"10086", u"kept", kTime).has_value());
  // Nor does one whose answer was withdrawn.
  std::optional<PendingFiling> late = live_.PersistMessage(
      inbox, u"10086", u"late", kTime, MessageKind::kReceived, nullptr,
      PhoneCopy{0x01DC000000000002ull, 1});
  ASSERT_TRUE(late.has_value());
  ASSERT_TRUE(live_.WithdrawPending(*late).ok());
  Crash();

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_EQ(report.recovered_messages, 2);
  ASSERT_EQ(report.released.size(), 1u);
  EXPECT_EQ(report.released[0].delivery_time, copy.delivery_time);
  EXPECT_EQ(report.released[0].fingerprint, copy.fingerprint);
}

TEST_F(RecoveryTest, AWriteCutShortIsNeitherRecoveredNorDamage) {
  File(u"\\Inbox", u"whole");
  const std::string before = Bytes(kPath);
  const std::vector<std::string> expected = Lines(live_);
  File(u"\\Inbox", u"cut short");
  // The live file holds zeros after its logical end (padding): cut the last
  // write inside its note, as a crash in the middle of the write would.
  std::string after = Bytes(kPath);
  const size_t note = after.rfind(std::string(kNoteMagic, kNoteMagicSize));
  ASSERT_NE(note, std::string::npos);
  ASSERT_GT(note, before.find_last_not_of('\0'));
  std::string cut = after.substr(0, note + 20);
  cut.resize(after.size(), '\0');
  WriteBytes(kCrashed, cut);

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_EQ(Lines(crashed), expected);
  EXPECT_FALSE(report.damaged());
  EXPECT_GT(report.unnoted_bytes, 0u);
}

TEST_F(RecoveryTest, ACutOffDocumentOpensWithItsLatestWholeSaveAndSaysSo) {
  for (int save = 0; save < 3; ++save) {
    for (int i = 0; i < 20; ++i) {
      File(u"\\Inbox",
           u"message " + platform::FromUtf8(std::to_string(save * 100 + i)));
    }
    ASSERT_TRUE(live_.Save().ok());
  }
  const std::vector<std::string> all = Lines(live_);
  ASSERT_TRUE(live_.Close().ok());
  // The last index and its note are cut off (a full card, a bad copy).
  const std::string whole = Bytes(kPath);
  const size_t last_save = whole.rfind(std::string(kNoteMagic, 8));
  const std::string truncated = whole.substr(0, last_save - 40);
  WriteBytes(kCrashed, truncated);

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_TRUE(report.damaged());
  EXPECT_TRUE(report.used_fallback_index || report.used_noted_index);
  // The second save's index, then the 20 filed after it from their notes.
  EXPECT_EQ(report.recovered_messages, 20);
  EXPECT_EQ(Lines(crashed), all);
  // The damaged file was kept as it was, before anything was written.
  ASSERT_FALSE(report.damaged_copy.empty());
  EXPECT_EQ(Bytes(report.damaged_copy), truncated);
}

TEST_F(RecoveryTest, RecordsNoNoteReachesAreCountedAndSalvagedOnce) {
  // An older writer appended records after the last save and never saved.
  Node* inbox = live_.FindOrCreateFolderPath(u"\\Inbox");
  ASSERT_TRUE(live_.Save().ok());
  const std::vector<std::string> saved = Lines(live_);
  for (int i = 0; i < 3; ++i) {
    NodeRecord record;
    record.set_type(kRecordCompressed);
    record.set_date(46000.0 - i);  // filed newest first
    record.set_sender(u"+15550100");
    std::string body = "legacy " + std::to_string(i);
    body.push_back('\0');
    ASSERT_TRUE(live_.file().AppendRecord(record, body).has_value());
  }
  // The same message twice (a second record of equal time, sender, text).
  NodeRecord twin;
  twin.set_type(kRecordCompressed);
  twin.set_date(46000.0);
  twin.set_sender(u"+15550100");
  ASSERT_TRUE(
      live_.file().AppendRecord(twin, std::string("legacy 0", 9)).has_value());
  ASSERT_NE(inbox, nullptr);
  Crash();

  Document crashed;
  LoadReport report;
  ASSERT_TRUE(crashed.Open(kCrashed, false, &report).ok());
  EXPECT_EQ(Lines(crashed), saved);
  EXPECT_GE(report.unreached_messages, 3);
  EXPECT_TRUE(report.damaged());
  ASSERT_FALSE(report.damaged_copy.empty());

  std::set<uint32_t> reached;
  for (const IndexEntry& entry : crashed.tree().ToIndexEntries())
    reached.insert(entry.record_offset);
  std::vector<SalvagedMessage> found = SalvageMessages(crashed.file(), reached);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].body, u"legacy 2");  // oldest first
  EXPECT_EQ(found[1].body, u"legacy 1");
  EXPECT_EQ(found[2].body, u"legacy 0");
  EXPECT_EQ(found[2].sender, u"+15550100");
}

TEST_F(RecoveryTest, OneWriterAtATimeAndReadersAlongside) {
  File(u"\\Inbox", u"hello");
  ASSERT_TRUE(live_.Save().ok());
  Document second;
  platform::Status status = second.Open(kPath);
  EXPECT_EQ(status.code(), platform::ErrorCode::kBusy);
  EXPECT_NE(status.message().find("pid " + std::to_string(getpid())),
            std::string::npos)
      << status.message();
  EXPECT_FALSE(second.IsOpen());
  Document reader;
  ASSERT_TRUE(reader.OpenForReading(kPath).ok());
  EXPECT_EQ(Lines(reader), Lines(live_));
  ASSERT_TRUE(reader.Close().ok());

  // A writer that died holding the document leaves it free.
  ASSERT_TRUE(live_.Close().ok());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    Document holder;
    char c = holder.Open(kPath).ok() ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(second.Open(kPath).code(), platform::ErrorCode::kBusy);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(second.Open(kPath).ok());
}

TEST_F(RecoveryTest, NothingIsFiledOrSavedWhileThePasswordIsAsked) {
  ASSERT_TRUE(live_.Close().ok());
  NewFileOptions options;
  options.password = u"secret";
  Document locked;
  ASSERT_TRUE(locked.New(u"\\locked.zud", options).ok());
  locked.StoreMessage(locked.WellKnownFolder(kFolderInbox), u"1", u"a", kTime);
  ASSERT_TRUE(locked.Close().ok());

  // While the prompt is up (its own event loop in the program), a message
  // or a save tick must find no document.
  class PromptUi : public DocumentUi {
   public:
    Document* document = nullptr;
    bool open_during_prompt = true;
    bool filed_during_prompt = true;
    bool Confirm(std::u16string_view, std::u16string_view) override {
      return true;
    }
    void Inform(std::u16string_view, std::u16string_view) override {}
    bool CheckPassword(const std::u16string& password) override {
      open_during_prompt = document->IsOpen();
      filed_during_prompt =
          document->FindOrCreateFolderPath(u"\\Inbox") != nullptr;
      document->Save().IgnoreError();
      return password == u"secret";
    }
    std::optional<std::u16string> ChangePassword(
        const std::u16string&) override {
      return std::nullopt;
    }
  } ui;
  Document doc(DocumentOptions{}, &ui);
  ui.document = &doc;
  const std::string before = Bytes(u"\\locked.zud");
  ASSERT_TRUE(doc.Open(u"\\locked.zud").ok());
  EXPECT_FALSE(ui.open_during_prompt);
  EXPECT_FALSE(ui.filed_during_prompt);
  EXPECT_EQ(Bytes(u"\\locked.zud"), before);
  EXPECT_EQ(doc.UnreadTotal(), 1);
}

TEST_F(RecoveryTest, AnUnreadableRecordFailsItsPasswordCheck) {
  Node* message = File(u"\\Inbox", u"x");
  NodeTag tag = message->tag();
  tag.record_offset = 0x7FFFFFF0;  // past the end
  live_.tree().SetTag(message, tag);
  EXPECT_FALSE(live_.CheckNodePassword(message));
  EXPECT_TRUE(live_.CheckNodePassword(live_.recycle_bin()));
}

TEST(JournalTest, NotesRoundTripAndAnyDamageIsRefused) {
  Note note;
  note.kind = NoteKind::kFiled;
  note.target_offset = 1234;
  note.target_size = 200;
  note.target_crc = 0xDEADBEEF;
  note.image = kImageMessageUnread;
  note.flags = kNoteInRecycleBin;
  note.path = {u"Work", u"\u6d88\u606f"};
  note.title = u"Ann 2026-12-3";
  const std::string bytes = EncodeNote(note, 0x12345678);
  size_t size = 0;
  std::optional<Note> back = DecodeNote(bytes, &size);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(back->path, note.path);
  EXPECT_EQ(back->title, note.title);
  EXPECT_EQ(back->target_crc, note.target_crc);
  EXPECT_EQ(back->flags, note.flags);
  // Titles are masked like the index text.
  EXPECT_EQ(bytes.find("W\0o\0r\0k", 0, 7), std::string::npos);
  // Every single changed byte, and every cut, is refused.
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::string damaged = bytes;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x01);
    EXPECT_FALSE(DecodeNote(damaged, &size).has_value()) << i;
    EXPECT_FALSE(DecodeNote(bytes.substr(0, i), &size).has_value()) << i;
  }
}

}  // namespace
}  // namespace store
