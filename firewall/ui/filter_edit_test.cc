// Filter Edit and the Rule Editor, run modally on a scratch device and
// driven by dialog scripts the way a user would: ticking, typing, pressing
// the buttons and OK. The contacts come from the real pimstore.dll.
#include "firewall/ui/filter_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "alerts/ui/skin_preview.h"
#include "contacts/contact_store.h"
#include "contacts/sentence_store.h"
#include "contacts/testing/phone_contacts.h"
#include "contacts/ui/contact_picker.h"
#include "contacts/ui/my_text_dialog.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"

namespace firewall::ui {
namespace {

namespace fs = std::filesystem;
using contacts::ui::ContactPicker;
using kit::DeviceDialog;
using platform::testing::BinDir;
using platform::testing::Devicectl;
using platform::testing::TempDevice;

// Sorted: Anna, Bert.
constexpr char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bert\r\nTEL;TYPE=CELL:0201\r\nEND:"
    "VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nTEL;TYPE=CELL:0101\r\nEND:"
    "VCARD\r\n";

constexpr char16_t kAppFolder[] = u"\\App\\";

template <class T>
T* Control(DeviceDialog* dialog, int id) {
  T* control = kit::FindControl<T>(dialog, id);
  EXPECT_NE(control, nullptr) << "no control " << id;
  return control;
}
QCheckBox* Box(DeviceDialog* dialog, int id) {
  return Control<QCheckBox>(dialog, id);
}
QLineEdit* LineEdit(DeviceDialog* dialog, int id) {
  return Control<QLineEdit>(dialog, id);
}
QPushButton* Button(DeviceDialog* dialog, int id) {
  return Control<QPushButton>(dialog, id);
}
QComboBox* List(DeviceDialog* dialog, int id) {
  return Control<QComboBox>(dialog, id);
}
bool Enabled(DeviceDialog* dialog, int id) {
  return kit::FindControl<QWidget>(dialog, id)->isEnabled();
}

class FilterEditTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kit::testing::EnsureApplication();
    device_ = new TempDevice();
    ASSERT_NO_FATAL_FAILURE(
        contacts::testing::InstallContactLibraries(*device_));
    ASSERT_NO_FATAL_FAILURE(contacts::testing::ImportCards(*device_, kCards));
    fs::create_directories(device_->HostPath("\\App\\skins"));
    for (const char* skin : {"Blue.cfg", "Night.Sky.cfg"}) {
      std::ofstream(device_->HostPath(std::string("\\App\\skins\\") + skin))
          << "[Skin]\r\n";
    }
  }
  static void TearDownTestSuite() {
    delete device_;
    device_ = nullptr;
  }

  void SetUp() override {
    store_.Load();
    settings_.set_show_photo(0);
    settings_.set_last_dir(u"\\");
    kit::SetMessageScript([this](const kit::MessageRequest& request) {
      EXPECT_EQ(request.caption, QStringLiteral("Error"));
      errors_.push_back(request.text);
      return kit::kAnswerOk;
    });
  }
  void TearDown() override {
    kit::SetDialogScript({});
    kit::SetMessageScript({});
  }

  FilterEditEnvironment Environment() {
    FilterEditEnvironment environment;
    environment.settings = &settings_;
    environment.sentences = &sentences_;
    environment.picker = {&store_, &settings_, false};
    environment.app_folder = kAppFolder;
    return environment;
  }

  // Runs `steps` on the dialog with template `main`, `picker` on every
  // contact picker and `other` on every other dialog.
  void Script(int main, std::function<void(DeviceDialog*)> steps,
              std::function<void(DeviceDialog*)> other = {}) {
    kit::SetDialogScript([main, steps, other](DeviceDialog* dialog) {
      if (dialog->template_id() == main) {
        steps(dialog);
      } else {
        ASSERT_TRUE(other) << "unexpected dialog " << dialog->template_id();
        other(dialog);
      }
    });
  }

  int RunEdit(FilterEditMode mode = FilterEditMode::kUser) {
    return RunFilterEdit(nullptr, &record_, mode, Environment());
  }
  int RunRules(bool fast_create = false) {
    return RunRuleEditor(nullptr, &record_, fast_create, Environment());
  }

