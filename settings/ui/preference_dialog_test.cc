// The Preference dialog on a scratch device, run modally and driven by a
// dialog script the way a user would: ticking boxes, typing, choosing
// "Done" or "Cancel". Registrations are checked in the device's registry
// and file system.
#include "settings/ui/preference_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "intercept/registration.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/testing/registry_faults.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace settings::ui {
namespace {

namespace fs = std::filesystem;
using kit::DeviceDialog;
using kit::FindControl;

constexpr char16_t kAppFolder[] = u"\\Program Files\\Telvane\\";

void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

QCheckBox* Box(DeviceDialog* dialog, int id) {
  auto* box = FindControl<QCheckBox>(dialog, id);
  EXPECT_NE(box, nullptr) << id;
  return box;
}

QLineEdit* Edit(DeviceDialog* dialog, int id) {
  auto* edit = FindControl<QLineEdit>(dialog, id);
  EXPECT_NE(edit, nullptr) << id;
  return edit;
}

// The label shown beside a numeric edit.
QLabel* LabelOf(DeviceDialog* dialog, QLineEdit* edit) {
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->buddy() == edit) return label;
  }
  return nullptr;
}

using platform::testing::ReadHostFile;

class PreferenceDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    previous_messages_ =
        kit::SetMessageScript([this](const kit::MessageRequest& request) {
          messages_.push_back(request);
          return kit::kAnswerOk;
        });
  }
  void TearDown() override {
    kit::SetMessageScript(previous_messages_);
    kit::SetDialogScript({});
  }

  // Runs the dialog the way the main window does, with `steps` as the user.
  int Run(std::function<void(DeviceDialog*)> steps) {
    kit::SetDialogScript([steps](DeviceDialog* dialog) {
      ASSERT_NE(qobject_cast<PreferenceDialog*>(dialog), nullptr);
      steps(dialog);
    });
    return RunPreferenceDialog(nullptr, &settings_, kAppFolder, &changes_);
  }

  void WriteAppFile(const std::string& name, const std::string& text) {
    fs::path host = device_.HostPath("\\Program Files\\Telvane\\" + name);
    fs::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary) << text;
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
  PreferenceChanges changes_;
  std::vector<kit::MessageRequest> messages_;
  kit::MessageScript previous_messages_;
};

TEST_F(PreferenceDialogTest, OpensWithEveryOptionAndTheRegistrations) {
  settings_.set_auto_start(1);
  settings_.set_auto_hide(1);
  settings_.set_open_last_file(0);
  settings_.set_delete_alert(0);
  settings_.set_empty_receive_bin_alert(1);
  settings_.set_show_popup(0);
  settings_.set_show_tray_icon(1);
  settings_.set_auto_save(0);
  settings_.set_save_duration(7);
  settings_.set_save_when_arrive(1);
  settings_.set_auto_compress(5);  // any non-zero value ticks
  settings_.set_when_compress(25);
  WriteAppFile("inrelay.dll", "rule client");
  ASSERT_TRUE(intercept::RegisterRuleClient(kAppFolder).ok());

  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        EXPECT_EQ(dialog->title_bar()->caption(), "Preference");
        EXPECT_EQ(dialog->soft_keys()->left_key()->text(), "Done");
        struct Row {
          int id;
          const char* text;
          bool checked;
        };
        for (Row row :
             {Row{kAutoRunBox, "Auto Run", true},
              Row{kAutoHideBox, "Auto Hide when startup", true},
              Row{kLoadPreviousFileBox, "Load previous file", false},
              Row{kAutoReceiveBox, "Auto Receive SMS", true},
              Row{kDeleteAlertBox, "Alert when deleting node", false},
              Row{kEmptyBinAlertBox, "Alert when emtpying recycle bin", true},
              Row{kShowPreviewBox, "Show Preview Window", false},
              Row{kShowTrayIconBox, "Show Tray Icon", true},
              Row{kTodayBox, "Add Today plug-in Support", false},
              Row{kAutoSaveBox, "Auto Save", false},
              Row{kSaveWhenArriveBox, "Save when SMS arrives", true},
              Row{kAutoCompressBox, "Auto Compress", true}}) {
          QCheckBox* box = Box(dialog, row.id);
          if (box == nullptr) continue;
          EXPECT_EQ(box->text(), row.text) << row.id;
          EXPECT_EQ(box->isChecked(), row.checked) << row.id;
        }
        QLineEdit* minutes = Edit(dialog, kSaveMinutesEdit);
        QLineEdit* hour = Edit(dialog, kCompressHourEdit);
        EXPECT_EQ(minutes->text(), "7");
        EXPECT_EQ(hour->text(), "25");
        ASSERT_NE(LabelOf(dialog, minutes), nullptr);
        ASSERT_NE(LabelOf(dialog, hour), nullptr);
        EXPECT_EQ(LabelOf(dialog, minutes)->text(), "Mins");
        EXPECT_EQ(LabelOf(dialog, hour)->text(), "O'Clock begin");

        // Each box enables its edit at once.
        EXPECT_FALSE(minutes->isEnabled());
        EXPECT_TRUE(hour->isEnabled());
        Box(dialog, kAutoSaveBox)->click();
        Box(dialog, kAutoCompressBox)->click();
        EXPECT_TRUE(minutes->isEnabled());
        EXPECT_FALSE(hour->isEnabled());
        dialog->Dispatch(kit::cmds::kCancel);
      }),
      0);
  EXPECT_EQ(settings_.auto_save(), 0) << "Cancel stores nothing";
  EXPECT_EQ(settings_.auto_compress(), 5);
  EXPECT_FALSE(changes_.tray_icon_changed);

  // The two registration boxes follow the device, not the options.
  ASSERT_TRUE(intercept::UnregisterRuleClient().ok());
  ASSERT_TRUE(intercept::SetTodayItem(true, kAppFolder).ok());
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              EXPECT_FALSE(Box(dialog, kAutoReceiveBox)->isChecked());
              EXPECT_TRUE(Box(dialog, kTodayBox)->isChecked());
              // The Back key is Cancel too.
              QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
              QApplication::sendEvent(dialog, &back);
            }),
            0);
}

