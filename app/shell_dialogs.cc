#include "app/shell_dialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/file_browser.h"
#include "kit/menu_table.h"
#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/files.h"
#include "platform/time.h"
#include "text/text.h"

namespace app {

namespace {

constexpr size_t kDateCapacity = 64;

// "OK" and "Cancel" soft keys; the soft key's own "OK" command counts as OK.
void SetOkCancel(kit::DeviceDialog* dialog) {
  dialog->soft_keys()->SetLeftKey(kit::Str(kit::ids::kOk), kit::kCommandOk);
  dialog->soft_keys()->SetRightKey(kit::Str(kit::ids::kCancel),
                                   kit::kCommandCancel);
}

bool IsOk(uint32_t command) {
  return command == kit::kCommandOk || command == kit::cmds::kOk;
}

QLineEdit* MakeEdit(QWidget* parent, int id, int max_length) {
  auto* edit = new QLineEdit(parent);
  kit::SetControlId(edit, id);
  if (max_length > 0) edit->setMaxLength(max_length);
  return edit;
}

QPushButton* MakeButton(QWidget* parent, int id, const QString& text) {
  auto* button = new QPushButton(text, parent);
  kit::SetControlId(button, id);
  return button;
}

QLabel* MakeStatic(QWidget* parent, int id, const QString& text) {
  auto* label = new QLabel(text, parent);
  kit::SetControlId(label, id);
  return label;
}

}  // namespace

std::u16string DateText(double ole_date) {
  std::optional<platform::SystemTime> time =
      platform::VariantTimeToSystemTime(ole_date);
  if (!time) return {};
  return text::FormatTime(*time, text::TimeKind::kDateAndTime, kDateCapacity);
}

// ------------------------------------------------------------ NewFileDialog

NewFileDialog::NewFileDialog(QWidget* parent, std::u16string open_path,
                             std::u16string* last_dir)
    : DeviceDialog(parent, kNewFileTemplate),
      open_path_(std::move(open_path)),
      last_dir_(last_dir) {
  title_bar()->SetCaption(kit::Str(kit::ids::kNewFile));
  SetOkCancel(this);
  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(new QLabel(kit::Str(kit::ids::kFilenameColon), content()));
  name_ = MakeEdit(content(), kNewFileNameEdit, 0);
  layout->addWidget(name_);
  QPushButton* browse = MakeButton(content(), kNewFileBrowse,
                                   kit::Str(kit::ids::kBrowseEllipsis));
  layout->addWidget(browse);
  layout->addWidget(new QLabel(kit::Str(kit::ids::kAuthorColon), content()));
  author_ = MakeEdit(content(), kNewFileAuthorEdit, kAuthorChars);
  layout->addWidget(author_);
  QPushButton* password = MakeButton(content(), kNewFilePassword,
                                     kit::Str(kit::ids::kPasswordEllipsis));
  layout->addWidget(password);
  recycle_bin_ =
      new QCheckBox(kit::Str(kit::ids::kCreateRecycleBin), content());
  kit::SetControlId(recycle_bin_, kNewFileRecycleBin);
  recycle_bin_->setChecked(true);
  layout->addWidget(recycle_bin_);
  layout->addStretch(1);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  connect(password, &QPushButton::clicked, this, [this] {
    std::u16string entered = options_.password;
    if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &entered) == 1) {
      options_.password = entered;
    }
  });
  name_->setFocus();
}

void NewFileDialog::Browse() {
  std::u16string chosen;
  std::u16string folder = last_dir_ != nullptr ? *last_dir_ : u"\\";
  if (kit::BrowseForFile(this, kit::BrowseMode::kSave,
                         kit::StringView(kit::ids::kDocumentExtension), &folder,
                         &chosen) != 1) {
    return;
  }
  if (last_dir_ != nullptr) *last_dir_ = folder;
  name_->setText(kit::Q(text::CutAtLineBreak(chosen)));
}

void NewFileDialog::Accept() {
  std::u16string name = kit::U(name_->text());
  if (name.empty()) {
    done(kit::kCommandCancel);
    return;
  }
  std::u16string path = store::Document::NewFileName(name);
  if (platform::files::Exists(path) ||
      (!open_path_.empty() && path == open_path_)) {
    kit::ShowMessageId(this, kit::ids::kFileExists, kit::ids::kCaptionError);
    return;
  }
  path_ = std::move(path);
  options_.author = kit::U(author_->text().left(kAuthorChars));
  options_.create_recycle_bin = recycle_bin_->isChecked();
  done(kit::kCommandOk);
}

