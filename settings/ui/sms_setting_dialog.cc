#include "settings/ui/sms_setting_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QVBoxLayout>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"
#include "settings/ui/preference_dialog.h"

namespace settings::ui {

namespace {

constexpr int kRightMargin = 4;
constexpr int kLeftMargin = 4;
constexpr int kRowSpacing = 4;
// Lines of the "Sign" edit.
constexpr int kSignLines = 4;

namespace ids = kit::ids;

// The title modes, in option order.
constexpr std::initializer_list<uint32_t> kTitleModes = {
    ids::kTitleSummary, ids::kTitleContactSummary, ids::kTitleContactTime};
constexpr int kContactTime = 2;

// Whether the caret of `edit` is on its first (visual) line.
bool CaretOnFirstLine(const QPlainTextEdit* edit) {
  const QTextCursor cursor = edit->textCursor();
  if (cursor.blockNumber() != 0) return false;
  const QTextLayout* layout = cursor.block().layout();
  if (layout == nullptr || layout->lineCount() == 0) return true;
  return layout->lineForTextPosition(cursor.positionInBlock()).lineNumber() <=
         0;
}

}  // namespace

SmsSettingDialog::SmsSettingDialog(QWidget* parent,
                                   settings::SettingsStore* settings)
    : OptionDialog(parent, kSmsSettingTemplate), settings_(settings) {
  title_bar()->SetCaption(kit::Str(ids::kSmsSettingTitle));
  soft_keys()->SetMenuBar(kit::DoneCancelMenuBar());

  auto* outer = new QVBoxLayout(content());
  outer->setContentsMargins(0, 0, 0, 0);
  scroll_ = new OptionScrollArea(content(), settings_);
  outer->addWidget(scroll_);
  QWidget* page = scroll_->page();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(kLeftMargin, 2, kRightMargin, 2);
  layout->setSpacing(2);

  const settings::SettingsStore& s = *settings_;
  receive_title_ = AddList(kReceiveTitleList, ids::kReceiveTitleColon,
                           kTitleModes, s.receive_title(), kContactTime);
  sent_title_ = AddList(kSentTitleList, ids::kSentTitleColon, kTitleModes,
                        s.send_title(), kContactTime);
  import_title_ = AddList(kImportTitleList, ids::kImportTitleLabel, kTitleModes,
                          s.import_title(), kContactTime);
  status_report_ = AddList(
      kStatusReportList, ids::kStatusReport,
      {ids::kReceiptNone, ids::kReceiptDeleteHere, ids::kReceiptDeleteInbox,
       ids::kReceiptDeleteBoth, ids::kReceiptDeleteInboxRecycleHere},
      s.receipt_to_recycle_bin(), 0);
  black_to_recycle_ = AddBox(kBlackToRecycleBox, ids::kBlacklistToRecycleBin,
                             s.black_delete_to_recycle_bin() != 0);
  save_to_sent_ = AddBox(kSaveToSentBox, ids::kSaveSentToSentBox,
                         s.save_to_sent_box() != 0);

  summary_length_ = new QLineEdit(QString::number(s.summary_length()), page);
  kit::SetControlId(summary_length_, kSummaryLengthEdit);
  summary_length_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), summary_length_));
  auto* length_label = new QLabel(kit::Str(ids::kSummaryLengthColon), page);
  length_label->setBuddy(summary_length_);
  auto* length_row = new QHBoxLayout();
  length_row->setSpacing(kRowSpacing);
  length_row->addWidget(length_label);
  length_row->addWidget(summary_length_, 1);
  layout->addLayout(length_row);

  auto* sign_label = new QLabel(kit::Str(ids::kSign), page);
  sign_ = new QPlainTextEdit(page);
  kit::SetControlId(sign_, kSignEdit);
  sign_label->setBuddy(sign_);
  if (!s.sign().empty()) {
    QString sign = kit::Q(s.sign());
    sign.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    sign_->setPlainText(sign);
  }
  sign_->setTabChangesFocus(true);
  sign_->setFixedHeight(sign_->fontMetrics().lineSpacing() * kSignLines +
                        2 * sign_->frameWidth() + 8);
  sign_->installEventFilter(this);
  layout->addWidget(sign_label);
  layout->addWidget(sign_);
  layout->addStretch(1);

  receive_title_->setFocus();
}

QComboBox* SmsSettingDialog::AddList(int id, uint32_t label_id,
                                     std::initializer_list<uint32_t> entries,
                                     int32_t value, int fallback) {
  QWidget* page = scroll_->page();
  auto* list = new QComboBox(page);
  kit::SetControlId(list, id);
  for (uint32_t entry : entries) list->addItem(kit::Str(entry));
  list->setCurrentIndex(value >= 0 && value < list->count() ? value : fallback);
  auto* label = new QLabel(kit::Str(label_id), page);
  label->setBuddy(list);
  auto* row = new QHBoxLayout();
  row->setSpacing(kRowSpacing);
  row->addWidget(label);
  row->addWidget(list, 1);
  static_cast<QVBoxLayout*>(page->layout())->addLayout(row);
  return list;
}

QCheckBox* SmsSettingDialog::AddBox(int id, uint32_t text_id, bool checked) {
  QWidget* page = scroll_->page();
  auto* box = new QCheckBox(kit::Str(text_id), page);
  kit::SetControlId(box, id);
  box->setChecked(checked);
  page->layout()->addWidget(box);
  return box;
}

bool SmsSettingDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sign_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Up &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier &&
      CaretOnFirstLine(sign_)) {
    focusNextPrevChild(false);
    return true;
  }
  return DeviceDialog::eventFilter(watched, event);
}

void SmsSettingDialog::Done() {
  const int length = ReadDecimal(summary_length_->text());
  if (length == 0) {
    summary_length_->setFocus();
    return;
  }
  settings::SettingsStore& s = *settings_;
  s.set_summary_length(length);
  s.set_receive_title(receive_title_->currentIndex());
  s.set_send_title(sent_title_->currentIndex());
  s.set_import_title(import_title_->currentIndex());
  s.set_black_delete_to_recycle_bin(black_to_recycle_->isChecked() ? 1 : 0);
  s.set_receipt_to_recycle_bin(status_report_->currentIndex());
  s.set_save_to_sent_box(save_to_sent_->isChecked() ? 1 : 0);
  s.set_sign(kit::U(sign_->toPlainText().left(kSignMaxLength)));
  done(1);
}

int RunSmsSettingDialog(QWidget* parent, settings::SettingsStore* settings) {
  SmsSettingDialog dialog(parent, settings);
  return dialog.Run() == 1 ? 1 : 0;
}

}  // namespace settings::ui
