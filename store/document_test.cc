#include "store/document.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/testing/temp_device.h"
#include "text/text.h"

namespace store {
namespace {

constexpr std::u16string_view kPath = u"\\My Documents\\test.zud";
const platform::SystemTime kTime{2009, 3, 6, 7, 14, 5, 9, 0};

// Answers the document's questions from a script and remembers them.
class ScriptedUi : public DocumentUi {
 public:
  bool Confirm(std::u16string_view text, std::u16string_view caption) override {
    asked.push_back(std::u16string(caption) + u": " + std::u16string(text));
    if (confirm_answers.empty()) return true;
    bool answer = confirm_answers.front();
    confirm_answers.pop_front();
    return answer;
  }
  void Inform(std::u16string_view text, std::u16string_view caption) override {
    asked.push_back(std::u16string(caption) + u": " + std::u16string(text));
  }
  bool CheckPassword(const std::u16string& password) override {
    ++password_prompts;
    return typed.has_value() && *typed == password;
  }
  std::optional<std::u16string> ChangePassword(
      const std::u16string& current) override {
    last_current = current;
    return new_password;
  }

  std::vector<std::u16string> asked;
  std::deque<bool> confirm_answers;
  std::optional<std::u16string> typed;  // what the user types; none = cancel
  int password_prompts = 0;
  std::optional<std::u16string> new_password;
  std::u16string last_current;
};

// "ZUD_SmsCount" as another process sees it: through its own handle.
int32_t SharedUnreadCount() {
  auto shm = platform::SharedMemory::CreateOrOpen(kUnreadCountName, 4, nullptr);
  if (!shm) return -1;
  const auto* bytes = static_cast<const uint8_t*>(shm->data());
  return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                              uint32_t{bytes[3]} << 24);
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doc_.OpenUnreadCounter().ok());
    options_.delete_alert = true;
    doc_.set_options(options_);
    NewFileOptions file_options;
    file_options.author = u"me";
    ASSERT_TRUE(doc_.New(kPath, file_options).ok());
  }

  Node* Root(size_t i) { return doc_.tree().root()->child(i); }
  Node* Store(Node* folder, std::u16string_view body = u"hello",
              MessageKind kind = MessageKind::kReceived) {
    return doc_.StoreMessage(folder, u"13800138000", body, kTime, kind);
  }
  int Unread(const Node* node) { return node->tag().unread; }

  platform::testing::TempDevice device_;
  ScriptedUi ui_;
  DocumentOptions options_;
  Document doc_{DocumentOptions{}, &ui_};
};

TEST_F(DocumentTest, NewFileHasBinAndWellKnownFoldersInOrder) {
  ASSERT_EQ(doc_.tree().root()->child_count(), 4u);
  EXPECT_EQ(Root(0), doc_.recycle_bin());
  EXPECT_EQ(Root(0)->title(), u"Recycle Bin");
  EXPECT_EQ(Root(0)->image(), kImageRecycleBinEmpty);
  EXPECT_EQ(Root(1)->title(), u"Drafts");
  EXPECT_EQ(Root(2)->title(), u"Sent Box");
  EXPECT_EQ(Root(3)->title(), u"Inbox");
  EXPECT_TRUE(doc_.modified());
  EXPECT_EQ(doc_.file().header().author(), u"me");

  // Cached folders; the Outbox appears when first needed; no fifth folder.
  EXPECT_EQ(doc_.WellKnownFolder(kFolderInbox), Root(3));
  Node* outbox = doc_.WellKnownFolder(kFolderOutbox);
  ASSERT_NE(outbox, nullptr);
  EXPECT_EQ(outbox, Root(4));
  EXPECT_EQ(outbox->title(), u"Outbox");
  EXPECT_EQ(doc_.WellKnownFolder(4), nullptr);
  EXPECT_EQ(doc_.WellKnownFolder(-1), nullptr);

  // A deleted folder leaves the cache; the next use makes a new one.
  Node* inbox = Root(3);
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{inbox}));
  Node* again = doc_.WellKnownFolder(kFolderInbox);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again,
            doc_.tree().root()->child(doc_.tree().root()->child_count() - 1));
  EXPECT_EQ(again->title(), u"Inbox");

  // The name rule and refusing an existing file.
  EXPECT_EQ(Document::NewFileName(u"notes"), u"notes.zud");
  EXPECT_EQ(Document::NewFileName(u"Notes.ZUD"), u"notes.zud");
  EXPECT_EQ(Document::NewFileName(u""), u"");
  EXPECT_EQ(doc_.New(kPath, {}).code(), platform::ErrorCode::kAlreadyExists);
  EXPECT_TRUE(doc_.IsOpen());

  // Without a bin when not asked.
  Document plain;
  NewFileOptions no_bin;
  no_bin.create_recycle_bin = false;
  ASSERT_TRUE(plain.New(u"\\plain.zud", no_bin).ok());
  EXPECT_EQ(plain.recycle_bin(), nullptr);
  EXPECT_EQ(plain.tree().root()->child_count(), 3u);
}

