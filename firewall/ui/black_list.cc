#include "firewall/ui/black_list.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "kit/menu_table.h"
#include "kit/menus.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace firewall::ui {

BlackListDialog::BlackListDialog(QWidget* parent, FilterSet* set,
                                 const contacts::ui::PickerEnvironment& picker)
    : DeviceDialog(parent, kBlackListTemplate),
      set_(set),
      picker_(picker),
      name_(new QLineEdit(content())),
      phone_(new QLineEdit(content())),
      list_(new QTreeWidget(content())),
      row_menu_(nullptr) {
  title_bar()->SetCaption(kit::Str(kit::ids::kBlacklistTitle));
  soft_keys()->SetMenuBar(kit::BlackListMenuBar());

  kit::SetControlId(name_, kBlackListNameEdit);
  kit::SetControlId(phone_, kBlackListPhoneEdit);
  kit::SetControlId(list_, kBlackListList);
  name_->setInputMethodHints(Qt::ImhNone);
  phone_->setInputMethodHints(Qt::ImhPreferNumbers);

  auto* layout = new QVBoxLayout(content());
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  auto* fields = new QGridLayout();
  fields->addWidget(new QLabel(kit::Str(kit::ids::kNameColumn), content()), 0,
                    0);
  fields->addWidget(name_, 0, 1);
  fields->addWidget(new QLabel(kit::Str(kit::ids::kPhone), content()), 1, 0);
  fields->addWidget(phone_, 1, 1);
  layout->addLayout(fields);

  list_->setColumnCount(2);
  list_->setHeaderLabels(
      {kit::Str(kit::ids::kNameColumn), kit::Str(kit::ids::kNumberColumn)});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->installEventFilter(this);
  layout->addWidget(list_, 1);
  setTabOrder(name_, phone_);
  setTabOrder(phone_, list_);

  if (const kit::MenuEntry* popup =
          kit::FindPopup(kit::ContextMenus(), kit::ids::kBlackListMenu)) {
    row_menu_ = kit::BuildMenu(*popup, this);
    connect(row_menu_, &QMenu::triggered, this, [this](QAction* action) {
      if (uint32_t command = kit::CommandOf(action)) OnCommand(command);
    });
  }
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& point) { OpenRowMenu(point); });

  for (const BlackListEntry& entry : set_->black_list) AppendRow(entry);
  kit::SelectListRow(list_, 0);
}

void BlackListDialog::OnCommand(uint32_t command) {
  switch (command) {
    case kit::kCommandOk:  // the title bar's OK button
    case kit::cmds::kDone:
      Add();
      done(kBlackListDone);
      return;
    case kit::kCommandCancel:
    case kit::cmds::kCancel:
      done(kBlackListCancelled);
      return;
    case kit::cmds::kAdd:
      Add();
      return;
    case kit::cmds::kDelete:
      Delete();
      return;
    case kit::cmds::kSelectFromContact:
      SelectFromContact();
      return;
    default:
      return;
  }
}

void BlackListDialog::OnBack() {
  // The dialog's focus widget, so that it also holds while the window is not
  // the active one: in a field Back erases the character before the caret,
  // anywhere else it closes the dialog.
  if (auto* edit = qobject_cast<QLineEdit*>(focusWidget())) {
    edit->backspace();
    return;
  }
  done(kBlackListCancelled);
}

bool BlackListDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && kit::PageOnLeftRight(list_, event)) return true;
  return DeviceDialog::eventFilter(watched, event);
}

void BlackListDialog::AppendRow(const BlackListEntry& entry) {
  auto* item = new QTreeWidgetItem(list_);
  item->setText(0, kit::Q(entry.name));
  item->setText(1, kit::Q(entry.phone));
}

bool BlackListDialog::Add() {
  if (name_->text().isEmpty() || phone_->text().isEmpty()) return false;
  set_->black_list.push_back(
      BlackListEntry{kit::U(name_->text()), kit::U(phone_->text())});
  AppendRow(set_->black_list.back());
  name_->clear();
  phone_->clear();
  return true;
}

void BlackListDialog::SelectFromContact() {
  if (picker_.store == nullptr) return;
  std::u16string number;
  std::u16string name;
  if (contacts::ui::PickContact(this, picker_, &number, &name) !=
      contacts::ui::kPickerConfirmed) {
    return;
  }
  if (!number.empty()) phone_->setText(kit::Q(number));
  if (!name.empty()) name_->setText(kit::Q(name));
}

void BlackListDialog::Delete() {
  int row = kit::SelectedListRow(list_);
  if (row < 0 || static_cast<size_t>(row) >= set_->black_list.size()) return;
  set_->black_list.erase(set_->black_list.begin() + row);
  delete list_->takeTopLevelItem(row);
  // The row that moved up is selected, so Delete can go on down the list.
  list_->clearSelection();
  kit::SelectListRow(list_, std::min(row, list_->topLevelItemCount() - 1));
}

void BlackListDialog::OpenRowMenu(const QPoint& point) {
  QTreeWidgetItem* item = list_->itemAt(point);
  if (item == nullptr || row_menu_ == nullptr) return;
  list_->setCurrentItem(item);
  item->setSelected(true);
  row_menu_->popup(list_->viewport()->mapToGlobal(point));
}

int RunBlackList(QWidget* parent, FilterSet* set,
                 const contacts::ui::PickerEnvironment& picker) {
  BlackListDialog dialog(parent, set, picker);
  return dialog.Run() == kBlackListDone ? kBlackListDone : kBlackListCancelled;
}

}  // namespace firewall::ui