void NewFileDialog::OnCommand(uint32_t command) {
  if (IsOk(command)) {
    Accept();
    return;
  }
  DeviceDialog::OnCommand(command);
}

// ------------------------------------------------------ FilePropertyDialog

FilePropertyDialog::FilePropertyDialog(QWidget* parent,
                                       const store::FileHeader& header)
    : DeviceDialog(parent, kFilePropertyTemplate),
      password_(header.password()) {
  title_bar()->SetCaption(kit::Str(kit::ids::kFilePropertyTitle));
  SetOkCancel(this);
  auto* layout = new QFormLayout(content());
  layout->setContentsMargins(6, 6, 6, 6);
  author_ = MakeEdit(content(), kFilePropertyAuthorEdit, kAuthorChars);
  author_->setText(kit::Q(header.author()).left(kAuthorChars));
  layout->addRow(kit::Str(kit::ids::kAuthorColon), author_);
  layout->addRow(kit::Str(kit::ids::kBuildDate),
                 MakeStatic(content(), kFilePropertyBuildDate,
                            kit::Q(DateText(header.build_date()))));
  layout->addRow(kit::Str(kit::ids::kModifyDate),
                 MakeStatic(content(), kFilePropertyModifyDate,
                            kit::Q(DateText(header.modify_date()))));
  QPushButton* password = MakeButton(content(), kFilePropertyPassword,
                                     kit::Str(kit::ids::kPassword));
  layout->addRow(password);
  connect(password, &QPushButton::clicked, this, [this] {
    std::u16string entered = password_;
    if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &entered) == 1) {
      password_ = entered;
    }
  });
}

std::u16string FilePropertyDialog::author() const {
  return kit::U(author_->text().left(kAuthorChars));
}

// ------------------------------------------------------ NodePropertyDialog

NodePropertyDialog::NodePropertyDialog(QWidget* parent,
                                       const store::NodeRecord& record)
    : DeviceDialog(parent, kNodePropertyTemplate),
      record_(record),
      original_author_(record.author()) {
  title_bar()->SetCaption(kit::Str(kit::ids::kPropertyTitle));
  SetOkCancel(this);
  auto* layout = new QFormLayout(content());
  layout->setContentsMargins(6, 6, 6, 6);
  author_ = MakeEdit(content(), kNodePropertyAuthorEdit, kAuthorChars);
  author_->setText(kit::Q(original_author_).left(kAuthorChars));
  layout->addRow(kit::Str(kit::ids::kAuthorColon), author_);
  layout->addRow(kit::Str(kit::ids::kCreateDate),
                 MakeStatic(content(), kNodePropertyCreateDate,
                            kit::Q(DateText(record.date()))));
  QPushButton* password = MakeButton(content(), kNodePropertyPassword,
                                     kit::Str(kit::ids::kPasswordEllipsis));
  layout->addRow(password);
  connect(password, &QPushButton::clicked, this, [this] {
    std::u16string entered = record_.password();
    if (kit::PasswordPrompt(this, kit::PasswordMode::kChange, &entered) == 1) {
      record_.set_password(entered);
      password_changed_ = true;
    }
  });
}

bool NodePropertyDialog::changed() const {
  return password_changed_ || kit::U(author_->text()) != original_author_;
}

store::NodeRecord NodePropertyDialog::record() const {
  store::NodeRecord record = record_;
  record.set_author(kit::U(author_->text().left(kAuthorChars)));
  return record;
}

// ------------------------------------------------------------ AboutDialog

AboutDialog::AboutDialog(QWidget* parent)
    : DeviceDialog(parent, kAboutTemplate) {
  title_bar()->SetCaption(kit::Str(kit::ids::kProductName));
  soft_keys()->SetLeftKey(kit::Str(kit::ids::kOk), kit::kCommandOk);
  auto* layout = new QVBoxLayout(content());
  layout->addStretch(1);
  QLabel* name = MakeStatic(content(), kAboutProductName,
                            kit::Str(kit::ids::kProductName));
  QFont big = name->font();
  big.setBold(true);
  big.setPixelSize(18);
  name->setFont(big);
  name->setAlignment(Qt::AlignCenter);
  layout->addWidget(name);
  QLabel* version =
      MakeStatic(content(), kAboutVersion, QString::fromLatin1(kVersionText));
  version->setAlignment(Qt::AlignCenter);
  layout->addWidget(version);
  layout->addStretch(2);
}

}  // namespace app