TEST_F(PreferenceDialogTest, ZeroOrMissingNumbersKeepTheDialogOpen) {
  settings_.set_auto_save(0);
  settings_.set_save_duration(3);
  settings_.set_when_compress(4);
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              QLineEdit* minutes = Edit(dialog, kSaveMinutesEdit);
              QLineEdit* hour = Edit(dialog, kCompressHourEdit);
              // Only digits can be typed.
              Box(dialog, kAutoSaveBox)->click();
              minutes->clear();
              Type(minutes, QStringLiteral("1a-2"));
              EXPECT_EQ(minutes->text(), "12");
              Box(dialog, kAutoSaveBox)->click();

              // Minutes are checked even with "Auto Save" off (the edit is
              // disabled then and cannot take the focus).
              for (const char* bad : {"0", "", "00", "x1", "99999999999"}) {
                minutes->setText(QString::fromLatin1(bad));
                dialog->Dispatch(kit::cmds::kDone);
                EXPECT_TRUE(dialog->isVisible()) << bad;
              }
              Box(dialog, kAutoSaveBox)->click();
              dialog->Dispatch(kit::cmds::kDone);
              EXPECT_TRUE(dialog->isVisible());
              EXPECT_EQ(dialog->focusWidget(), minutes);

              minutes->setText(QStringLiteral("5"));
              hour->setText(QStringLiteral("0"));
              dialog->Dispatch(kit::kCommandOk);  // the title bar's OK is Done
              EXPECT_TRUE(dialog->isVisible());
              Box(dialog, kAutoCompressBox)->click();
              hour->clear();
              dialog->Dispatch(kit::cmds::kDone);
              EXPECT_TRUE(dialog->isVisible());
              EXPECT_EQ(dialog->focusWidget(), hour);
              dialog->Dispatch(kit::cmds::kCancel);
            }),
            0);
  EXPECT_TRUE(messages_.empty()) << "refusals show no message";
  EXPECT_EQ(settings_.save_duration(), 3) << "a refused Done stores nothing";
  EXPECT_EQ(settings_.when_compress(), 4);
  EXPECT_EQ(settings_.auto_save(), 0);

  // An hour has no upper bound.
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              Edit(dialog, kSaveMinutesEdit)->setText(QStringLiteral("15"));
              Edit(dialog, kCompressHourEdit)->setText(QStringLiteral("25"));
              dialog->Dispatch(kit::cmds::kDone);
              EXPECT_FALSE(dialog->isVisible());
            }),
            1);
  EXPECT_EQ(settings_.save_duration(), 15);
  EXPECT_EQ(settings_.when_compress(), 25);

  EXPECT_EQ(ReadDecimal(QStringLiteral("2147483647")), 2147483647);
  EXPECT_EQ(ReadDecimal(QStringLiteral("2147483648")), 0);
  EXPECT_EQ(ReadDecimal(QStringLiteral("-5")), 0);
  EXPECT_EQ(ReadDecimal(QStringLiteral(" 5")), 0);
  EXPECT_EQ(ReadDecimal(QStringLiteral("007")), 7);
}

