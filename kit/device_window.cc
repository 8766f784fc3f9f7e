#include "kit/device_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/qt_text.h"
#include "kit/screen.h"

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
  for (int i = 0; i < 2; ++i) {
    QPushButton* key = new QPushButton(this);
    key->setObjectName(i == 0 ? QStringLiteral("softkey.left")
                              : QStringLiteral("softkey.right"));
    key->setFlat(true);
    key->setFocusPolicy(Qt::NoFocus);
    key->setMinimumWidth(60);
    key->hide();
    keys_[i].button = key;
    connect(key, &QPushButton::clicked, this, [this, i] {
      if (keys_[i].menu != nullptr) {
        Open(i);
      } else if (keys_[i].command != 0) {
        emit Command(keys_[i].command);
      }
    });
  }
  layout->addWidget(keys_[0].button);
  layout->addStretch(1);
  layout->addWidget(keys_[1].button);
}

void SoftKeyBar::SetMenuBar(const MenuEntry& bar) {
  for (int i = 0; i < 2; ++i) {
    if (static_cast<size_t>(i) >= bar.children.size()) {
      SetKeyCommand(i, QString(), 0);
      continue;
    }
    const MenuEntry& key = bar.children[static_cast<size_t>(i)];
    if (key.command == 0 && !key.separator) {
      SetKeyMenu(i, BuildMenu(key, this), Str(key.text_id));
    } else {
      SetKeyCommand(i, Str(key.text_id), key.command);
    }
  }
}

void SoftKeyBar::SetLeftKey(const QString& text, uint32_t command) {
  SetKeyCommand(0, text, command);
}

void SoftKeyBar::SetRightKey(const QString& text, uint32_t command) {
  SetKeyCommand(1, text, command);
}

void SoftKeyBar::SetLeftMenu(QMenu* menu, const QString& text) {
  SetKeyMenu(0, menu, text);
}

void SoftKeyBar::SetMenu(QMenu* menu, const QString& text) {
  SetKeyMenu(1, menu, text);
}

void SoftKeyBar::SetKeyCommand(int key, const QString& text, uint32_t command) {
  SetKeyMenu(key, nullptr, text);
  keys_[key].command = command;
  keys_[key].button->setVisible(!text.isEmpty());
}

void SoftKeyBar::SetKeyMenu(int key, QMenu* menu, const QString& text) {
  Key& k = keys_[key];
  if (k.menu != nullptr) disconnect(k.menu, nullptr, this, nullptr);
  k.menu = menu;
  k.command = 0;
  k.button->setText(text);
  k.button->setVisible(menu != nullptr);
  if (menu == nullptr) return;
  connect(menu, &QMenu::triggered, this, [this](QAction* action) {
    uint32_t command = CommandOf(action);
    if (command != 0) emit Command(command);
  });
}

void SoftKeyBar::Open(int key) {
  QMenu* menu = keys_[key].menu;
  if (menu == nullptr) return;
  emit MenuAboutToShow(menu);
  QPushButton* button = keys_[key].button;
  // Above the key, aligned with the key's outer edge, inside the device
  // screen. A menu taller than the room above the key still ends on the key
  // and reaches above the device screen (the display permitting).
  QSize size = menu->sizeHint();
  QPoint top = button->mapToGlobal(QPoint(key == 0 ? 0 : button->width(), 0));
  int x = key == 0 ? top.x() : top.x() - size.width();
  QRect wanted(QPoint(x, top.y() - size.height()), size);
  QPoint at = KeepInDeviceScreen(wanted).topLeft();
  if (size.height() > top.y() - DeviceScreenRect().top()) {
    at.setY(top.y() - size.height());
  }
  menu->popup(at);
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
  // Modal to the windows below it only. Application-wide modality makes Qt
  // hand the input focus back to the dialog whenever another window of the
  // program gets it; a window manager that keeps the main window focused
  // (as a phone's does) then trades focus with Qt for ever, and the program
  // never gets to paint or to handle anything else.
  setWindowModality(Qt::WindowModal);
  // A window of its own takes the device screen, wherever it sits on the
  // display (asking for its place keeps Qt from moving it when shown). A
  // dialog over a window is left to Qt, which centres it on that window: one
  // mapped exactly over its same-sized parent is never drawn on an X
  // display.
  setFixedSize(DeviceScreenSize());
  if (parent == nullptr) move(DeviceScreenRect().topLeft());
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

namespace {
bool dialogs_cancelled = false;
int modal_depth = 0;
}  // namespace

ModalRun::ModalRun() { ++modal_depth; }
ModalRun::~ModalRun() { --modal_depth; }
int ModalDepth() { return modal_depth; }

void CancelAllDialogs() {
  dialogs_cancelled = true;
  while (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
    if (QApplication::activePopupWidget() == popup) break;
  }
  // Innermost first is not needed: each loop ends when its dialog is done.
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog == nullptr || !dialog->isVisible() || !dialog->isModal()) {
      continue;
    }
    dialog->done(qobject_cast<QMessageBox*>(dialog) != nullptr
                     ? static_cast<int>(QMessageBox::Cancel)
                     : kCommandCancel);
  }
}

bool DialogsCancelled() { return dialogs_cancelled; }

void ResetDialogCancel() { dialogs_cancelled = false; }

int DeviceDialog::Run() {
  if (dialogs_cancelled) return kCommandCancel;
  ModalRun counted;
  if (Script()) {
    // The script runs inside the dialog's own event loop, like a user.
    QTimer::singleShot(0, this, [this] {
      DialogScript script = Script();
      script(this);
      if (isVisible()) done(kCommandCancel);
    });
  }
  const int result = exec();
  // The window below takes the front again, as the phone's window manager
  // gives it back (the offscreen platform does not).
  QWidget* below = parentWidget();
  if (below != nullptr && below->window()->isVisible()) {
    below->window()->activateWindow();
  }
  return result;
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

void SelectListRow(QTreeWidget* list, int row) {
  QTreeWidgetItem* item = list->topLevelItem(row);
  if (item == nullptr) return;
  list->setCurrentItem(item);
  item->setSelected(true);
}

int SelectedListRow(const QTreeWidget* list) {
  QTreeWidgetItem* item = list->currentItem();
  if (item == nullptr || !item->isSelected()) return -1;
  return list->indexOfTopLevelItem(item);
}

bool PageOnLeftRight(QWidget* list, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (key != Qt::Key_Left && key != Qt::Key_Right) return false;
  QKeyEvent page(QEvent::KeyPress,
                 key == Qt::Key_Left ? Qt::Key_PageUp : Qt::Key_PageDown,
                 Qt::NoModifier);
  QApplication::sendEvent(list, &page);
  return true;
}

}  // namespace kit