  // Presses OK and returns the error it told, if any.
  QString Ok(DeviceDialog* dialog) {
    errors_.clear();
    dialog->Dispatch(kit::cmds::kOk);
    return errors_.empty() ? QString() : errors_.back();
  }

  // Confirms the picker on item `item` (ticked in several-choice mode).
  static void Pick(DeviceDialog* dialog, size_t item) {
    auto* picker = qobject_cast<ContactPicker*>(dialog);
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(picker->SelectItem(item));
    if (picker->mode() != contacts::kPickerSingle) {
      QKeyEvent tick(QEvent::KeyPress, Qt::Key_Select, Qt::NoModifier);
      QApplication::sendEvent(picker->list_view(), &tick);
    }
    picker->Dispatch(kit::cmds::kPickerConfirm);
  }

  static TempDevice* device_;
  contacts::ContactStore store_;
  settings::SettingsStore settings_;
  contacts::SentenceStore sentences_{contacts::SentenceFilePath(u"\\")};
  FilterRecord record_ = NewFilter();
  std::vector<QString> errors_;
};

TempDevice* FilterEditTest::device_ = nullptr;

TEST_F(FilterEditTest, OkChecksEachFieldInOrderAndStoresWhatCameBefore) {
  record_.name = u"Old";
  Script(kFilterEditTemplate, [this](DeviceDialog* d) {
    EXPECT_EQ(d->title_bar()->caption(), QStringLiteral("Filter Edit"));
    EXPECT_EQ(LineEdit(d, kNameEdit)->text(), QStringLiteral("Old"));
    EXPECT_EQ(LineEdit(d, kFolderEdit)->text(), QStringLiteral("\\Inbox"));
    EXPECT_EQ(Control<QPlainTextEdit>(d, kReplyEdit)->toPlainText(),
              QStringLiteral("Sorry! I'm busy now..."));

    LineEdit(d, kNameEdit)->clear();
    EXPECT_EQ(Ok(d), QStringLiteral("Filter name can not be empty!"));
    EXPECT_EQ(EditedRecord(d)->name, u"Old");

    // 41 characters fit no more than 40 in the edit and 39 in the record.
    LineEdit(d, kNameEdit)->setText(QString(41, u'n'));
    EXPECT_EQ(LineEdit(d, kNameEdit)->text().size(), 40);
    EXPECT_EQ(Ok(d), QStringLiteral("Please set the rule!"));
    EXPECT_EQ(EditedRecord(d)->name, std::u16string(39, u'n'));
    LineEdit(d, kNameEdit)->setText(QStringLiteral("Work"));

    Box(d, kApplyToAllBox)->setChecked(true);
    Box(d, kForwardBox)->setChecked(true);
    EXPECT_EQ(Ok(d), QStringLiteral("Please specify the forward number!"));
    EXPECT_EQ(EditedRecord(d)->name, u"Work");
    EXPECT_EQ(EditedRecord(d)->apply_to_all, 1);

    LineEdit(d, kForwardEdit)->setText(QStringLiteral("0123"));
    Box(d, kVibrateBox)->setChecked(true);
    Box(d, kPlaySoundBox)->setChecked(true);
    EXPECT_EQ(Ok(d), QStringLiteral("Please specify a sound file"));
    EXPECT_EQ(EditedRecord(d)->Value(kAutoForward), u"0123");
    EXPECT_TRUE(EditedRecord(d)->Has(kVibrate));

    LineEdit(d, kSoundFileEdit)->setText(QStringLiteral("\\ring.wav"));
    LineEdit(d, kFolderEdit)->clear();
    EXPECT_EQ(Ok(d), QStringLiteral("Please specify a folder"));
    EXPECT_EQ(EditedRecord(d)->Value(kPlaySound), u"\\ring.wav");

    LineEdit(d, kFolderEdit)->setText(QStringLiteral("Work"));
    Box(d, kPopupBox)->setChecked(true);
    Box(d, kSentenceBox)->setChecked(true);
    EXPECT_EQ(Ok(d), QStringLiteral("Please input user-defined sentence!"));
    EXPECT_EQ(EditedRecord(d)->Value(kSaveToFolder), u"\\Work");
    EXPECT_TRUE(
        EditedRecord(d)->Has(kShowPopupWindow));  // "Default": no skin file
    EXPECT_EQ(EditedRecord(d)->actions[kShowPopupWindow].value, std::nullopt);

    LineEdit(d, kSentenceEdit)->setText(QStringLiteral("Boss!"));
    Box(d, kPhotoBox)->setChecked(true);
    EXPECT_EQ(Ok(d), QStringLiteral("Please specify the photo!"));
    EXPECT_FALSE(EditedRecord(d)->Has(kUserDefinedSentence));

    LineEdit(d, kPhotoEdit)->setText(QStringLiteral("\\boss.jpg"));
    Box(d, kUnreadAlertBox)->setChecked(false);
    Box(d, kDontShowBox)->setChecked(true);
    Box(d, kReplyBox)->setChecked(true);
    Control<QPlainTextEdit>(d, kReplyEdit)->clear();
    EXPECT_EQ(Ok(d),
              QStringLiteral("The content of Auto Repley can't be empty !"));
    EXPECT_EQ(EditedRecord(d)->Value(kUserDefinedSentence), u"Boss!");
    EXPECT_EQ(EditedRecord(d)->Value(kSpecificPhoto), u"\\boss.jpg");
    EXPECT_FALSE(EditedRecord(d)->Has(kUnreadAlert));
    EXPECT_TRUE(EditedRecord(d)->Has(kDontShowInInbox));
    EXPECT_FALSE(EditedRecord(d)->Has(kAutoReply));

    Control<QPlainTextEdit>(d, kReplyEdit)->setPlainText("Later\nBye");
    EXPECT_EQ(Ok(d), QString());
    EXPECT_FALSE(d->isVisible());
  });
  EXPECT_EQ(RunEdit(), kFilterEditOk);
  EXPECT_EQ(record_.Value(kAutoReply), u"Later\r\nBye");

  // A folder that starts with "\" is kept as typed; a stored folder shows.
  Script(kFilterEditTemplate, [this](DeviceDialog* d) {
    EXPECT_EQ(LineEdit(d, kFolderEdit)->text(), QStringLiteral("\\Work"));
    LineEdit(d, kFolderEdit)->setText(QStringLiteral("\\Home"));
    EXPECT_EQ(Ok(d), QString());
  });
  EXPECT_EQ(RunEdit(), kFilterEditOk);
  EXPECT_EQ(record_.Value(kSaveToFolder), u"\\Home");

  // Cancel after a failed OK (which stored the fields before the failure
  // in the dialog's copy) leaves the filter exactly as it was.
  const FilterRecord before = record_;
  Script(kFilterEditTemplate, [this](DeviceDialog* d) {
    LineEdit(d, kNameEdit)->setText(QStringLiteral("Renamed"));
    LineEdit(d, kForwardEdit)->clear();
    EXPECT_EQ(Ok(d), QStringLiteral("Please specify the forward number!"));
    d->Dispatch(kit::cmds::kCancel);
  });
  EXPECT_EQ(RunEdit(), kFilterEditCancelled);
  EXPECT_EQ(record_, before);
}

