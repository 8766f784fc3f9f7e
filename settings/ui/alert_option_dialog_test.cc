// The Alert Option dialog on a scratch device with the shipped skins and
// real sound files installed, run modally and driven by a dialog script the
// way a user would; the file browser and the skin preview it opens are
// driven by scripts too.
#include "settings/ui/alert_option_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "alerts/ui/skin_preview.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/testing/source_tree.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace settings::ui {
namespace {

namespace fs = std::filesystem;
using kit::DeviceDialog;
using kit::FindControl;

constexpr char16_t kAppFolder[] = u"\\Program Files\\Telvane\\";

template <class T>
T* Control(DeviceDialog* dialog, int id) {
  T* control = FindControl<T>(dialog, id);
  EXPECT_NE(control, nullptr) << id;
  return control;
}
QLineEdit* Edit(DeviceDialog* dialog, int id) {
  return Control<QLineEdit>(dialog, id);
}
bool Enabled(DeviceDialog* dialog, int id) {
  QWidget* control = Control<QWidget>(dialog, id);
  return control != nullptr && control->isEnabled();
}

QStringList Entries(QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  return entries;
}

// The text of the label that names `control`.
QString LabelOf(DeviceDialog* dialog, QWidget* control) {
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->buddy() == control) return label->text();
  }
  return {};
}

// Taps the entry `name` of the file browser's list.
void ActivateNamed(kit::FileBrowserDialog* browser, const char* name) {
  auto* list = FindControl<QTreeWidget>(browser, kit::kFileList);
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == QLatin1String(name)) {
      browser->Activate(i);
      return;
    }
  }
  ADD_FAILURE() << name << " is not listed";
}

fs::path SourceRoot() {
  return platform::testing::SourceFolderOf(__FILE__)
      .parent_path()
      .parent_path();
}

class AlertOptionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    previous_messages_ =
        kit::SetMessageScript([this](const kit::MessageRequest& request) {
          EXPECT_EQ(request.caption, "Error");
          messages_.push_back(request.text);
          return kit::kAnswerOk;
        });
    fs::path skins = device_.HostPath("\\Program Files\\Telvane\\skins");
    fs::create_directories(skins);
    for (const char* file : {"Blue.cfg", "Blue.bmp", "Mint.cfg", "Mint.bmp"}) {
      fs::copy_file(SourceRoot() / "skins" / file, skins / file);
    }
    fs::create_directories(device_.HostPath("\\Sounds\\Rings"));
    fs::copy_file(SourceRoot() / "audio" / "testdata" / "tone.mp3",
                  device_.HostPath("\\Sounds\\ring.mp3"));
    fs::copy_file(SourceRoot() / "audio" / "testdata" / "pcm16.wav",
                  device_.HostPath("\\Sounds\\Rings\\ping.wav"));
    std::ofstream(device_.HostPath("\\Sounds\\fake.wav")) << "no sound here";
    settings_.set_last_dir(u"\\");
  }
  void TearDown() override {
    kit::SetMessageScript(previous_messages_);
    kit::SetDialogScript({});
    alerts::ui::SetPreviewScript({});
  }

  // Runs the dialog with `steps` as the user and `browse` on every file
  // browser it opens.
  int Run(std::function<void(DeviceDialog*)> steps,
          std::function<void(kit::FileBrowserDialog*)> browse = {}) {
    kit::SetDialogScript([steps, browse](DeviceDialog* dialog) {
      if (auto* browser = qobject_cast<kit::FileBrowserDialog*>(dialog)) {
        ASSERT_TRUE(browse) << "unexpected file browser";
        browse(browser);
        return;
      }
      ASSERT_NE(qobject_cast<AlertOptionDialog*>(dialog), nullptr);
      steps(dialog);
    });
    return RunAlertOptionDialog(nullptr, &settings_, kAppFolder);
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
  std::vector<QString> messages_;
  kit::MessageScript previous_messages_;
};

