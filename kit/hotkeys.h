// The device's hardware keys and hotkeys, as the program's windows see them.
//
// A hotkey belongs to one window of the device: while it is registered,
// every press of that key (with those modifiers) anywhere on the device is
// delivered to that window as a HotkeyEvent instead of going to the window
// that has the focus. The registry is device-wide (see platform/hotkeys.h):
// a key held by another window, of this or another program, cannot be
// registered again until its owner lets it go or ends.
//
// A key press reaches the device in two ways: `devicectl press KEY [--up]`
// and the host keyboard in any window of the device (the mapping is in the
// README). A press of a registered key becomes a HotkeyEvent posted to the
// owning widget; a press of a key nobody holds goes to the focused widget
// as an ordinary key event.
//
// Thread safety: the user-interface thread only.
#ifndef TELVANE_KIT_HOTKEYS_H_
#define TELVANE_KIT_HOTKEYS_H_

#include <QEvent>
#include <QString>
#include <cstdint>
#include <span>

class QWidget;

namespace kit {

// Hotkey modifiers, as notifications carry them.
inline constexpr uint32_t kModAlt = 0x0001;
inline constexpr uint32_t kModControl = 0x0002;
inline constexpr uint32_t kModShift = 0x0004;
inline constexpr uint32_t kModWin = 0x0008;
inline constexpr uint32_t kModKeyUp = 0x1000;  // the key was released

// Key codes of the keys the program treats specially.
inline constexpr uint16_t kKeyAction = 13;
inline constexpr uint16_t kKeyBack = 27;

// Identifier of the notification a window gets for the Back key while it
// overrides it (OverrideBackKey).
inline constexpr int kBackHotkeyId = 2;

// One of the device's hardware keys: its name (string-table id), the
// modifier a capture registers it with, its key code.
struct HardwareKey {
  uint32_t name_id;
  uint32_t modifiers;
  uint16_t key_code;
};

// The device's 25 hardware keys, in table order.
std::span<const HardwareKey> HardwareKeys();

// The display text of a key code: the name of the first hardware key with
// that code (modifiers are not compared), else "0x%dX" with the code.
QString KeyDisplayText(uint16_t key_code);

// A hotkey notification, posted to the widget that registered the key.
class HotkeyEvent : public QEvent {
 public:
  HotkeyEvent(int id, uint32_t modifiers, uint16_t key_code);
  static QEvent::Type Type();

  int id() const { return id_; }
  uint32_t modifiers() const { return modifiers_; }
  uint16_t key_code() const { return key_code_; }

 private:
  int id_;
  uint32_t modifiers_;
  uint16_t key_code_;
};

// Registers `key_code` with `modifiers` as hotkey `id` of `window`. False
// when the window already has `id` or the key is held by another window
// (keys are compared by code and modifiers, kModWin and kModKeyUp left
// out). A hotkey is notified of presses; registered with kModKeyUp in
// `modifiers` it is notified of releases too. A window's hotkeys go when it
// is destroyed, a program's when it ends.
bool RegisterHotkey(QWidget* window, int id, uint32_t modifiers,
                    uint16_t key_code);
// Unregisters hotkey `id` of `window`; false when it had none.
bool UnregisterHotkey(QWidget* window, int id);

// While on, the Back key in `window` is not handled as Back: each press
// arrives as a HotkeyEvent with id kBackHotkeyId and key code kKeyBack, and
// each release as another with modifiers kModKeyUp. This goes before any
// window holding Back as a hotkey, while `window` is the active one.
void OverrideBackKey(QWidget* window, bool on);

// Drops the HotkeyEvents already queued for `window` (key repeats).
void DropQueuedHotkeys(QWidget* window);

// Installs the host-key mapping in every window of the program (see the
// README), records each activation of one of its windows as the device's
// foreground program, and makes the program reachable by presses from
// outside. Runs by itself when the application object is made; calling it
// again does nothing more.
void InstallHardwareKeys();

// Presses (or releases) a hardware key on the device, as `devicectl press`
// does: to the owner of a hotkey for it, else to this program's focused
// widget as a key event.
void PressHardwareKey(uint16_t key_code, bool up = false);

}  // namespace kit

#endif  // TELVANE_KIT_HOTKEYS_H_
