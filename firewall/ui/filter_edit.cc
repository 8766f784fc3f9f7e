#include "firewall/ui/filter_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/ui/skin_preview.h"
#include "audio/audio_player.h"
#include "contacts/ui/my_text_dialog.h"
#include "kit/device_window.h"
#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "settings/settings_store.h"
#include "settings/ui/option_scroll.h"
#include "text/text.h"

namespace firewall::ui {

namespace {

namespace ids = kit::ids;

// Controls that belong to a check sit this far in under it.
constexpr int kIndent = 20;
constexpr int kMargin = 4;
// The reply edit shows a few lines.
constexpr int kReplyEditHeight = 60;

// The reply text keeps the device's line breaks; the edit shows plain ones.
QString ReplyToEdit(std::u16string_view text) {
  QString shown = kit::Q(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

std::u16string ReplyFromEdit(const QString& shown) {
  QString text = shown;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return kit::U(text);
}

void ShowError(QWidget* parent, uint32_t text_id) {
  kit::ShowMessageId(parent, text_id, ids::kCaptionError);
}

// Asks the file browser for a file of `types`, starting in (and keeping)
// "LastDir". The chosen path, or nothing when the browser was cancelled.
std::optional<std::u16string> BrowseFile(QWidget* parent,
                                         settings::SettingsStore* settings,
                                         uint32_t types) {
  std::u16string folder = settings->last_dir();
  std::u16string chosen;
  const int answer = kit::BrowseForFile(
      parent, kit::BrowseMode::kOpen, kit::StringView(types), &folder, &chosen);
  settings->set_last_dir(folder);
  if (answer != 1) return std::nullopt;
  text::CutAtLineBreak(chosen);
  return chosen;
}

QPushButton* MakeButton(QWidget* page, int id, uint32_t text_id) {
  auto* button = new QPushButton(kit::Str(text_id), page);
  kit::SetControlId(button, id);
  return button;
}

QCheckBox* MakeBox(QWidget* page, int id, uint32_t text_id, bool checked) {
  auto* box = new QCheckBox(kit::Str(text_id), page);
  kit::SetControlId(box, id);
  box->setChecked(checked);
  return box;
}

QLineEdit* MakeEdit(QWidget* page, int id, std::u16string_view text) {
  auto* edit = new QLineEdit(kit::Q(text), page);
  kit::SetControlId(edit, id);
  return edit;
}

// A row of controls indented under their check.
void AddIndentedRow(QVBoxLayout* layout, std::initializer_list<QWidget*> row,
                    int stretch_first = 1) {
  auto* line = new QHBoxLayout();
  line->setContentsMargins(kIndent, 0, 0, 0);
  bool first = true;
  for (QWidget* widget : row) {
    line->addWidget(widget, first ? stretch_first : 0);
    first = false;
  }
  layout->addLayout(line);
}

// ---- Rule Editor

class RuleEditorDialog : public kit::DeviceDialog {
 public:
  RuleEditorDialog(QWidget* parent, FilterRecord* record,
                   const FilterEditEnvironment& environment);

  // Fast Create: picks rule 1 from the contacts before the editor shows;
  // false when the picker was not confirmed.
  bool PickFirstRule();

 protected:
  void OnCommand(uint32_t command) override;

 private:
  struct RuleControls {
    QComboBox* object = nullptr;
    QComboBox* judge = nullptr;
    QLineEdit* content = nullptr;
    QPushButton* from_contact = nullptr;
  };

  RuleControls AddRule(QGridLayout* grid, int row, int which);
  void EnableRule2(bool enabled);
  // Runs the picker for `which` rule; false when it was not confirmed.
  bool FromContact(int which);
  void Ok();

  FilterRecord* record_;
  FilterEditEnvironment environment_;
  std::array<RuleControls, 2> rules_;
  QCheckBox* and_rule2_;
};

RuleEditorDialog::RuleEditorDialog(QWidget* parent, FilterRecord* record,
                                   const FilterEditEnvironment& environment)
    : DeviceDialog(parent, kRuleEditorTemplate),
      record_(record),
      environment_(environment) {
  title_bar()->SetCaption(kit::Str(ids::kRuleEditorTitle));
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());

  auto* grid = new QGridLayout(content());
  grid->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  grid->addWidget(new QLabel(kit::Str(ids::kRule1), content()), 0, 0, 1, 2);
  rules_[0] = AddRule(grid, 1, 0);
  and_rule2_ = MakeBox(content(), kAndRule2Box, ids::kAndRule2,
                       record_->rules[1].has_value());
  grid->addWidget(and_rule2_, 5, 0, 1, 2);
  rules_[1] = AddRule(grid, 6, 1);
  grid->setRowStretch(10, 1);
  grid->setColumnStretch(1, 1);

  // Rule 1: an unknown object selects nothing, an unknown judge "Equal".
  if (const std::optional<Rule>& rule = record_->rules[0]) {
    const bool object_known =
        rule->object == kObjectPhoneNumber || rule->object == kObjectBody;
    const bool judge_known =
        rule->judge >= kJudgeInclude && rule->judge <= kJudgeNotEqual;
    rules_[0].object->setCurrentIndex(object_known ? rule->object : -1);
    rules_[0].judge->setCurrentIndex(judge_known ? rule->judge : kJudgeEqual);
    rules_[0].content->setText(kit::Q(rule->content));
  }
  // Rule 2: unknown values select the first item.
  if (const std::optional<Rule>& rule = record_->rules[1]) {
    const bool object_known =
        rule->object == kObjectPhoneNumber || rule->object == kObjectBody;
    const bool judge_known =
        rule->judge >= kJudgeInclude && rule->judge <= kJudgeNotEqual;
    rules_[1].object->setCurrentIndex(object_known ? rule->object : 0);
    rules_[1].judge->setCurrentIndex(judge_known ? rule->judge : 0);
    rules_[1].content->setText(kit::Q(rule->content));
  }
  EnableRule2(and_rule2_->isChecked());
  connect(and_rule2_, &QCheckBox::toggled, this,
          [this](bool checked) { EnableRule2(checked); });
  rules_[0].content->setFocus();
}

bool RuleEditorDialog::PickFirstRule() {
  // Without contacts there is nothing to pick from: the rule is typed.
  if (environment_.picker.store == nullptr) return true;
  return FromContact(0);
}

RuleEditorDialog::RuleControls RuleEditorDialog::AddRule(QGridLayout* grid,
                                                         int row, int which) {
  const int offset = which * kRule2Offset;
  QWidget* page = content();
  RuleControls rule;
  rule.object = new QComboBox(page);
  kit::SetControlId(rule.object, kObjectList + offset);
  rule.object->addItem(kit::Str(ids::kPhoneNumber));
  rule.object->addItem(kit::Str(ids::kBody));
  rule.judge = new QComboBox(page);
  kit::SetControlId(rule.judge, kJudgeList + offset);
  for (uint32_t id :
       {ids::kInclude, ids::kExclude, ids::kEqual, ids::kNotEqual}) {
    rule.judge->addItem(kit::Str(id));
  }
  rule.content = MakeEdit(page, kContentEdit + offset, u"");
  rule.from_contact =
      MakeButton(page, kFromContactButton + offset, ids::kFromContactEllipsis);
  rule.from_contact->setVisible(environment_.picker.store != nullptr);
  connect(rule.from_contact, &QPushButton::clicked, this,
          [this, which] { FromContact(which); });

  grid->addWidget(new QLabel(kit::Str(ids::kObjectColon), page), row, 0);
  grid->addWidget(rule.object, row, 1);
  grid->addWidget(new QLabel(kit::Str(ids::kJudgeColon), page), row + 1, 0);
  grid->addWidget(rule.judge, row + 1, 1);
  grid->addWidget(new QLabel(kit::Str(ids::kContentColon), page), row + 2, 0);
  grid->addWidget(rule.content, row + 2, 1);
  grid->addWidget(rule.from_contact, row + 3, 1, Qt::AlignRight);
  return rule;
}

void RuleEditorDialog::EnableRule2(bool enabled) {
  const RuleControls& rule = rules_[1];
  for (QWidget* control : std::initializer_list<QWidget*>{
           rule.object, rule.judge, rule.content, rule.from_contact}) {
    control->setEnabled(enabled);
  }
}

bool RuleEditorDialog::FromContact(int which) {
  if (environment_.picker.store == nullptr) return false;
  std::u16string number;
  std::u16string name;
  if (contacts::ui::PickContact(this, environment_.picker, &number, &name) !=
      contacts::ui::kPickerConfirmed) {
    return false;
  }
  rules_[which].content->setText(kit::Q(number));
  rules_[0].content->setFocus();
  return true;
}

void RuleEditorDialog::Ok() {
  const bool with_rule2 = and_rule2_->isChecked();
  if (rules_[0].content->text().isEmpty() ||
      (with_rule2 && rules_[1].content->text().isEmpty())) {
    ShowError(this, ids::kSetTheRule);
    return;
  }
  auto shown = [this](int which) {
    const RuleControls& controls = rules_[which];
    return Rule{controls.object->currentIndex(), controls.judge->currentIndex(),
                kit::U(controls.content->text())};
  };
  record_->rules[0] = shown(0);
  record_->rules[1].reset();
  if (with_rule2) record_->rules[1] = shown(1);
  done(kFilterEditOk);
}

void RuleEditorDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:
    case kit::cmds::kOk:
      Ok();
      return;
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      done(kFilterEditCancelled);
      return;
    default:
      DeviceDialog::OnCommand(command);
  }
}

// ---- Filter Edit

class FilterEditDialog : public kit::DeviceDialog {
 public:
  FilterRecord* record() const { return record_; }
  FilterEditDialog(QWidget* parent, FilterRecord* record, FilterEditMode mode,
                   const FilterEditEnvironment& environment);
  ~FilterEditDialog() override;