TEST_F(DocumentTest, FolderPathsSkipEmptyComponentsAndRespectCase) {
  const size_t roots = doc_.tree().root()->child_count();
  Node* ab = doc_.FindOrCreateFolderPath(u"\\A\\B");
  ASSERT_NE(ab, nullptr);
  EXPECT_EQ(ab->title(), u"B");
  EXPECT_EQ(ab->parent()->title(), u"A");
  EXPECT_EQ(doc_.FindOrCreateFolderPath(u"\\\\A\\\\B\\\\"), ab);
  EXPECT_EQ(doc_.FindOrCreateFolderPath(u"A\\B"), ab);
  EXPECT_EQ(doc_.tree().root()->child_count(), roots + 1);

  Node* lower = doc_.FindOrCreateFolderPath(u"\\a\\B");
  ASSERT_NE(lower, nullptr);
  EXPECT_NE(lower, ab);
  EXPECT_EQ(doc_.tree().root()->child_count(), roots + 2);
  EXPECT_EQ(doc_.FindOrCreateFolderPath(u"\\\\"), nullptr);

  // The new folder's record: type 3, dated now, no payload.
  auto record = doc_.ReadNodeRecord(ab);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->type(), kRecordCompressed);
  EXPECT_FALSE(record->has_payload());
  const double now =
      *platform::SystemTimeToVariantTime(platform::CurrentLocalTime());
  EXPECT_NEAR(record->date(), now, 1.0 / 24 / 60);

  // A message never stands for a folder of a path.
  Store(ab, u"B");
  Node* b_folder = doc_.FindOrCreateFolderPath(u"\\A\\B\\B");
  ASSERT_NE(b_folder, nullptr);
  EXPECT_EQ(b_folder->image(), kImageFolder);
}

TEST_F(DocumentTest, StoreMessageKeepsCountsRecordsAndTitles) {
  options_.receive_title = text::kTitleContactSummary;
  options_.send_title = text::kTitleSummary;
  doc_.set_options(options_);
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* sub = doc_.FindOrCreateFolderPath(u"\\Inbox\\Friends");
  Node* m1 = Store(sub, u"first line\r\nsecond");
  Node* m2 = Store(sub, u"");
  ASSERT_NE(m1, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(m1->image(), kImageMessageUnread);
  EXPECT_EQ(m1->title(), u"13800138000 first line");
  EXPECT_TRUE(m1->bold());
  EXPECT_EQ(Unread(sub), 2);
  EXPECT_EQ(Unread(inbox), 2);
  EXPECT_TRUE(inbox->bold());
  EXPECT_EQ(doc_.UnreadTotal(), 2);
  EXPECT_EQ(SharedUnreadCount(), 2);

  auto record = doc_.ReadNodeRecord(m1);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->sender(), u"13800138000");
  EXPECT_EQ(record->author(), u"");
  EXPECT_TRUE(record->has_payload());
  const double expected_date =
      *platform::SystemTimeToVariantTime(*platform::SystemTimeToLocal(kTime));
  EXPECT_DOUBLE_EQ(record->date(), expected_date);
  EXPECT_EQ(doc_.ReadNodeBody(m1), u"first line\r\nsecond");
  EXPECT_FALSE(doc_.ReadNodeRecord(m2)->has_payload());
  EXPECT_EQ(doc_.ReadNodeBody(m2), u"");

  // Sent messages are read and titled by their own mode.
  Node* sent = Store(doc_.WellKnownFolder(kFolderSentBox), u"out going",
                     MessageKind::kSent);
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->image(), kImageMessageRead);
  EXPECT_EQ(sent->title(), u"out going");
  EXPECT_EQ(SharedUnreadCount(), 2);

  // Nowhere to store.
  EXPECT_EQ(Store(nullptr), nullptr);
  EXPECT_EQ(Store(m1), nullptr);
}

