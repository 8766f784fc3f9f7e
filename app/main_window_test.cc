// The main window with its real widgets offscreen, driven by command
// identifiers the way the menus send them, with message boxes and dialogs
// (password prompt, file browser, new-file dialog) scripted.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "alerts/ui/alert_popup_window.h"
#include "app/list_model.h"
#include "app/preview_popup.h"
#include "app/shell_dialogs.h"
#include "app/startup.h"
#include "app/tree_model.h"
#include "device/cemapi/message_store.h"
#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "firewall/incoming_sms.h"
#include "firewall/ui/black_list.h"
#include "firewall/ui/filter_edit.h"
#include "firewall/ui/filter_list.h"
#include "import/ui/import_dialog.h"
#include "kit/device_window.h"
#include "kit/file_browser.h"
#include "kit/hotkeys.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "kit/testing/qt_app.h"
#include "platform/kernel_objects.h"
#include "platform/registry.h"
#include "platform/testing/file_faults.h"
#include "platform/testing/registry_faults.h"
#include "platform/testing/temp_device.h"
#include "platform/testing/wait.h"
#include "platform/time.h"
#include "send/send_service.h"
#include "send/testing/radio_device.h"
#include "send/ui/compose_window.h"
#include "send/ui/timer_dialog.h"
#include "settings/settings_store.h"
#include "settings/ui/hotkey_dialog.h"
#include "store/document.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace app {
namespace {

namespace cmds = kit::cmds;
using store::Node;

constexpr char16_t kDocPath[] = u"\\doc.zud";

using platform::testing::ReadHostFile;

// The first child of `parent` titled `title`, or nullptr.
Node* Child(Node* parent, std::u16string_view title) {
  for (size_t i = 0; i < parent->child_count(); ++i) {
    if (parent->child(i)->title() == title) return parent->child(i);
  }
  return nullptr;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    previous_messages_ =
        kit::SetMessageScript([this](const kit::MessageRequest& request) {
          messages_.push_back(request.caption + QStringLiteral(": ") +
                              request.text);
          return answer_;
        });
  }
  void TearDown() override {
    kit::SetDialogScript({});
    kit::SetMessageScript(previous_messages_);
  }

  // Options saved before the window loads them.
  void SaveSettings(const std::function<void(settings::SettingsStore&)>& edit) {
    settings::SettingsStore store;
    store.Load();
    edit(store);
    ASSERT_TRUE(store.Save().ok());
  }

  // A document at `path` with an Inbox holding `messages` (sender, body)
  // received unread, left as the last open file.
  void MakeDocument(
      std::u16string_view path,
      const std::vector<std::pair<std::u16string, std::u16string>>& messages,
      std::u16string_view password = {}) {
    store::Document document;
    store::NewFileOptions options;
    options.password = std::u16string(password);
    ASSERT_TRUE(document.New(path, options).ok());
    Node* inbox = document.WellKnownFolder(store::kFolderInbox);
    platform::SystemTime time = platform::CurrentSystemTime();
    for (const auto& [sender, body] : messages) {
      ASSERT_NE(document.StoreMessage(inbox, sender, body, time), nullptr);
    }
    ASSERT_TRUE(document.Close().ok());
    settings::SettingsStore store;
    ASSERT_TRUE(store.SaveLastOpenFile(path).ok());
  }

  std::unique_ptr<MainWindow> MakeWindow() {
    auto window = std::make_unique<MainWindow>(
        MainWindow::Options{.publish_endpoint = false});
    EXPECT_TRUE(window->Initialize());
    return window;
  }

  // Runs `steps` on each dialog Run() shows, by template.
  void Script(std::map<int, std::function<void(kit::DeviceDialog*)>> steps) {
    kit::SetDialogScript([steps](kit::DeviceDialog* dialog) {
      auto found = steps.find(dialog->template_id());
      if (found != steps.end()) found->second(dialog);
    });
  }

  // A file browser step that types `name` and confirms.
  static std::function<void(kit::DeviceDialog*)> SaveAs(QString name) {
    return [name](kit::DeviceDialog* dialog) {
      kit::FindControl<QLineEdit>(dialog, kit::kFileNameEdit)->setText(name);
      dialog->Dispatch(kit::kCommandOk);
    };
  }

  static bool Enabled(QMenu* menu, uint32_t command) {
    QAction* action = kit::FindCommand(menu, command);
    return action != nullptr && action->isEnabled();
  }

  Node* Inbox(MainWindow& window) {
    return Child(window.document().tree().root(), u"Inbox");
  }

  platform::testing::TempDevice device_;
  std::vector<QString> messages_;
  int answer_ = kit::kAnswerOk;
  kit::MessageScript previous_messages_;
};

TEST_F(MainWindowTest, NewFileLowersTheNameAndRefusesAnExistingOne) {
  auto window = MakeWindow();
  EXPECT_FALSE(window->document().IsOpen());
  window->UpdateMenu(window->system_menu());
  EXPECT_FALSE(Enabled(window->system_menu(), cmds::kClose));
  EXPECT_FALSE(Enabled(window->system_menu(), cmds::kSave));

  Script({{kNewFileTemplate, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QLineEdit>(dialog, kNewFileNameEdit)
                 ->setText(QStringLiteral("Notes.ZUD"));
             dialog->Dispatch(kit::kCommandOk);
           }}});
  window->Dispatch(cmds::kNewFile);
  ASSERT_TRUE(window->document().IsOpen());
  EXPECT_EQ(window->document().path(), u"notes.zud");
  // The file was created under its lower-case name.
  bool lower = false;
  for (const auto& entry :
       std::filesystem::directory_iterator(device_.HostPath("\\"))) {
    if (entry.path().filename() == "notes.zud") lower = true;
    EXPECT_NE(entry.path().filename(), "Notes.ZUD");
  }
  EXPECT_TRUE(lower);
  // Recycle Bin, Drafts, Sent Box, Inbox, in this order.
  Node* root = window->document().tree().root();
  ASSERT_EQ(root->child_count(), 4u);
  EXPECT_TRUE(root->child(0)->is_recycle_bin());
  EXPECT_EQ(root->child(1)->title(), u"Drafts");
  EXPECT_EQ(root->child(2)->title(), u"Sent Box");
  EXPECT_EQ(root->child(3)->title(), u"Inbox");
  EXPECT_EQ(window->strip_text(), QStringLiteral("File: notes.zud"));

  window->UpdateMenu(window->system_menu());
  EXPECT_TRUE(Enabled(window->system_menu(), cmds::kClose));
  EXPECT_TRUE(Enabled(window->system_menu(), cmds::kCompress));
  EXPECT_EQ(
      kit::FindCommand(window->system_menu(), cmds::kToggleRecycleBin)->text(),
      QStringLiteral("Delete Recycle Bin"));
  settings::SettingsStore saved;
  saved.Load();
  EXPECT_EQ(saved.last_open_file(), u"notes.zud");

  // "notes" names the same file: "File exists!" and the dialog stays.
  bool still_open = false;
  Script({{kNewFileTemplate, [&](kit::DeviceDialog* dialog) {
             kit::FindControl<QLineEdit>(dialog, kNewFileNameEdit)
                 ->setText(QStringLiteral("notes"));
             dialog->Dispatch(kit::kCommandOk);
             still_open = dialog->isVisible();
           }}});
  window->Dispatch(cmds::kNewFile);
  EXPECT_TRUE(still_open);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QStringLiteral("Error: File exists!"));
  EXPECT_EQ(window->document().path(), u"notes.zud");

  // Without a Recycle Bin the menu offers to add one.
  Script({{kNewFileTemplate, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QLineEdit>(dialog, kNewFileNameEdit)
                 ->setText(QStringLiteral("\\bare"));
             kit::FindControl<QCheckBox>(dialog, kNewFileRecycleBin)
                 ->setChecked(false);
             dialog->Dispatch(kit::kCommandOk);
           }}});
  window->Dispatch(cmds::kNewFile);
  EXPECT_EQ(window->document().path(), u"\\bare.zud");
  EXPECT_EQ(window->document().recycle_bin(), nullptr);
  window->UpdateMenu(window->system_menu());
  EXPECT_EQ(
      kit::FindCommand(window->system_menu(), cmds::kToggleRecycleBin)->text(),
      QStringLiteral("Add Recycle Bin"));
}

TEST_F(MainWindowTest, CloseForgetsTheFileButExitKeepsIt) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  {
    auto window = MakeWindow();
    ASSERT_TRUE(window->document().IsOpen());
    window->Dispatch(cmds::kClose);
    EXPECT_FALSE(window->document().IsOpen());
    EXPECT_TRUE(window->strip_text().isEmpty());
    EXPECT_TRUE(window->tree_view()->isHidden());
    EXPECT_TRUE(window->list_view()->isHidden());
    window->TearDown();
  }
  {
    // The restart opens nothing.
    auto window = MakeWindow();
    EXPECT_FALSE(window->document().IsOpen());
    window->TearDown();
  }
  settings::SettingsStore().SaveLastOpenFile(kDocPath).ok();
  {
    auto window = MakeWindow();
    ASSERT_TRUE(window->document().IsOpen());
    bool exited = false;
    QObject::connect(window.get(), &MainWindow::Exited,
                     [&exited] { exited = true; });
    window->Dispatch(cmds::kExit);
    EXPECT_TRUE(exited);
    EXPECT_FALSE(window->document().IsOpen());
    window->TearDown();
  }
  {
    // Exiting with the document open reopens it.
    auto window = MakeWindow();
    EXPECT_TRUE(window->document().IsOpen());
    EXPECT_EQ(window->document().path(), kDocPath);
    window->TearDown();
  }
}

