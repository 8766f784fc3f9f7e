// The Security dialog on a scratch device with a real document and a real
// filter file, driven through dialog scripts the way a user would: the
// password prompt is typed into and confirmed like any other dialog.
#include "settings/ui/security_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "firewall/filter_file.h"
#include "firewall/filter_set.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/testing/qt_app.h"
#include "platform/status.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace settings::ui {
namespace {

using kit::DeviceDialog;
using kit::FindControl;

constexpr char16_t kDocumentPath[] = u"\\secure.zud";
constexpr char16_t kFilterPath[] = u"\\Program Files\\Telvane\\filters.txt";

void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

// Answers the document's password check with what the user "typed".
class TypedUi : public store::DocumentUi {
 public:
  explicit TypedUi(std::u16string typed) : typed_(std::move(typed)) {}
  bool Confirm(std::u16string_view, std::u16string_view) override {
    return true;
  }
  void Inform(std::u16string_view, std::u16string_view) override {}
  bool CheckPassword(const std::u16string& password) override {
    return password == typed_;
  }
  std::optional<std::u16string> ChangePassword(const std::u16string&) override {
    return std::nullopt;
  }

 private:
  std::u16string typed_;
};

class SecurityDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { kit::testing::EnsureApplication(); }
  void TearDown() override { kit::SetDialogScript({}); }

  // Runs the dialog; `security` acts on it, `prompt` (when given) on each
  // password prompt it opens.
  int Run(std::function<void(DeviceDialog*)> security,
          std::function<void(DeviceDialog*)> prompt = {}) {
    kit::SetDialogScript([security, prompt](DeviceDialog* dialog) {
      if (dialog->template_id() == kit::kPasswordDialogTemplate) {
        if (prompt) prompt(dialog);
        return;
      }
      ASSERT_NE(qobject_cast<SecurityDialog*>(dialog), nullptr);
      security(dialog);
    });
    return RunSecurityDialog(nullptr, &settings_, environment_);
  }

  // Makes a document with `password` and opens it for the dialog.
  void MakeDocument(std::u16string_view password) {
    store::NewFileOptions options;
    options.password = std::u16string(password);
    ASSERT_TRUE(document_.New(kDocumentPath, options).ok());
    ASSERT_TRUE(document_.IsOpen());
    ASSERT_TRUE(document_.Save().ok());
    ASSERT_FALSE(document_.modified());
    environment_.document = &document_;
  }

