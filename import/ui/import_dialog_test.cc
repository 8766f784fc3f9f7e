// The Import dialog on the offscreen platform, over the real cemapi.dll of a
// scratch device that devicectl fills, importing into a real document.
#include "import/ui/import_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "device/cemapi/message_store.h"
#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "store/document.h"
#include "text/text.h"

namespace import::ui {
namespace {

namespace cmds = kit::cmds;
using device::cemapi::FolderRole;
using platform::testing::Devicectl;

class ImportDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    platform::testing::CommandResult install = Devicectl(
        "install " + platform::testing::BinDir().parent_path().string());
    ASSERT_EQ(install.exit_code, 0) << install.out;
    ASSERT_TRUE(document_.New(u"\\import.zud", {}).ok());
    target_ = document_.FindOrCreateFolderPath(u"\\From Phone");
    ASSERT_NE(target_, nullptr);
    settings_.set_import_title(text::kTitleSummary);
    kit::SetMessageScript([this](const kit::MessageRequest& request) {
      messages_.push_back(request.text.toStdString());
      return kit::kAnswerOk;
    });
  }
  void TearDown() override {
    kit::SetMessageScript(nullptr);
    kit::SetDialogScript(nullptr);
  }

  void Add(bool sent, const std::string& party, const std::string& at,
           const std::string& text) {
    platform::testing::CommandResult added =
        Devicectl(std::string("store ") +
                  (sent ? "add-sent --to " : "add-inbox --from ") + party +
                  " --at '" + at + "' '" + text + "'");
    ASSERT_EQ(added.exit_code, 0) << added.out;
  }

  ImportContext Context() {
    ImportContext context;
    context.document = &document_;
    context.target = target_;
    context.settings = &settings_;
    context.clock = [this] { return today_; };
    return context;
  }

  // Runs the dialog with `script` acting on it.
  int Run(std::function<void(ImportDialog*)> script) {
    kit::SetDialogScript([&script](kit::DeviceDialog* dialog) {
      auto* import = qobject_cast<ImportDialog*>(dialog);
      ASSERT_NE(import, nullptr);
      script(import);
    });
    return RunImportDialog(nullptr, Context());
  }

  static std::vector<std::u16string> Titles(const store::Node* folder) {
    std::vector<std::u16string> titles;
    for (size_t i = 0; i < folder->child_count(); ++i) {
      titles.push_back(folder->child(i)->title());
    }
    return titles;
  }

  static std::vector<bool> Ticks(const ImportDialog* dialog) {
    std::vector<bool> ticks;
    for (size_t row = 0; row < dialog->row_count(); ++row) {
      ticks.push_back(dialog->ticked(row));
    }
    return ticks;
  }

  platform::testing::TempDevice device_;
  store::Document document_;
  store::Node* target_ = nullptr;
  settings::SettingsStore settings_;
  platform::SystemTime today_ = {2026, 3, 0, 4, 12, 0, 0, 0};
  std::vector<std::string> messages_;
};