TEST_F(MainWindowTest, WithoutTheSharedUnreadCountTheWindowDoesNotStart) {
  // A block of that name too small for the count cannot be mapped.
  bool existed = false;
  auto blocker = platform::SharedMemory::CreateOrOpen(store::kUnreadCountName,
                                                      1, &existed);
  ASSERT_TRUE(blocker.has_value());
  MakeDocument(kDocPath, {{u"111", u"one"}});
  MainWindow window(MainWindow::Options{.publish_endpoint = false});
  EXPECT_FALSE(window.Initialize());
  EXPECT_EQ(window.tree_view(), nullptr);
  EXPECT_EQ(window.system_menu(), nullptr);
  EXPECT_FALSE(window.document().IsOpen());
  window.TearDown();
}

TEST_F(MainWindowTest, ExportWritesTheMessagesOfAFolderOnly) {
  MakeDocument(kDocPath, {{u"111", u"first body"}, {u"222", u"second"}});
  auto window = MakeWindow();
  store::Document& document = window->document();
  Node* inbox = Inbox(*window);
  ASSERT_NE(inbox, nullptr);
  // A sub-folder and a protected message are skipped.
  Node* sub = document.FindOrCreateFolderPath(u"\\Inbox\\Sub");
  ASSERT_NE(sub, nullptr);
  Node* secret = document.StoreMessage(inbox, u"333", u"hidden",
                                       platform::CurrentSystemTime());
  store::NodeRecord record = *document.ReadNodeRecord(secret);
  record.set_password(u"pw");
  ASSERT_TRUE(document.RewriteNodeRecord(secret, record).ok());

  window->ChooseNode(inbox);
  Script({{kit::kFileBrowserTemplate, SaveAs(QStringLiteral("inbox"))}});
  window->Dispatch(cmds::kExportText);
  std::string text = ReadHostFile(device_.HostPath("\\inbox.txt"));
  EXPECT_NE(text.find("Sender:111\r\nContent:\r\nfirst body\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Sender:222\r\nContent:\r\nsecond\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_EQ(text.rfind("Date:", 0), 0u);

  // A folder holding only folders gives an empty file.
  Node* outer = document.FindOrCreateFolderPath(u"\\Outer\\Inner");
  ASSERT_NE(outer, nullptr);
  window->ChooseNode(outer->parent());
  Script({{kit::kFileBrowserTemplate, SaveAs(QStringLiteral("outer"))}});
  window->Dispatch(cmds::kExportText);
  ASSERT_TRUE(std::filesystem::exists(device_.HostPath("\\outer.txt")));
  EXPECT_EQ(std::filesystem::file_size(device_.HostPath("\\outer.txt")), 0u);
  window->TearDown();
}

TEST_F(MainWindowTest, CompressKeepsABackupAndRunsOncePerRunByTheClock) {
  MakeDocument(kDocPath, {{u"111", u"one"}, {u"222", u"two"}});
  auto window = MakeWindow();
  ASSERT_TRUE(window->document().IsOpen());
  window->Dispatch(cmds::kCompress);
  EXPECT_TRUE(window->document().IsOpen());
  EXPECT_TRUE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  EXPECT_FALSE(std::filesystem::exists(device_.HostPath("\\doc.zud.ban")));
  ASSERT_NE(Inbox(*window), nullptr);
  EXPECT_EQ(Inbox(*window)->child_count(), 2u);
  EXPECT_EQ(window->strip_text(), QStringLiteral("File: \\doc.zud"));
  EXPECT_TRUE(messages_.empty());
  window->TearDown();

  // Auto-compress: only in the "WhenCompress" hour, and once per run.
  SaveSettings([](settings::SettingsStore& s) {
    s.set_auto_compress(1);
    s.set_when_compress(3);
  });
  std::filesystem::remove(device_.HostPath("\\doc.zud.bak"));
  auto second = MakeWindow();
  platform::SystemTime now{};
  now.year = 2026;
  now.month = 1;
  now.day = 5;
  now.hour = 2;
  second->set_clock([&now] { return now; });
  second->OnTimer(kTimerAutoCompress);
  EXPECT_FALSE(second->compacted_this_run());
  EXPECT_FALSE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  now.hour = 3;
  second->OnTimer(kTimerAutoCompress);
  EXPECT_TRUE(second->compacted_this_run());
  EXPECT_TRUE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  std::filesystem::remove(device_.HostPath("\\doc.zud.bak"));
  now.minute = 58;
  second->OnTimer(kTimerAutoCompress);
  EXPECT_FALSE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  EXPECT_TRUE(second->document().IsOpen());
  second->TearDown();
}

TEST_F(MainWindowTest, MenuEnablingFollowsTheChosenNode) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  QMenu* menu = window->node_menu();
  Node* inbox = Inbox(*window);
  Node* message = inbox->child(0);
  Node* bin = window->document().recycle_bin();
  ASSERT_NE(bin, nullptr);

  // Nothing chosen.
  window->UpdateMenu(menu);
  EXPECT_FALSE(Enabled(menu, cmds::kDelete));
  EXPECT_FALSE(Enabled(menu, cmds::kExportText));
  EXPECT_FALSE(Enabled(menu, cmds::kSelectAll));

  // A message in mode 1: Paste stays off even with a filled clipboard.
  window->ChooseNode(message);
  window->Dispatch(cmds::kCopy);
  ASSERT_EQ(window->document().clipboard().size(), 1u);
  window->UpdateMenu(menu);
  EXPECT_FALSE(Enabled(menu, cmds::kPaste));
  EXPECT_FALSE(Enabled(menu, cmds::kEmptyFolder));
  EXPECT_TRUE(Enabled(menu, cmds::kDelete));
  EXPECT_TRUE(Enabled(menu, cmds::kMarkAsRead));
  EXPECT_FALSE(Enabled(menu, cmds::kSelectUnselect));
  // A folder takes the paste.
  window->ChooseNode(inbox);
  window->UpdateMenu(menu);
  EXPECT_TRUE(Enabled(menu, cmds::kPaste));
  EXPECT_TRUE(Enabled(menu, cmds::kEmptyFolder));
  // The Recycle Bin is never copied, deleted or marked.
  window->ChooseNode(bin);
  window->UpdateMenu(menu);
  EXPECT_FALSE(Enabled(menu, cmds::kDelete));
  EXPECT_FALSE(Enabled(menu, cmds::kCopy));
  EXPECT_TRUE(Enabled(menu, cmds::kExportText));

  EXPECT_FALSE(Enabled(menu, cmds::kReply));
  EXPECT_FALSE(Enabled(menu, cmds::kForward));

  // Entries of windows not built yet are not shown at all.
  EXPECT_TRUE(kit::FindCommand(menu, cmds::kReply)->isVisible());
  EXPECT_TRUE(kit::FindCommand(menu, cmds::kImportSms)->isVisible());
  EXPECT_TRUE(kit::FindCommand(menu, cmds::kNewFolder)->isVisible());
  EXPECT_TRUE(
      kit::FindCommand(window->system_menu(), cmds::kPreference)->isVisible());
  EXPECT_TRUE(
      kit::FindCommand(window->system_menu(), cmds::kHotkey)->isVisible());
  EXPECT_TRUE(
      kit::FindCommand(window->system_menu(), cmds::kSecurity)->isVisible());
  EXPECT_TRUE(
      kit::FindCommand(window->system_menu(), cmds::kFontSetting)->isVisible());
  int visible_buttons = 0;
  for (QAction* action : window->toolbar()->actions()) {
    if (action->isVisible() && !action->isSeparator()) ++visible_buttons;
  }
  // "New SMS", "Save", "New Draft", "Reply", "Forward", "Edit", "Delete".
  EXPECT_EQ(visible_buttons, 7);

  // Mode 2: selection entries, and Paste into the listed folder.
  window->ChooseNode(message);
  window->Dispatch(cmds::kPreviewMode);
  window->UpdateMenu(window->system_menu());
  EXPECT_TRUE(
      kit::FindCommand(window->system_menu(), cmds::kPreviewMode)->isChecked());
  window->UpdateMenu(menu);
  EXPECT_TRUE(Enabled(menu, cmds::kSelectAll));
  EXPECT_TRUE(Enabled(menu, cmds::kSelectUnselect));
  EXPECT_TRUE(Enabled(menu, cmds::kPaste));
  window->TearDown();
}

TEST_F(MainWindowTest, ListRowsShowCountsAndPreviewModeKeepsTheFocus) {
  MakeDocument(kDocPath, {{u"111", u"one"}, {u"\"Ann\"<222>", u"two\r\nmore"}});
  auto window = MakeWindow();
  store::Document& document = window->document();
  Node* inbox = Inbox(*window);
  ASSERT_EQ(inbox->child_count(), 2u);
  Node* first = inbox->child(0);
  Node* second = inbox->child(1);
  document.MarkRead(std::vector<Node*>{first}, true);
  ASSERT_NE(document.FindOrCreateFolderPath(u"\\Inbox\\Sub"), nullptr);
  // 3 children, 1 unread.

  window->ChooseNode(second);
  window->Dispatch(cmds::kPreviewMode);
  EXPECT_EQ(window->display_mode(), 2);
  EXPECT_TRUE(window->tree_view()->isHidden());
  EXPECT_FALSE(window->list_view()->isHidden());
  ListModel* list = window->list_model();
  EXPECT_EQ(list->folder(), inbox);
  EXPECT_EQ(window->ChosenNode(), second);
  EXPECT_EQ(window->strip_text(), QStringLiteral("\\Inbox"));
  ASSERT_EQ(list->rowCount(), 4);  // up entry and three children
  EXPECT_TRUE(list->IsUpEntry(0));
  EXPECT_EQ(list->MarkAt(0), kNotMarkable);
  EXPECT_EQ(list->SecondLine(2), QStringLiteral("two"));
  EXPECT_TRUE(list->FirstLine(2).startsWith(QStringLiteral("Ann ")));
  EXPECT_TRUE(list->data(list->index(2), Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(list->data(list->index(1), Qt::FontRole).value<QFont>().bold());

  // Up to the root: the Inbox row counts its children.
  window->ActivateListRow(0);
  EXPECT_EQ(list->folder(), nullptr);
  EXPECT_EQ(window->ChosenNode(), inbox);
  EXPECT_EQ(window->strip_text(), QStringLiteral("File: \\doc.zud"));
  int row = list->RowOf(inbox);
  EXPECT_EQ(list->SecondLine(row), QStringLiteral("Unread:1 Count:3"));
  EXPECT_TRUE(list->data(list->index(row), Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(list->MarkAt(list->RowOf(document.recycle_bin())), kNotMarkable);
  // Deeper folders show "\..\" in the strip.
  window->ActivateListRow(row);
  window->ActivateListRow(list->RowOf(Child(inbox, u"Sub")));
  EXPECT_EQ(window->strip_text(), QStringLiteral("\\..\\Sub"));

  // Back to the tree, which keeps the chosen node.
  window->ActivateListRow(0);
  window->ChooseNode(second);
  window->Dispatch(cmds::kPreviewMode);
  EXPECT_EQ(window->display_mode(), 1);
  EXPECT_FALSE(window->tree_view()->isHidden());
  EXPECT_EQ(window->ChosenNode(), second);
  EXPECT_EQ(list->rowCount(), 0);
  window->TearDown();
}

TEST_F(MainWindowTest, MarkedListEntriesAreDeletedIntoTheRecycleBin) {
  MakeDocument(kDocPath, {{u"111", u"one"}, {u"222", u"two"}, {u"333", u"3"}});
  SaveSettings([](settings::SettingsStore& s) { s.set_display_mode(2); });
  auto window = MakeWindow();
  store::Document& document = window->document();
  Node* inbox = Inbox(*window);
  ASSERT_TRUE(window->ShowFolder(inbox));
  ListModel* list = window->list_model();
  ASSERT_EQ(list->rowCount(), 4);

  // One entry marked: it alone goes, the focus returns to the first row.
  list->ToggleMark(2);
  Node* marked = list->NodeAt(2);
  window->ChooseNode(inbox->child(0));
  window->Dispatch(cmds::kDelete);
  EXPECT_EQ(messages_.size(), 1u);  // "Do you want to delete the node?"
  EXPECT_EQ(inbox->child_count(), 2u);
  EXPECT_EQ(list->RowOf(marked), -1);
  EXPECT_EQ(list->rowCount(), 3);
  EXPECT_EQ(list->index(0), window->list_view()->currentIndex());
  EXPECT_EQ(document.recycle_bin()->child_count(), 1u);

  // Select All, Unselect All, Select/Unselect on the focused row.
  window->Dispatch(cmds::kSelectAll);
  EXPECT_EQ(list->MarkedNodes().size(), 2u);
  EXPECT_EQ(list->MarkAt(0), kNotMarkable);
  window->Dispatch(cmds::kUnselectAll);
  EXPECT_TRUE(list->MarkedNodes().empty());
  window->ChooseNode(inbox->child(1));
  window->Dispatch(cmds::kSelectUnselect);
  EXPECT_EQ(list->MarkedNodes(), std::vector<Node*>{inbox->child(1)});

  // Cancelled confirmation keeps everything.
  answer_ = kit::kAnswerCancel;
  window->Dispatch(cmds::kDelete);
  EXPECT_EQ(inbox->child_count(), 2u);
  answer_ = kit::kAnswerOk;
  // A single unmarked delete focuses the row above.
  window->Dispatch(cmds::kUnselectAll);
  window->ChooseNode(inbox->child(1));
  window->Dispatch(cmds::kDelete);
  EXPECT_EQ(inbox->child_count(), 1u);
  EXPECT_EQ(window->ChosenNode(), inbox->child(0));
  // The focused up entry is never deleted.
  window->ActivateListRow(-1);
  window->list_view()->setCurrentIndex(list->index(0));
  window->Dispatch(cmds::kDelete);
  EXPECT_EQ(inbox->child_count(), 1u);

  // Mark as Unread / Read on the marked entries.
  window->Dispatch(cmds::kSelectAll);
  window->Dispatch(cmds::kMarkAsRead);
  EXPECT_EQ(inbox->tag().unread, 0);
  window->Dispatch(cmds::kMarkAsUnread);
  EXPECT_EQ(inbox->tag().unread, 1);
  window->TearDown();
}

TEST_F(MainWindowTest, ImportSmsFilesIntoTheChosenFolderAndTheListShowsIt) {
  ASSERT_EQ(platform::testing::Devicectl(
                "install " + platform::testing::BinDir().parent_path().string())
                .exit_code,
            0);
  for (const char16_t* text : {u"first", u"second"}) {
    ASSERT_TRUE(device::cemapi::DeliverIncomingSms(
        u"10086", text,
        platform::SystemTimeToFileTime(platform::CurrentSystemTime()).value()));
  }
  MakeDocument(kDocPath, {});
  SaveSettings([](settings::SettingsStore& s) { s.set_display_mode(2); });
  auto window = MakeWindow();
  Node* inbox = Inbox(*window);
  int runs = 0;
  Script({{import::ui::kImportTemplate, [&runs](kit::DeviceDialog* dialog) {
             ++runs;
             dialog->Dispatch(cmds::kCheckAll);
             dialog->Dispatch(cmds::kImportSms);
           }}});
  // The empty Inbox listed: only the up entry, no node chosen.
  ASSERT_TRUE(window->ShowFolder(inbox));
  ASSERT_EQ(window->ChosenNode(), nullptr);
  window->Dispatch(cmds::kImportSms);
  EXPECT_EQ(runs, 0);

  ASSERT_TRUE(window->ShowFolder(nullptr));
  window->ChooseNode(inbox);
  window->Dispatch(cmds::kImportSms);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(inbox->child_count(), 2u);
  EXPECT_EQ(window->ChosenNode(), inbox);
  EXPECT_TRUE(window->document().modified());
  // Imported messages are read: the Inbox row counts none unread.
  const int row = window->list_model()->RowOf(inbox);
  EXPECT_EQ(window->list_model()->SecondLine(row), "Unread:0 Count:2");
  EXPECT_EQ(device::cemapi::CountSmsFolder(device::cemapi::FolderRole::kInbox),
            2);
  window->TearDown();
}

TEST_F(MainWindowTest, ViewOpensTheChosenMessage) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  window->ChooseNode(Inbox(*window)->child(0));
  std::vector<int> shown;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    shown.push_back(dialog->template_id());
    dialog->Dispatch(kit::kCommandCancel);
  });
  window->Dispatch(cmds::kView);
  kit::SetDialogScript({});
  EXPECT_EQ(shown, std::vector<int>{124});
  EXPECT_EQ(Inbox(*window)->tag().unread, 0)
      << "opening marks the message read";
  window->TearDown();
}

TEST_F(MainWindowTest, ReplyFromTheTreeAndFromTheViewOpensTheComposeWindow) {
  MakeDocument(kDocPath, {{u"\"Ann\"<5550100>", u"Lunch?"}});
  // A phone: the view offers its compose commands only then (any library
  // the build made stands for phone.dll).
  std::filesystem::copy_file(
      platform::testing::BinDir().parent_path() / "lib" / "libcellcore.so",
      device_.HostPath("\\Windows\\phone.dll"));
  auto window = MakeWindow();
  window->ChooseNode(Inbox(*window)->child(0));
  // Reply from the main window, then Save: a draft to Ann in \Drafts.
  std::vector<QString> to_fields;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    if (dialog->template_id() != send::ui::kComposeTemplate) {
      dialog->Dispatch(kit::kCommandCancel);
      return;
    }
    auto* to = kit::FindControl<QLineEdit>(dialog, send::ui::kToField);
    to_fields.push_back(to->text());
    kit::FindControl<QPlainTextEdit>(dialog, send::ui::kMessageField)
        ->setPlainText(QStringLiteral("Yes, at noon."));
    dialog->Dispatch(cmds::kSave);
    dialog->Dispatch(cmds::kCancel);
  });
  window->Dispatch(cmds::kReply);
  Node* drafts = Child(window->document().tree().root(), u"Drafts");
  ASSERT_NE(drafts, nullptr);
  ASSERT_EQ(drafts->child_count(), 1u);
  EXPECT_EQ(window->document().ReadNodeBody(drafts->child(0)).value_or(u""),
            u"Send To:\"Ann\"<5550100>\r\n--------------------\r\nYes, at "
            u"noon.");

  // "Reply" is the view's left key; it opens the compose window on the
  // sender too.
  window->ChooseNode(Inbox(*window)->child(0));
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    if (dialog->template_id() == 124) {
      dialog->Dispatch(cmds::kReply);
      dialog->Dispatch(kit::kCommandCancel);
      return;
    }
    if (dialog->template_id() == send::ui::kComposeTemplate) {
      to_fields.push_back(
          kit::FindControl<QLineEdit>(dialog, send::ui::kToField)->text());
    }
    dialog->Dispatch(cmds::kCancel);
  });
  window->Dispatch(cmds::kView);
  kit::SetDialogScript({});
  EXPECT_EQ(to_fields,
            (std::vector<QString>{QStringLiteral("\"Ann\"<5550100>"),
                                  QStringLiteral("\"Ann\"<5550100>")}));
  window->TearDown();
}

