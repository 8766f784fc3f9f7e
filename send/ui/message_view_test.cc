// The message view with real widgets offscreen, over a real document on a
// scratch device, driven by commands and keys through a dialog script.
#include "send/ui/message_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <functional>
#include <vector>

#include "device/contacts/call_log.h"
#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "store/document.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace send::ui {
namespace {

namespace cmds = kit::cmds;
namespace fs = std::filesystem;
using store::Node;

constexpr platform::SystemTime kTime = {2024, 5, 0, 17, 9, 30, 0, 0};

void Press(QWidget* widget, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

class MessageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    previous_messages_ =
        kit::SetMessageScript([this](const kit::MessageRequest& request) {
          messages_.push_back(request.caption + QStringLiteral(": ") +
                              request.text);
          return kit::kAnswerOk;
        });
    ASSERT_TRUE(doc_.New(u"\\view.zud", {}).ok());
    inbox_ = doc_.WellKnownFolder(store::kFolderInbox);
    ASSERT_NE(inbox_, nullptr);
    context_.document = &doc_;
    context_.activity = [this] { ++activity_; };
  }
  void TearDown() override {
    kit::SetMessageScript(previous_messages_);
    kit::SetDialogScript({});
  }

  Node* Store(std::u16string_view sender, std::u16string_view body) {
    return doc_.StoreMessage(inbox_, sender, body, kTime);
  }
  std::u16string Body(Node* node) {
    return doc_.ReadNodeBody(node).value_or(u"<unreadable>");
  }
  // Installs the cellcore library; as "phone.dll" too when `phone`.
  void InstallPhone(bool phone) {
    for (const char* name : {"cellcore.dll", "phone.dll"}) {
      if (!phone && std::string(name) == "phone.dll") continue;
      fs::path target = device_.HostPath(std::string("\\Windows\\") + name);
      fs::create_directories(target.parent_path());
      fs::copy_file(
          platform::testing::BinDir().parent_path() / "lib" / "libcellcore.so",
          target, fs::copy_options::overwrite_existing);
    }
  }
  // Runs a view of `node` with `steps` done while it is up.
  int Run(Node* node, std::function<void(MessageView*)> steps,
          MessageView** seen = nullptr) {
    kit::SetDialogScript([steps, seen](kit::DeviceDialog* dialog) {
      auto* view = qobject_cast<MessageView*>(dialog);
      ASSERT_NE(view, nullptr);
      if (seen != nullptr) *seen = view;
      steps(view);
    });
    MessageView view(nullptr, context_, node);
    view.SetNewNoteTarget(note_target_, note_image_);
    int result = view.Exec();
    last_note_ = view.new_note();
    return result;
  }

  platform::testing::TempDevice device_;
  store::Document doc_;
  Node* inbox_ = nullptr;
  MessageViewContext context_;
  int activity_ = 0;
  std::optional<NewNote> last_note_;
  Node* note_target_ = nullptr;
  store::NodeImage note_image_ = store::kImageFolder;
  std::vector<QString> messages_;
  kit::MessageScript previous_messages_;
};