TEST_F(DocumentTest, SaveWhenArriveWritesTheIndexAtOnce) {
  options_.save_when_arrive = true;
  doc_.set_options(options_);
  ASSERT_TRUE(doc_.Save().ok());
  EXPECT_FALSE(doc_.modified());
  ASSERT_NE(Store(doc_.WellKnownFolder(kFolderInbox)), nullptr);
  EXPECT_FALSE(doc_.modified());
  ASSERT_NE(
      Store(doc_.WellKnownFolder(kFolderInbox), u"x", MessageKind::kImported),
      nullptr);
  EXPECT_TRUE(doc_.modified());
}

TEST_F(DocumentTest, DeleteMovesCountsIntoTheBin) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* work = doc_.FindOrCreateFolderPath(u"\\Inbox\\Work");
  Node* deep = doc_.FindOrCreateFolderPath(u"\\Inbox\\Work\\Deep");
  Store(work);
  Store(deep);
  Store(deep);
  Store(inbox);
  EXPECT_EQ(Unread(inbox), 4);
  EXPECT_EQ(SharedUnreadCount(), 4);

  ui_.confirm_answers = {false};
  EXPECT_FALSE(doc_.DeleteNodes(std::vector<Node*>{work}));
  EXPECT_EQ(ui_.asked.back(), u"Alert: Do you want to delete the node?");
  EXPECT_EQ(Unread(inbox), 4);

  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{work, deep}));
  EXPECT_EQ(Unread(inbox), 1);
  EXPECT_EQ(SharedUnreadCount(), 1);
  Node* bin = doc_.recycle_bin();
  ASSERT_EQ(bin->child_count(), 1u);  // "Deep" went with "Work"
  Node* copy = bin->child(0);
  EXPECT_EQ(copy->title(), u"Work");
  EXPECT_EQ(Unread(copy), 3);
  EXPECT_EQ(copy->child(0)->title(), u"Deep");
  EXPECT_EQ(Unread(copy->child(0)), 2);
  EXPECT_EQ(Unread(bin), 3);
  EXPECT_TRUE(bin->bold());
  EXPECT_EQ(bin->image(), kImageRecycleBinFull);

  // Deleting inside the bin is final.
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{copy->child(0)}));
  EXPECT_EQ(bin->child_count(), 1u);
  EXPECT_EQ(Unread(bin), 1);
  EXPECT_EQ(Unread(copy), 1);
  EXPECT_EQ(SharedUnreadCount(), 1);

  // Without a bin a delete is final and the total drops.
  doc_.ToggleRecycleBin();
  EXPECT_EQ(doc_.recycle_bin(), nullptr);
  Node* last = Store(inbox);
  EXPECT_EQ(SharedUnreadCount(), 2);
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{last}));
  EXPECT_EQ(Unread(inbox), 1);
  EXPECT_EQ(SharedUnreadCount(), 1);
}