TEST_F(FilterEditTest, SoundAndPopupSlots) {
  record_.name = u"Popup";
  record_.apply_to_all = 1;
  record_.Set(kShowPopupWindow, u"\\Old\\skins\\Night.Sky.cfg");
  record_.Set(kUserDefinedSentence, u"Hi");
  record_.Set(kSpecificPhoto, u"\\p.bmp");
  Script(kFilterEditTemplate, [this](DeviceDialog* d) {
    // The stored skin is found by its base name, after "Default".
    QComboBox* skins = List(d, kSkinList);
    ASSERT_EQ(skins->count(), 3);
    EXPECT_EQ(skins->itemText(0), QStringLiteral("Default"));
    EXPECT_EQ(skins->currentText(), QStringLiteral("Night.Sky"));
    EXPECT_TRUE(Box(d, kSentenceBox)->isChecked());

    Box(d, kPlaySoundBox)->setChecked(true);
    Box(d, kRandomRingBox)->setChecked(true);
    EXPECT_FALSE(Box(d, kPlaySoundBox)->isChecked());
    skins->setCurrentIndex(skins->findText(QStringLiteral("Blue")));
    EXPECT_EQ(Ok(d), QString());
  });
  EXPECT_EQ(RunEdit(), kFilterEditOk);
  EXPECT_EQ(record_.Value(kPlaySound), u"|");
  EXPECT_EQ(record_.Value(kShowPopupWindow), u"\\App\\skins\\Blue.cfg");

  // Random Ring opens as such; an unchecked popup drops slots 6 and 7 only.
  Script(kFilterEditTemplate, [this](DeviceDialog* d) {
    EXPECT_TRUE(Box(d, kRandomRingBox)->isChecked());
    EXPECT_FALSE(Box(d, kPlaySoundBox)->isChecked());
    EXPECT_EQ(LineEdit(d, kSoundFileEdit)->text(), QString());
    Box(d, kPopupBox)->setChecked(false);
    EXPECT_EQ(Ok(d), QString());
  });
  EXPECT_EQ(RunEdit(), kFilterEditOk);
  EXPECT_FALSE(record_.Has(kShowPopupWindow));
  EXPECT_FALSE(record_.Has(kUserDefinedSentence));
  EXPECT_EQ(record_.Value(kSpecificPhoto), u"\\p.bmp");

  // A skin that is not installed any more shows "Default".
  record_.Set(kShowPopupWindow, u"\\App\\skins\\Gone.cfg");
  Script(kFilterEditTemplate, [](DeviceDialog* d) {
    EXPECT_EQ(List(d, kSkinList)->currentIndex(), 0);
  });
  EXPECT_EQ(RunEdit(), kFilterEditCancelled);
}