TEST_F(MessageViewTest, ReadingMarksReadShowsFieldsAndSteps) {
  Node* first = Store(u"\"Ann\"<13800138000>", u"first");
  Node* second = Store(u"", u"second\r\nline two");
  Node* third = Store(u"10086", u"third");
  ASSERT_EQ(doc_.UnreadTotal(), 3);
  std::vector<Node*> selected;
  context_.select = [&](Node* node) { selected.push_back(node); };

  int result = Run(first, [&](MessageView* view) {
    EXPECT_EQ(first->image(), store::kImageMessageRead);
    EXPECT_EQ(doc_.UnreadTotal(), 2);
    EXPECT_EQ(inbox_->tag().unread, 2);
    EXPECT_FALSE(view->editing());
    EXPECT_TRUE(view->title_field()->isReadOnly());
    EXPECT_TRUE(view->text_field()->isReadOnly());
    EXPECT_EQ(view->title_bar()->caption(), "Content");
    EXPECT_EQ(view->text_field()->toPlainText(), "first");
    auto* sender = kit::FindControl<QLineEdit>(view, kSenderField);
    EXPECT_EQ(sender->text(), "Ann");
    EXPECT_FALSE(sender->isHidden());
    EXPECT_FALSE(
        kit::FindControl<QLineEdit>(view, kTimeField)->text().isEmpty());
    // Compose commands are not offered; the left key is hidden.
    QMenu* menu = view->soft_keys()->menu();
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kViewForward)->isVisible());
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kQuote)->isVisible());
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kEdit)->isVisible());
    EXPECT_TRUE(view->soft_keys()->left_key()->isHidden());

    Press(view->text_field(), Qt::Key_Right);
    EXPECT_EQ(view->node(), second);
    EXPECT_EQ(view->text_field()->toPlainText(), "second\nline two");
    EXPECT_TRUE(kit::FindControl<QLineEdit>(view, kSenderField)->isHidden());
    Press(view->title_field(), Qt::Key_Right);
    EXPECT_EQ(view->node(), third);
    EXPECT_EQ(kit::FindControl<QLineEdit>(view, kSenderField)->text(), "10086");
    Press(view->text_field(), Qt::Key_Right);  // the last one: stays
    EXPECT_EQ(view->node(), third);
    Press(view->text_field(), Qt::Key_Left);
    EXPECT_EQ(view->node(), second);
    EXPECT_EQ(doc_.UnreadTotal(), 0);
    view->Dispatch(cmds::kCancel);
  });
  EXPECT_EQ(result, kViewCancelled);
  EXPECT_EQ((std::vector<Node*>{first, second, third, second}), selected);
  EXPECT_GT(activity_, 0);
  EXPECT_TRUE(doc_.modified());
}

TEST_F(MessageViewTest, EditSaveRefuseAndCancel) {
  Node* node = Store(u"10086", u"original text");
  Node* other = Store(u"10010", u"other");
  std::u16string original_title = node->title();

  Run(node, [&](MessageView* view) {
    view->Dispatch(cmds::kEdit);
    EXPECT_TRUE(view->editing());
    EXPECT_FALSE(view->text_field()->isReadOnly());
    EXPECT_EQ(view->soft_keys()->left_key()->text(), "Save");
    EXPECT_EQ(view->soft_keys()->left_command(), cmds::kReply);
    // Left and Right move the cursor while editing.
    Press(view->text_field(), Qt::Key_Right);
    EXPECT_EQ(view->node(), node);

    view->title_field()->setText(QString());
    view->Dispatch(cmds::kReply);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Alert: Title can't be empty!");
    EXPECT_TRUE(view->editing());

    // Cancel while editing restores what is stored.
    view->text_field()->setPlainText("scribble");
    view->Dispatch(cmds::kCancel);
    EXPECT_FALSE(view->editing());
    EXPECT_EQ(kit::U(view->title_field()->text()), original_title);
    EXPECT_EQ(view->text_field()->toPlainText(), "original text");

    view->Dispatch(cmds::kEdit);
    view->title_field()->setText("New title");
    view->text_field()->setPlainText("edited text");
    view->Dispatch(cmds::kReply);
    EXPECT_FALSE(view->editing());
    EXPECT_EQ(node->title(), u"New title");
    EXPECT_EQ(Body(node), u"edited text");

    // An emptied text leaves the node without content.
    view->Dispatch(cmds::kEdit);
    view->text_field()->setPlainText(QString());
    view->Dispatch(cmds::kReply);
    EXPECT_EQ(Body(node), u"");
    EXPECT_FALSE(doc_.ReadNodeRecord(node)->has_payload());

    // "Next" with a refused save still moves on, dropping the edits.
    view->Dispatch(cmds::kEdit);
    view->text_field()->setPlainText("lost");
    view->title_field()->setText(QString());
    view->Dispatch(cmds::kNext);
    EXPECT_EQ(view->node(), other);
    EXPECT_FALSE(view->editing());
  });
  EXPECT_EQ(node->title(), u"New title");
  EXPECT_EQ(Body(node), u"");
  EXPECT_EQ(Body(other), u"other");

  // The edits survive saving and reopening the document.
  Run(other, [&](MessageView* view) {
    view->Dispatch(cmds::kEdit);
    view->text_field()->setPlainText(QString::fromUtf16(u"\u4f60\u597d 2"));
    view->Dispatch(kit::kCommandOk);
  });
  ASSERT_TRUE(doc_.Save().ok());
  ASSERT_TRUE(doc_.Open(u"\\view.zud").ok());
  Node* inbox = doc_.WellKnownFolder(store::kFolderInbox);
  ASSERT_EQ(inbox->child_count(), 2u);
  EXPECT_EQ(inbox->child(0)->title(), u"New title");
  EXPECT_EQ(Body(inbox->child(0)), u"");
  EXPECT_EQ(Body(inbox->child(1)), u"\u4f60\u597d 2");
}

