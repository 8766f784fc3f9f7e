#include "settings/ui/alert_option_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <utility>

#include "alerts/alert_sounds.h"
#include "alerts/ui/skin_preview.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/debug.h"
#include "platform/status.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"
#include "settings/ui/preference_dialog.h"
#include "text/text.h"

namespace settings::ui {

namespace {

namespace ids = kit::ids;

constexpr int kRightMargin = 4;
constexpr int kLeftMargin = 4;
constexpr int kRowSpacing = 4;
// Controls that belong to a box or list above them are indented.
constexpr int kIndent = 20;

constexpr int kMillisecondsPerSecond = 1000;

// Seconds typed in an edit as the milliseconds kept (capped, never
// overflowing).
int32_t Milliseconds(const QLineEdit* edit) {
  const int64_t ms =
      static_cast<int64_t>(ReadDecimal(edit->text())) * kMillisecondsPerSecond;
  return static_cast<int32_t>(
      std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

QString Seconds(int32_t milliseconds) {
  return QString::number(milliseconds / kMillisecondsPerSecond);
}

QHBoxLayout* Row(int indent) {
  auto* row = new QHBoxLayout();
  row->setContentsMargins(indent, 0, 0, 0);
  row->setSpacing(kRowSpacing);
  return row;
}

}  // namespace

AlertOptionDialog::AlertOptionDialog(QWidget* parent,
                                     settings::SettingsStore* settings,
                                     std::u16string app_folder)
    : OptionDialog(parent, kAlertOptionTemplate),
      settings_(settings),
      app_folder_(std::move(app_folder)) {
  title_bar()->SetCaption(kit::Str(ids::kAlertOptionTitle));
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
  unread_icon_ = AddBox(kUnreadIconBox, ids::kShowIconWhenSmsArrives,
                        s.unread_icon() != 0);

  // The unread reminder: kind, period and sound.
  unread_alert_ = new QComboBox(page);
  kit::SetControlId(unread_alert_, kUnreadAlertList);
  for (uint32_t entry : {ids::kUnreadAlertNone, ids::kVibrate, ids::kSound,
                         ids::kVibrateAndSound}) {
    unread_alert_->addItem(kit::Str(entry));
  }
  const int32_t mode = s.unread_alert();
  unread_alert_->setCurrentIndex(
      mode >= 0 && mode < unread_alert_->count() ? mode : 0);
  auto* alert_label = new QLabel(kit::Str(ids::kUnreadAlert), page);
  alert_label->setBuddy(unread_alert_);
  QHBoxLayout* alert_row = Row(0);
  alert_row->addWidget(alert_label);
  alert_row->addWidget(unread_alert_, 1);
  layout->addLayout(alert_row);

  seconds_ = new QLineEdit(Seconds(s.alert_second()), page);
  kit::SetControlId(seconds_, kAlertSecondsEdit);
  seconds_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), seconds_));
  auto* seconds_label = new QLabel(kit::Str(ids::kSeconds), page);
  seconds_label->setBuddy(seconds_);
  QHBoxLayout* seconds_row = Row(kIndent);
  seconds_row->addWidget(seconds_, 1);
  seconds_row->addWidget(seconds_label);
  layout->addLayout(seconds_row);

  alert_sound_ = new QLineEdit(kit::Q(s.alert_sound()), page);
  kit::SetControlId(alert_sound_, kAlertSoundEdit);
  alert_sound_browse_ = new QPushButton(kit::Str(ids::kBrowseEllipsis), page);
  kit::SetControlId(alert_sound_browse_, kAlertSoundBrowse);
  QHBoxLayout* sound_row = Row(kIndent);
  sound_row->addWidget(alert_sound_, 1);
  sound_row->addWidget(alert_sound_browse_);
  layout->addLayout(sound_row);