  // Whether the saved document opens when the user types `typed`.
  bool OpensWith(std::u16string typed) {
    TypedUi ui(std::move(typed));
    store::Document reader(store::DocumentOptions{}, &ui);
    return reader.Open(kDocumentPath).ok();
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
  store::Document document_;
  SecurityEnvironment environment_;
};

// A prompt step: types the old password (when its edit is shown) and the
// new one twice, then OK.
std::function<void(DeviceDialog*)> ChangeTo(QString old_password,
                                            QString new_password) {
  return [old_password, new_password](DeviceDialog* prompt) {
    auto* old_edit = FindControl<QLineEdit>(prompt, kit::kPasswordEdit);
    if (old_edit != nullptr && !old_edit->isHidden()) {
      Type(old_edit, old_password);
    }
    Type(FindControl<QLineEdit>(prompt, kit::kNewPasswordEdit), new_password);
    Type(FindControl<QLineEdit>(prompt, kit::kConfirmPasswordEdit),
         new_password);
    prompt->Dispatch(kit::kCommandOk);
  };
}

void Tap(DeviceDialog* dialog, int id) {
  auto* button = FindControl<QPushButton>(dialog, id);
  ASSERT_NE(button, nullptr) << id;
  ASSERT_TRUE(button->isEnabled()) << id;
  button->click();
}

TEST_F(SecurityDialogTest, ShowsTheOptionsAndStoresThemOnlyOnDone) {
  settings_.set_protect_level(5);  // out of range: shown as level 1
  settings_.set_start_screen_save_min(0);

  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              EXPECT_EQ(dialog->title_bar()->caption(), "Security");
              EXPECT_EQ(dialog->soft_keys()->left_key()->text(), "Done");
              auto* level = FindControl<QComboBox>(dialog, kProtectLevelList);
              ASSERT_NE(level, nullptr);
              ASSERT_EQ(level->count(), 3);
              EXPECT_EQ(level->itemText(0), "Only Once");
              EXPECT_EQ(level->itemText(2), "Input Every Time");
              EXPECT_EQ(level->currentText(), "Reinput after Minimize");
              auto* box = FindControl<QCheckBox>(dialog, kScreenSaverBox);
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box->text(), "ScreenSaver after Minimized");
              EXPECT_FALSE(box->isChecked());
              EXPECT_EQ(
                  FindControl<QPushButton>(dialog, kRulePasswordButton)->text(),
                  "Rule Password");
              // Cancelled: nothing is stored.
              level->setCurrentIndex(0);
              box->setChecked(true);
              dialog->Dispatch(kit::cmds::kCancel);
            }),
            0);
  EXPECT_EQ(settings_.protect_level(), 5);
  EXPECT_EQ(settings_.start_screen_save_min(), 0);

  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        FindControl<QComboBox>(dialog, kProtectLevelList)->setCurrentIndex(2);
        FindControl<QCheckBox>(dialog, kScreenSaverBox)->setChecked(true);
        dialog->Dispatch(kit::cmds::kDone);
      }),
      1);
  EXPECT_EQ(settings_.protect_level(), 2);
  EXPECT_EQ(settings_.start_screen_save_min(), 1);

  // Done without touching anything stores the shown value: 1 for 5.
  settings_.set_protect_level(-3);
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) { dialog->Dispatch(kit::kCommandOk); }), 1);
  EXPECT_EQ(settings_.protect_level(), 1);
}

TEST_F(SecurityDialogTest, FilePasswordNeedsAnOpenDocument) {
  auto disabled = [](DeviceDialog* dialog) {
    auto* button = FindControl<QPushButton>(dialog, kFilePasswordButton);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Password...");
    EXPECT_FALSE(button->isEnabled());
  };
  Run(disabled);
  environment_.document = &document_;  // a document object, nothing open
  Run(disabled);
}

TEST_F(SecurityDialogTest, FilePasswordReplacesTheHeaderPassword) {
  MakeDocument(u"old");
  EXPECT_EQ(Run([](DeviceDialog* dialog) { Tap(dialog, kFilePasswordButton); },
                ChangeTo("old", "newpass")),
            0);  // the dialog itself was cancelled; the password stays changed
  EXPECT_EQ(document_.file().header().password(), u"newpass");
  EXPECT_TRUE(document_.modified());
  ASSERT_TRUE(document_.Close().ok());
  EXPECT_TRUE(OpensWith(u"newpass"));
  EXPECT_FALSE(OpensWith(u"old"));
}

TEST_F(SecurityDialogTest, CancelledOrWrongPromptKeepsTheFilePassword) {
  MakeDocument(u"old");
  Run([](DeviceDialog* dialog) { Tap(dialog, kFilePasswordButton); },
      [](DeviceDialog* prompt) {
        // A wrong old password keeps the prompt open; then Cancel.
        Type(FindControl<QLineEdit>(prompt, kit::kPasswordEdit), "wrong");
        Type(FindControl<QLineEdit>(prompt, kit::kNewPasswordEdit), "x");
        Type(FindControl<QLineEdit>(prompt, kit::kConfirmPasswordEdit), "x");
        kit::SetMessageScript(
            [](const kit::MessageRequest&) { return kit::kAnswerOk; });
        prompt->Dispatch(kit::kCommandOk);
        kit::SetMessageScript({});
        EXPECT_TRUE(prompt->isVisible());
        prompt->Dispatch(kit::kCommandCancel);
      });
  EXPECT_EQ(document_.file().header().password(), u"old");
  EXPECT_FALSE(document_.modified());
}