TEST_F(MessageViewTest, NewNoteRefusesEmptyTitleAndPreparesTheNode) {
  note_target_ = inbox_;
  note_image_ = store::kImageMessageRead;
  int result = Run(nullptr, [&](MessageView* view) {
    EXPECT_TRUE(view->editing());
    EXPECT_TRUE(kit::FindControl<QLineEdit>(view, kSenderField)->isHidden());
    EXPECT_TRUE(kit::FindControl<QLineEdit>(view, kTimeField)->isHidden());
    QMenu* menu = view->soft_keys()->menu();
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kDial)->isVisible());
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kEdit)->isVisible());
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kDelete)->isVisible());
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kCancel)->isVisible());
    view->text_field()->setPlainText("note body");
    view->Dispatch(kit::kCommandOk);
    EXPECT_EQ(messages_.size(), 1u);
    view->title_field()->setText("My note");
    view->Dispatch(kit::kCommandOk);
  });
  EXPECT_EQ(result, kViewSaved);
  ASSERT_TRUE(last_note_.has_value());
  EXPECT_EQ(last_note_->title, u"My note");
  ASSERT_TRUE(last_note_->pending.has_value());
  const size_t before = inbox_->child_count();
  Node* added = doc_.InsertPending(*last_note_->pending);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->parent(), inbox_);
  EXPECT_EQ(inbox_->child_count(), before + 1);
  EXPECT_EQ(added->title(), u"My note");
  EXPECT_EQ(added->image(), store::kImageMessageRead);
  EXPECT_EQ(Body(added), u"note body");
  EXPECT_EQ(doc_.ReadNodeRecord(added)->type(), 3u);

  // Without text the record holds no content; Cancel prepares nothing.
  note_target_ = nullptr;
  note_image_ = store::kImageFolder;
  Run(nullptr, [&](MessageView* view) {
    view->title_field()->setText("Empty");
    view->Dispatch(cmds::kReply);
  });
  ASSERT_TRUE(last_note_.has_value() && last_note_->pending.has_value());
  Node* empty = doc_.InsertPending(*last_note_->pending);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->parent(), doc_.tree().root());
  EXPECT_FALSE(doc_.ReadNodeRecord(empty)->has_payload());
  EXPECT_EQ(
      Run(nullptr, [](MessageView* view) { view->Dispatch(cmds::kCancel); }),
      kViewCancelled);
  EXPECT_FALSE(last_note_.has_value());
}

TEST_F(MessageViewTest, DeleteShowsTheNextAndClosesAfterTheLast) {
  Node* first = Store(u"1", u"a");
  Node* second = Store(u"2", u"b");
  int result = Run(first, [&](MessageView* view) {
    view->Dispatch(cmds::kDelete);
    EXPECT_EQ(view->node(), second);
    EXPECT_EQ(view->text_field()->toPlainText(), "b");
    view->Dispatch(cmds::kDelete);
  });
  EXPECT_EQ(result, kViewSaved);
  EXPECT_EQ(inbox_->child_count(), 0u);
  EXPECT_EQ(doc_.recycle_bin()->child_count(), 2u);
  EXPECT_EQ(doc_.UnreadTotal(), 0);

  // A node whose password is not entered is never shown.
  Node* locked = Store(u"3", u"secret");
  store::NodeRecord record = *doc_.ReadNodeRecord(locked);
  record.set_password(u"pw");
  ASSERT_TRUE(doc_.RewriteNodeRecord(locked, record).ok());
  bool shown = false;
  EXPECT_EQ(Run(locked, [&](MessageView*) { shown = true; }), kViewSaved);
  EXPECT_FALSE(shown);
  EXPECT_EQ(locked->image(), store::kImageMessageUnread);
}