TEST_F(DocumentTest, RecycleBinEmptyingAndRemoval) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* folder = doc_.FindOrCreateFolderPath(u"\\Inbox\\F");
  Store(folder);
  Store(folder);
  Store(inbox);

  // Empty Folder always asks, copies into the bin and recounts.
  options_.delete_alert = false;
  doc_.set_options(options_);
  EXPECT_TRUE(doc_.EmptyFolder(folder));
  EXPECT_EQ(ui_.asked.back(), u"Alert: Do you want to delete the node?");
  EXPECT_EQ(folder->child_count(), 0u);
  EXPECT_EQ(Unread(folder), 0);
  EXPECT_FALSE(folder->bold());
  EXPECT_EQ(Unread(inbox), 1);
  Node* bin = doc_.recycle_bin();
  EXPECT_EQ(bin->child_count(), 2u);
  EXPECT_EQ(Unread(bin), 2);
  EXPECT_FALSE(doc_.EmptyFolder(folder));  // nothing in it

  // Empty Recycle Bin.
  ui_.confirm_answers = {false};
  EXPECT_FALSE(doc_.EmptyRecycleBin());
  EXPECT_EQ(ui_.asked.back(), u"Alert: Do you want to empty the Recycle Bin?");
  EXPECT_EQ(bin->child_count(), 2u);
  EXPECT_TRUE(doc_.EmptyRecycleBin());
  EXPECT_EQ(bin->child_count(), 0u);
  EXPECT_EQ(Unread(bin), 0);
  EXPECT_EQ(bin->image(), kImageRecycleBinEmpty);

  // Deleting the bin takes everything in it at once.
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{inbox}));
  const size_t before = doc_.tree().size();
  EXPECT_EQ(bin->child_count(), 1u);
  doc_.ToggleRecycleBin();
  EXPECT_EQ(doc_.recycle_bin(), nullptr);
  EXPECT_EQ(doc_.tree().size(), before - 4);  // bin, Inbox copy, F, message
  EXPECT_EQ(SharedUnreadCount(), 0);
  doc_.ToggleRecycleBin();
  ASSERT_NE(doc_.recycle_bin(), nullptr);
  EXPECT_EQ(doc_.recycle_bin()->title(), u"Recycle Bin");
}

TEST_F(DocumentTest, CopyCutPasteAndMarks) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* drafts = doc_.WellKnownFolder(kFolderDrafts);
  Node* a = doc_.FindOrCreateFolderPath(u"\\Inbox\\A");
  Node* a_child = doc_.FindOrCreateFolderPath(u"\\Inbox\\A\\C");
  Node* msg = Store(a_child);
  Store(a);
  EXPECT_EQ(SharedUnreadCount(), 2);

  // Refusals: into the folder that holds it, a folder above, the node
  // itself, its own descendant, the root, a message.
  doc_.Copy(std::vector<Node*>{a});
  EXPECT_EQ(doc_.clipboard_command(), Document::ClipboardCommand::kCopy);
  const size_t size = doc_.tree().size();
  EXPECT_FALSE(doc_.Paste(inbox));
  EXPECT_FALSE(doc_.Paste(a));
  EXPECT_FALSE(doc_.Paste(a_child));
  EXPECT_FALSE(doc_.Paste(nullptr));
  EXPECT_FALSE(doc_.Paste(msg));
  EXPECT_EQ(doc_.tree().size(), size);
  EXPECT_EQ(doc_.CopySubtree(a_child, a), nullptr);

  // Copy into Drafts: the counts follow, the source stays.
  ASSERT_TRUE(doc_.Paste(drafts));
  EXPECT_TRUE(doc_.clipboard().empty());
  EXPECT_EQ(doc_.clipboard_command(), Document::ClipboardCommand::kNone);
  ASSERT_EQ(drafts->child_count(), 1u);
  EXPECT_EQ(Unread(drafts->child(0)), 2);
  EXPECT_EQ(Unread(drafts), 2);
  EXPECT_TRUE(drafts->bold());
  EXPECT_EQ(Unread(inbox), 2);
  EXPECT_EQ(SharedUnreadCount(), 4);
  EXPECT_EQ(doc_.tree().size(), size + 4);
  EXPECT_FALSE(doc_.Paste(drafts));  // the clipboard is spent

  // Cut from Drafts into the Sent Box: Drafts loses what the Sent Box gains.
  Node* sent = doc_.WellKnownFolder(kFolderSentBox);
  doc_.Cut(std::vector<Node*>{drafts->child(0)});
  ASSERT_TRUE(doc_.Paste(sent));
  EXPECT_EQ(drafts->child_count(), 0u);
  EXPECT_EQ(Unread(drafts), 0);
  EXPECT_FALSE(drafts->bold());
  EXPECT_EQ(Unread(sent), 2);
  EXPECT_EQ(SharedUnreadCount(), 4);

  // A clipboard entry that is deleted leaves the clipboard.
  doc_.Copy(std::vector<Node*>{sent->child(0), doc_.recycle_bin()});
  EXPECT_EQ(doc_.clipboard().size(), 1u);
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{sent}));
  EXPECT_TRUE(doc_.clipboard().empty());
  EXPECT_FALSE(doc_.Paste(inbox));
  EXPECT_EQ(SharedUnreadCount(), 2);

  // Marks: a copy into "\Urgency", counted there; the node stays.
  Node* marked = doc_.CopyToMark(a, u"Urgency");
  ASSERT_NE(marked, nullptr);
  Node* urgency = marked->parent();
  EXPECT_EQ(urgency->title(), u"Urgency");
  EXPECT_EQ(urgency->parent(), doc_.tree().root());
  EXPECT_EQ(Unread(urgency), 2);
  EXPECT_EQ(a->parent(), inbox);
  EXPECT_EQ(SharedUnreadCount(), 4);
  EXPECT_EQ(doc_.CopyToMark(urgency, u"Urgency"), nullptr);
  EXPECT_EQ(doc_.CopyToMark(doc_.recycle_bin(), u"Urgency"), nullptr);
  EXPECT_EQ(urgency->child_count(), 1u);
}