  // The sent popup and its skin.
  sent_popup_ =
      AddBox(kSentPopupBox, ids::kSentPopupWindow, s.sent_alert() != 0);
  skins_ = new QComboBox(page);
  kit::SetControlId(skins_, kSentSkinList);
  skins_->addItem(kit::Str(ids::kDefaultSkin));
  for (const std::u16string& skin : alerts::ui::FillSkinList(app_folder_)) {
    skins_->addItem(kit::Q(skin));
  }
  std::u16string stored_skin = s.sent_skin();
  const QString skin_name =
      stored_skin.empty() ? QString() : kit::Q(text::BaseName(stored_skin));
  int shown_skin = 0;
  for (int i = 1; i < skins_->count() && !skin_name.isEmpty(); ++i) {
    if (skins_->itemText(i) == skin_name) {
      shown_skin = i;
      break;
    }
  }
  skins_->setCurrentIndex(shown_skin);
  test_ = new QPushButton(kit::Str(ids::kTestEllipsis), page);
  kit::SetControlId(test_, kSkinTestButton);
  QHBoxLayout* skin_row = Row(kIndent);
  skin_row->addWidget(skins_, 1);
  skin_row->addWidget(test_);
  layout->addLayout(skin_row);

  appear_send_ = AddLabelledEdit(kAppearSendEdit, ids::kAppearTimeSend,
                                 Seconds(s.disappear_time()), true);
  appear_recv_ = AddLabelledEdit(kAppearRecvEdit, ids::kAppearTimeRecv,
                                 Seconds(s.disappear_time_recv()), true);

  QPushButton* photo_folder_browse = nullptr;
  QPushButton* default_photo_browse = nullptr;
  QPushButton* random_browse = nullptr;
  photo_folder_ =
      AddBrowseRow(kPhotoFolderEdit, ids::kPhotoFolder, s.photo_folder(),
                   kPhotoFolderBrowse, &photo_folder_browse);
  default_photo_ =
      AddBrowseRow(kDefaultPhotoEdit, ids::kDefaultPhoto, s.default_photo(),
                   kDefaultPhotoBrowse, &default_photo_browse);
  random_folder_ =
      AddBrowseRow(kRandomSoundFolderEdit, ids::kRandomSoundFolder,
                   s.rnd_sound_path(), kRandomSoundBrowse, &random_browse);
  layout->addStretch(1);

  connect(unread_alert_, &QComboBox::currentIndexChanged, this,
          &AlertOptionDialog::FollowUnreadAlert);
  connect(sent_popup_, &QCheckBox::toggled, this,
          &AlertOptionDialog::FollowSentPopup);
  connect(alert_sound_browse_, &QPushButton::clicked, this,
          [this] { Browse(alert_sound_, ids::kSoundExtensions); });
  connect(default_photo_browse, &QPushButton::clicked, this,
          [this] { Browse(default_photo_, ids::kPictureExtensions); });
  connect(photo_folder_browse, &QPushButton::clicked, this,
          [this] { Browse(photo_folder_, 0); });
  connect(random_browse, &QPushButton::clicked, this,
          [this] { Browse(random_folder_, 0); });
  connect(test_, &QPushButton::clicked, this, &AlertOptionDialog::Test);
  FollowUnreadAlert();
  FollowSentPopup();
  unread_icon_->setFocus();
}

QCheckBox* AlertOptionDialog::AddBox(int id, uint32_t text_id, bool checked) {
  QWidget* page = scroll_->page();
  auto* box = new QCheckBox(kit::Str(text_id), page);
  kit::SetControlId(box, id);
  box->setChecked(checked);
  page->layout()->addWidget(box);
  return box;
}

QLineEdit* AlertOptionDialog::AddLabelledEdit(int id, uint32_t label_id,
                                              const QString& text,
                                              bool digits) {
  QWidget* page = scroll_->page();
  auto* edit = new QLineEdit(text, page);
  kit::SetControlId(edit, id);
  if (digits) {
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), edit));
  }
  auto* label = new QLabel(kit::Str(label_id), page);
  label->setBuddy(edit);
  QHBoxLayout* row = Row(0);
  row->addWidget(label);
  row->addWidget(edit, 1);
  static_cast<QVBoxLayout*>(page->layout())->addLayout(row);
  return edit;
}