TEST_F(MessageViewTest, PasswordAndPropertyAreWrittenBackOnSave) {
  Node* node = Store(u"1", u"a");
  Store(u"2", u"b");
  context_.edit_property = [](store::NodeRecord* record) {
    record->set_author(u"Bob");
    return true;
  };
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    if (dialog->template_id() == kit::kPasswordDialogTemplate) {
      kit::FindControl<QLineEdit>(dialog, kit::kNewPasswordEdit)->setText("pw");
      kit::FindControl<QLineEdit>(dialog, kit::kConfirmPasswordEdit)
          ->setText("pw");
      dialog->Dispatch(kit::kCommandOk);
      return;
    }
    auto* view = static_cast<MessageView*>(dialog);
    view->Dispatch(cmds::kViewPassword);
    view->Dispatch(cmds::kNodeProperty);
    EXPECT_EQ(doc_.ReadNodeRecord(node)->password(), u"");  // not yet
    view->Dispatch(cmds::kNext);
  });
  MessageView view(nullptr, context_, node);
  view.Exec();
  std::optional<store::NodeRecord> record = doc_.ReadNodeRecord(node);
  EXPECT_EQ(record->password(), u"pw");
  EXPECT_EQ(record->author(), u"Bob");
  EXPECT_EQ(node->tag().unlock_stamp, store::kUnlockedBySetting);
}

TEST_F(MessageViewTest, PhoneCommandsDialAndBlacklist) {
  Node* node = Store(u"\"Li Lei\"<+86 138-0013-8000>", u"hi");
  firewall::FilterSet filters;
  filters.file_path = u"\\pelicorde.ini";
  context_.filters = &filters;

  // No phone: "Dial" is disabled and does nothing.
  InstallPhone(false);
  { settings::SettingsStore no_phone; }
  ASSERT_FALSE(settings::PhonePresent());
  Run(node, [&](MessageView* view) {
    QMenu* menu = view->soft_keys()->menu();
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kDial)->isEnabled());
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kSetAsBlacklist)->isEnabled());
    view->Dispatch(cmds::kDial);
  });
  EXPECT_TRUE(device::contacts::ListCalls().empty());

  InstallPhone(true);
  { settings::SettingsStore with_phone; }
  ASSERT_TRUE(settings::PhonePresent());
  Run(node, [&](MessageView* view) {
    EXPECT_TRUE(
        kit::FindCommand(view->soft_keys()->menu(), cmds::kDial)->isEnabled());
    view->Dispatch(cmds::kDial);
    view->Dispatch(cmds::kSetAsBlacklist);
  });
  std::vector<device::contacts::CallRecord> calls =
      device::contacts::ListCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].number, u"+8613800138000");
  ASSERT_EQ(filters.black_list.size(), 1u);
  EXPECT_EQ(filters.black_list[0].name, u"LiLei");  // spaces are skipped
  EXPECT_EQ(filters.black_list[0].phone, u"+8613800138000");
  firewall::FilterSet reloaded;
  reloaded.file_path = filters.file_path;
  EXPECT_EQ(firewall::LoadFilterFile(&reloaded), firewall::LoadOutcome::kRead);
  EXPECT_EQ(reloaded.black_list, filters.black_list);

  // A message without a sender adds nothing (an empty pattern would match
  // every sender).
  Node* anonymous = Store(u"", u"x");
  Run(anonymous,
      [&](MessageView* view) { view->Dispatch(cmds::kSetAsBlacklist); });
  EXPECT_EQ(filters.black_list.size(), 1u);
}

}  // namespace
}  // namespace send::ui