TEST_F(FilterEditTest, ControlsFollowTheirChecks) {
  record_ = FilterRecord();
  Script(kFilterEditTemplate, [](DeviceDialog* d) {
    for (int id : {kSoundFileEdit, kSoundBrowseButton, kPlayStopButton,
                   kSkinList, kTestButton, kPhotoBox, kSentenceBox, kPhotoEdit,
                   kSentenceEdit, kFolderEdit, kForwardEdit,
                   kForwardContactButton, kReplyEdit, kMyTextButton}) {
      EXPECT_FALSE(Enabled(d, id)) << id;
    }
    EXPECT_TRUE(Enabled(d, kRuleSettingButton));
    Box(d, kApplyToAllBox)->setChecked(true);
    EXPECT_FALSE(Enabled(d, kRuleSettingButton));

    Box(d, kPlaySoundBox)->setChecked(true);
    EXPECT_TRUE(Enabled(d, kSoundFileEdit));
    EXPECT_TRUE(Enabled(d, kPlayStopButton));
    Box(d, kRandomRingBox)->setChecked(true);
    EXPECT_FALSE(Enabled(d, kSoundFileEdit));
    EXPECT_FALSE(Enabled(d, kSoundBrowseButton));
    Box(d, kPlaySoundBox)->setChecked(true);
    EXPECT_FALSE(Box(d, kRandomRingBox)->isChecked());

    // The photo and the sentence need the popup as well as their checks.
    Box(d, kPhotoBox)->setChecked(true);
    EXPECT_FALSE(Enabled(d, kPhotoEdit));
    Box(d, kPopupBox)->setChecked(true);
    for (int id : {kSkinList, kTestButton, kPhotoBox, kSentenceBox, kPhotoEdit,
                   kPhotoBrowseButton}) {
      EXPECT_TRUE(Enabled(d, id)) << id;
    }
    EXPECT_FALSE(Enabled(d, kSentenceEdit));
    Box(d, kPopupBox)->setChecked(false);
    EXPECT_FALSE(Enabled(d, kPhotoEdit));

    Box(d, kFolderBox)->setChecked(true);
    Box(d, kForwardBox)->setChecked(true);
    Box(d, kReplyBox)->setChecked(true);
    for (int id : {kFolderEdit, kForwardEdit, kForwardContactButton, kReplyEdit,
                   kMyTextButton}) {
      EXPECT_TRUE(Enabled(d, id)) << id;
    }
  });
  EXPECT_EQ(RunEdit(), kFilterEditCancelled);
}