TEST_F(PreferenceDialogTest, DoneStoresEveryBoxButDoesNotSave) {
  settings_.set_show_tray_icon(1);
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        for (int id : {kAutoHideBox, kLoadPreviousFileBox, kDeleteAlertBox,
                       kEmptyBinAlertBox, kShowPreviewBox, kShowTrayIconBox,
                       kAutoSaveBox, kSaveWhenArriveBox, kAutoCompressBox}) {
          Box(dialog, id)->click();
        }
        dialog->Dispatch(kit::cmds::kDone);
      }),
      1);
  // First-run values, each flipped.
  EXPECT_EQ(settings_.auto_hide(), 1);
  EXPECT_EQ(settings_.open_last_file(), 0);
  EXPECT_EQ(settings_.delete_alert(), 0);
  EXPECT_EQ(settings_.empty_receive_bin_alert(), 0);
  EXPECT_EQ(settings_.show_popup(), 0);
  EXPECT_EQ(settings_.show_tray_icon(), 0);
  EXPECT_EQ(settings_.auto_save(), 0);
  EXPECT_EQ(settings_.save_when_arrive(), 1);
  EXPECT_EQ(settings_.auto_compress(), 1);
  EXPECT_EQ(settings_.save_duration(), 2);
  EXPECT_EQ(settings_.when_compress(), 2);
  EXPECT_TRUE(changes_.tray_icon_changed);
  EXPECT_FALSE(changes_.show_tray_icon);
  EXPECT_FALSE(changes_.show_popup);
  EXPECT_FALSE(changes_.auto_save);
  EXPECT_FALSE(platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser,
                                           settings::kSettingsKey))
      << "the caller saves, not the dialog";

  // Unchanged boxes store 0 or 1 and report no tray change.
  settings_.set_show_tray_icon(7);
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) { dialog->Dispatch(kit::cmds::kDone); }), 1);
  EXPECT_EQ(settings_.show_tray_icon(), 1);
  EXPECT_FALSE(changes_.tray_icon_changed);
  EXPECT_TRUE(changes_.show_tray_icon);
}

TEST_F(PreferenceDialogTest, DoneAppliesTheThreeRegistrations) {
  WriteAppFile("inrelay.dll", "rule client");
  WriteAppFile("loader.exe", "loader");

  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              Box(dialog, kAutoReceiveBox)->click();
              Box(dialog, kTodayBox)->click();
              Box(dialog, kAutoRunBox)->click();
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_TRUE(intercept::IsRuleClientRegistered());
  EXPECT_EQ(ReadHostFile(device_.HostPath("\\Windows\\inrelay.dll")),
            "rule client");
  EXPECT_TRUE(intercept::IsTodayItemRegistered());
  auto item = platform::RegistryKey::Open(platform::RegistryRoot::kLocalMachine,
                                          intercept::TodayItemKey());
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->QueryString(u"DLL", 260),
            u"\\Program Files\\Telvane\\pelicordep.dll");
  EXPECT_EQ(settings_.auto_start(), 1);
  EXPECT_EQ(ReadHostFile(device_.HostPath("\\Windows\\loader.exe")), "loader");
  std::string shortcut =
      ReadHostFile(device_.HostPath("\\Windows\\StartUp\\Pelicorde.lnk"));
  std::u16string line =
      intercept::AutostartCommandLine(platform::ProgramFileName());
  EXPECT_NE(shortcut.find(std::string(line.begin(), line.end())),
            std::string::npos)
      << shortcut;

  // Every Done applies the choices again: a registration damaged outside
  // the program shows unticked, and ticking it repairs it.
  auto server = platform::RegistryKey::Open(
      platform::RegistryRoot::kClassesRoot, intercept::RuleClientServerKey());
  ASSERT_TRUE(server.has_value());
  ASSERT_TRUE(server->SetString(u"", u"InRelay.dll").ok());
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              EXPECT_FALSE(Box(dialog, kAutoReceiveBox)->isChecked());
              Box(dialog, kAutoReceiveBox)->click();
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_TRUE(intercept::IsRuleClientRegistered());

  // Cancel leaves the registrations alone even with every box unticked.
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              EXPECT_TRUE(Box(dialog, kAutoReceiveBox)->isChecked());
              EXPECT_TRUE(Box(dialog, kTodayBox)->isChecked());
              EXPECT_TRUE(Box(dialog, kAutoRunBox)->isChecked());
              Box(dialog, kAutoReceiveBox)->click();
              Box(dialog, kTodayBox)->click();
              Box(dialog, kAutoRunBox)->click();
              dialog->Dispatch(kit::cmds::kCancel);
            }),
            0);
  EXPECT_TRUE(intercept::IsRuleClientRegistered());
  EXPECT_TRUE(intercept::IsTodayItemRegistered());
  EXPECT_TRUE(platform::files::Exists(intercept::AutostartShortcutPath()));

  // Unticked and Done: all three removed; the installed library stays.
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              Box(dialog, kAutoReceiveBox)->click();
              Box(dialog, kTodayBox)->click();
              Box(dialog, kAutoRunBox)->click();
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_FALSE(intercept::IsRuleClientRegistered());
  EXPECT_FALSE(platform::RegistryKey::Open(
      platform::RegistryRoot::kClassesRoot,
      u"\\CLSID\\{20F58816-51E4-418D-92DD-8390021DCDCA}"));
  EXPECT_TRUE(platform::files::Exists(u"\\Windows\\inrelay.dll"));
  EXPECT_FALSE(intercept::IsTodayItemRegistered());
  EXPECT_FALSE(platform::files::Exists(intercept::AutostartShortcutPath()));
  EXPECT_FALSE(platform::files::Exists(u"\\windows\\loader.exe"));
  EXPECT_EQ(settings_.auto_start(), 0);
  EXPECT_TRUE(messages_.empty()) << "nothing failed";
}