TEST_F(DocumentTest, MarkReadChangesOnlyMessagesOfTheOtherState) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* unread = Store(inbox);
  Node* read = Store(inbox, u"r", MessageKind::kImported);
  ASSERT_TRUE(doc_.Save().ok());

  doc_.MarkRead(std::vector<Node*>{read, inbox}, true);
  EXPECT_EQ(read->image(), kImageMessageRead);
  EXPECT_EQ(inbox->image(), kImageFolder);
  EXPECT_EQ(Unread(inbox), 1);
  EXPECT_EQ(Unread(read), 0);
  EXPECT_FALSE(doc_.modified());

  doc_.MarkRead(std::vector<Node*>{unread}, true);
  EXPECT_EQ(unread->image(), kImageMessageRead);
  EXPECT_EQ(Unread(inbox), 0);
  EXPECT_FALSE(inbox->bold());
  EXPECT_EQ(SharedUnreadCount(), 0);
  EXPECT_TRUE(doc_.modified());

  doc_.MarkRead(std::vector<Node*>{unread, read}, false);
  EXPECT_EQ(Unread(inbox), 2);
  EXPECT_TRUE(read->bold());
  EXPECT_EQ(SharedUnreadCount(), 2);
}

TEST_F(DocumentTest, CopiesShareTheirRecord) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* msg = Store(inbox, u"shared body");
  Node* copy = doc_.CopySubtree(doc_.WellKnownFolder(kFolderDrafts), msg);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->tag(), msg->tag());

  ASSERT_TRUE(doc_.SetNodeAuthor(copy, u"Alice").ok());
  EXPECT_EQ(doc_.ReadNodeRecord(msg)->author(), u"Alice");
  EXPECT_EQ(doc_.ReadNodeBody(msg), u"shared body");

  ui_.new_password = u"pw";
  ASSERT_TRUE(doc_.ChangeNodePassword(msg));
  EXPECT_EQ(ui_.last_current, u"");
  EXPECT_EQ(doc_.ReadNodeRecord(copy)->password(), u"pw");
  EXPECT_EQ(msg->tag().unlock_stamp, kUnlockedBySetting);
  EXPECT_EQ(copy->tag().unlock_stamp, 0);
  EXPECT_FALSE(doc_.ChangeNodePassword(doc_.recycle_bin()));
}

