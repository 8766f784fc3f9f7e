// The Hotkey dialog (template 179, "Hotkey", menu bar 201 with "OK" and
// "Reset"): binds the device's hardware keys to eighteen commands of the
// main window.
//
// The list (control 1001, whole rows) shows one row per bindable command,
// "Function" and "Hotkey": the command's name and the key bound to it, or
// "(none)". The first column takes two thirds and the second one third of
// the width left beside the scroll bar. Each row keeps its own binding
// (modifier byte, key code, command); the key code 0xFFFF means unbound.
// Opening, each binding of the store is given to the first row with its
// command, in list order (so a later one wins).
//
// Capture: the Action key on the list registers every hardware key as a
// hotkey of the dialog (a key another window holds is skipped) and the
// status line (1063) says "Press Key or Press Back to cancel". The next
// hardware key binds the selected row and ends the capture; any other key
// pressed on the list ends it too. A key combination is bound to at most
// one row: a row holding the same one loses it. The Back key ends a capture,
// and otherwise unbinds the selected row (it never closes the dialog); so
// does "Unmap" on the row's tap-and-hold menu (114).
//
// "Reset" empties the store's list at once and unbinds every row. "OK" (the
// soft key or the title bar's) empties the store's list, refills it with the
// bound rows in row order and ends the dialog with 1. The dialog never saves
// the store: the caller does, however it ended. UI thread only.
#ifndef TELVANE_SETTINGS_UI_HOTKEY_DIALOG_H_
#define TELVANE_SETTINGS_UI_HOTKEY_DIALOG_H_

#include <cstdint>
#include <span>
#include <vector>

#include "kit/device_window.h"
#include "settings/settings_store.h"

class QLabel;
class QMenu;
class QPoint;
class QTreeWidget;

namespace kit {
class HotkeyEvent;
}

namespace settings::ui {

inline constexpr int kHotkeyTemplate = 179;

// Control identifiers.
inline constexpr int kHotkeyList = 1001;
inline constexpr int kHotkeyStatus = 1063;

// The key code of an unbound row.
inline constexpr uint16_t kUnboundKey = 0xFFFF;

// The modifier byte of a binding ("KeyVirt").
inline constexpr uint8_t kKeyVirtVirtual = 1;  // always set
inline constexpr uint8_t kKeyVirtShift = 4;
inline constexpr uint8_t kKeyVirtControl = 8;
inline constexpr uint8_t kKeyVirtAlt = 16;

// The commands a key can be bound to, in row order; each row is labelled
// with the string of its command's identifier.
std::span<const uint16_t> BindableCommands();

// The modifier byte of a key pressed with the hotkey `modifiers`
// (kit::kModAlt...), and back: the hotkey modifiers a binding registers.
uint8_t KeyVirtOf(uint32_t modifiers);
uint32_t HotkeyModifiersOf(uint8_t key_virt);

class HotkeyDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog.
  HotkeyDialog(QWidget* parent, settings::SettingsStore* settings);
  ~HotkeyDialog() override;

  QTreeWidget* list() const { return list_; }
  QLabel* status_line() const { return status_; }
  // The rows' tap-and-hold menu ("Key" with "Unmap").
  QMenu* row_menu() const { return row_menu_; }
  bool capturing() const { return capturing_; }
  // The binding of `row` (key code kUnboundKey when unbound).
  const settings::HotkeyBinding& row_binding(int row) const {
    return rows_[static_cast<size_t>(row)];
  }

  // The Action key on the list: registers the hardware keys and waits.
  void StartCapture();
  // Unregisters them and shows the help line again.
  void EndCapture();

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnHotkey(const kit::HotkeyEvent& hotkey);
  void BackPressed();
  // Binds the selected row to the key (and takes it from any other row).
  void BindSelected(uint32_t modifiers, uint16_t key_code);
  void SetRow(int row, const settings::HotkeyBinding& binding);
  void Unbind(int row);
  void Reset();
  void Accept();
  void ResizeColumns();
  void OpenRowMenu(const QPoint& point);

  settings::SettingsStore* settings_;
  QTreeWidget* list_;
  QLabel* status_;
  QMenu* row_menu_ = nullptr;
  // One binding per row of BindableCommands().
  std::vector<settings::HotkeyBinding> rows_;
  bool capturing_ = false;
  // The hotkey identifiers the capture holds.
  std::vector<int> captured_;
};

// "Hotkey...": runs the dialog modally over `parent`; 1 after "OK", else 2.
// The caller saves the settings either way.
int RunHotkeyDialog(QWidget* parent, settings::SettingsStore* settings);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_HOTKEY_DIALOG_H_