  // Fast Create: presses "Rule Setting..." before the dialog shows; false
  // when the Rule Editor was not accepted.
  bool SetRulesFirst();

 protected:
  void OnCommand(uint32_t command) override;

 private:
  void Build();
  void Wire();
  void UpdateEnabled();
  void PlayStop();
  void Test();
  void ForwardContact();
  void MyText();
  std::u16string SkinPath() const;
  // Validates and stores the fields in order; true when all were stored.
  bool Store();

  FilterRecord* record_;
  FilterEditMode mode_;
  FilterEditEnvironment environment_;
  std::unique_ptr<audio::AudioPlayer> player_;
  settings::ui::OptionScrollArea* scroll_ = nullptr;

  QLineEdit* name_ = nullptr;
  QCheckBox* apply_to_all_ = nullptr;
  QPushButton* rule_setting_ = nullptr;
  QLabel* note_ = nullptr;
  QCheckBox* play_sound_ = nullptr;
  QLineEdit* sound_file_ = nullptr;
  QPushButton* sound_browse_ = nullptr;
  QPushButton* play_stop_ = nullptr;
  QCheckBox* random_ring_ = nullptr;
  QCheckBox* vibrate_ = nullptr;
  QCheckBox* unread_alert_ = nullptr;
  QCheckBox* popup_ = nullptr;
  QComboBox* skins_ = nullptr;
  QPushButton* test_ = nullptr;
  QCheckBox* photo_ = nullptr;
  QLineEdit* photo_file_ = nullptr;
  QPushButton* photo_browse_ = nullptr;
  QCheckBox* sentence_ = nullptr;
  QLineEdit* sentence_text_ = nullptr;
  QCheckBox* folder_ = nullptr;
  QLineEdit* folder_text_ = nullptr;
  QCheckBox* dont_show_ = nullptr;
  QCheckBox* forward_ = nullptr;
  QLineEdit* forward_number_ = nullptr;
  QPushButton* forward_contact_ = nullptr;
  QCheckBox* reply_ = nullptr;
  QPlainTextEdit* reply_text_ = nullptr;
  QPushButton* my_text_ = nullptr;
};

FilterEditDialog::FilterEditDialog(QWidget* parent, FilterRecord* record,
                                   FilterEditMode mode,
                                   const FilterEditEnvironment& environment)
    : DeviceDialog(parent, kFilterEditTemplate),
      record_(record),
      mode_(mode),
      environment_(environment),
      player_(std::make_unique<audio::AudioPlayer>()) {
  title_bar()->SetCaption(kit::Str(ids::kFilterEditTitle));
  soft_keys()->SetMenuBar(kit::OkCancelMenuBar());
  Build();
  Wire();
  UpdateEnabled();
  name_->setFocus();
}

FilterEditDialog::~FilterEditDialog() { player_->Stop(); }

void FilterEditDialog::Build() {
  auto* outer = new QVBoxLayout(content());
  outer->setContentsMargins(0, 0, 0, 0);
  scroll_ =
      new settings::ui::OptionScrollArea(content(), environment_.settings);
  outer->addWidget(scroll_);
  QWidget* page = scroll_->page();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(kMargin, 2, kMargin, 2);
  layout->setSpacing(2);
  const FilterRecord& r = *record_;

  // Name, and what the filter matches.
  const bool is_default = mode_ == FilterEditMode::kContactDefault ||
                          mode_ == FilterEditMode::kStrangerDefault;
  std::u16string name = r.name;
  if (mode_ == FilterEditMode::kContactDefault) {
    name = kit::LoadString(ids::kContactDefault);
  } else if (mode_ == FilterEditMode::kStrangerDefault) {
    name = kit::LoadString(ids::kStrangerDefault);
  }
  name_ = MakeEdit(page, kNameEdit, name);
  name_->setMaxLength(kNameEditLimit);
  name_->setEnabled(!is_default);
  auto* name_row = new QHBoxLayout();
  name_row->addWidget(new QLabel(kit::Str(ids::kNameColon), page));
  name_row->addWidget(name_, 1);
  layout->addLayout(name_row);

  apply_to_all_ = MakeBox(page, kApplyToAllBox, ids::kApplyToAll,
                          is_default || r.apply_to_all != 0);
  rule_setting_ =
      MakeButton(page, kRuleSettingButton, ids::kRuleSettingEllipsis);
  layout->addWidget(apply_to_all_);
  layout->addWidget(rule_setting_);
  if (is_default) {
    apply_to_all_->hide();
    rule_setting_->hide();
    note_ = new QLabel(kit::Str(mode_ == FilterEditMode::kContactDefault
                                    ? ids::kMatchContactNote
                                    : ids::kMatchStrangerNote),
                       page);
    kit::SetControlId(note_, kMatchNote);
    note_->setWordWrap(true);
    layout->addWidget(note_);
  }

  // Sound.
  const bool random =
      r.Has(kPlaySound) && r.Value(kPlaySound) == kRandomRingMarker;
  play_sound_ = MakeBox(page, kPlaySoundBox, ids::kPlaySound,
                        r.Has(kPlaySound) && !random);
  sound_file_ = MakeEdit(page, kSoundFileEdit,
                         random ? std::u16string_view() : r.Value(kPlaySound));
  sound_browse_ = MakeButton(page, kSoundBrowseButton, ids::kBrowseEllipsis);
  play_stop_ = MakeButton(page, kPlayStopButton, ids::kPlayStop);
  random_ring_ = MakeBox(page, kRandomRingBox, ids::kRandomRing, random);
  layout->addWidget(play_sound_);
  AddIndentedRow(layout, {sound_file_, sound_browse_, play_stop_});
  layout->addWidget(random_ring_);

  vibrate_ = MakeBox(page, kVibrateBox, ids::kVibrate, r.Has(kVibrate));
  unread_alert_ =
      MakeBox(page, kUnreadAlertBox, ids::kUnreadAlert, r.Has(kUnreadAlert));
  layout->addWidget(vibrate_);
  layout->addWidget(unread_alert_);

  // Popup: "Default", then the installed skins; the stored skin is the
  // first item that starts with its base name.
  popup_ =
      MakeBox(page, kPopupBox, ids::kShowPopupWindow, r.Has(kShowPopupWindow));
  skins_ = new QComboBox(page);
  kit::SetControlId(skins_, kSkinList);
  skins_->addItem(kit::Str(ids::kDefaultSkin));
  for (const std::u16string& skin :
       alerts::ui::FillSkinList(environment_.app_folder)) {
    skins_->addItem(kit::Q(skin));
  }
  std::u16string stored(r.Value(kShowPopupWindow));
  const QString base = kit::Q(text::BaseName(stored));
  int shown = 0;
  for (int i = 0; i < skins_->count(); ++i) {
    if (skins_->itemText(i).startsWith(base)) {
      shown = i;
      break;
    }
  }
  skins_->setCurrentIndex(shown);
  test_ = MakeButton(page, kTestButton, ids::kTestEllipsis);
  layout->addWidget(popup_);
  AddIndentedRow(layout, {skins_, test_});

  photo_ = MakeBox(page, kPhotoBox, ids::kSpecificPhoto, r.Has(kSpecificPhoto));
  photo_file_ = MakeEdit(page, kPhotoEdit, r.Value(kSpecificPhoto));
  photo_browse_ = MakeButton(page, kPhotoBrowseButton, ids::kBrowseEllipsis);
  layout->addWidget(photo_);
  AddIndentedRow(layout, {photo_file_, photo_browse_});

  sentence_ = MakeBox(page, kSentenceBox, ids::kUserDefinedSentence,
                      r.Has(kUserDefinedSentence));
  sentence_text_ = MakeEdit(page, kSentenceEdit, r.Value(kUserDefinedSentence));
  layout->addWidget(sentence_);
  AddIndentedRow(layout, {sentence_text_});

  // Where the message goes.
  folder_ = MakeBox(page, kFolderBox, ids::kSaveToFolder, r.Has(kSaveToFolder));
  folder_text_ =
      MakeEdit(page, kFolderEdit,
               r.Has(kSaveToFolder) ? r.Value(kSaveToFolder)
                                    : kit::StringView(ids::kInboxPath));
  layout->addWidget(folder_);
  AddIndentedRow(layout, {folder_text_});
  dont_show_ = MakeBox(page, kDontShowBox, ids::kDontShowInInbox,
                       r.Has(kDontShowInInbox));
  layout->addWidget(dont_show_);

  forward_ = MakeBox(page, kForwardBox, ids::kAutoForward, r.Has(kAutoForward));
  forward_number_ = MakeEdit(page, kForwardEdit, r.Value(kAutoForward));
  forward_contact_ =
      MakeButton(page, kForwardContactButton, ids::kContactEllipsis);
  forward_contact_->setVisible(environment_.picker.store != nullptr);
  layout->addWidget(forward_);
  AddIndentedRow(layout, {forward_number_, forward_contact_});

  reply_ = MakeBox(page, kReplyBox, ids::kAutoReply, r.Has(kAutoReply));
  reply_text_ = new QPlainTextEdit(
      ReplyToEdit(r.Has(kAutoReply) ? r.Value(kAutoReply)
                                    : kit::StringView(ids::kDefaultAutoReply)),
      page);
  kit::SetControlId(reply_text_, kReplyEdit);
  reply_text_->setFixedHeight(kReplyEditHeight);
  my_text_ = MakeButton(page, kMyTextButton, ids::kMyTextEllipsis);
  layout->addWidget(reply_);
  AddIndentedRow(layout, {reply_text_});
  AddIndentedRow(layout, {my_text_}, 0);
  layout->addStretch(1);
}

void FilterEditDialog::Wire() {
  auto update = [this] { UpdateEnabled(); };
  for (QCheckBox* box : {apply_to_all_, play_sound_, random_ring_, popup_,
                         photo_, sentence_, folder_, forward_, reply_}) {
    connect(box, &QCheckBox::toggled, this, update);
  }
  // "Play Sound" and "Random Ring" exclude each other.
  connect(play_sound_, &QCheckBox::toggled, this, [this](bool checked) {
    if (checked) random_ring_->setChecked(false);
  });
  connect(random_ring_, &QCheckBox::toggled, this, [this](bool checked) {
    if (checked) play_sound_->setChecked(false);
  });
  connect(rule_setting_, &QPushButton::clicked, this,
          [this] { RunRuleEditor(this, record_, false, environment_); });
  connect(sound_browse_, &QPushButton::clicked, this, [this] {
    if (auto chosen =
            BrowseFile(this, environment_.settings, ids::kSoundExtensions)) {
      sound_file_->setText(kit::Q(*chosen));
    }
  });
  connect(play_stop_, &QPushButton::clicked, this, [this] { PlayStop(); });
  connect(test_, &QPushButton::clicked, this, [this] { Test(); });
  connect(photo_browse_, &QPushButton::clicked, this, [this] {
    if (auto chosen =
            BrowseFile(this, environment_.settings, ids::kPictureExtensions)) {
      photo_file_->setText(kit::Q(*chosen));
    }
  });
  connect(forward_contact_, &QPushButton::clicked, this,
          [this] { ForwardContact(); });
  connect(my_text_, &QPushButton::clicked, this, [this] { MyText(); });
}

void FilterEditDialog::UpdateEnabled() {
  rule_setting_->setEnabled(!apply_to_all_->isChecked());
  const bool sound = play_sound_->isChecked();
  sound_file_->setEnabled(sound);
  sound_browse_->setEnabled(sound);
  play_stop_->setEnabled(sound);
  const bool popup = popup_->isChecked();
  skins_->setEnabled(popup);
  test_->setEnabled(popup);
  photo_->setEnabled(popup);
  sentence_->setEnabled(popup);
  photo_file_->setEnabled(popup && photo_->isChecked());
  photo_browse_->setEnabled(popup && photo_->isChecked());
  sentence_text_->setEnabled(popup && sentence_->isChecked());
  folder_text_->setEnabled(folder_->isChecked());
  forward_number_->setEnabled(forward_->isChecked());
  forward_contact_->setEnabled(forward_->isChecked());
  reply_text_->setEnabled(reply_->isChecked());
  my_text_->setEnabled(reply_->isChecked());
}

bool FilterEditDialog::SetRulesFirst() {
  if (RunRuleEditor(this, record_, true, environment_) != kFilterEditOk) {
    return false;
  }
  play_sound_->setFocus();
  return true;
}

void FilterEditDialog::PlayStop() {
  if (player_->GetState() != audio::AudioPlayer::kStopped) {
    player_->Stop();
    return;
  }
  const std::u16string file = kit::U(sound_file_->text());
  if (file.empty()) return;
  if (player_->Open(file)) player_->Play();
}

std::u16string FilterEditDialog::SkinPath() const {
  const int item = skins_->currentIndex();
  if (item <= 0) return {};
  return alerts::ui::SkinPathForName(environment_.app_folder,
                                     kit::U(skins_->itemText(item)));
}

void FilterEditDialog::Test() {
  std::u16string picture = environment_.settings->default_photo();
  if (photo_->isChecked() && !photo_file_->text().isEmpty()) {
    picture = kit::U(photo_file_->text());
  }
  std::u16string main_text = kit::LoadString(ids::kTestText);
  std::u16string second_text = kit::LoadString(ids::kTestNumber);
  if (sentence_->isChecked()) {
    main_text = kit::U(sentence_text_->text());
    second_text.clear();
  }
  alerts::ui::SkinPreview(this, SkinPath(), main_text, second_text, picture);
}

void FilterEditDialog::ForwardContact() {
  if (environment_.picker.store == nullptr) return;
  std::u16string output;
  if (contacts::ui::RunContactPicker(this, environment_.picker, 2, &output) !=
      contacts::ui::kPickerConfirmed) {
    return;
  }
  QString numbers = kit::Q(output);
  if (forward_number_->text().isEmpty() && numbers.startsWith(u';')) {
    numbers.remove(0, 1);
  }
  forward_number_->setText(forward_number_->text() + numbers);
}

void FilterEditDialog::MyText() {
  if (environment_.sentences == nullptr) return;
  std::u16string chosen;
  if (contacts::ui::ChooseSentence(this, environment_.sentences, &chosen) !=
          contacts::ui::kMyTextOk ||
      chosen.empty()) {
    return;
  }
  reply_text_->insertPlainText(ReplyToEdit(chosen));
}

bool FilterEditDialog::Store() {
  FilterRecord& r = *record_;
  auto flag = [&r](int slot, bool present) {
    if (present) {
      r.Set(slot, std::nullopt);
    } else {
      r.Clear(slot);
    }
  };
  auto text = [&r](int slot, bool present, std::u16string value) {
    if (present) {
      r.Set(slot, std::move(value));
    } else {
      r.Clear(slot);
    }
  };

  if (name_->text().isEmpty()) {
    ShowError(this, ids::kFilterNameEmpty);
    return false;
  }
  r.SetName(kit::U(name_->text()));

  r.apply_to_all = apply_to_all_->isChecked() ? 1 : 0;
  if (r.apply_to_all == 0 && !r.rules[0].has_value()) {
    ShowError(this, ids::kSetTheRule);
    return false;
  }

  if (forward_->isChecked() && forward_number_->text().isEmpty()) {
    ShowError(this, ids::kForwardNumberMissing);
    return false;
  }
  text(kAutoForward, forward_->isChecked(), kit::U(forward_number_->text()));

  flag(kVibrate, vibrate_->isChecked());

  if (random_ring_->isChecked()) {
    r.Set(kPlaySound, std::u16string(kRandomRingMarker));
  } else {
    if (play_sound_->isChecked() && sound_file_->text().isEmpty()) {
      ShowError(this, ids::kSoundFileMissing);
      return false;
    }
    text(kPlaySound, play_sound_->isChecked(), kit::U(sound_file_->text()));
  }

  if (folder_->isChecked()) {
    std::u16string folder = kit::U(folder_text_->text());
    if (folder.empty()) {
      ShowError(this, ids::kFolderMissing);
      return false;
    }
    if (folder.front() != u'\\') folder.insert(folder.begin(), u'\\');
    r.Set(kSaveToFolder, std::move(folder));
  } else {
    r.Clear(kSaveToFolder);
  }

  if (popup_->isChecked()) {
    std::u16string skin = SkinPath();
    if (skin.empty()) {
      r.Set(kShowPopupWindow, std::nullopt);
    } else {
      r.Set(kShowPopupWindow, std::move(skin));
    }
    if (sentence_->isChecked() && sentence_text_->text().isEmpty()) {
      ShowError(this, ids::kSentenceMissing);
      return false;
    }
    if (photo_->isChecked() && photo_file_->text().isEmpty()) {
      ShowError(this, ids::kPhotoMissing);
      return false;
    }
    text(kUserDefinedSentence, sentence_->isChecked(),
         kit::U(sentence_text_->text()));
    text(kSpecificPhoto, photo_->isChecked(), kit::U(photo_file_->text()));
  } else {
    r.Clear(kShowPopupWindow);
    r.Clear(kUserDefinedSentence);
  }

  flag(kUnreadAlert, unread_alert_->isChecked());
  flag(kDontShowInInbox, dont_show_->isChecked());

  const std::u16string reply = ReplyFromEdit(reply_text_->toPlainText());
  if (reply_->isChecked() && reply.empty()) {
    ShowError(this, ids::kAutoReplyEmpty);
    return false;
  }
  text(kAutoReply, reply_->isChecked(), reply);
  return true;
}

void FilterEditDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:
    case kit::cmds::kOk:
      if (Store()) done(kFilterEditOk);
      return;
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      done(kFilterEditCancelled);
      return;
    default:
      DeviceDialog::OnCommand(command);
  }
}

}  // namespace