TEST_F(MainWindowTest, ATimedMessageGoesOutOnceAtItsDueTimeByTheWindowsClock) {
  std::filesystem::copy_file(
      platform::testing::BinDir().parent_path() / "lib" / "libsms.so",
      device_.HostPath("\\Windows\\sms.dll"));
  MakeDocument(kDocPath, {});
  auto window = MakeWindow();
  ASSERT_TRUE(window->send_service().running());
  platform::SystemTime now;
  now.year = 2026;
  now.month = 12;
  now.day = 9;
  now.hour = 8;
  window->set_clock([&now] { return now; });

  // "SMS...", a number and a text, "Timer..." at 09:00, "Send".
  Script({{send::ui::kComposeTemplate,
           [](kit::DeviceDialog* dialog) {
             kit::FindControl<QLineEdit>(dialog, send::ui::kToField)
                 ->setText(QStringLiteral("5550100"));
             kit::FindControl<QPlainTextEdit>(dialog, send::ui::kMessageField)
                 ->setPlainText(QStringLiteral("Wake up"));
             dialog->Dispatch(cmds::kTimer);
             dialog->Dispatch(cmds::kSend);
           }},
          {send::ui::kTimerTemplate, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QCheckBox>(dialog, send::ui::kSetTimerBox)
                 ->setChecked(true);
             kit::FindControl<QDateTimeEdit>(dialog, send::ui::kTimerPicker)
                 ->setDateTime(QDateTime(QDate(2026, 12, 9), QTime(9, 0)));
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kNewSms);
  kit::SetDialogScript({});
  Node* scheduled = Child(window->document().tree().root(), u"Scheduled");
  ASSERT_NE(scheduled, nullptr);
  ASSERT_EQ(scheduled->child_count(), 1u);

  // Not before its time...
  now.minute = 59;
  window->CheckScheduled();
  EXPECT_EQ(window->scheduled_in_flight(), 0u);
  // ...then once, however often the window looks.
  now.hour = 9;
  now.minute = 0;
  window->CheckScheduled();
  window->CheckScheduled();
  EXPECT_EQ(window->scheduled_in_flight(), 1u);
  ASSERT_TRUE(platform::testing::WaitUntil([&] {
    QApplication::processEvents();
    return window->scheduled_in_flight() == 0;
  }));
  EXPECT_EQ(send::testing::RadioLines().size(), 1u);
  EXPECT_EQ(scheduled->child_count(), 0u);
  EXPECT_EQ(Child(window->document().tree().root(), u"Sent Box")->child_count(),
            1u);
  window->TearDown();
}

TEST_F(MainWindowTest, TheFirewallMenuOpensTheEditorsAndSavesTheFilterFile) {
  MakeDocument(kDocPath, {});
  auto window = MakeWindow();
  firewall::FilterSet& filters = window->filters();
  auto saved = [&] {
    firewall::FilterSet read;
    read.file_path = filters.file_path;
    firewall::LoadFilterFile(&read);
    return read;
  };

  // The Black List saves the file however it closes.
  Script({{firewall::ui::kBlackListTemplate, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QLineEdit>(dialog, 1035)->setText("Spam");
             kit::FindControl<QLineEdit>(dialog, 1103)->setText("10086");
             dialog->Dispatch(cmds::kAdd);
             dialog->Dispatch(cmds::kCancel);
           }}});
  window->Dispatch(cmds::kBlackList);
  ASSERT_EQ(saved().black_list.size(), 1u);
  EXPECT_EQ(saved().black_list[0].phone, u"10086");

  // A rule password is asked first; a wrong one opens nothing.
  filters.password = u"1234";
  std::vector<int> shown;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    shown.push_back(dialog->template_id());
    if (auto* edit = kit::FindControl<QLineEdit>(dialog, kit::kPasswordEdit)) {
      edit->setText("9999");
    }
    dialog->Dispatch(kit::kCommandCancel);
  });
  window->Dispatch(cmds::kFilterList);
  EXPECT_EQ(shown, std::vector<int>{121});

  // A filter disabled by its check in the Filter List (Left on the row)
  // is saved by Done, and a new window loads it disabled.
  filters.password.clear();
  firewall::FilterRecord work = firewall::NewFilter();
  work.SetName(u"Work");
  work.apply_to_all = 1;
  filters.filters = {work};
  Script({{firewall::ui::kFilterListTemplate, [](kit::DeviceDialog* dialog) {
             auto* list = dynamic_cast<firewall::ui::FilterListDialog*>(dialog);
             ASSERT_NE(list, nullptr);
             list->SelectRow(0);
             QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
             QApplication::sendEvent(list->list(), &left);
             dialog->Dispatch(cmds::kDone);
           }}});
  window->Dispatch(cmds::kFilterList);
  ASSERT_EQ(saved().filters.size(), 1u);
  EXPECT_EQ(saved().filters[0].enabled, 0);

  // The Stranger Default is saved on OK.
  Script({{firewall::ui::kFilterEditTemplate, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QCheckBox>(dialog, firewall::ui::kVibrateBox)
                 ->setChecked(true);
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kStrangerDefault);
  kit::SetDialogScript({});
  EXPECT_TRUE(saved().stranger_default.Has(firewall::kVibrate));
  window->TearDown();
}

TEST_F(MainWindowTest, IncomingMessagesShowThePopupAndRunTheReminder) {
  MakeDocument(kDocPath, {});
  auto window = MakeWindow();
  window->settings().set_unread_alert(1);
  window->settings().set_alert_second(5000);
  window->settings().set_disappear_time_recv(0);  // until tapped
  firewall::FilterSet& filters = window->filters();
  filters.filters.clear();
  firewall::FilterRecord alert = firewall::NewFilter();  // \Inbox, reminder
  alert.SetName(u"Alert");
  alert.rules[0] =
      firewall::Rule{firewall::kObjectBody, firewall::kJudgeInclude, u"alert"};
  alert.Set(firewall::kShowPopupWindow, std::nullopt);
  filters.filters.push_back(alert);
  filters.stranger_default = firewall::FilterRecord{};
  filters.stranger_default.Set(firewall::kSaveToFolder, u"\\Inbox");
  auto receive = [&](std::u16string_view body) {
    return window->OnIncomingSms(firewall::IncomingMessage{
        body, u"10086",
        platform::SystemTimeToFileTime(platform::CurrentSystemTime())
            .value_or(platform::FileTime{}),
        std::nullopt});
  };
  alerts::ui::AlertPopupWindow* popup = window->alert_popup();
  ASSERT_NE(popup, nullptr);

  EXPECT_EQ(receive(u"an alert"), 1u);
  EXPECT_TRUE(popup->showing());
  EXPECT_EQ(popup->main_text(), u"an alert");
  EXPECT_EQ(popup->second_text(), u"10086");
  EXPECT_TRUE(window->reminder_running());
  EXPECT_EQ(window->timer(kTimerUnreadReminder)->interval(), 5000);
  EXPECT_TRUE(window->unread_notification_shown());
  EXPECT_EQ(Inbox(*window)->child_count(), 1u);

  // A tap on the popup closes it and counts as the user's attention.
  QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(popup->showing());
  EXPECT_FALSE(window->unread_notification_shown());
  EXPECT_FALSE(window->reminder_running());

  // A message under a filter without "Unread Alert" stops the reminder a
  // former one started.
  receive(u"another alert");
  EXPECT_TRUE(window->reminder_running());
  receive(u"plain");
  EXPECT_FALSE(window->reminder_running());
  EXPECT_EQ(Inbox(*window)->child_count(), 3u);
  // Opening a menu clears the notification and hides the popup.
  receive(u"third alert");
  ASSERT_TRUE(popup->showing());
  window->UpdateMenu(window->node_menu());
  emit window->soft_keys()->MenuAboutToShow(window->node_menu());
  EXPECT_FALSE(popup->showing());
  EXPECT_FALSE(window->reminder_running());
  window->TearDown();
}

TEST_F(MainWindowTest, SendResultsAreFiledAndAnnounced) {
  MakeDocument(kDocPath, {});
  auto window = MakeWindow();
  window->settings().set_save_to_sent_box(1);
  window->settings().set_sent_alert(1);
  send::SendRequest request;
  request.recipients = u"\"Bob\"<5550199>";
  request.text = u"I am away.";
  window->OnSendResult(request, send::SendResultKind::kSent);
  Node* sent_box = Child(window->document().tree().root(), u"Sent Box");
  ASSERT_NE(sent_box, nullptr);
  EXPECT_EQ(sent_box->child_count(), 1u);
  EXPECT_TRUE(window->alert_popup()->showing());
  EXPECT_EQ(window->alert_popup()->main_text(), u"Send to Bob Successfully!");
  window->TearDown();
}

TEST_F(MainWindowTest, PreferenceChangesAreSavedAndFollowedUp) {
  auto window = MakeWindow();
  ASSERT_TRUE(window->tray_icon_shown());
  ASSERT_NE(window->preview_popup(), nullptr);
  // Untick "Show Preview Window" and "Show Tray Icon", tick "Auto Save"
  // with 5 minutes.
  kit::SetDialogScript([](kit::DeviceDialog* dialog) {
    EXPECT_EQ(dialog->template_id(), 137);
    kit::FindControl<QCheckBox>(dialog, 1080)->setChecked(false);
    kit::FindControl<QCheckBox>(dialog, 1039)->setChecked(false);
    kit::FindControl<QCheckBox>(dialog, 1038)->setChecked(true);
    kit::FindControl<QLineEdit>(dialog, 1108)->setText(QStringLiteral("5"));
    dialog->Dispatch(cmds::kDone);
  });
  window->Dispatch(cmds::kPreference);
  kit::SetDialogScript({});
  EXPECT_FALSE(window->tray_icon_shown());
  EXPECT_EQ(window->preview_popup(), nullptr);
  EXPECT_TRUE(window->timer(kTimerAutoSave)->isActive());
  EXPECT_EQ(window->timer(kTimerAutoSave)->interval(), 5 * 60 * 1000);
  // Saved at once: a fresh store reads the new choices.
  settings::SettingsStore saved;
  saved.Load();
  EXPECT_EQ(saved.show_tray_icon(), 0);
  EXPECT_EQ(saved.show_popup(), 0);
  EXPECT_EQ(saved.save_duration(), 5);
  window->TearDown();
}

// "SMS..." saves the settings however it closes; "Alert..." leaves its
// changes for the next save.
TEST_F(MainWindowTest, SmsSettingSavesAtOnceAlertOptionDoesNot) {
  auto window = MakeWindow();
  for (uint32_t command : {cmds::kSmsSetting, cmds::kAlertOption}) {
    QAction* entry = kit::FindCommand(window->system_menu(), command);
    ASSERT_NE(entry, nullptr) << command;
    EXPECT_TRUE(entry->isVisible()) << command;
  }
  kit::SetDialogScript([](kit::DeviceDialog* dialog) {
    EXPECT_EQ(dialog->template_id(), 163);
    kit::FindControl<QLineEdit>(dialog, 40369)->setText(QStringLiteral("0"));
    dialog->Dispatch(cmds::kDone);
  });
  window->Dispatch(cmds::kAlertOption);
  EXPECT_EQ(window->settings().disappear_time_recv(), 0);
  {
    settings::SettingsStore saved;
    saved.Load();
    EXPECT_EQ(saved.disappear_time_recv(), 15000) << "not saved yet";
  }

  kit::SetDialogScript([](kit::DeviceDialog* dialog) {
    EXPECT_EQ(dialog->template_id(), 152);
    kit::FindControl<QLineEdit>(dialog, 40355)->setText(QStringLiteral("33"));
    dialog->Dispatch(cmds::kDone);
  });
  window->Dispatch(cmds::kSmsSetting);
  {
    settings::SettingsStore saved;
    saved.Load();
    EXPECT_EQ(saved.summary_length(), 33);
    EXPECT_EQ(saved.disappear_time_recv(), 0) << "saved with the rest";
  }
  window->settings().set_unread_alert(2);
  kit::SetDialogScript(
      [](kit::DeviceDialog* dialog) { dialog->Dispatch(cmds::kCancel); });
  window->Dispatch(cmds::kSmsSetting);
  kit::SetDialogScript({});
  {
    settings::SettingsStore saved;
    saved.Load();
    EXPECT_EQ(saved.unread_alert(), 2) << "saved after Cancel too";
  }
  window->TearDown();
}

TEST_F(MainWindowTest, SecurityIsSavedAndChangesThePasswordsItNames) {
  MakeDocument(kDocPath, {}, u"old");
  auto type = [](kit::DeviceDialog* dialog, int id, const QString& text) {
    if (auto* edit = kit::FindControl<QLineEdit>(dialog, id)) {
      edit->setText(text);
    }
  };
  // The file password asked at start-up.
  Script({{kit::kPasswordDialogTemplate, [&](kit::DeviceDialog* prompt) {
             type(prompt, kit::kPasswordEdit, "old");
             prompt->Dispatch(kit::kCommandOk);
           }}});
  auto window = MakeWindow();
  ASSERT_TRUE(window->document().IsOpen());
  // "Input Every Time"; the file password "old" -> "new"; the rule password
  // set to "77"; then Done.
  Script({{180,
           [](kit::DeviceDialog* dialog) {
             kit::FindControl<QComboBox>(dialog, 1110)->setCurrentIndex(2);
             kit::FindControl<QPushButton>(dialog, 1026)->click();
             kit::FindControl<QPushButton>(dialog, 1027)->click();
             dialog->Dispatch(cmds::kDone);
           }},
          {kit::kPasswordDialogTemplate, [&](kit::DeviceDialog* prompt) {
             type(prompt, kit::kPasswordEdit, "old");
             const QString next =
                 kit::FindControl<QLineEdit>(prompt, kit::kPasswordEdit)
                         ->isHidden()
                     ? "77"
                     : "new";
             type(prompt, kit::kNewPasswordEdit, next);
             type(prompt, kit::kConfirmPasswordEdit, next);
             prompt->Dispatch(kit::kCommandOk);
           }}});
  window->Dispatch(cmds::kSecurity);
  kit::SetDialogScript({});
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(window->document().file().header().password(), u"new");
  EXPECT_TRUE(window->document().modified());
  EXPECT_EQ(window->document().options().protect_level, 2);
  // Saved at once: the settings and the filter file.
  settings::SettingsStore saved;
  saved.Load();
  EXPECT_EQ(saved.protect_level(), 2);
  firewall::FilterSet read;
  read.file_path = window->filters().file_path;
  ASSERT_EQ(firewall::LoadFilterFile(&read), firewall::LoadOutcome::kRead);
  EXPECT_EQ(read.password, u"77");

  // A filter file that cannot be written is told; the settings are saved
  // even though the dialog was cancelled.
  window->settings().set_start_screen_save_min(0);
  Script({{180,
           [](kit::DeviceDialog* dialog) {
             platform::testing::FileFaults faults;
             faults.FailCall(platform::files::FileCall::kSync, 1, ENOSPC);
             kit::FindControl<QPushButton>(dialog, 1027)->click();
             EXPECT_TRUE(faults.fired());
             dialog->Dispatch(cmds::kCancel);
           }},
          {kit::kPasswordDialogTemplate, [&](kit::DeviceDialog* prompt) {
             type(prompt, kit::kPasswordEdit, "77");
             type(prompt, kit::kNewPasswordEdit, "88");
             type(prompt, kit::kConfirmPasswordEdit, "88");
             prompt->Dispatch(kit::kCommandOk);
           }}});
  window->Dispatch(cmds::kSecurity);
  kit::SetDialogScript({});
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Error: ")) << messages_[0].toStdString();
  EXPECT_TRUE(messages_[0].contains("pelicorde.ini"))
      << messages_[0].toStdString();
  EXPECT_EQ(window->filters().password, u"88");
  ASSERT_EQ(firewall::LoadFilterFile(&read), firewall::LoadOutcome::kRead);
  EXPECT_EQ(read.password, u"77");  // the old file, whole
  saved.Load();
  EXPECT_EQ(saved.start_screen_save_min(), 0);

  // Closed, the document comes back with its new password only.
  window->TearDown();
  window.reset();
  struct Typed : store::DocumentUi {
    explicit Typed(std::u16string text) : typed(std::move(text)) {}
    bool Confirm(std::u16string_view, std::u16string_view) override {
      return true;
    }
    void Inform(std::u16string_view, std::u16string_view) override {}
    bool CheckPassword(const std::u16string& password) override {
      return password == typed;
    }
    std::optional<std::u16string> ChangePassword(
        const std::u16string&) override {
      return std::nullopt;
    }
    std::u16string typed;
  };
  Typed old_password(u"old");
  EXPECT_FALSE(
      store::Document({}, &old_password).OpenForReading(kDocPath).ok());
  Typed new_password(u"new");
  EXPECT_TRUE(store::Document({}, &new_password).OpenForReading(kDocPath).ok());
}

TEST_F(MainWindowTest, FontSettingHandsTheNewFontsToTheViews) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  const QFont tree_font = window->tree_view()->font();
  const QFont list_font = window->list_view()->font();
  ASSERT_EQ(list_font.pixelSize(), 12);

  // Closed without a change: the views keep their fonts.
  Script({{189, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QPushButton>(dialog, 1135)->click();
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kFontSetting);
  EXPECT_EQ(window->list_view()->font(), list_font);

  // The list font made 24 points (32 pixels at 96 dots per inch) and bold.
  Script({{189,
           [](kit::DeviceDialog* dialog) {
             kit::FindControl<QPushButton>(dialog, 1135)->click();
             dialog->Dispatch(cmds::kOk);
           }},
          {188, [](kit::DeviceDialog* dialog) {
             kit::FindControl<QComboBox>(dialog, 1139)->setCurrentIndex(8);
             kit::FindControl<QCheckBox>(dialog, 1003)->setChecked(true);
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kFontSetting);
  kit::SetDialogScript({});
  const int dpi = window->logicalDpiY();
  EXPECT_EQ(window->list_view()->font().pixelSize(),
            static_cast<int>(std::lround(24.0 * dpi / 72)));
  EXPECT_TRUE(window->list_view()->font().bold());
  EXPECT_EQ(window->tree_view()->font(), tree_font);
  window->TearDown();
}

TEST_F(MainWindowTest, MarkEntriesCopyTheChosenNodeIntoTheMarkFolder) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  QMenu* popup = window->node_menu()->findChild<QMenu*>(
      QStringLiteral("menu.") + QString::number(kit::ids::kMarkMenu));
  ASSERT_NE(popup, nullptr);
  window->SetMarks({});  // the marks of the sentence file's defaults go
  const int plain_entries = static_cast<int>(popup->actions().size());
  window->SetMarks({u"Urgency", u"Home"});
  EXPECT_EQ(popup->actions().size(), plain_entries + 3);
  EXPECT_EQ(kit::FindCommand(popup, cmds::kMarkBase + 1)->text(),
            QStringLiteral("Home"));
  EXPECT_EQ(popup->actions()[3]->text(), QStringLiteral("Urgency"));

  Node* message = Inbox(*window)->child(0);
  window->ChooseNode(message);
  window->Dispatch(cmds::kMarkBase + 1);
  Node* home = Child(window->document().tree().root(), u"Home");
  ASSERT_NE(home, nullptr);
  EXPECT_EQ(home->child_count(), 1u);
  EXPECT_EQ(home->tag().unread, 1);
  EXPECT_EQ(Inbox(*window)->child_count(), 1u);

  window->SetMarks({});
  EXPECT_EQ(popup->actions().size(), plain_entries);

  // Timer 1 saves the change ("AutoSave" every "SaveDuration" minutes).
  EXPECT_TRUE(window->document().modified());
  ASSERT_TRUE(window->timer(kTimerAutoSave)->isActive());
  EXPECT_EQ(window->timer(kTimerAutoSave)->interval(), 2 * 60 * 1000);
  window->OnTimer(kTimerAutoSave);
  EXPECT_FALSE(window->document().modified());
  window->TearDown();
}

TEST_F(MainWindowTest, HiddenStartDefersTheFilePasswordToTheFirstShow) {
  MakeDocument(kDocPath, {{u"111", u"one"}}, u"pw");
  SaveSettings([](settings::SettingsStore& s) { s.set_auto_hide(1); });
  auto window = MakeWindow();
  // Opened without asking.
  ASSERT_TRUE(window->document().IsOpen());
  EXPECT_TRUE(window->deferred_password());
  window->ShowAtStart();
  EXPECT_FALSE(window->isVisible());
  const uint32_t hidden_count = window->document().minimize_count();

  // A tray double tap while the prompt is up opens no second prompt; a
  // cancelled prompt hides the window again.
  int prompts = 0;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    if (dialog->template_id() != kit::kPasswordDialogTemplate) return;
    ++prompts;
    window->OnWindowMessage(kMessageTrayNotify, 0, kTrayDoubleClick);
    dialog->Dispatch(kit::kCommandCancel);
  });
  window->OnWindowMessage(kMessageTrayNotify, 0, kTrayDoubleClick);
  EXPECT_EQ(prompts, 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(window->deferred_password());
  EXPECT_EQ(window->document().minimize_count(), hidden_count + 1);

  // The right password shows the window and clears the flag.
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    ++prompts;
    kit::FindControl<QLineEdit>(dialog, kit::kPasswordEdit)
        ->setText(QStringLiteral("pw"));
    dialog->Dispatch(kit::kCommandOk);
  });
  window->OnWindowMessage(kMessageTrayNotify, 0, kTrayTap);
  EXPECT_EQ(prompts, 2);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->deferred_password());

  // Minimize raises the count; the title bar's OK does the same.
  window->Dispatch(cmds::kMinimize);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->document().minimize_count(), hidden_count + 2);
  window->TearDown();
}