TEST_F(FilterEditTest, ContactAndMyTextFillTheirEdits) {
  ASSERT_TRUE(sentences_.Load().ok());
  size_t picked = 0;  // the picker's entries, one after the other
  record_.Set(kAutoReply, u"Call me at noon");
  Script(
      kFilterEditTemplate,
      [](DeviceDialog* d) {
        Box(d, kForwardBox)->setChecked(true);
        Button(d, kForwardContactButton)->click();  // Anna, first entry
        EXPECT_EQ(LineEdit(d, kForwardEdit)->text(),
                  QStringLiteral("\"Anna\"<0101>"));
        Button(d, kForwardContactButton)->click();  // Bert, appended
        EXPECT_EQ(LineEdit(d, kForwardEdit)->text(),
                  QStringLiteral("\"Anna\"<0101>;\"Bert\"<0201>"));

        auto* reply = Control<QPlainTextEdit>(d, kReplyEdit);
        QTextCursor cursor = reply->textCursor();
        cursor.setPosition(11);
        cursor.setPosition(15, QTextCursor::KeepAnchor);  // "noon"
        reply->setTextCursor(cursor);
        Button(d, kMyTextButton)->click();
        EXPECT_EQ(reply->toPlainText(), QStringLiteral("Call me at six"));
        d->Dispatch(kit::cmds::kCancel);
      },
      [&picked](DeviceDialog* d) {
        if (d->template_id() == contacts::ui::kMyTextTemplate) {
          auto* my_text = static_cast<contacts::ui::MyTextDialog*>(d);
          my_text->edit()->setText(QStringLiteral("six"));
          d->Dispatch(kit::cmds::kOk);
          return;
        }
        Pick(d, picked++);
      });
  EXPECT_EQ(RunEdit(), kFilterEditCancelled);
}

TEST_F(FilterEditTest, TestPreviewsTheSentenceOrTheSampleTexts) {
  std::vector<std::pair<QString, QString>> previews;
  alerts::ui::SetPreviewScript(
      [&previews](alerts::ui::SkinPreviewWindow* preview) {
        previews.emplace_back(preview->main_text(), preview->second_text());
      });
  record_.Set(kShowPopupWindow, std::nullopt);
  Script(kFilterEditTemplate, [](DeviceDialog* d) {
    Button(d, kTestButton)->click();
    Box(d, kSentenceBox)->setChecked(true);
    LineEdit(d, kSentenceEdit)->setText(QStringLiteral("Boss!"));
    Button(d, kTestButton)->click();
  });
  RunEdit();
  alerts::ui::SetPreviewScript({});
  EXPECT_EQ(previews, (std::vector<std::pair<QString, QString>>{
                          {QStringLiteral("This is only for test"),
                           QStringLiteral("1234567890")},
                          {QStringLiteral("Boss!"), QString()}}));
}