// A registration that fails is told in an "Error" box with its cause; the
// other registrations and the options are applied all the same.
TEST_F(PreferenceDialogTest, FailedRegistrationsAreToldWithTheirCause) {
  // The program's folder holds neither inrelay.dll nor loader.exe, and the
  // Today item's first value cannot be written.
  platform::testing::RegistryFaults faults;
  faults.FailWrite(platform::RegistryWriteKind::kSetValue, 1);
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              Box(dialog, kAutoReceiveBox)->click();
              Box(dialog, kTodayBox)->click();
              Box(dialog, kAutoRunBox)->click();
              Box(dialog, kShowTrayIconBox)->click();
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_TRUE(faults.fired());
  ASSERT_EQ(messages_.size(), 3u);
  for (const kit::MessageRequest& box : messages_) {
    EXPECT_EQ(box.caption, "Error") << box.text.toStdString();
    EXPECT_EQ(box.buttons, kit::Buttons::kOk);
  }
  // What failed, then why.
  const QString& receive = messages_[0].text;
  EXPECT_TRUE(receive.startsWith(
      "Auto Receive SMS could not be turned on: cannot copy "
      "\\Program Files\\Telvane\\inrelay.dll to \\Windows\\inrelay.dll: "))
      << receive.toStdString();
  EXPECT_TRUE(receive.contains("No such file or directory"))
      << receive.toStdString();
  const QString& today = messages_[1].text;
  EXPECT_TRUE(
      today.startsWith("The Today plug-in could not be registered: "
                       "cannot write the Today item's registry values: "))
      << today.toStdString();
  const QString& auto_run = messages_[2].text;
  EXPECT_TRUE(auto_run.startsWith(
      "Auto Run could not be turned on: cannot copy "
      "\\Program Files\\Telvane\\loader.exe to \\windows\\loader.exe: "))
      << auto_run.toStdString();
  EXPECT_TRUE(auto_run.contains("No such file or directory"))
      << auto_run.toStdString();
  // Nothing half-made, and the options are stored.
  EXPECT_FALSE(intercept::IsRuleClientRegistered());
  EXPECT_FALSE(intercept::IsTodayItemRegistered());
  EXPECT_FALSE(platform::files::Exists(intercept::AutostartShortcutPath()));
  EXPECT_EQ(settings_.auto_start(), 1);
  EXPECT_TRUE(changes_.tray_icon_changed);
}