TEST_F(ImportDialogTest, RowsShowTheTimeTodayAndTheDateBefore) {
  // Local times, whatever the host's zone: noon of "today" and a year ago.
  const platform::SystemTime noon_utc =
      platform::LocalToSystemTime({2026, 3, 0, 4, 9, 30, 0, 0}).value();
  const platform::SystemTime old_utc =
      platform::LocalToSystemTime({2025, 3, 0, 4, 9, 30, 0, 0}).value();
  auto at = [](const platform::SystemTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:00Z", t.year,
                  t.month, t.day, t.hour, t.minute);
    return std::string(buffer);
  };
  Add(false, "10086", at(old_utc), "last year");
  Add(false, "13800138000", at(noon_utc),
      "今天晚上七点在老地方见面不要迟到了谢谢");

  Run([this](ImportDialog* dialog) {
    QTreeWidget* list = dialog->list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const platform::SystemTime today = {2026, 3, 0, 4, 9, 30, 0, 0};
    const platform::SystemTime old = {2025, 3, 0, 4, 9, 30, 0, 0};
    EXPECT_EQ(kit::U(list->topLevelItem(0)->text(0)),
              u"13800138000 " +
                  text::FormatTime(today, text::TimeKind::kTime, 64) +
                  u"\n今天晚上七点在老地方见面不..");
    EXPECT_EQ(kit::U(list->topLevelItem(1)->text(0)),
              u"10086 " + text::FormatTime(old, text::TimeKind::kDate, 20) +
                  u"\nlast year");
    EXPECT_EQ(kit::SelectedListRow(list), 0);
    EXPECT_EQ(dialog->folder(), PhoneFolder::kInbox);
    dialog->Dispatch(cmds::kCancel);
  });
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportDialogTest, ImportsExactlyTheTickedMessagesWithImportTitles) {
  for (int i = 1; i <= 5; ++i) {
    Add(false, "1000" + std::to_string(i),
        "2026-03-0" + std::to_string(i) + " 08:00:00Z",
        "message " + std::to_string(i));
  }
  settings_.set_import_title(text::kTitleContactSummary);
  int result = Run([](ImportDialog* dialog) {
    ASSERT_EQ(dialog->row_count(), 5u);
    QTreeWidget* list = dialog->list();
    // A tap toggles; Enter toggles the selected row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(0)).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(3)).center());
    kit::SelectListRow(list, 4);
    QTest::keyClick(list, Qt::Key_Return);
    kit::SelectListRow(list, 2);
    QTest::keyClick(list, Qt::Key_Return);
    QTest::keyClick(list, Qt::Key_Return);  // and back
    EXPECT_EQ(Ticks(dialog),
              (std::vector<bool>{true, false, false, true, true}));
    dialog->Dispatch(cmds::kImportSms);
  });
  EXPECT_EQ(result, kImportDone);
  // Filed from the last row to the first: the oldest first.
  EXPECT_EQ(Titles(target_),
            (std::vector<std::u16string>{u"10001 message 1", u"10002 message 2",
                                         u"10005 message 5"}));
  EXPECT_TRUE(document_.modified());
  // "SmsDelete" off: the phone keeps all five.
  EXPECT_EQ(device::cemapi::CountSmsFolder(FolderRole::kInbox), 5);
}

TEST_F(ImportDialogTest, SwitchingFoldersRefillsAndClearsTicks) {
  Add(false, "10086", "2026-03-01 08:00:00Z", "in one");
  Add(false, "10010", "2026-03-02 08:00:00Z", "in two");
  Add(true, "13800138000", "2026-03-03 08:00:00Z", "out one");
  Run([this](ImportDialog* dialog) {
    dialog->Dispatch(cmds::kCheckAll);
    EXPECT_EQ(Ticks(dialog), (std::vector<bool>{true, true}));
    dialog->Dispatch(cmds::kFromInbox);  // already shown: nothing
    EXPECT_EQ(Ticks(dialog), (std::vector<bool>{true, true}));

    dialog->Dispatch(cmds::kFromSentItems);
    EXPECT_EQ(dialog->folder(), PhoneFolder::kSentItems);
    EXPECT_EQ(settings_.import_source(), 1);
    ASSERT_EQ(dialog->row_count(), 1u);
    EXPECT_EQ(dialog->item(0).body, u"out one");
    EXPECT_EQ(Ticks(dialog), (std::vector<bool>{false}));

    dialog->Dispatch(cmds::kFromInbox);
    EXPECT_EQ(settings_.import_source(), 0);
    EXPECT_EQ(Ticks(dialog), (std::vector<bool>{false, false}));
    dialog->Dispatch(cmds::kCheckAll);
    dialog->Dispatch(cmds::kUncheckAll);
    EXPECT_EQ(Ticks(dialog), (std::vector<bool>{false, false}));
    dialog->Dispatch(kit::kCommandOk);  // the OK button cancels
  });
  EXPECT_TRUE(Titles(target_).empty());
}

