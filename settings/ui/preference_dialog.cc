#include "settings/ui/preference_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <cstdint>
#include <limits>
#include <utility>

#include "intercept/registration.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "platform/modules.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"

namespace settings::ui {

namespace {

// Margins of the page: controls end this far from the right edge.
constexpr int kRightMargin = 4;
constexpr int kLeftMargin = 4;
// Space between a control and the next one on its row.
constexpr int kRowSpacing = 4;
// The numeric edits sit under their box, indented.
constexpr int kNumberIndent = 20;

}  // namespace

int ReadDecimal(const QString& text) {
  if (text.isEmpty()) return 0;
  int64_t value = 0;
  for (QChar c : text) {
    char16_t unit = c.unicode();
    if (unit < u'0' || unit > u'9') return 0;
    value = value * 10 + (unit - u'0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return static_cast<int>(value);
}

PreferenceDialog::PreferenceDialog(QWidget* parent,
                                   settings::SettingsStore* settings,
                                   std::u16string app_folder,
                                   std::u16string program_path)
    : OptionDialog(parent, kPreferenceTemplate),
      settings_(settings),
      app_folder_(std::move(app_folder)),
      program_path_(std::move(program_path)) {
  title_bar()->SetCaption(kit::Str(kit::ids::kPreferenceTitle));
  soft_keys()->SetMenuBar(kit::DoneCancelMenuBar());

  auto* outer = new QVBoxLayout(content());
  outer->setContentsMargins(0, 0, 0, 0);
  scroll_ = new OptionScrollArea(content(), settings_);
  outer->addWidget(scroll_);
  auto* layout = new QVBoxLayout(scroll_->page());
  layout->setContentsMargins(kLeftMargin, 2, kRightMargin, 2);
  layout->setSpacing(2);

  const settings::SettingsStore& s = *settings_;
  auto_run_ = AddBox(kAutoRunBox, kit::ids::kAutoRun, s.auto_start() != 0);
  auto_hide_ =
      AddBox(kAutoHideBox, kit::ids::kAutoHideWhenStartup, s.auto_hide() != 0);
  load_previous_ = AddBox(kLoadPreviousFileBox, kit::ids::kLoadPreviousFile,
                          s.open_last_file() != 0);
  auto_receive_ = AddBox(kAutoReceiveBox, kit::ids::kAutoReceiveSms,
                         intercept::IsRuleClientRegistered());
  delete_alert_ = AddBox(kDeleteAlertBox, kit::ids::kAlertWhenDeletingNode,
                         s.delete_alert() != 0);
  empty_bin_alert_ =
      AddBox(kEmptyBinAlertBox, kit::ids::kAlertWhenEmptyingRecycleBin,
             s.empty_receive_bin_alert() != 0);
  show_preview_ = AddBox(kShowPreviewBox, kit::ids::kShowPreviewWindow,
                         s.show_popup() != 0);
  show_tray_icon_ = AddBox(kShowTrayIconBox, kit::ids::kShowTrayIcon,
                           s.show_tray_icon() != 0);
  today_ = AddBox(kTodayBox, kit::ids::kAddTodayPluginSupport,
                  intercept::IsTodayItemRegistered());
  auto_save_ = AddBox(kAutoSaveBox, kit::ids::kAutoSave, s.auto_save() != 0);
  minutes_ = AddNumber(kSaveMinutesEdit, kit::ids::kMins, s.save_duration());
  save_when_arrive_ = AddBox(kSaveWhenArriveBox, kit::ids::kSaveWhenSmsArrives,
                             s.save_when_arrive() != 0);
  auto_compress_ =
      AddBox(kAutoCompressBox, kit::ids::kAutoCompress, s.auto_compress() != 0);
  hour_ =
      AddNumber(kCompressHourEdit, kit::ids::kOClockBegin, s.when_compress());
  layout->addStretch(1);

  minutes_->setEnabled(auto_save_->isChecked());
  hour_->setEnabled(auto_compress_->isChecked());
  connect(auto_save_, &QCheckBox::toggled, minutes_, &QWidget::setEnabled);
  connect(auto_compress_, &QCheckBox::toggled, hour_, &QWidget::setEnabled);
  auto_run_->setFocus();
}

QCheckBox* PreferenceDialog::AddBox(int id, uint32_t text_id, bool checked) {
  QWidget* page = scroll_->page();
  auto* box = new QCheckBox(kit::Str(text_id), page);
  kit::SetControlId(box, id);
  box->setChecked(checked);
  page->layout()->addWidget(box);
  return box;
}

QLineEdit* PreferenceDialog::AddNumber(int id, uint32_t label_id,
                                       int32_t value) {
  QWidget* page = scroll_->page();
  auto* edit = new QLineEdit(QString::number(value), page);
  kit::SetControlId(edit, id);
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), edit));
  auto* label = new QLabel(kit::Str(label_id), page);
  label->setBuddy(edit);
  auto* row = new QHBoxLayout();
  row->setContentsMargins(kNumberIndent, 0, 0, 0);
  row->setSpacing(kRowSpacing);
  row->addWidget(edit, 1);
  row->addWidget(label);
  static_cast<QVBoxLayout*>(page->layout())->addLayout(row);
  return edit;
}