TEST_F(FilterEditTest, DefaultsShowTheirNameAndNote) {
  struct Case {
    FilterEditMode mode;
    QString name;
    QString note;
  };
  for (const Case& c :
       {Case{
            FilterEditMode::kContactDefault, QStringLiteral("Contact Default"),
            QStringLiteral(
                "Match: Contact who are in the blacklist/user-defined filter")},
        Case{FilterEditMode::kStrangerDefault,
             QStringLiteral("Stranger Default"),
             QStringLiteral("Match: Stranger who are not in the "
                            "blacklist/user-defined filter")}}) {
    record_ = FilterRecord();
    Script(kFilterEditTemplate, [&](DeviceDialog* d) {
      EXPECT_EQ(LineEdit(d, kNameEdit)->text(), c.name);
      EXPECT_FALSE(Enabled(d, kNameEdit));
      EXPECT_TRUE(Box(d, kApplyToAllBox)->isHidden());
      EXPECT_TRUE(Button(d, kRuleSettingButton)->isHidden());
      EXPECT_EQ(Control<QLabel>(d, kMatchNote)->text(), c.note);
      EXPECT_EQ(Ok(d), QString());  // applies to all: no rule needed
    });
    EXPECT_EQ(RunEdit(c.mode), kFilterEditOk);
    EXPECT_EQ(record_.apply_to_all, 1);
    EXPECT_EQ(kit::Q(record_.name), c.name);
  }
  // A user filter has no note.
  Script(kFilterEditTemplate, [](DeviceDialog* d) {
    EXPECT_EQ(kit::FindControl<QLabel>(d, kMatchNote), nullptr);
  });
  RunEdit();
}

TEST_F(FilterEditTest, FastCreatePicksTheRuleFirst) {
  // The picker cancelled: the Rule Editor and Filter Edit end cancelled.
  std::vector<int> shown;
  Script(
      kFilterEditTemplate,
      [&shown](DeviceDialog* d) { shown.push_back(d->template_id()); },
      [&shown](DeviceDialog* d) {
        shown.push_back(d->template_id());
        if (d->template_id() == kRuleEditorTemplate) return;  // cancelled
        d->Dispatch(kit::cmds::kCancel);
      });
  EXPECT_EQ(RunEdit(FilterEditMode::kFastCreate), kFilterEditCancelled);
  EXPECT_EQ(shown, (std::vector<int>{contacts::ui::kPickerTemplate}));
  EXPECT_FALSE(record_.rules[0].has_value());

  // A contact picked and the rule accepted: the focus is on "Play Sound".
  record_.name = u"Fast";
  Script(
      kFilterEditTemplate,
      [this](DeviceDialog* d) {
        EXPECT_EQ(d->focusWidget(), Box(d, kPlaySoundBox));
        EXPECT_EQ(Ok(d), QString());
      },
      [this](DeviceDialog* d) {
        if (d->template_id() != kRuleEditorTemplate) return Pick(d, 1);
        EXPECT_EQ(LineEdit(d, kContentEdit)->text(), QStringLiteral("0201"));
        EXPECT_EQ(d->focusWidget(), LineEdit(d, kContentEdit));
        EXPECT_EQ(Ok(d), QString());
      });
  EXPECT_EQ(RunEdit(FilterEditMode::kFastCreate), kFilterEditOk);
  ASSERT_TRUE(record_.rules[0].has_value());
  EXPECT_EQ(*record_.rules[0],
            (Rule{kObjectPhoneNumber, kJudgeInclude, u"0201"}));
}