const FilterRecord* EditedRecord(const kit::DeviceDialog* dialog) {
  auto* edit = dynamic_cast<const FilterEditDialog*>(dialog);
  return edit == nullptr ? nullptr : edit->record();
}

int RunFilterEdit(QWidget* parent, FilterRecord* record, FilterEditMode mode,
                  const FilterEditEnvironment& environment) {
  // The dialog edits a copy, taken over whole on OK: a Cancel (also after a
  // failed OK or an accepted Rule Editor) leaves the filter as it was, and
  // a message that arrives while the dialog is open never meets a filter
  // half edited.
  FilterRecord working = *record;
  FilterEditDialog dialog(parent, &working, mode, environment);
  if (mode == FilterEditMode::kFastCreate && !dialog.SetRulesFirst()) {
    return kFilterEditCancelled;
  }
  if (dialog.Run() != kFilterEditOk) return kFilterEditCancelled;
  *record = std::move(working);
  return kFilterEditOk;
}

int RunRuleEditor(QWidget* parent, FilterRecord* record, bool fast_create,
                  const FilterEditEnvironment& environment) {
  FilterRecord working = *record;
  RuleEditorDialog dialog(parent, &working, environment);
  if (fast_create && !dialog.PickFirstRule()) return kFilterEditCancelled;
  if (dialog.Run() != kFilterEditOk) return kFilterEditCancelled;
  *record = std::move(working);
  return kFilterEditOk;
}

}  // namespace firewall::ui
