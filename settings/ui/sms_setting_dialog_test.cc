// The SMS Setting dialog on a scratch device, run modally and driven by a
// dialog script the way a user would.
#include "settings/ui/sms_setting_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <functional>
#include <string>
#include <vector>

#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/testing/qt_app.h"
#include "platform/registry.h"
#include "platform/testing/temp_device.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace settings::ui {
namespace {

using kit::DeviceDialog;
using kit::FindControl;

template <class T>
T* Control(DeviceDialog* dialog, int id) {
  T* control = FindControl<T>(dialog, id);
  EXPECT_NE(control, nullptr) << id;
  return control;
}

QStringList Entries(QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  return entries;
}

void Press(QWidget* widget, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

class SmsSettingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit::testing::EnsureApplication();
    previous_messages_ =
        kit::SetMessageScript([this](const kit::MessageRequest& request) {
          messages_.push_back(request.text);
          return kit::kAnswerOk;
        });
  }
  void TearDown() override {
    kit::SetMessageScript(previous_messages_);
    kit::SetDialogScript({});
  }

  int Run(std::function<void(DeviceDialog*)> steps) {
    kit::SetDialogScript([steps](DeviceDialog* dialog) {
      ASSERT_NE(qobject_cast<SmsSettingDialog*>(dialog), nullptr);
      steps(dialog);
    });
    return RunSmsSettingDialog(nullptr, &settings_);
  }

  platform::testing::TempDevice device_;
  settings::SettingsStore settings_;
  std::vector<QString> messages_;
  kit::MessageScript previous_messages_;
};

TEST_F(SmsSettingDialogTest, OpensWithEveryOptionAndOutOfRangeValues) {
  settings_.set_receive_title(7);  // out of range: "Contact Time"
  settings_.set_send_title(0);
  settings_.set_import_title(-1);
  settings_.set_receipt_to_recycle_bin(3);
  settings_.set_black_delete_to_recycle_bin(1);
  settings_.set_save_to_sent_box(0);
  settings_.set_summary_length(25);
  settings_.set_sign(u"Ann\r\nat home");

  EXPECT_EQ(
      Run([](DeviceDialog* dialog) {
        EXPECT_EQ(dialog->template_id(), kSmsSettingTemplate);
        EXPECT_EQ(dialog->title_bar()->caption(), "SMS Setting");
        EXPECT_EQ(dialog->soft_keys()->left_key()->text(), "Done");
        auto* receive = Control<QComboBox>(dialog, kReceiveTitleList);
        const QStringList modes = {"Summary", "Contact Summary",
                                   "Contact Time"};
        EXPECT_EQ(Entries(receive), modes);
        EXPECT_EQ(receive->currentText(), "Contact Time");
        EXPECT_EQ(Control<QComboBox>(dialog, kSentTitleList)->currentIndex(),
                  0);
        EXPECT_EQ(Entries(Control<QComboBox>(dialog, kImportTitleList)), modes);
        EXPECT_EQ(Control<QComboBox>(dialog, kImportTitleList)->currentIndex(),
                  2);
        auto* report = Control<QComboBox>(dialog, kStatusReportList);
        EXPECT_EQ(
            Entries(report),
            (QStringList{"None", "Here:Delete ", "Inbox: Delete",
                         "Both: Delete", "Inbox:Delete Here:Recycle Bin"}));
        EXPECT_EQ(report->currentIndex(), 3);
        auto* black = Control<QCheckBox>(dialog, kBlackToRecycleBox);
        EXPECT_EQ(black->text(), "Blacklist SMS to Recycle Bin");
        EXPECT_TRUE(black->isChecked());
        auto* sent = Control<QCheckBox>(dialog, kSaveToSentBox);
        EXPECT_EQ(sent->text(), "Save Sent SMS to Sent Box");
        EXPECT_FALSE(sent->isChecked());
        EXPECT_EQ(Control<QLineEdit>(dialog, kSummaryLengthEdit)->text(), "25");
        EXPECT_EQ(Control<QPlainTextEdit>(dialog, kSignEdit)->toPlainText(),
                  "Ann\nat home");
        // Cancel stores nothing, not even the shown "Contact Time".
        dialog->Dispatch(kit::cmds::kCancel);
      }),
      0);
  EXPECT_EQ(settings_.receive_title(), 7);
  EXPECT_EQ(settings_.import_title(), -1);

  // Done stores what is shown: 7 becomes 2.
  EXPECT_EQ(
      Run([](DeviceDialog* dialog) { dialog->Dispatch(kit::cmds::kDone); }), 1);
  EXPECT_EQ(settings_.receive_title(), 2);
  EXPECT_EQ(settings_.send_title(), 0);
  EXPECT_EQ(settings_.import_title(), 2);
  EXPECT_EQ(settings_.receipt_to_recycle_bin(), 3);

  // A status report value out of range shows "None".
  settings_.set_receipt_to_recycle_bin(9);
  Run([](DeviceDialog* dialog) {
    EXPECT_EQ(Control<QComboBox>(dialog, kStatusReportList)->currentIndex(), 0);
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(dialog, &back);
  });
  EXPECT_EQ(settings_.receipt_to_recycle_bin(), 9) << "Back is Cancel";
}