TEST_F(ImportDialogTest, TheMenuMarksTheFolderShownAndDeleteAfterImport) {
  settings_.set_import_source(1);
  settings_.set_sms_delete(1);
  Run([this](ImportDialog* dialog) {
    EXPECT_EQ(dialog->folder(), PhoneFolder::kSentItems);
    QMenu* menu = dialog->soft_keys()->menu();
    ASSERT_NE(menu, nullptr);
    emit dialog->soft_keys()->MenuAboutToShow(menu);
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kDeleteAfterImport)->isChecked());
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kFromSentItems)->isChecked());
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kFromInbox)->isChecked());
    dialog->Dispatch(cmds::kDeleteAfterImport);
    EXPECT_EQ(settings_.sms_delete(), 0);
    dialog->Dispatch(cmds::kFromInbox);
    emit dialog->soft_keys()->MenuAboutToShow(menu);
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kDeleteAfterImport)->isChecked());
    EXPECT_TRUE(kit::FindCommand(menu, cmds::kFromInbox)->isChecked());
    EXPECT_FALSE(kit::FindCommand(menu, cmds::kFromSentItems)->isChecked());
    dialog->Dispatch(cmds::kCancel);
  });
}

TEST_F(ImportDialogTest, DeleteAfterImportTakesExactlyTheImportedOffThePhone) {
  Add(true, "10086", "2026-03-01 08:00:00Z", "sent keep");
  Add(true, "10010", "2026-03-02 08:00:00Z", "sent take");
  Add(false, "10000", "2026-03-02 09:00:00Z", "inbox stays");
  settings_.set_sms_delete(1);
  settings_.set_import_source(1);
  int result = Run([](ImportDialog* dialog) {
    ASSERT_EQ(dialog->row_count(), 2u);
    ASSERT_EQ(dialog->item(0).body, u"sent take");
    kit::SelectListRow(dialog->list(), 0);
    QTest::keyClick(dialog->list(), Qt::Key_Return);
    dialog->Dispatch(cmds::kImportSms);
  });
  EXPECT_EQ(result, kImportDone);
  EXPECT_EQ(Titles(target_), (std::vector<std::u16string>{u"sent take"}));
  std::optional<std::vector<device::cemapi::PhoneMessage>> sent =
      device::cemapi::ListSmsFolder(FolderRole::kSentItems);
  ASSERT_TRUE(sent && sent->size() == 1);
  EXPECT_EQ((*sent)[0].text, u"sent keep");
  EXPECT_EQ(device::cemapi::CountSmsFolder(FolderRole::kInbox), 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportDialogTest, NothingIsDeletedWhenTheDocumentCannotKeepIt) {
  Add(false, "10086", "2026-03-01 08:00:00Z", "precious");
  settings_.set_sms_delete(1);
  // The target is no folder: nothing can be filed into it.
  store::Node* message =
      document_.StoreMessage(target_, u"1", u"x", {2026, 1, 0, 1, 0, 0, 0, 0},
                             store::MessageKind::kSent);
  ASSERT_NE(message, nullptr);
  ImportContext into_message = Context();
  into_message.target = message;
  ImportDialog wrong(nullptr, into_message);
  wrong.Dispatch(cmds::kCheckAll);
  wrong.Dispatch(cmds::kImportSms);
  EXPECT_EQ(wrong.result().not_filed, 1);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(device::cemapi::CountSmsFolder(FolderRole::kInbox), 1);
}

TEST_F(ImportDialogTest, WithoutAnSmsStoreTheListIsEmptyAndSilent) {
  // A device without the library: no store at all.
  platform::testing::TempDevice bare;
  ASSERT_TRUE(document_.IsOpen());
  int result = Run([](ImportDialog* dialog) {
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0);
    dialog->Dispatch(cmds::kCheckAll);
    dialog->Dispatch(cmds::kImportSms);
  });
  EXPECT_EQ(result, kImportDone);
  EXPECT_TRUE(Titles(target_).empty());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportDialogTest, ALongListShowsItsFirstScreenFirst) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(device::cemapi::DeliverIncomingSms(
        u"10086", u"bulk",
        platform::FileTime::FromValue(134000000000000000ull +
                                      uint64_t(i) * 10000000),
        nullptr));
  }
  ImportDialog dialog(nullptr, Context());
  EXPECT_EQ(dialog.row_count(), kFirstScreenRows);
  EXPECT_TRUE(dialog.listing());
  dialog.Dispatch(cmds::kCheckAll);
  EXPECT_FALSE(dialog.listing());
  EXPECT_EQ(dialog.row_count(), 40u);
  EXPECT_EQ(Ticks(&dialog), std::vector<bool>(40, true));
}

}  // namespace
}  // namespace import::ui