TEST_F(MainWindowTest, UnreadNotificationClearsAfterCommands) {
  auto window = MakeWindow();
  EXPECT_TRUE(window->tray_icon_shown());  // "ShowTrayIcon" at first run
  window->RaiseUnreadNotification();
  EXPECT_TRUE(window->unread_notification_shown());
  window->Dispatch(cmds::kSave);
  EXPECT_FALSE(window->unread_notification_shown());
  window->RaiseUnreadNotification();
  window->OnWindowMessage(kMessageUserActivity, 0, 0);
  EXPECT_FALSE(window->unread_notification_shown());
  window->TearDown();
  EXPECT_FALSE(window->tray_icon_shown());
}

TEST_F(MainWindowTest, PropertiesAndPasswordsReachTheFile) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  {
    auto window = MakeWindow();
    // File Property: the author, and a password set through its button.
    Script({{kFilePropertyTemplate,
             [](kit::DeviceDialog* dialog) {
               kit::FindControl<QLineEdit>(dialog, kFilePropertyAuthorEdit)
                   ->setText(QStringLiteral("Zhang San"));
               kit::FindControl<QPushButton>(dialog, kFilePropertyPassword)
                   ->click();
               dialog->Dispatch(kit::kCommandOk);
             }},
            {kit::kPasswordDialogTemplate, [](kit::DeviceDialog* dialog) {
               kit::FindControl<QLineEdit>(dialog, kit::kNewPasswordEdit)
                   ->setText(QStringLiteral("secret"));
               kit::FindControl<QLineEdit>(dialog, kit::kConfirmPasswordEdit)
                   ->setText(QStringLiteral("secret"));
               dialog->Dispatch(kit::kCommandOk);
             }}});
    window->Dispatch(cmds::kFileProperty);
    EXPECT_EQ(window->document().file().header().author(), u"Zhang San");
    EXPECT_EQ(window->document().file().header().password(), u"secret");

    // Node Property on one of two copies changes the record both read.
    Node* message = Inbox(*window)->child(0);
    window->ChooseNode(message);
    window->Dispatch(cmds::kCopy);
    window->ChooseNode(window->document().tree().root()->child(1));
    window->Dispatch(cmds::kPaste);
    Node* copy = window->document().tree().root()->child(1)->child(0);
    ASSERT_EQ(copy->tag().record_offset, message->tag().record_offset);
    Script({{kNodePropertyTemplate, [](kit::DeviceDialog* dialog) {
               kit::FindControl<QLineEdit>(dialog, kNodePropertyAuthorEdit)
                   ->setText(QStringLiteral("Li"));
               dialog->Dispatch(kit::kCommandOk);
             }}});
    window->ChooseNode(copy);
    window->Dispatch(cmds::kNodeProperty);
    EXPECT_EQ(window->document().ReadNodeRecord(message)->author(), u"Li");
    window->Dispatch(cmds::kExit);
    window->TearDown();
  }
  // The next start asks for the file password; a wrong one keeps asking,
  // Cancel leaves the document closed.
  int prompts = 0;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    ++prompts;
    kit::FindControl<QLineEdit>(dialog, kit::kPasswordEdit)
        ->setText(QStringLiteral("wrong"));
    dialog->Dispatch(kit::kCommandOk);
    dialog->Dispatch(kit::kCommandCancel);
  });
  auto window = MakeWindow();
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(messages_.back(), QStringLiteral("Error: Password Error!"));
  EXPECT_FALSE(window->document().IsOpen());
  window->TearDown();
}