TEST_F(AlertOptionDialogTest, OpensWithEveryOptionInSeconds) {
  settings_.set_unread_icon(0);
  settings_.set_unread_alert(3);
  settings_.set_alert_second(45500);
  settings_.set_alert_sound(u"\\Sounds\\ring.mp3");
  settings_.set_sent_alert(1);
  settings_.set_sent_skin(u"\\Program Files\\Telvane\\skins\\Mint.cfg");
  settings_.set_disappear_time(9000);
  settings_.set_disappear_time_recv(0);
  settings_.set_photo_folder(u"\\Photos\\");
  settings_.set_default_photo(u"\\Photos\\me.jpg");
  settings_.set_rnd_sound_path(u"\\Sounds\\Rings\\");

  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        EXPECT_EQ(dialog->template_id(), kAlertOptionTemplate);
        EXPECT_EQ(dialog->title_bar()->caption(), "Alert Option");
        EXPECT_EQ(dialog->soft_keys()->left_key()->text(), "Done");
        auto* icon = Control<QCheckBox>(dialog, kUnreadIconBox);
        EXPECT_EQ(icon->text(), "Show icon when SMS arrives");
        EXPECT_FALSE(icon->isChecked());
        auto* alert = Control<QComboBox>(dialog, kUnreadAlertList);
        EXPECT_EQ(Entries(alert), (QStringList{"None", "Vibrate", "Sound",
                                               "Vibrate and Sound"}));
        EXPECT_EQ(alert->currentIndex(), 3);
        EXPECT_EQ(LabelOf(dialog, alert), "Unread Alert");
        EXPECT_EQ(Edit(dialog, kAlertSecondsEdit)->text(), "45");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kAlertSecondsEdit)), "Seconds");
        EXPECT_EQ(Edit(dialog, kAlertSoundEdit)->text(), "\\Sounds\\ring.mp3");
        auto* sent = Control<QCheckBox>(dialog, kSentPopupBox);
        EXPECT_EQ(sent->text(), "Sent Popup Window");
        EXPECT_TRUE(sent->isChecked());
        auto* skins = Control<QComboBox>(dialog, kSentSkinList);
        EXPECT_EQ(Entries(skins), (QStringList{"Default", "Blue", "Mint"}));
        EXPECT_EQ(skins->currentText(), "Mint");
        EXPECT_EQ(Edit(dialog, kAppearSendEdit)->text(), "9");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kAppearSendEdit)),
                  "Appear time(Send)");
        EXPECT_EQ(Edit(dialog, kAppearRecvEdit)->text(), "0");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kAppearRecvEdit)),
                  "Appear Time(Recv)");
        EXPECT_EQ(Edit(dialog, kPhotoFolderEdit)->text(), "\\Photos\\");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kPhotoFolderEdit)),
                  "Photo Folder");
        EXPECT_EQ(Edit(dialog, kDefaultPhotoEdit)->text(), "\\Photos\\me.jpg");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kDefaultPhotoEdit)),
                  "Default Photo");
        EXPECT_EQ(Edit(dialog, kRandomSoundFolderEdit)->text(),
                  "\\Sounds\\Rings\\");
        EXPECT_EQ(LabelOf(dialog, Edit(dialog, kRandomSoundFolderEdit)),
                  "Random Sound Folder");
        for (int id : {kAlertSoundBrowse, kPhotoFolderBrowse,
                       kDefaultPhotoBrowse, kRandomSoundBrowse}) {
          EXPECT_EQ(Control<QPushButton>(dialog, id)->text(), "Browse...")
              << id;
        }
        EXPECT_EQ(Control<QPushButton>(dialog, kSkinTestButton)->text(),
                  "Test...");
        dialog->Dispatch(kit::cmds::kCancel);
      }),
      0);
  EXPECT_EQ(settings_.unread_icon(), 0) << "Cancel stores nothing";
  EXPECT_EQ(settings_.random_sounds(), nullptr);
}