TEST(OptionScroll, StepsFollowTheRules) {
  EXPECT_EQ(ScrollStep(300), 100);
  EXPECT_EQ(ScrollStep(60), 30) << "never less than 30";
  EXPECT_EQ(ScrollStep(0), 30);

  // Down by the step, or by what is left of the client height at the end.
  EXPECT_EQ(ScrolledOffset(0, 300, ScrollRequest::kLineDown), 100);
  EXPECT_EQ(ScrolledOffset(250, 300, ScrollRequest::kLineDown), 300);
  EXPECT_EQ(ScrolledOffset(250, 300, ScrollRequest::kPageDown), 300);
  EXPECT_EQ(ScrolledOffset(300, 300, ScrollRequest::kPageDown), 300);
  // Up by the step, or to 0 near the top.
  EXPECT_EQ(ScrolledOffset(150, 300, ScrollRequest::kLineUp), 50);
  EXPECT_EQ(ScrolledOffset(10, 300, ScrollRequest::kPageUp), 0);
  EXPECT_EQ(ScrolledOffset(0, 300, ScrollRequest::kLineUp), 0);
  // "Bottom" moves 50 down, even past the client height; from there "down"
  // stays put rather than moving back up.
  EXPECT_EQ(ScrolledOffset(0, 300, ScrollRequest::kBottom), 50);
  EXPECT_EQ(ScrolledOffset(300, 300, ScrollRequest::kBottom), 350);
  EXPECT_EQ(ScrolledOffset(350, 300, ScrollRequest::kLineDown), 350);
  EXPECT_EQ(ScrolledOffset(350, 300, ScrollRequest::kLineUp), 250);
  EXPECT_EQ(ScrolledOffset(350, 300, ScrollRequest::kTop), 0);
  EXPECT_EQ(ScrolledOffset(2147483640, 300, ScrollRequest::kBottom),
            2147483647);
  // A small client area still steps 30 but never past its height.
  EXPECT_EQ(ScrolledOffset(0, 20, ScrollRequest::kLineDown), 20);
}

TEST_F(PreferenceDialogTest, ScrollingMovesTheControlsAndTheBar) {
  SetOptionScrollOffset(&settings_, 77);  // left by an earlier dialog
  Run([this](DeviceDialog* dialog) {
    OptionScrollArea* area =
        static_cast<PreferenceDialog*>(dialog)->scroll_area();
    QWidget* page = area->page();
    QScrollBar* bar = area->scroll_bar();
    EXPECT_EQ(OptionScrollOffset(settings_), 0) << "reset on opening";
    EXPECT_EQ(page->y(), 0);
    int client = area->client_height();
    int step = ScrollStep(client);
    ASSERT_GT(client, 100);
    EXPECT_EQ(bar->maximum(), client);
    EXPECT_TRUE(page->isAncestorOf(Box(dialog, kAutoCompressBox)));

    area->Scroll(ScrollRequest::kLineDown);
    EXPECT_EQ(OptionScrollOffset(settings_), step);
    EXPECT_EQ(page->y(), -step);
    EXPECT_EQ(bar->value(), step);

    // The bar's own actions are the requests.
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(area->offset(), 2 * step);
    EXPECT_EQ(bar->value(), 2 * step);
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(area->offset(), 0);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(area->offset(), 50);
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(page->y(), -50);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(area->offset(), 0);
    // Dragging the thumb is no request: the bar springs back.
    bar->setSliderPosition(40);
    EXPECT_EQ(area->offset(), 0);
    EXPECT_EQ(bar->value(), 0);
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

TEST_F(PreferenceDialogTest, ResizingStretchesControlsToTheRightEdge) {
  Run([](DeviceDialog* dialog) {
    QWidget* page =
        static_cast<PreferenceDialog*>(dialog)->scroll_area()->page();
    QCheckBox* box = Box(dialog, kShowTrayIconBox);
    QLineEdit* minutes = Edit(dialog, kSaveMinutesEdit);
    QLabel* mins = LabelOf(dialog, minutes);
    ASSERT_NE(mins, nullptr);
    auto check = [&](const char* when) {
      page->layout()->activate();
      EXPECT_EQ(box->geometry().left(), 4) << when;
      EXPECT_EQ(page->width() - (box->geometry().right() + 1), 4) << when;
      EXPECT_EQ(page->width() - (mins->geometry().right() + 1), 4) << when;
      EXPECT_EQ(mins->geometry().left() - (minutes->geometry().right() + 1), 4)
          << when;
    };
    check("as opened");
    int left = minutes->geometry().left();
    int width = page->width();
    dialog->setFixedSize(dialog->width() + 100, dialog->height());
    QApplication::processEvents();
    EXPECT_EQ(page->width(), width + 100);
    check("wider");
    EXPECT_EQ(minutes->geometry().left(), left) << "left edges stay";
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

}  // namespace
}  // namespace settings::ui
