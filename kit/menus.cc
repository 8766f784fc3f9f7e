#include "kit/menus.h"

#include <QAction>
#include <QMenu>

#include "kit/menu_table.h"
#include "kit/qt_text.h"

namespace kit {
namespace {

void AddEntries(QMenu* menu, const MenuEntry& entry) {
  for (const MenuEntry& child : entry.children) {
    if (child.separator) {
      menu->addSeparator();
    } else if (!child.children.empty() || child.command == 0) {
      QMenu* submenu = menu->addMenu(Str(child.text_id));
      submenu->setObjectName(QStringLiteral("menu.") +
                             QString::number(child.text_id));
      AddEntries(submenu, child);
    } else {
      QAction* action = menu->addAction(Str(child.text_id));
      action->setData(static_cast<uint>(child.command));
      action->setObjectName(QString::number(child.command));
    }
  }
}

}  // namespace

QMenu* BuildMenu(const MenuEntry& entry, QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("menu.") + QString::number(entry.text_id));
  AddEntries(menu, entry);
  return menu;
}

uint32_t CommandOf(const QAction* action) {
  if (action == nullptr) return 0;
  bool ok = false;
  uint value = action->data().toUInt(&ok);
  return ok ? value : 0;
}

QAction* FindCommand(QMenu* menu, uint32_t command) {
  if (menu == nullptr) return nullptr;
  for (QAction* action : menu->actions()) {
    if (action->menu() != nullptr) {
      if (QAction* found = FindCommand(action->menu(), command)) return found;
    } else if (CommandOf(action) == command) {
      return action;
    }
  }
  return nullptr;
}

void EnableCommand(QMenu* menu, uint32_t command, bool enabled) {
  if (QAction* action = FindCommand(menu, command)) action->setEnabled(enabled);
}

void CheckCommand(QMenu* menu, uint32_t command, bool checked) {
  if (QAction* action = FindCommand(menu, command)) {
    action->setCheckable(true);
    action->setChecked(checked);
  }
}

void HideCommand(QMenu* menu, uint32_t command) {
  if (QAction* action = FindCommand(menu, command)) action->setVisible(false);
}

}  // namespace kit
