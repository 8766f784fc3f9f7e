// The main window's hotkeys: the bindings of the settings registered while
// the window is active, their notifications run as menu commands, the Back
// key, and the Hotkey dialog.
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QMetaObject>
#include <utility>

#include "app/main_window.h"
#include "kit/hotkeys.h"
#include "settings/ui/hotkey_dialog.h"

namespace app {

void MainWindow::SetUpHotkeys() {
  kit::OverrideBackKey(this, true);
  for (QMenu* menu : {system_menu(), node_menu(), context_menu_}) {
    if (menu == nullptr) continue;
    connect(menu, &QMenu::aboutToShow, this, [this] { UnregisterHotkeys(); });
    connect(menu, &QMenu::aboutToHide, this, [this] {
      if (isActiveWindow()) RegisterHotkeys();
    });
  }
}

void MainWindow::RegisterHotkeys() {
  if (hotkeys_registered_) return;
  hotkeys_registered_ = true;
  registered_hotkeys_.clear();
  for (const settings::HotkeyBinding& binding : settings_.hotkeys()) {
    // A key another window holds (or that an earlier binding took) is not
    // available; nothing is said.
    if (kit::RegisterHotkey(this, binding.key_code,
                            settings::ui::HotkeyModifiersOf(binding.modifiers),
                            binding.key_code)) {
      registered_hotkeys_.push_back(binding.key_code);
    }
  }
}

void MainWindow::UnregisterHotkeys() {
  if (!hotkeys_registered_) return;
  hotkeys_registered_ = false;
  for (int id : registered_hotkeys_) kit::UnregisterHotkey(this, id);
  registered_hotkeys_.clear();
}

bool MainWindow::InFront() const {
  return kit::ModalDepth() == 0 && QApplication::activePopupWidget() == nullptr;
}

void MainWindow::DispatchHotkey(uint32_t modifiers, uint16_t key_code) {
  if (key_code == kit::kKeyBack) {
    if ((modifiers & kit::kModKeyUp) != 0) {
      // Only a release whose press reached this window in front hides it:
      // the Back that closed a menu or a dialog ends there.
      if (std::exchange(back_pressed_, false)) HideWindow();
      return;
    }
    back_pressed_ = InFront();
  }
  // Only the Back key is notified on release.
  if ((modifiers & kit::kModKeyUp) != 0) return;
  kit::DropQueuedHotkeys(this);
  if (!InFront()) return;
  for (const settings::HotkeyBinding& binding : settings_.hotkeys()) {
    if (binding.key_code != key_code) continue;
    const uint32_t command = binding.command;
    QMetaObject::invokeMethod(
        this, [this, command] { OnWindowMessage(kMessageCommand, command, 0); },
        Qt::QueuedConnection);
    return;
  }
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == kit::HotkeyEvent::Type()) {
    const auto* hotkey = static_cast<const kit::HotkeyEvent*>(event);
    DispatchHotkey(hotkey->modifiers(), hotkey->key_code());
    return true;
  }
  if (event->type() == QEvent::WindowActivate) {
    if (initialized_ && !shut_down_) RegisterHotkeys();
  } else if (event->type() == QEvent::WindowDeactivate) {
    UnregisterHotkeys();
  }
  return DeviceDialog::event(event);
}

void MainWindow::HotkeyCommand() {
  settings::ui::RunHotkeyDialog(this, &settings_);
  ReportSave(settings_.Save(), kSettingsName);
  // The bindings may have changed under registered hotkeys.
  if (hotkeys_registered_) {
    UnregisterHotkeys();
    RegisterHotkeys();
  }
}

}  // namespace app