TEST_F(MainWindowTest, PreviewShowsTheChosenMessageOnce) {
  MakeDocument(kDocPath, {{u"\"Ann\"<5550001>", u"line one\r\nline two"},
                          {u"222", u"guarded"}});
  auto window = MakeWindow();
  ASSERT_NE(window->preview_popup(), nullptr);  // "ShowPopup" at first run
  Node* first = Inbox(*window)->child(0);
  Node* guarded = Inbox(*window)->child(1);
  store::NodeRecord record = *window->document().ReadNodeRecord(guarded);
  record.set_password(u"pw");
  ASSERT_TRUE(window->document().RewriteNodeRecord(guarded, record).ok());

  window->ChooseNode(first);
  window->OnTimer(kTimerPreview);
  PreviewPopup* popup = window->preview_popup();
  EXPECT_TRUE(popup->isVisible());
  EXPECT_TRUE(popup->header_text().startsWith(QStringLiteral("Ann\r\n")));
  EXPECT_EQ(popup->body_text(), QStringLiteral("line one\r\nline two"));
  // The same node is not shown again; a protected one never.
  popup->hide();
  window->OnTimer(kTimerPreview);
  EXPECT_FALSE(popup->isVisible());
  window->ChooseNode(guarded);
  window->OnTimer(kTimerPreview);
  EXPECT_FALSE(popup->isVisible());
  // A menu opening hides the preview and clears the notification.
  popup->ShowPreview(QStringLiteral("h"), QStringLiteral("b"), 30);
  window->RaiseUnreadNotification();
  window->soft_keys()->OpenMenu();
  EXPECT_FALSE(popup->isVisible());
  EXPECT_FALSE(window->unread_notification_shown());
  window->node_menu()->hide();
  window->TearDown();
}