QLineEdit* AlertOptionDialog::AddBrowseRow(int edit_id, uint32_t label_id,
                                           std::u16string_view text,
                                           int button_id,
                                           QPushButton** button) {
  QWidget* page = scroll_->page();
  auto* edit = new QLineEdit(kit::Q(text), page);
  kit::SetControlId(edit, edit_id);
  auto* label = new QLabel(kit::Str(label_id), page);
  label->setBuddy(edit);
  *button = new QPushButton(kit::Str(ids::kBrowseEllipsis), page);
  kit::SetControlId(*button, button_id);
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->addWidget(label);
  QHBoxLayout* row = Row(0);
  row->addWidget(edit, 1);
  row->addWidget(*button);
  layout->addLayout(row);
  return edit;
}

void AlertOptionDialog::FollowUnreadAlert() {
  const bool on = unread_alert_->currentIndex() > 0;
  seconds_->setEnabled(on);
  alert_sound_->setEnabled(on);
  alert_sound_browse_->setEnabled(on);
}

void AlertOptionDialog::FollowSentPopup() {
  const bool on = sent_popup_->isChecked();
  skins_->setEnabled(on);
  test_->setEnabled(on);
}

void AlertOptionDialog::Browse(QLineEdit* edit, uint32_t types) {
  std::u16string folder = settings_->last_dir();
  if (types == 0) {
    if (kit::BrowseForFolder(this, &folder) != 1) return;
    settings_->set_last_dir(folder);
    edit->setText(kit::Q(folder));
    return;
  }
  std::u16string chosen;
  const int answer = kit::BrowseForFile(
      this, kit::BrowseMode::kOpen, kit::StringView(types), &folder, &chosen);
  settings_->set_last_dir(folder);
  if (answer != 1) return;
  edit->setText(kit::Q(text::CutAtLineBreak(chosen)));
}

std::u16string AlertOptionDialog::SkinPath() const {
  const int item = skins_->currentIndex();
  if (item <= 0) return {};
  return alerts::ui::SkinPathForName(app_folder_,
                                     kit::U(skins_->itemText(item)));
}

void AlertOptionDialog::Test() {
  alerts::ui::SkinPreview(this, SkinPath(), kit::LoadString(ids::kTestText),
                          kit::LoadString(ids::kTestNumber),
                          settings_->default_photo());
}

void AlertOptionDialog::Done() {
  const int mode = unread_alert_->currentIndex();
  const int seconds = ReadDecimal(seconds_->text());
  if (mode != alerts::kUnreadAlertNone && seconds == 0) {
    seconds_->setFocus();
    return;
  }
  const std::u16string sound = kit::U(alert_sound_->text());
  if ((mode == alerts::kUnreadAlertSound ||
       mode == alerts::kUnreadAlertVibrateAndSound) &&
      !sound.empty()) {
    platform::Status why;
    if (!alerts::ReminderSoundPlayable(sound, &why)) {
      const QString text = kit::Str(ids::kReminderSoundUnplayable) +
                           QStringLiteral(": ") +
                           QString::fromStdString(why.message());
      platform::DebugPrintf("pelicorde: %s\r\n", text.toUtf8().constData());
      kit::ShowMessage(this, text, kit::Str(ids::kCaptionError));
      alert_sound_->setFocus();
      return;
    }
  }
  settings::SettingsStore& s = *settings_;
  s.set_unread_alert(mode);
  s.set_alert_second(Milliseconds(seconds_));
  s.set_unread_icon(unread_icon_->isChecked() ? 1 : 0);
  s.set_alert_sound(sound);
  s.set_rnd_sound_path(kit::U(random_folder_->text()));
  s.RescanRandomSounds();
  s.set_photo_folder(kit::U(photo_folder_->text()));
  s.set_default_photo(kit::U(default_photo_->text()));
  s.set_disappear_time(Milliseconds(appear_send_));
  s.set_disappear_time_recv(Milliseconds(appear_recv_));
  s.set_sent_alert(sent_popup_->isChecked() ? 1 : 0);
  s.set_sent_skin(SkinPath());
  done(1);
}

int RunAlertOptionDialog(QWidget* parent, settings::SettingsStore* settings,
                         std::u16string_view app_folder) {
  AlertOptionDialog dialog(parent, settings, std::u16string(app_folder));
  return dialog.Run() == 1 ? 1 : 0;
}

}  // namespace settings::ui