void PreferenceDialog::Done() {
  int minutes = ReadDecimal(minutes_->text());
  if (minutes == 0) {
    minutes_->setFocus();
    return;
  }
  int hour = ReadDecimal(hour_->text());
  if (hour == 0) {
    hour_->setFocus();
    return;
  }
  settings::SettingsStore& s = *settings_;
  s.set_save_duration(minutes);
  s.set_when_compress(hour);
  s.set_show_popup(show_preview_->isChecked() ? 1 : 0);
  s.set_auto_compress(auto_compress_->isChecked() ? 1 : 0);
  s.set_save_when_arrive(save_when_arrive_->isChecked() ? 1 : 0);
  s.set_open_last_file(load_previous_->isChecked() ? 1 : 0);
  // A registration that fails is told at once; the others and the options
  // are applied all the same.
  const bool receive = auto_receive_->isChecked();
  TellFailure(receive ? intercept::RegisterRuleClient(app_folder_)
                      : intercept::UnregisterRuleClient(),
              receive ? kit::ids::kAutoReceiveOnFailed
                      : kit::ids::kAutoReceiveOffFailed);
  const bool today = today_->isChecked();
  TellFailure(
      intercept::SetTodayItem(today, app_folder_),
      today ? kit::ids::kTodayPluginOnFailed : kit::ids::kTodayPluginOffFailed);
  s.set_delete_alert(delete_alert_->isChecked() ? 1 : 0);
  s.set_empty_receive_bin_alert(empty_bin_alert_->isChecked() ? 1 : 0);
  s.set_auto_hide(auto_hide_->isChecked() ? 1 : 0);
  s.set_auto_start(auto_run_->isChecked() ? 1 : 0);
  s.set_auto_save(auto_save_->isChecked() ? 1 : 0);
  s.set_show_tray_icon(show_tray_icon_->isChecked() ? 1 : 0);
  const bool auto_run = auto_run_->isChecked();
  TellFailure(
      intercept::ApplyAutostart(auto_run, app_folder_, program_path_),
      auto_run ? kit::ids::kAutoRunOnFailed : kit::ids::kAutoRunOffFailed);
  done(1);
}

void PreferenceDialog::TellFailure(const platform::Status& status,
                                   uint32_t what_id) {
  if (status.ok()) return;
  const QString text = kit::Str(what_id) + QStringLiteral(": ") +
                       QString::fromStdString(status.message());
  platform::DebugPrintf("pelicorde: %s\r\n", text.toUtf8().constData());
  kit::ShowMessage(this, text, kit::Str(kit::ids::kCaptionError));
}

int RunPreferenceDialog(QWidget* owner, settings::SettingsStore* settings,
                        std::u16string_view app_folder,
                        PreferenceChanges* changes) {
  bool tray_before = settings->show_tray_icon() != 0;
  PreferenceDialog dialog(owner, settings, std::u16string(app_folder),
                          platform::ProgramFileName());
  int result = dialog.Run() == 1 ? 1 : 0;
  if (changes != nullptr) {
    changes->show_tray_icon = settings->show_tray_icon() != 0;
    changes->tray_icon_changed = changes->show_tray_icon != tray_before;
    changes->show_popup = settings->show_popup() != 0;
    changes->auto_save = settings->auto_save() != 0;
  }
  return result;
}

}  // namespace settings::ui