TEST_F(MainWindowTest, ListTapsAtTheRightEdgeToggleMarksAndKeysPage) {
  std::vector<std::pair<std::u16string, std::u16string>> many;
  for (int i = 0; i < 40; ++i) many.push_back({u"100", u"body"});
  MakeDocument(kDocPath, many);
  SaveSettings([](settings::SettingsStore& s) { s.set_display_mode(2); });
  auto window = MakeWindow();
  window->show();
  ASSERT_TRUE(window->ShowFolder(Inbox(*window)));
  QListView* view = window->list_view();
  ListModel* list = window->list_model();
  QApplication::processEvents();

  QRect row = view->visualRect(list->index(1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(row.right() - 5, row.center().y()));
  EXPECT_EQ(list->MarkAt(1), kMarked);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(row.left() + 40, row.center().y()));
  EXPECT_EQ(list->MarkAt(1), kMarked);  // elsewhere in the row: no toggle
  // The up entry has no mark to toggle.
  QRect up = view->visualRect(list->index(0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(up.right() - 5, up.center().y()));
  EXPECT_EQ(list->MarkAt(0), kNotMarkable);

  // Right pages down; left goes to the top row, then a page up.
  window->ChooseNode(Inbox(*window)->child(0));
  const int start = view->currentIndex().row();
  QTest::keyClick(view, Qt::Key_Right);
  const int paged = view->currentIndex().row();
  EXPECT_GT(paged, start + 1);
  for (int i = 0; i < list->rowCount(); ++i) {
    QTest::keyClick(view, Qt::Key_Right);
  }
  EXPECT_EQ(view->currentIndex().row(), list->rowCount() - 1);
  const int top = view->indexAt(QPoint(1, 1)).row();
  QTest::keyClick(view, Qt::Key_Left);
  EXPECT_EQ(view->currentIndex().row(), top);
  QTest::keyClick(view, Qt::Key_Left);
  EXPECT_LT(view->currentIndex().row(), top);

  // Enter on the up entry goes up, focusing the folder left; the window
  // stays up.
  view->setCurrentIndex(list->index(0));
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_EQ(list->folder(), nullptr);
  EXPECT_EQ(window->ChosenNode(), Inbox(*window));
  EXPECT_TRUE(window->isVisible());
  window->TearDown();
}

TEST_F(MainWindowTest, HidingLocksUnlockedFoldersAgain) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();  // "ProtectLevel" 1 at first run
  Node* inbox = Inbox(*window);
  store::NodeRecord record = *window->document().ReadNodeRecord(inbox);
  record.set_password(u"pw");
  ASSERT_TRUE(window->document().RewriteNodeRecord(inbox, record).ok());
  int prompts = 0;
  bool give_password = true;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    ++prompts;
    if (!give_password) return;  // left open: cancelled
    kit::FindControl<QLineEdit>(dialog, kit::kPasswordEdit)
        ->setText(QStringLiteral("pw"));
    dialog->Dispatch(kit::kCommandOk);
  });
  QTreeView* tree = window->tree_view();
  QModelIndex index = window->tree_model()->IndexOf(inbox);
  tree->expand(index);
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(tree->isExpanded(index));
  tree->collapse(index);
  tree->expand(index);
  EXPECT_EQ(prompts, 1);  // entered once, it holds until the next hide

  window->HideWindow();
  EXPECT_FALSE(tree->isExpanded(index));
  give_password = false;
  tree->expand(index);
  EXPECT_EQ(prompts, 2);
  EXPECT_FALSE(tree->isExpanded(index));
  // The list does not open a folder whose password was refused.
  window->Dispatch(cmds::kPreviewMode);
  EXPECT_FALSE(window->ShowFolder(inbox));
  EXPECT_EQ(prompts, 3);
  EXPECT_NE(window->list_model()->folder(), inbox);
  window->TearDown();
}

}  // namespace
}  // namespace app