TEST_F(SecurityDialogTest, ChinesePasswordIsCutToWholeCharactersOf12Bytes) {
  // Seven characters of two bytes each in the device's code page (936):
  // the header keeps the first six.
  MakeDocument(u"");
  Run([](DeviceDialog* dialog) { Tap(dialog, kFilePasswordButton); },
      ChangeTo("", QString::fromUtf16(u"一二三四五六七")));
  EXPECT_EQ(document_.file().header().password(), u"一二三四五六");
  ASSERT_TRUE(document_.Close().ok());
  EXPECT_TRUE(OpensWith(u"一二三四五六"));

  // One byte and six characters: the sixth would end at byte 13, so it is
  // left out whole rather than cut in half.
  ASSERT_TRUE(document_.Open(kDocumentPath, /*defer_password=*/true).ok());
  ReplaceFilePassword(&document_, u"a一二三四五六");
  EXPECT_EQ(document_.file().header().password(), u"a一二三四五");
}

TEST_F(SecurityDialogTest, ReplaceFilePasswordCutsLongPasswordsAndRemoves) {
  MakeDocument(u"old");
  ReplaceFilePassword(&document_, u"abcdefghijklmnopqrst");
  EXPECT_EQ(document_.file().header().password(), u"abcdefghijkl");
  EXPECT_TRUE(document_.modified());
  ASSERT_TRUE(document_.Close().ok());
  EXPECT_TRUE(OpensWith(u"abcdefghijkl"));

  // An empty password removes it: the document opens without asking.
  ASSERT_TRUE(document_.Open(kDocumentPath, /*defer_password=*/true).ok());
  ReplaceFilePassword(&document_, u"");
  ASSERT_TRUE(document_.Close().ok());
  store::Document reader;  // cancels every prompt
  EXPECT_TRUE(reader.Open(kDocumentPath).ok());

  // Without an open document nothing happens.
  store::Document closed;
  ReplaceFilePassword(&closed, u"x");
  ReplaceFilePassword(nullptr, u"x");
  EXPECT_FALSE(closed.modified());
}

TEST_F(SecurityDialogTest, RulePasswordChangesTheFilterFile) {
  firewall::FilterSet filters;
  filters.file_path = kFilterPath;
  ASSERT_EQ(firewall::LoadFilterFile(&filters),
            firewall::LoadOutcome::kCreated);
  int saves = 0;
  environment_.filters = &filters;
  environment_.save_filters = [&filters, &saves] {
    ++saves;
    platform::Status status;
    EXPECT_EQ(firewall::SaveFilterFile(filters, &status),
              firewall::SaveOutcome::kSaved);
    return status;
  };

  // No password yet: the prompt shows only the new and confirm edits.
  Run([](DeviceDialog* dialog) { Tap(dialog, kRulePasswordButton); },
      [](DeviceDialog* prompt) {
        EXPECT_TRUE(
            FindControl<QLineEdit>(prompt, kit::kPasswordEdit)->isHidden());
        ChangeTo("", "1234")(prompt);
      });
  EXPECT_EQ(filters.password, u"1234");
  EXPECT_EQ(saves, 1);
  firewall::FilterSet read;
  read.file_path = kFilterPath;
  ASSERT_EQ(firewall::LoadFilterFile(&read), firewall::LoadOutcome::kRead);
  EXPECT_EQ(read.password, u"1234");

  // Cancelled: neither the set nor the file changes.
  Run([](DeviceDialog* dialog) { Tap(dialog, kRulePasswordButton); },
      [](DeviceDialog* prompt) { prompt->Dispatch(kit::kCommandCancel); });
  EXPECT_EQ(filters.password, u"1234");
  EXPECT_EQ(saves, 1);

  // Changed to none: the file keeps an empty password.
  Run([](DeviceDialog* dialog) { Tap(dialog, kRulePasswordButton); },
      ChangeTo("1234", ""));
  EXPECT_EQ(saves, 2);
  ASSERT_EQ(firewall::LoadFilterFile(&read), firewall::LoadOutcome::kRead);
  EXPECT_EQ(read.password, u"");
}

}  // namespace
}  // namespace settings::ui
