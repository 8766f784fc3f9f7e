#include "settings/ui/security_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "firewall/filter_set.h"
#include "kit/menu_table.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "settings/settings_store.h"
#include "store/document.h"

namespace settings::ui {

namespace {

constexpr int kMargin = 4;
constexpr int kSpacing = 4;

}  // namespace

void ReplaceFilePassword(store::Document* document,
                         std::u16string_view password) {
  if (document == nullptr || !document->IsOpen()) return;
  // The header field keeps whole characters of the code page only.
  document->file().header().set_password(password);
  document->file().MarkHeaderDirty();
  document->MarkModified();
}

SecurityDialog::SecurityDialog(QWidget* parent,
                               settings::SettingsStore* settings,
                               SecurityEnvironment environment)
    : OptionDialog(parent, kSecurityTemplate),
      settings_(settings),
      environment_(std::move(environment)) {
  title_bar()->SetCaption(kit::Str(kit::ids::kSecurityTitle));
  soft_keys()->SetMenuBar(kit::DoneCancelMenuBar());

  QWidget* page = content();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kSpacing);

  level_ = new QComboBox(page);
  kit::SetControlId(level_, kProtectLevelList);
  for (uint32_t id : {kit::ids::kOnlyOnce, kit::ids::kReinputAfterMinimize,
                      kit::ids::kInputEveryTime}) {
    level_->addItem(kit::Str(id));
  }
  const int32_t level = settings_->protect_level();
  level_->setCurrentIndex(level >= 0 && level <= 2 ? level : 1);
  auto* label = new QLabel(kit::Str(kit::ids::kPasswordColon), page);
  label->setBuddy(level_);
  auto* row = new QHBoxLayout();
  row->setSpacing(kSpacing);
  row->addWidget(label);
  row->addWidget(level_, 1);
  layout->addLayout(row);

  screen_saver_ =
      new QCheckBox(kit::Str(kit::ids::kScreenSaverAfterMinimized), page);
  kit::SetControlId(screen_saver_, kScreenSaverBox);
  screen_saver_->setChecked(settings_->start_screen_save_min() != 0);
  layout->addWidget(screen_saver_);

  file_password_ = new QPushButton(kit::Str(kit::ids::kPasswordEllipsis), page);
  kit::SetControlId(file_password_, kFilePasswordButton);
  file_password_->setEnabled(environment_.document != nullptr &&
                             environment_.document->IsOpen());
  rule_password_ = new QPushButton(kit::Str(kit::ids::kRulePassword), page);
  kit::SetControlId(rule_password_, kRulePasswordButton);
  rule_password_->setEnabled(environment_.filters != nullptr);
  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(kSpacing);
  buttons->addWidget(file_password_, 1);
  buttons->addWidget(rule_password_, 1);
  layout->addLayout(buttons);
  layout->addStretch(1);

  connect(file_password_, &QPushButton::clicked, this,
          &SecurityDialog::ChangeFilePassword);
  connect(rule_password_, &QPushButton::clicked, this,
          &SecurityDialog::ChangeRulePassword);
  level_->setFocus();
}

void SecurityDialog::ChangeFilePassword() {
  store::Document* document = environment_.document;
  if (document == nullptr || !document->IsOpen()) return;
  std::u16string password = document->file().header().password();
  if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &password) != 1) {
    return;
  }
  // The document may have closed while the prompt was up (a shutdown).
  ReplaceFilePassword(document, password);
}

void SecurityDialog::ChangeRulePassword() {
  firewall::FilterSet* filters = environment_.filters;
  if (filters == nullptr) return;
  std::u16string password = filters->password;
  if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &password) != 1) {
    return;
  }
  filters->password = std::move(password);
  if (environment_.save_filters) {
    // The environment reports a failed save; nothing more to do here.
    environment_.save_filters().IgnoreError();
  }
}

void SecurityDialog::Done() {
  settings_->set_start_screen_save_min(screen_saver_->isChecked() ? 1 : 0);
  settings_->set_protect_level(level_->currentIndex());
  done(1);
}

int RunSecurityDialog(QWidget* owner, settings::SettingsStore* settings,
                      SecurityEnvironment environment) {
  SecurityDialog dialog(owner, settings, std::move(environment));
  return dialog.Run() == 1 ? 1 : 0;
}

}  // namespace settings::ui