namespace app {
namespace {

// The visible modal dialog on top, or null.
kit::DeviceDialog* ModalDialog() {
  return qobject_cast<kit::DeviceDialog*>(QApplication::activeModalWidget());
}

// Runs the event loop until `done` holds (bounded, so a fault fails).
template <class Done>
bool Pump(Done done) {
  for (int i = 0; i < 2000 && !done(); ++i) QTest::qWait(5);
  return done();
}

TEST_F(MainWindowTest, TerminationEndsModalWindowsAndExitsAsExitDoes) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  kit::SetDialogScript({});  // real modal loops, as on the device
  bool exited = false;
  QObject::connect(window.get(), &MainWindow::Exited,
                   [&exited] { exited = true; });
  Node* message = Inbox(*window)->child(0);
  window->ChooseNode(message);
  // While the message view is up and being edited, the system asks the
  // program to end.
  bool edited = false;
  QTimer::singleShot(0, window.get(), [&] {
    kit::DeviceDialog* view = ModalDialog();
    ASSERT_NE(view, nullptr);
    view->Dispatch(cmds::kEdit);
    auto* text = view->findChild<QPlainTextEdit*>(QString::number(1022));
    ASSERT_NE(text, nullptr);
    text->setPlainText("half-typed");
    edited = true;
    RequestExit(window.get());
  });
  window->Dispatch(cmds::kView);  // returns once the view has ended
  EXPECT_TRUE(edited);
  EXPECT_EQ(ModalDialog(), nullptr);
  // Nothing more is asked on the way out, and Exit runs once the view's
  // loop has unwound.
  EXPECT_EQ(kit::ShowMessage(window.get(), "asked late?", "Alert",
                             kit::Buttons::kOkCancel),
            kit::kAnswerCancel);
  ASSERT_TRUE(Pump([&] { return exited; }));
  window->TearDown();
  kit::ResetDialogCancel();

  // The document was saved (the view marked the message read) and the
  // half-typed text was not applied.
  store::Document document;
  ASSERT_TRUE(document.Open(kDocPath).ok());
  Node* saved = Child(document.tree().root(), u"Inbox")->child(0);
  EXPECT_EQ(saved->image(), store::kImageMessageRead);
  EXPECT_EQ(document.ReadNodeBody(saved), u"one");
}

TEST_F(MainWindowTest, AFailedSaveIsToldOnceAndTheWindowGoesOn) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  auto window = MakeWindow();
  auto failing_save = [&] {
    window->document().MarkModified();
    platform::testing::FileFaults faults;
    faults.FailCall(platform::files::FileCall::kSync, 1, ENOSPC);
    window->OnTimer(kTimerAutoSave);
    EXPECT_TRUE(faults.fired());
  };
  failing_save();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Error: \\doc.zud could not be saved"))
      << messages_[0].toStdString();
  failing_save();  // every two minutes: not told again
  EXPECT_EQ(messages_.size(), 1u);
  // The window goes on with what it holds; once a save works, the next
  // failure is told again.
  EXPECT_TRUE(window->document().IsOpen());
  EXPECT_EQ(Inbox(*window)->child_count(), 1u);
  window->document().MarkModified();
  window->OnTimer(kTimerAutoSave);
  EXPECT_FALSE(window->document().modified());
  failing_save();
  EXPECT_EQ(messages_.size(), 2u);
  window->TearDown();
}

TEST_F(MainWindowTest, AutoCompressWaitsUntilNoDialogHoldsANode) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  SaveSettings([](settings::SettingsStore& s) {
    s.set_auto_compress(1);
    s.set_when_compress(3);
  });
  auto window = MakeWindow();
  platform::SystemTime now{};
  now.year = 2026;
  now.month = 1;
  now.day = 5;
  now.hour = 3;
  window->set_clock([&now] { return now; });
  window->ChooseNode(Inbox(*window)->child(0));
  bool ticked = false;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    // The check comes while the message view holds its node.
    window->OnTimer(kTimerAutoCompress);
    ticked = true;
    EXPECT_FALSE(window->compacted_this_run());
    dialog->Dispatch(kit::kCommandCancel);
  });
  window->Dispatch(cmds::kView);
  kit::SetDialogScript({});
  ASSERT_TRUE(ticked);
  EXPECT_FALSE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  // The next check, with nothing open, compacts.
  window->OnTimer(kTimerAutoCompress);
  EXPECT_TRUE(window->compacted_this_run());
  EXPECT_TRUE(std::filesystem::exists(device_.HostPath("\\doc.zud.bak")));
  window->TearDown();
}

