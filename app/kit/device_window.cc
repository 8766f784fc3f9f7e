#include "app/kit/device_window.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "app/kit/screen.h"

namespace kit {

void SetControlId(QWidget* widget, int id) {
  widget->setObjectName(QString::number(id));
}

// ------------------------------------------------------------ SoftKeyBar

SoftKeyBar::SoftKeyBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("softkeys"));
  setAutoFillBackground(true);
  QPalette bar = palette();
  bar.setColor(QPalette::Window, QColor(0x31, 0x4a, 0x7b));
  bar.setColor(QPalette::ButtonText, Qt::white);
  setPalette(bar);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  left_ = new QPushButton(this);
  left_->setObjectName(QStringLiteral("softkey.left"));
  right_ = new QPushButton(this);
  right_->setObjectName(QStringLiteral("softkey.right"));
  for (QPushButton* key : {left_, right_}) {
    key->setFlat(true);
    key->setFocusPolicy(Qt::NoFocus);
    key->setMinimumWidth(60);
    key->hide();
  }
  layout->addWidget(left_);
  layout->addStretch(1);
  layout->addWidget(right_);
  connect(left_, &QPushButton::clicked, this, [this] {
    if (left_command_ != 0) emit Command(left_command_);
  });
  connect(right_, &QPushButton::clicked, this, [this] {
    if (right_command_ != 0) {
      emit Command(right_command_);
    } else {
      OpenMenu();
    }
  });
}

void SoftKeyBar::SetLeftKey(const QString& text, uint32_t command) {
  left_->setText(text);
  left_command_ = command;
  left_->setVisible(!text.isEmpty());
}

void SoftKeyBar::SetRightKey(const QString& text, uint32_t command) {
  SetMenu(nullptr, text);
  right_command_ = command;
  right_->setVisible(!text.isEmpty());
}

void SoftKeyBar::SetMenu(QMenu* menu, const QString& text) {
  if (menu_ != nullptr) disconnect(menu_, nullptr, this, nullptr);
  menu_ = menu;
  right_command_ = 0;
  right_->setText(text);
  right_->setVisible(menu != nullptr);
  if (menu_ == nullptr) return;
  connect(menu_, &QMenu::triggered, this, [this](QAction* action) {
    bool ok = false;
    uint command = action->data().toUInt(&ok);
    if (ok && command != 0) emit Command(command);
  });
}

void SoftKeyBar::OpenMenu() {
  if (menu_ == nullptr) return;
  emit MenuAboutToShow(menu_);
  QSize size = menu_->sizeHint();
  QPoint corner = right_->mapToGlobal(QPoint(right_->width(), 0));
  menu_->popup(QPoint(corner.x() - size.width(), corner.y() - size.height()));
}

// ------------------------------------------------------------ TitleBar

TitleBar::TitleBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("titlebar"));
  setAutoFillBackground(true);
  QPalette bar = palette();
  bar.setColor(QPalette::Window, QColor(0x00, 0x33, 0x99));
  bar.setColor(QPalette::WindowText, Qt::white);
  bar.setColor(QPalette::ButtonText, Qt::white);
  setPalette(bar);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 1, 2, 1);
  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("caption"));
  QFont bold = caption_->font();
  bold.setBold(true);
  caption_->setFont(bold);
  ok_ = new QPushButton(QStringLiteral("ok"), this);
  ok_->setObjectName(QStringLiteral("ok"));
  ok_->setFlat(true);
  ok_->setFocusPolicy(Qt::NoFocus);
  ok_->setFixedWidth(28);
  layout->addWidget(caption_, 1);
  layout->addWidget(ok_);
  connect(ok_, &QPushButton::clicked, this,
          [this] { emit Command(kCommandOk); });
}

void TitleBar::SetCaption(const QString& caption) {
  caption_->setText(caption);
}

QString TitleBar::caption() const { return caption_->text(); }

void TitleBar::ShowOk(bool show) { ok_->setVisible(show); }

// ------------------------------------------------------------ DeviceDialog

DeviceDialog::DeviceDialog(QWidget* parent, int template_id)
    : QDialog(parent), template_id_(template_id) {
  setObjectName(QStringLiteral("dialog.") + QString::number(template_id));
  setFixedSize(DeviceScreenSize());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  title_ = new TitleBar(this);
  content_ = new QWidget(this);
  content_->setObjectName(QStringLiteral("content"));
  soft_keys_ = new SoftKeyBar(this);
  layout->addWidget(title_);
  layout->addWidget(content_, 1);
  layout->addWidget(soft_keys_);
  connect(title_, &TitleBar::Command, this,
          [this](uint32_t c) { OnCommand(c); });
  connect(soft_keys_, &SoftKeyBar::Command, this,
          [this](uint32_t c) { OnCommand(c); });
  connect(soft_keys_, &SoftKeyBar::MenuAboutToShow, this,
          [this](QMenu* menu) { OnMenuPopup(menu); });
}

namespace {

DialogScript& Script() {
  static DialogScript* script = new DialogScript();
  return *script;
}

}  // namespace

DialogScript SetDialogScript(DialogScript script) {
  return std::exchange(Script(), std::move(script));
}

int DeviceDialog::Run() {
  if (Script()) {
    // The script runs inside the dialog's own event loop, like a user.
    QTimer::singleShot(0, this, [this] {
      DialogScript script = Script();
      script(this);
      if (isVisible()) done(kCommandCancel);
    });
  }
  return exec();
}

void DeviceDialog::OnCommand(uint32_t command) {
  if (command == kCommandOk) done(kCommandOk);
  if (command == kCommandCancel) done(kCommandCancel);
}

void DeviceDialog::OnBack() { done(kCommandCancel); }

void DeviceDialog::OnMenuPopup(QMenu*) {}

void DeviceDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Back) {
    OnBack();
    return;
  }
  QDialog::keyPressEvent(event);
}

void DeviceDialog::reject() { OnBack(); }

}  // namespace kit