TEST_F(SmsSettingDialogTest, DoneStoresEveryFieldButDoesNotSave) {
  const QString long_sign(200, QLatin1Char('s'));
  EXPECT_EQ(
      Run([&long_sign](DeviceDialog* dialog) {
        Control<QComboBox>(dialog, kReceiveTitleList)->setCurrentIndex(0);
        Control<QComboBox>(dialog, kSentTitleList)->setCurrentIndex(1);
        Control<QComboBox>(dialog, kImportTitleList)->setCurrentIndex(0);
        Control<QComboBox>(dialog, kStatusReportList)->setCurrentIndex(4);
        Control<QCheckBox>(dialog, kBlackToRecycleBox)->click();
        Control<QCheckBox>(dialog, kSaveToSentBox)->click();
        Control<QLineEdit>(dialog, kSummaryLengthEdit)
            ->setText(QStringLiteral("30"));
        Control<QPlainTextEdit>(dialog, kSignEdit)->setPlainText(long_sign);
        dialog->Dispatch(kit::kCommandOk);  // the title bar's OK is Done
      }),
      1);
  EXPECT_EQ(settings_.receive_title(), 0);
  EXPECT_EQ(settings_.send_title(), 1);
  EXPECT_EQ(settings_.import_title(), 0);
  EXPECT_EQ(settings_.receipt_to_recycle_bin(), 4);
  EXPECT_EQ(settings_.black_delete_to_recycle_bin(), 1);
  EXPECT_EQ(settings_.save_to_sent_box(), 0);
  EXPECT_EQ(settings_.summary_length(), 30);
  EXPECT_EQ(settings_.sign(), std::u16string(139, u's'));
  EXPECT_FALSE(platform::RegistryKey::Open(platform::RegistryRoot::kCurrentUser,
                                           settings::kSettingsKey))
      << "the caller saves, not the dialog";

  // An emptied sign is stored empty and shows an empty edit next time.
  Run([](DeviceDialog* dialog) {
    Control<QPlainTextEdit>(dialog, kSignEdit)->clear();
    dialog->Dispatch(kit::cmds::kDone);
  });
  EXPECT_EQ(settings_.sign(), u"");
}

TEST_F(SmsSettingDialogTest, ZeroSummaryLengthKeepsTheDialogOpen) {
  settings_.set_summary_length(12);
  settings_.set_receive_title(1);
  EXPECT_EQ(Run([](DeviceDialog* dialog) {
              auto* length = Control<QLineEdit>(dialog, kSummaryLengthEdit);
              // Only digits can be typed.
              length->clear();
              for (QChar c : QStringLiteral("4x-2")) {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier,
                                QString(c));
                QApplication::sendEvent(length, &press);
              }
              EXPECT_EQ(length->text(), "42");
              Control<QComboBox>(dialog, kReceiveTitleList)->setCurrentIndex(0);
              for (const char* bad : {"0", "", "000", "99999999999"}) {
                Control<QCheckBox>(dialog, kSaveToSentBox)->setFocus();
                length->setText(QString::fromLatin1(bad));
                dialog->Dispatch(kit::cmds::kDone);
                EXPECT_TRUE(dialog->isVisible()) << bad;
                EXPECT_EQ(dialog->focusWidget(), length) << bad;
              }
              dialog->Dispatch(kit::cmds::kCancel);
            }),
            0);
  EXPECT_TRUE(messages_.empty()) << "refusals show no message";
  EXPECT_EQ(settings_.summary_length(), 12) << "a refused Done stores nothing";
  EXPECT_EQ(settings_.receive_title(), 1);
}

TEST_F(SmsSettingDialogTest, UpOnTheSignsFirstLineLeavesTheEdit) {
  settings_.set_sign(u"first\r\nsecond");
  Run([](DeviceDialog* dialog) {
    dialog->activateWindow();
    auto* sign = Control<QPlainTextEdit>(dialog, kSignEdit);
    auto* length = Control<QLineEdit>(dialog, kSummaryLengthEdit);
    sign->setFocus();
    QTextCursor cursor = sign->textCursor();
    cursor.movePosition(QTextCursor::End);
    sign->setTextCursor(cursor);
    // On the second line Up moves the caret, not the focus.
    Press(sign, Qt::Key_Up);
    EXPECT_EQ(dialog->focusWidget(), sign);
    EXPECT_EQ(sign->textCursor().blockNumber(), 0);
    // On the first line it moves the focus to the control before.
    Press(sign, Qt::Key_Up);
    EXPECT_EQ(dialog->focusWidget(), length);
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

TEST_F(SmsSettingDialogTest, ScrollOffsetIsResetOnOpening) {
  SetOptionScrollOffset(&settings_, 90);
  Run([this](DeviceDialog* dialog) {
    OptionScrollArea* area =
        static_cast<SmsSettingDialog*>(dialog)->scroll_area();
    EXPECT_EQ(OptionScrollOffset(settings_), 0);
    EXPECT_TRUE(
        area->page()->isAncestorOf(Control<QPlainTextEdit>(dialog, kSignEdit)));
    area->Scroll(ScrollRequest::kBottom);
    EXPECT_EQ(OptionScrollOffset(settings_), 50) << "shared with the store";
    EXPECT_EQ(area->page()->y(), -50);
    dialog->Dispatch(kit::cmds::kCancel);
  });
  EXPECT_EQ(OptionScrollOffset(settings_), 50);
}

TEST_F(SmsSettingDialogTest, ResizingStretchesTheListsToTheRightEdge) {
  Run([](DeviceDialog* dialog) {
    QWidget* page =
        static_cast<SmsSettingDialog*>(dialog)->scroll_area()->page();
    auto* list = Control<QComboBox>(dialog, kStatusReportList);
    auto* sign = Control<QPlainTextEdit>(dialog, kSignEdit);
    const int left = list->geometry().left();
    dialog->setFixedSize(dialog->width() + 80, dialog->height());
    QApplication::processEvents();
    page->layout()->activate();
    EXPECT_EQ(list->geometry().left(), left);
    EXPECT_EQ(page->width() - (list->geometry().right() + 1), 4);
    EXPECT_EQ(page->width() - (sign->geometry().right() + 1), 4);
    dialog->Dispatch(kit::cmds::kCancel);
  });
}

}  // namespace
}  // namespace settings::ui