TEST_F(MainWindowTest, ADocumentInUseOrDamagedIsToldNeverChangedSilently) {
  MakeDocument(kDocPath, {{u"111", u"one"}});
  {
    // Another writer holds it.
    store::Document holder;
    ASSERT_TRUE(holder.Open(kDocPath).ok());
    auto window = MakeWindow();
    EXPECT_FALSE(window->document().IsOpen());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains("is open for writing by"));
    EXPECT_TRUE(messages_[0].contains("pid " + QString::number(getpid())));
    window->TearDown();
  }
  messages_.clear();
  // The header points past the end: the index is gone.
  std::string bytes = ReadHostFile(device_.HostPath("\\doc.zud"));
  bytes[8] = '\xF0';
  bytes[9] = '\xFF';
  {
    std::ofstream out(device_.HostPath("\\doc.zud"),
                      std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  auto window = MakeWindow();
  ASSERT_TRUE(window->document().IsOpen());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Warning: \\doc.zud is damaged"));
  EXPECT_TRUE(messages_[0].contains("doc.zud.damaged"));
  EXPECT_EQ(ReadHostFile(device_.HostPath("\\doc.zud.damaged")), bytes);
  window->TearDown();
}

// Turns the event loop until `done` holds (with a generous bound).
bool TurnUntil(const std::function<bool()>& done) {
  return platform::testing::WaitUntil([&] {
    QApplication::processEvents();
    return done();
  });
}

// The window shown and in front, as the user sees it.
void Activate(MainWindow& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(TurnUntil([&] { return window.isActiveWindow(); }));
}

constexpr uint16_t kButton1 = 193;
constexpr uint16_t kButton2 = 194;

TEST_F(MainWindowTest, HotkeysLiveWhileTheWindowIsActiveAndNoMenuIsOpen) {
  SaveSettings([](settings::SettingsStore& s) {
    s.mutable_hotkeys() = {{1, kButton1, cmds::kMinimize},
                           {1, kButton2, cmds::kAbout}};
  });
  auto window = MakeWindow();
  ASSERT_NO_FATAL_FAILURE(Activate(*window));
  ASSERT_TRUE(window->hotkeys_registered());
  QWidget other;
  EXPECT_FALSE(kit::RegisterHotkey(&other, 1, kit::kModWin, kButton1));

  // An open menu gives the keys up until it closes.
  window->soft_keys()->OpenLeftMenu();
  ASSERT_TRUE(window->system_menu()->isVisible());
  EXPECT_FALSE(window->hotkeys_registered());
  ASSERT_TRUE(kit::RegisterHotkey(&other, 1, kit::kModWin, kButton1));
  ASSERT_TRUE(kit::UnregisterHotkey(&other, 1));
  // A notification still on its way runs nothing while the menu is open.
  window->DispatchHotkey(0, kButton1);
  QApplication::processEvents();
  EXPECT_TRUE(window->isVisible());
  window->system_menu()->close();
  EXPECT_TRUE(window->hotkeys_registered());

  // A dialog in front: the window has no keys, and a notification that
  // reaches it anyway runs nothing.
  bool registered_under_dialog = true;
  Script({{settings::ui::kHotkeyTemplate, [&](kit::DeviceDialog* dialog) {
             TurnUntil([&] { return dialog->isActiveWindow(); });
             registered_under_dialog = window->hotkeys_registered();
             window->DispatchHotkey(0, kButton1);
             QApplication::processEvents();
           }}});
  window->Dispatch(cmds::kHotkey);
  EXPECT_FALSE(registered_under_dialog);
  EXPECT_TRUE(window->isVisible());
  // Back in front, the window has its keys again.
  ASSERT_TRUE(TurnUntil([&] { return window->hotkeys_registered(); }));

  // The key pressed on the device runs its command as the menu would.
  std::vector<int> dialogs;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    dialogs.push_back(dialog->template_id());
  });
  kit::PressHardwareKey(kButton2);
  ASSERT_TRUE(TurnUntil([&] { return !dialogs.empty(); }));
  EXPECT_EQ(dialogs, std::vector<int>{kAboutTemplate});
  ASSERT_TRUE(TurnUntil([&] { return window->hotkeys_registered(); }));
  kit::PressHardwareKey(kButton1);
  ASSERT_TRUE(TurnUntil([&] { return !window->isVisible(); }));
  // Hidden, the window is no longer active: the keys are free again.
  ASSERT_TRUE(TurnUntil([&] { return !window->hotkeys_registered(); }));
  EXPECT_TRUE(kit::RegisterHotkey(&other, 1, kit::kModWin, kButton1));
  window->TearDown();
}

TEST_F(MainWindowTest, BackHidesOnReleaseAndAKeyRunsItsFirstBinding) {
  // Two bindings of one key code (only the registry can hold them): the
  // earlier one runs. A binding of the Back key runs on its press.
  SaveSettings([](settings::SettingsStore& s) {
    s.mutable_hotkeys() = {{1, kit::kKeyBack, cmds::kNewFile},
                           {1, kButton1, cmds::kAbout},
                           {5, kButton1, cmds::kMinimize}};
  });
  auto window = MakeWindow();
  ASSERT_NO_FATAL_FAILURE(Activate(*window));
  std::vector<int> dialogs;
  kit::SetDialogScript([&](kit::DeviceDialog* dialog) {
    dialogs.push_back(dialog->template_id());
  });
  window->DispatchHotkey(0, kButton1);
  ASSERT_TRUE(TurnUntil([&] { return !dialogs.empty(); }));
  EXPECT_EQ(dialogs, std::vector<int>{kAboutTemplate});
  EXPECT_TRUE(window->isVisible());

  // The host's Escape is the Back key: its press runs the binding, its
  // release hides the window.
  dialogs.clear();
  ASSERT_NO_FATAL_FAILURE(Activate(*window));
  QTest::keyPress(window.get(), Qt::Key_Escape);
  ASSERT_TRUE(TurnUntil([&] { return !dialogs.empty(); }));
  EXPECT_EQ(dialogs, std::vector<int>{kNewFileTemplate});
  EXPECT_TRUE(window->isVisible());
  QTest::keyRelease(window.get(), Qt::Key_Escape);
  ASSERT_TRUE(TurnUntil([&] { return !window->isVisible(); }));
  EXPECT_EQ(dialogs.size(), 1u);

  // A release hides before any binding is looked at.
  window->ShowWindow();
  ASSERT_NO_FATAL_FAILURE(Activate(*window));
  dialogs.clear();
  window->DispatchHotkey(0, kit::kKeyBack);
  ASSERT_TRUE(TurnUntil([&] { return !dialogs.empty(); }));
  dialogs.clear();
  window->DispatchHotkey(kit::kModKeyUp, kit::kKeyBack);
  EXPECT_FALSE(window->isVisible());
  QApplication::processEvents();
  EXPECT_TRUE(dialogs.empty());

  // The Back that closed a dialog or a menu ends there: its release, which
  // the window gets once it is in front again, does not hide it.
  window->ShowWindow();
  ASSERT_NO_FATAL_FAILURE(Activate(*window));
  window->DispatchHotkey(kit::kModKeyUp, kit::kKeyBack);
  QApplication::processEvents();
  EXPECT_TRUE(window->isVisible());
  window->TearDown();
}

TEST_F(MainWindowTest, TheHotkeyDialogsChoicesAreSavedAtOnce) {
  SaveSettings([](settings::SettingsStore& s) {
    s.mutable_hotkeys() = {{1, 117, cmds::kMinimize}};
  });
  auto window = MakeWindow();
  window->UpdateMenu(window->system_menu());
  QAction* entry = kit::FindCommand(window->system_menu(), cmds::kHotkey);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->isVisible());

  // "Button1" for "New SMS", captured on the device.
  Script({{settings::ui::kHotkeyTemplate, [](kit::DeviceDialog* dialog) {
             auto* hotkeys = static_cast<settings::ui::HotkeyDialog*>(dialog);
             kit::SelectListRow(hotkeys->list(), 8);
             hotkeys->StartCapture();
             kit::PressHardwareKey(kButton1);
             TurnUntil([&] { return !hotkeys->capturing(); });
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kHotkey);
  std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(
      platform::RegistryRoot::kCurrentUser, settings::kHotkeyKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->QueryDword(u"KeyCode0"), 117u);
  EXPECT_EQ(key->QueryDword(u"KeyVirt1"), 1u);
  EXPECT_EQ(key->QueryDword(u"KeyCode1"), kButton1);
  EXPECT_EQ(key->QueryDword(u"KeyCmd1"), cmds::kNewSms);

  // "Reset" then "OK": an empty "Key" subkey.
  Script({{settings::ui::kHotkeyTemplate, [](kit::DeviceDialog* dialog) {
             dialog->Dispatch(cmds::kReset);
             dialog->Dispatch(cmds::kOk);
           }}});
  window->Dispatch(cmds::kHotkey);
  key = platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser,
                                    settings::kHotkeyKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_TRUE(key->Values().empty());

  // Saved however the dialog ended; a failed save is told.
  Script({{settings::ui::kHotkeyTemplate,
           [](kit::DeviceDialog* dialog) { dialog->Dispatch(cmds::kReset); }}});
  {
    platform::testing::RegistryFaults faults;
    faults.FailWrite(1);
    window->Dispatch(cmds::kHotkey);
  }
  ASSERT_FALSE(messages_.empty());
  EXPECT_NE(messages_.back().indexOf(QStringLiteral("Pelicorde")), -1)
      << messages_.back().toStdString();
  window->TearDown();
}

}  // namespace
}  // namespace app