TEST_F(AlertOptionDialogTest, EnablingFollowsTheListAndTheBoxAtOnce) {
  settings_.set_unread_alert(0);
  settings_.set_sent_alert(0);
  Run([](DeviceDialog* dialog) {
    const int reminder[] = {kAlertSecondsEdit, kAlertSoundEdit,
                            kAlertSoundBrowse};
    const int popup[] = {kSentSkinList, kSkinTestButton};
    for (int id : reminder) EXPECT_FALSE(Enabled(dialog, id)) << id;
    for (int id : popup) EXPECT_FALSE(Enabled(dialog, id)) << id;
    auto* alert = Control<QComboBox>(dialog, kUnreadAlertList);
    for (int mode : {1, 2, 3}) {
      alert->setCurrentIndex(mode);
      for (int id : reminder) EXPECT_TRUE(Enabled(dialog, id)) << mode << id;
    }
    alert->setCurrentIndex(0);
    for (int id : reminder) EXPECT_FALSE(Enabled(dialog, id)) << id;
    Control<QCheckBox>(dialog, kSentPopupBox)->click();
    for (int id : popup) EXPECT_TRUE(Enabled(dialog, id)) << id;
    Control<QCheckBox>(dialog, kSentPopupBox)->click();
    for (int id : popup) EXPECT_FALSE(Enabled(dialog, id)) << id;
    // The rest never depends on them.
    for (int id : {kAppearSendEdit, kAppearRecvEdit, kPhotoFolderEdit,
                   kDefaultPhotoBrowse, kRandomSoundBrowse}) {
      EXPECT_TRUE(Enabled(dialog, id)) << id;
    }
    dialog->Dispatch(kit::cmds::kCancel);
  });

  // A value out of range shows "None", with its edits disabled.
  settings_.set_unread_alert(8);
  Run([](DeviceDialog* dialog) {
    EXPECT_EQ(Control<QComboBox>(dialog, kUnreadAlertList)->currentIndex(), 0);
    EXPECT_FALSE(Enabled(dialog, kAlertSecondsEdit));
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

TEST_F(AlertOptionDialogTest, DoneStoresEveryFieldInMilliseconds) {
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        Control<QCheckBox>(dialog, kUnreadIconBox)->click();
        Control<QComboBox>(dialog, kUnreadAlertList)->setCurrentIndex(2);
        Edit(dialog, kAlertSecondsEdit)->setText(QStringLiteral("12"));
        Edit(dialog, kAlertSoundEdit)
            ->setText(QStringLiteral("\\Sounds\\ring.mp3"));
        Control<QComboBox>(dialog, kSentSkinList)->setCurrentIndex(1);
        Edit(dialog, kAppearSendEdit)->setText(QStringLiteral("4"));
        Edit(dialog, kAppearRecvEdit)->setText(QStringLiteral("0"));
        Edit(dialog, kPhotoFolderEdit)->setText(QStringLiteral("\\Pics\\"));
        Edit(dialog, kDefaultPhotoEdit)
            ->setText(QStringLiteral("\\Pics\\a.bmp"));
        Edit(dialog, kRandomSoundFolderEdit)
            ->setText(QStringLiteral("\\Sounds\\Rings\\"));
        dialog->Dispatch(kit::cmds::kDone);
      }),
      1);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(settings_.unread_icon(), 0);
  EXPECT_EQ(settings_.unread_alert(), 2);
  EXPECT_EQ(settings_.alert_second(), 12000);
  EXPECT_EQ(settings_.alert_sound(), u"\\Sounds\\ring.mp3");
  EXPECT_EQ(settings_.sent_alert(), 1);
  EXPECT_EQ(settings_.sent_skin(),
            u"\\Program Files\\Telvane\\skins\\Blue.cfg");
  EXPECT_EQ(settings_.disappear_time(), 4000);
  EXPECT_EQ(settings_.disappear_time_recv(), 0)
      << "incoming popups stay until tapped";
  EXPECT_EQ(settings_.photo_folder(), u"\\Pics\\");
  EXPECT_EQ(settings_.default_photo(), u"\\Pics\\a.bmp");
  EXPECT_EQ(settings_.rnd_sound_path(), u"\\Sounds\\Rings\\");
  // The random sound list is made and scanned at once.
  ASSERT_NE(settings_.random_sounds(), nullptr);
  EXPECT_EQ(settings_.random_sounds()->names(),
            (std::vector<std::u16string>{u"ping.wav"}));
  EXPECT_FALSE(platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser,
                                           settings::kSettingsKey))
      << "the dialog does not save";

  // "Default" stores an empty skin; huge times are capped, never wrapped.
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              EXPECT_EQ(
                  Control<QComboBox>(dialog, kSentSkinList)->currentText(),
                  "Blue");
              Control<QComboBox>(dialog, kSentSkinList)->setCurrentIndex(0);
              Edit(dialog, kAppearSendEdit)->setText(QStringLiteral("2147484"));
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_EQ(settings_.sent_skin(), u"");
  EXPECT_EQ(settings_.disappear_time(), 2147483647);
}

