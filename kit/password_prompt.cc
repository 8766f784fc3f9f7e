#include "kit/password_prompt.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include "kit/images.h"
#include "kit/message_box.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace kit {
namespace {

constexpr int kTypedLimit = 11;  // characters an edit accepts
constexpr int kReadLimit = 10;   // characters the dialog reads

int g_prompts_up = 0;

QString Entered(const QLineEdit* edit) { return edit->text().left(kReadLimit); }

QLabel* MakeLabel(QWidget* parent, int id, const QString& text) {
  auto* label = new QLabel(text, parent);
  SetControlId(label, id);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(palette);
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  SetControlId(edit, id);
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(kTypedLimit);
  return edit;
}

}  // namespace

PasswordDialog::PasswordDialog(QWidget* parent, PasswordMode mode,
                               std::u16string* password)
    : DeviceDialog(parent, kPasswordDialogTemplate),
      mode_(mode),
      password_(password) {
  ++g_prompts_up;
  title_bar()->SetCaption(Str(ids::kPassword));
  soft_keys()->SetLeftKey(Str(ids::kOk), kCommandOk);
  soft_keys()->SetRightKey(Str(ids::kCancel), kCommandCancel);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(12, 8, 12, 12);
  layout->addStretch(1);
  QLabel* entered_label =
      MakeLabel(content(), kPasswordLabel,
                Str(mode == PasswordMode::kCheck ? ids::kInputPassword
                                                 : ids::kOldPassword));
  entered_ = MakeEdit(content(), kPasswordEdit);
  QLabel* new_label =
      MakeLabel(content(), kNewPasswordLabel, Str(ids::kNewPassword));
  new_ = MakeEdit(content(), kNewPasswordEdit);
  QLabel* confirm_label =
      MakeLabel(content(), kConfirmPasswordLabel, Str(ids::kPasswordConfirm));
  confirm_ = MakeEdit(content(), kConfirmPasswordEdit);
  for (QWidget* w :
       {static_cast<QWidget*>(entered_label), static_cast<QWidget*>(entered_),
        static_cast<QWidget*>(new_label), static_cast<QWidget*>(new_),
        static_cast<QWidget*>(confirm_label),
        static_cast<QWidget*>(confirm_)}) {
    layout->addWidget(w);
  }

  if (mode == PasswordMode::kCheck) {
    for (QWidget* w :
         {static_cast<QWidget*>(new_label), static_cast<QWidget*>(new_),
          static_cast<QWidget*>(confirm_label),
          static_cast<QWidget*>(confirm_)}) {
      w->hide();
    }
    entered_->setFocus();
  } else if (password_->empty()) {
    // No old password to give.
    entered_label->hide();
    entered_->hide();
    new_->setFocus();
  } else {
    entered_->setFocus();
  }
}

PasswordDialog::~PasswordDialog() { --g_prompts_up; }

void PasswordDialog::ClearEdits() {
  entered_->clear();
  new_->clear();
  confirm_->clear();
}

void PasswordDialog::OnCommand(uint32_t command) {
  if (command != kCommandOk) {
    DeviceDialog::OnCommand(command);
    return;
  }
  if (!password_->empty()) {
    if (U(Entered(entered_)) != *password_) {
      ShowMessageId(this, ids::kPasswordError, ids::kCaptionError);
      ClearEdits();
      return;
    }
    if (mode_ == PasswordMode::kCheck) {
      done(kCommandOk);
      return;
    }
  }
  if (mode_ == PasswordMode::kCheck) return;  // nothing to check against
  if (Entered(new_) != Entered(confirm_)) {
    ShowMessageId(this, ids::kPasswordNotSame, ids::kCaptionError);
    ClearEdits();
    return;
  }
  *password_ = U(Entered(new_));
  done(kCommandOk);
}

void PasswordDialog::paintEvent(QPaintEvent* event) {
  DeviceDialog::paintEvent(event);
  QPainter painter(this);
  QPixmap background = Bitmap(kBitmapPasswordBackground);
  // Stretched over the dialog's content, under the labels and edits.
  painter.drawPixmap(content()->geometry(), background);
}

int PasswordPrompt(QWidget* parent, PasswordMode mode,
                   std::u16string* password) {
  PasswordDialog dialog(parent, mode, password);
  return dialog.Run() == kCommandOk ? 1 : 2;
}

bool PasswordPromptUp() { return g_prompts_up > 0; }

}  // namespace kit
