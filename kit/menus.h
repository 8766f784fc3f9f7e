// Menus built from the menu table: every action carries its command
// identifier (as data and as its objectName), so windows dispatch, enable
// and check entries by identifier, and tests trigger them the same way.
#ifndef TELVANE_KIT_MENUS_H_
#define TELVANE_KIT_MENUS_H_

#include <cstdint>

class QAction;
class QMenu;
class QWidget;

namespace kit {

struct MenuEntry;

// A popup menu with the children of `entry` (submenus nested), owned by
// `parent`. Every command action's triggered() is connected to nothing; the
// caller connects QMenu::triggered and reads CommandOf(action).
QMenu* BuildMenu(const MenuEntry& entry, QWidget* parent);

// The command identifier of an action built here (0 for others).
uint32_t CommandOf(const QAction* action);

// The action of `command` anywhere in `menu` and its submenus, or nullptr.
QAction* FindCommand(QMenu* menu, uint32_t command);

// Enable or check the action of `command` when the menu has it.
void EnableCommand(QMenu* menu, uint32_t command, bool enabled);
void CheckCommand(QMenu* menu, uint32_t command, bool checked);
// Hides the entry of `command` (for commands whose window is not built).
void HideCommand(QMenu* menu, uint32_t command);

}  // namespace kit

#endif  // TELVANE_KIT_MENUS_H_