TEST_F(DocumentTest, PasswordLevelsAndProtectedDeletes) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* secret = Store(inbox);
  Node* open = Store(inbox);
  ui_.new_password = u"pw";
  ASSERT_TRUE(doc_.ChangeNodePassword(secret));

  // Only Once: a set or entered password holds.
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
  EXPECT_EQ(ui_.password_prompts, 0);
  EXPECT_TRUE(doc_.CheckNodePassword(open));
  doc_.tree().SetUnlockStamp(secret, 0);
  EXPECT_FALSE(doc_.CheckNodePassword(secret));  // cancelled
  ui_.typed = u"PW";
  EXPECT_FALSE(doc_.CheckNodePassword(secret));  // wrong (case counts)
  ui_.typed = u"pw";
  doc_.set_minimize_count(0x10007);
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
  EXPECT_EQ(secret->tag().unlock_stamp, 7);
  EXPECT_EQ(ui_.password_prompts, 3);

  // Reinput after Minimize: holds until the next minimize.
  options_.protect_level = kProtectAfterMinimize;
  doc_.set_options(options_);
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
  EXPECT_EQ(ui_.password_prompts, 3);
  doc_.RaiseMinimizeCount();
  ui_.typed.reset();
  EXPECT_FALSE(doc_.CheckNodePassword(secret));
  EXPECT_EQ(ui_.password_prompts, 4);

  // Input Every Time.
  options_.protect_level = kProtectEveryTime;
  doc_.set_options(options_);
  ui_.typed = u"pw";
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
  EXPECT_EQ(ui_.password_prompts, 6);

  // A delete skips the protected node, deletes the others, reports failure.
  ui_.typed.reset();
  EXPECT_FALSE(doc_.DeleteNodes(std::vector<Node*>{secret, open}));
  ASSERT_EQ(inbox->child_count(), 1u);
  EXPECT_EQ(inbox->child(0), secret);
  EXPECT_EQ(Unread(inbox), 1);
  EXPECT_EQ(doc_.recycle_bin()->child_count(), 1u);

  // Removing the password.
  ui_.new_password = u"";
  ASSERT_TRUE(doc_.ChangeNodePassword(secret));
  EXPECT_EQ(ui_.last_current, u"pw");
  EXPECT_EQ(secret->tag().unlock_stamp, 0);
  EXPECT_TRUE(doc_.CheckNodePassword(secret));
}

TEST_F(DocumentTest, SaveAndReopenGiveTheSameTreeRecounted) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  Node* sub = doc_.FindOrCreateFolderPath(u"\\Inbox\\Sub");
  Store(sub);
  Store(sub);
  Store(inbox, u"read", MessageKind::kImported);
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{sub->child(0)}));
  const std::vector<IndexEntry> before = doc_.tree().ToIndexEntries();
  auto collect = [](const MessageTree& tree) {
    std::vector<std::pair<int, bool>> result;
    std::vector<const Node*> stack{tree.root()};
    while (!stack.empty()) {
      const Node* node = stack.back();
      stack.pop_back();
      if (node != tree.root()) {
        result.emplace_back(node->tag().unread, node->bold());
      }
      for (size_t i = node->child_count(); i-- > 0;) {
        stack.push_back(node->child(i));
      }
    }
    return result;
  };
  const auto states = collect(doc_.tree());
  EXPECT_EQ(SharedUnreadCount(), 1);

  ASSERT_TRUE(doc_.Close().ok());
  EXPECT_FALSE(doc_.IsOpen());
  EXPECT_TRUE(doc_.tree().empty());
  EXPECT_EQ(doc_.recycle_bin(), nullptr);
  EXPECT_EQ(SharedUnreadCount(), 0);

  LoadReport report;
  ASSERT_TRUE(
      doc_.Open(std::u16string(kPath) + u"\r\ngarbage", false, &report).ok());
  EXPECT_TRUE(report.problems.empty());
  const std::vector<IndexEntry> after = doc_.tree().ToIndexEntries();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].depth, before[i].depth) << i;
    EXPECT_EQ(after[i].title, before[i].title) << i;
    EXPECT_EQ(after[i].image, before[i].image) << i;
    EXPECT_EQ(after[i].record_offset, before[i].record_offset) << i;
  }
  EXPECT_EQ(collect(doc_.tree()), states);
  ASSERT_NE(doc_.recycle_bin(), nullptr);
  EXPECT_EQ(doc_.recycle_bin()->image(), kImageRecycleBinFull);
  EXPECT_EQ(SharedUnreadCount(), 1);
  EXPECT_FALSE(doc_.modified());
  // The folder cache starts empty but finds the loaded folder.
  EXPECT_EQ(doc_.WellKnownFolder(kFolderInbox)->child_count(), 2u);
}