TEST_F(AlertOptionDialogTest, ZeroSecondsAreRefusedOnlyWithAReminder) {
  settings_.set_unread_alert(2);
  settings_.set_alert_second(30000);
  settings_.set_unread_icon(1);
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              QLineEdit* seconds = Edit(dialog, kAlertSecondsEdit);
              Control<QCheckBox>(dialog, kUnreadIconBox)->click();
              for (const char* bad : {"0", "", "00"}) {
                Control<QCheckBox>(dialog, kUnreadIconBox)->setFocus();
                seconds->setText(QString::fromLatin1(bad));
                dialog->Dispatch(kit::cmds::kDone);
                EXPECT_TRUE(dialog->isVisible()) << bad;
                EXPECT_EQ(dialog->focusWidget(), seconds) << bad;
              }
              dialog->Dispatch(kit::cmds::kCancel);
            }),
            0);
  EXPECT_TRUE(messages_.empty()) << "refusals show no message";
  EXPECT_EQ(settings_.alert_second(), 30000);
  EXPECT_EQ(settings_.unread_icon(), 1) << "a refused Done stores nothing";

  // With "None" a zero is taken and kept as 0.
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              Edit(dialog, kAlertSecondsEdit)->setText(QStringLiteral("0"));
              Control<QComboBox>(dialog, kUnreadAlertList)->setCurrentIndex(0);
              dialog->Dispatch(kit::cmds::kDone);
            }),
            1);
  EXPECT_EQ(settings_.unread_alert(), 0);
  EXPECT_EQ(settings_.alert_second(), 0);
}