TEST_F(FilterEditTest, RuleEditorOpensWithTheStoredRules) {
  // Absent rules: the first items, rule 2 disabled.
  Script(kRuleEditorTemplate, [](DeviceDialog* d) {
    EXPECT_EQ(d->title_bar()->caption(), QStringLiteral("Rule Editor"));
    EXPECT_EQ(List(d, kObjectList)->currentText(),
              QStringLiteral("Phone Number"));
    EXPECT_EQ(List(d, kJudgeList)->currentText(), QStringLiteral("Include"));
    EXPECT_EQ(List(d, kJudgeList)->count(), 4);
    EXPECT_FALSE(Box(d, kAndRule2Box)->isChecked());
    for (int id : {kObjectList, kJudgeList, kContentEdit, kFromContactButton}) {
      EXPECT_TRUE(Enabled(d, id));
      EXPECT_FALSE(Enabled(d, id + kRule2Offset));
    }
    EXPECT_EQ(List(d, kObjectList + kRule2Offset)->currentIndex(), 0);
    Box(d, kAndRule2Box)->setChecked(true);
    EXPECT_TRUE(Enabled(d, kContentEdit + kRule2Offset));
  });
  EXPECT_EQ(RunRules(), kFilterEditCancelled);

  // Out of range: rule 1 no object and "Equal", rule 2 the first items.
  record_.rules[0] = Rule{5, 9, u"abc"};
  record_.rules[1] = Rule{-1, 4, u"xyz"};
  Script(kRuleEditorTemplate, [](DeviceDialog* d) {
    EXPECT_EQ(List(d, kObjectList)->currentIndex(), -1);
    EXPECT_EQ(List(d, kJudgeList)->currentText(), QStringLiteral("Equal"));
    EXPECT_EQ(LineEdit(d, kContentEdit)->text(), QStringLiteral("abc"));
    EXPECT_TRUE(Box(d, kAndRule2Box)->isChecked());
    EXPECT_TRUE(Enabled(d, kContentEdit + kRule2Offset));
    EXPECT_EQ(List(d, kObjectList + kRule2Offset)->currentIndex(), 0);
    EXPECT_EQ(List(d, kJudgeList + kRule2Offset)->currentIndex(), 0);
    EXPECT_EQ(LineEdit(d, kContentEdit + kRule2Offset)->text(),
              QStringLiteral("xyz"));
  });
  EXPECT_EQ(RunRules(), kFilterEditCancelled);
  EXPECT_EQ(*record_.rules[0], (Rule{5, 9, u"abc"}));  // cancelled: kept

  // In range: shown as stored.
  record_.rules[0] = Rule{kObjectBody, kJudgeNotEqual, u"win"};
  record_.rules[1].reset();
  Script(kRuleEditorTemplate, [](DeviceDialog* d) {
    EXPECT_EQ(List(d, kObjectList)->currentText(), QStringLiteral("Body"));
    EXPECT_EQ(List(d, kJudgeList)->currentText(), QStringLiteral("Not Equal"));
  });
  EXPECT_EQ(RunRules(), kFilterEditCancelled);
}

TEST_F(FilterEditTest, RuleEditorOkChecksAndReplacesTheRules) {
  record_.rules[1] = Rule{kObjectBody, kJudgeExclude, u"old"};
  Script(kRuleEditorTemplate, [this](DeviceDialog* d) {
    EXPECT_EQ(Ok(d), QStringLiteral("Please set the rule!"));
    LineEdit(d, kContentEdit)->setText(QStringLiteral("0800"));
    LineEdit(d, kContentEdit + kRule2Offset)->clear();
    EXPECT_EQ(Ok(d), QStringLiteral("Please set the rule!"));
    EXPECT_FALSE(record_.rules[0].has_value());
    List(d, kJudgeList)->setCurrentIndex(kJudgeEqual);
    LineEdit(d, kContentEdit + kRule2Offset)->setText(QStringLiteral("win"));
    List(d, kObjectList + kRule2Offset)->setCurrentIndex(kObjectBody);
    List(d, kJudgeList + kRule2Offset)->setCurrentIndex(kJudgeInclude);
    EXPECT_EQ(Ok(d), QString());
  });
  EXPECT_EQ(RunRules(), kFilterEditOk);
  EXPECT_EQ(*record_.rules[0],
            (Rule{kObjectPhoneNumber, kJudgeEqual, u"0800"}));
  EXPECT_EQ(*record_.rules[1], (Rule{kObjectBody, kJudgeInclude, u"win"}));

  // "And Rule 2" cleared removes rule 2; "From Contact..." fills its rule.
  Script(
      kRuleEditorTemplate,
      [this](DeviceDialog* d) {
        Button(d, kFromContactButton + kRule2Offset)->click();
        EXPECT_EQ(LineEdit(d, kContentEdit + kRule2Offset)->text(),
                  QStringLiteral("0101"));
        EXPECT_EQ(d->focusWidget(), LineEdit(d, kContentEdit));
        Box(d, kAndRule2Box)->setChecked(false);
        EXPECT_EQ(Ok(d), QString());
      },
      [](DeviceDialog* d) { Pick(d, 0); });
  EXPECT_EQ(RunRules(), kFilterEditOk);
  EXPECT_FALSE(record_.rules[1].has_value());
  EXPECT_EQ(record_.rules[0]->content, u"0800");
}

}  // namespace
}  // namespace firewall::ui