TEST_F(DocumentTest, FilePasswordIsAskedWhenOpening) {
  ASSERT_TRUE(doc_.Close().ok());
  Document locked_doc(DocumentOptions{}, &ui_);
  NewFileOptions options;
  options.password = u"secret";
  ASSERT_TRUE(locked_doc.New(u"\\locked.zud", options).ok());
  ASSERT_TRUE(locked_doc.Close().ok());

  EXPECT_EQ(locked_doc.Open(u"\\locked.zud").code(),
            platform::ErrorCode::kAccessDenied);
  EXPECT_FALSE(locked_doc.IsOpen());
  ASSERT_TRUE(locked_doc.Open(u"\\locked.zud", /*defer_password=*/true).ok());
  ui_.typed = u"secret";
  ASSERT_TRUE(locked_doc.Open(u"\\locked.zud").ok());
  EXPECT_EQ(locked_doc.tree().root()->child_count(), 4u);
  EXPECT_FALSE(locked_doc.Open(u"\\missing.zud").ok());
  EXPECT_FALSE(locked_doc.IsOpen());
}

TEST_F(DocumentTest, CompactKeepsABackupAndReopens) {
  Node* inbox = doc_.WellKnownFolder(kFolderInbox);
  for (int i = 0; i < 5; ++i)
    Store(inbox, u"body " + std::u16string(1, u'0' + i));
  ASSERT_TRUE(doc_.DeleteNodes(std::vector<Node*>{inbox->child(0)}));
  ASSERT_TRUE(doc_.EmptyRecycleBin());
  const std::vector<IndexEntry> before = doc_.tree().ToIndexEntries();
  ASSERT_TRUE(doc_.Save().ok());
  const uint64_t old_size = *platform::files::Size(kPath);

  ASSERT_TRUE(doc_.Compact().ok());
  EXPECT_TRUE(doc_.compacted());
  EXPECT_TRUE(doc_.IsOpen());
  EXPECT_LT(*platform::files::Size(kPath), old_size);
  EXPECT_EQ(*platform::files::Size(std::u16string(kPath) + u".bak"), old_size);
  EXPECT_FALSE(platform::files::Exists(std::u16string(kPath) + u".ban"));
  const std::vector<IndexEntry> after = doc_.tree().ToIndexEntries();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].title, before[i].title) << i;
  }
  Node* reopened_inbox = doc_.WellKnownFolder(kFolderInbox);
  ASSERT_EQ(reopened_inbox->child_count(), 4u);
  EXPECT_EQ(doc_.ReadNodeBody(reopened_inbox->child(3)), u"body 4");
  EXPECT_EQ(Unread(reopened_inbox), 4);
  EXPECT_EQ(SharedUnreadCount(), 4);
}

TEST_F(DocumentTest, CompactFailuresLeaveTheDocumentAsTheStepsSay) {
  Store(doc_.WellKnownFolder(kFolderInbox));
  const std::u16string packed = std::u16string(kPath) + u".ban";
  const std::u16string backup = std::u16string(kPath) + u".bak";

  // The compacted copy cannot be written: told, still open.
  ASSERT_TRUE(platform::files::CreateFolder(packed).ok());
  EXPECT_FALSE(doc_.Compact().ok());
  EXPECT_EQ(ui_.asked.back(), u"Error: Compressing file error!");
  EXPECT_TRUE(doc_.IsOpen());
  EXPECT_EQ(SharedUnreadCount(), 1);
  ASSERT_TRUE(platform::files::RemoveFolder(packed).ok());

  // The backup cannot be made and the user cancels: closed, no ".ban".
  ASSERT_TRUE(platform::files::CreateFolder(backup).ok());
  ui_.confirm_answers = {false};
  EXPECT_FALSE(doc_.Compact().ok());
  EXPECT_EQ(ui_.asked.back(),
            u"Alert: Backup file error! Do you want to continue?");
  EXPECT_FALSE(doc_.IsOpen());
  EXPECT_FALSE(platform::files::Exists(packed));
  EXPECT_EQ(SharedUnreadCount(), 0);

  // Continuing without a backup compacts and reopens.
  ASSERT_TRUE(doc_.Open(kPath).ok());
  ui_.confirm_answers = {true};
  EXPECT_TRUE(doc_.Compact().ok());
  EXPECT_TRUE(doc_.IsOpen());
  EXPECT_FALSE(platform::files::Exists(packed));
  EXPECT_EQ(SharedUnreadCount(), 1);
}

}  // namespace
}  // namespace store