TEST_F(AlertOptionDialogTest, AReminderSoundThatCannotPlayIsRefused) {
  settings_.set_unread_alert(3);
  settings_.set_alert_sound(u"\\Sounds\\ring.mp3");
  EXPECT_EQ(
      Run([this](DeviceDialog* dialog) {
        QLineEdit* sound = Edit(dialog, kAlertSoundEdit);
        int expected_messages = 0;
        for (const char* bad : {"\\Sounds\\gone.mp3", "\\Sounds\\fake.wav"}) {
          sound->setText(QString::fromLatin1(bad));
          Edit(dialog, kAlertSecondsEdit)->setFocus();
          dialog->Dispatch(kit::cmds::kDone);
          EXPECT_TRUE(dialog->isVisible()) << bad;
          EXPECT_EQ(dialog->focusWidget(), sound) << bad;
          ASSERT_EQ(messages_.size(), static_cast<size_t>(++expected_messages));
          EXPECT_TRUE(messages_.back().startsWith(
              "The reminder sound cannot be played: "))
              << messages_.back().toStdString();
          EXPECT_TRUE(messages_.back().contains(QString::fromLatin1(bad)))
              << messages_.back().toStdString();
        }
        // A reminder that only vibrates does not care.
        Control<QComboBox>(dialog, kUnreadAlertList)->setCurrentIndex(1);
        dialog->Dispatch(kit::cmds::kDone);
        EXPECT_FALSE(dialog->isVisible());
      }),
      1);
  EXPECT_EQ(messages_.size(), 2u);
  EXPECT_EQ(settings_.unread_alert(), 1);
  EXPECT_EQ(settings_.alert_sound(), u"\\Sounds\\fake.wav");

  // An MP3, a PCM WAV and the empty text (the default beep) are taken.
  for (const char16_t* good :
       {u"\\Sounds\\ring.mp3", u"\\Sounds\\Rings\\ping.wav", u""}) {
    EXPECT_EQ(
        Run([good](DeviceDialog* dialog) {
          Control<QComboBox>(dialog, kUnreadAlertList)->setCurrentIndex(2);
          Edit(dialog, kAlertSoundEdit)->setText(kit::Q(good));
          dialog->Dispatch(kit::cmds::kDone);
        }),
        1);
    EXPECT_EQ(settings_.alert_sound(), good);
  }
  EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(AlertOptionDialogTest, BrowseFillsTheEditsAndKeepsLastDir) {
  std::vector<std::u16string> started_in;
  auto browse = [&started_in](kit::FileBrowserDialog* browser) {
    started_in.push_back(browser->folder());
    if (started_in.size() == 1) {
      ActivateNamed(browser, "Sounds");
      ActivateNamed(browser, "ring.mp3");  // a file is chosen at once
    } else {
      ActivateNamed(browser, "Rings");
      browser->Dispatch(kit::kCommandOk);
    }
  };
  settings_.set_unread_alert(2);
  EXPECT_EQ(Run(
                [this](DeviceDialog* dialog) {
                  Control<QPushButton>(dialog, kAlertSoundBrowse)->click();
                  EXPECT_EQ(Edit(dialog, kAlertSoundEdit)->text(),
                            "\\Sounds\\ring.mp3");
                  EXPECT_EQ(settings_.last_dir(), u"\\Sounds\\");
                  Control<QPushButton>(dialog, kRandomSoundBrowse)->click();
                  EXPECT_EQ(Edit(dialog, kRandomSoundFolderEdit)->text(),
                            "\\Sounds\\Rings\\");
                  EXPECT_EQ(settings_.last_dir(), u"\\Sounds\\Rings\\");
                  dialog->Dispatch(kit::cmds::kDone);
                },
                browse),
            1);
  EXPECT_EQ(started_in, (std::vector<std::u16string>{u"\\", u"\\Sounds\\"}));
  EXPECT_EQ(settings_.rnd_sound_path(), u"\\Sounds\\Rings\\");
  EXPECT_EQ(settings_.last_dir(), u"\\Sounds\\Rings\\");

  // A cancelled browser leaves the edit, but "LastDir" follows the user.
  settings_.set_last_dir(u"\\");
  EXPECT_EQ(Run(
                [this](DeviceDialog* dialog) {
                  Control<QPushButton>(dialog, kDefaultPhotoBrowse)->click();
                  EXPECT_EQ(Edit(dialog, kDefaultPhotoEdit)->text(), "");
                  EXPECT_EQ(settings_.last_dir(), u"\\Sounds\\");
                  dialog->Dispatch(kit::cmds::kCancel);
                },
                [](kit::FileBrowserDialog* browser) {
                  ActivateNamed(browser, "Sounds");
                  browser->Dispatch(kit::kCommandCancel);
                }),
            0);
}

TEST_F(AlertOptionDialogTest, TestPreviewsTheChosenSkin) {
  QImage photo(8, 8, QImage::Format_RGB32);
  photo.fill(Qt::red);
  ASSERT_TRUE(photo.save(
      QString::fromStdString(device_.HostPath("\\me.bmp").string())));
  settings_.set_default_photo(u"\\me.bmp");
  struct Seen {
    QString main_text, second_text;
    bool built_in;
    bool picture;
  };
  std::vector<Seen> seen;
  alerts::ui::SetPreviewScript([&seen](alerts::ui::SkinPreviewWindow* p) {
    seen.push_back({p->main_text(), p->second_text(), p->look().built_in,
                    !p->picture().isNull()});
  });
  Run([](DeviceDialog* dialog) {
    auto* test = Control<QPushButton>(dialog, kSkinTestButton);
    test->click();
    Control<QComboBox>(dialog, kSentSkinList)->setCurrentIndex(2);
    test->click();
    dialog->Dispatch(kit::cmds::kCancel);
  });
  ASSERT_EQ(seen.size(), 2u);
  for (const Seen& s : seen) {
    EXPECT_EQ(s.main_text, "This is only for test");
    EXPECT_EQ(s.second_text, "1234567890");
    EXPECT_TRUE(s.picture);
  }
  EXPECT_TRUE(seen[0].built_in);
  EXPECT_FALSE(seen[1].built_in) << "Mint";
}

TEST_F(AlertOptionDialogTest, AVanishedSkinShowsDefault) {
  settings_.set_sent_skin(u"\\Program Files\\Telvane\\skins\\Gone.cfg");
  Run([](DeviceDialog* dialog) {
    EXPECT_EQ(Control<QComboBox>(dialog, kSentSkinList)->currentText(),
              "Default");
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(settings_.sent_skin(), u"");
}

TEST_F(AlertOptionDialogTest, ScrollsAndStretchesLikeTheOtherOptionDialogs) {
  SetOptionScrollOffset(&settings_, 33);
  Run([this](DeviceDialog* dialog) {
    OptionScrollArea* area =
        static_cast<AlertOptionDialog*>(dialog)->scroll_area();
    EXPECT_EQ(OptionScrollOffset(settings_), 0);
    area->Scroll(ScrollRequest::kLineDown);
    EXPECT_EQ(area->page()->y(), -OptionScrollOffset(settings_));
    EXPECT_GT(OptionScrollOffset(settings_), 0);

    QWidget* page = area->page();
    QLineEdit* folder = Edit(dialog, kPhotoFolderEdit);
    auto* browse = Control<QPushButton>(dialog, kPhotoFolderBrowse);
    const int left = folder->geometry().left();
    dialog->setFixedSize(dialog->width() + 60, dialog->height());
    QApplication::processEvents();
    page->layout()->activate();
    EXPECT_EQ(folder->geometry().left(), left);
    EXPECT_EQ(browse->geometry().left() - (folder->geometry().right() + 1), 4);
    EXPECT_EQ(page->width() - (browse->geometry().right() + 1), 4);
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

}  // namespace
}  // namespace settings::ui
