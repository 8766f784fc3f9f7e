#include "contacts/ui/group_dialog.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kit/menu_table.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"

namespace contacts::ui {
namespace {

// What both dialogs share: the menu bar, the first edit field, the list
// (1001, whole rows, one selected at most), the Back key and the list's Left
// and Right keys.
class GroupDialogBase : public kit::DeviceDialog {
 public:
  GroupDialogBase(QWidget* parent, int template_id, uint32_t caption_id)
      : DeviceDialog(parent, template_id),
        first_edit_(new QLineEdit(content())),
        list_(new QTreeWidget(content())) {
    title_bar()->SetCaption(kit::Str(caption_id));
    soft_keys()->SetMenuBar(kit::GroupMenuBar());
    kit::SetControlId(first_edit_, kGroupNameEdit);
    kit::SetControlId(list_, kGroupList);
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->installEventFilter(this);
  }

 protected:
  // The group's or the member's name field (1035), where Back in the list
  // goes; the dialog lays it out.
  QLineEdit* first_edit() const { return first_edit_; }
  QTreeWidget* list() const { return list_; }

  void OnBack() override {
    // The dialog's focus widget, so that it also holds while the window is
    // not the active one. Back never ends the dialog: in an edit field it
    // deletes the character before the caret, in the list it moves to the
    // name field, elsewhere it does nothing.
    QWidget* focus = focusWidget();
    if (focus == list_) {
      first_edit_->setFocus();
      return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) edit->backspace();
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == list_ && kit::PageOnLeftRight(list_, event)) return true;
    return DeviceDialog::eventFilter(watched, event);
  }

 private:
  QLineEdit* first_edit_;
  QTreeWidget* list_;
};

class GroupDialog : public GroupDialogBase {
 public:
  GroupDialog(QWidget* parent, SendGroups* groups)
      : GroupDialogBase(parent, kGroupTemplate, kit::ids::kSendGroup),
        groups_(groups) {
    auto* layout = new QVBoxLayout(content());
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    auto* name_row = new QHBoxLayout();
    first_edit()->setMaxLength(static_cast<int>(kMaxGroupNameChars));
    name_row->addWidget(first_edit(), 1);
    auto* add = new QPushButton(kit::Str(kit::ids::kAdd), content());
    kit::SetControlId(add, kGroupAddButton);
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, [this] { Add(); });
    name_row->addWidget(add);
    layout->addLayout(name_row);

    list()->setColumnCount(1);
    list()->setHeaderHidden(true);
    layout->addWidget(list(), 1);
    setTabOrder(first_edit(), add);
    setTabOrder(add, list());

    for (size_t i = 0; i < groups_->size(); ++i) {
      AppendRow(groups_->groups()[i].name, i);
    }
    kit::SelectListRow(list(), 0);
  }

  // Whether a group was created or deleted.
  bool changed() const { return changed_; }
  // The group chosen on Done (valid when the dialog ended with kGroupOk).
  size_t chosen() const { return chosen_; }

 protected:
  void OnCommand(uint32_t command) override {
    switch (command) {
      case kit::kCommandOk:  // the title bar's OK button
      case kit::cmds::kDone:
        Finish();
        return;
      case kit::kCommandCancel:
        done(kGroupCancel);
        return;
      case kit::cmds::kDelete:
        Delete();
        return;
      default:  // the menu's "Add" (kit::cmds::kGroupAdd) among them
        return;
    }
  }

 private:
  void AppendRow(const std::u16string& name, size_t group) {
    auto* item = new QTreeWidgetItem(list());
    item->setText(0, kit::Q(name));
    row_group_.push_back(group);
  }

  void Add() {
    if (!groups_->AddGroup(kit::U(first_edit()->text()))) return;
    // The group goes in front of the others, its row below theirs.
    for (size_t& group : row_group_) ++group;
    AppendRow(groups_->groups().front().name, 0);
    first_edit()->clear();
    changed_ = true;
  }

  void Delete() {
    int row = kit::SelectedListRow(list());
    if (row < 0) return;
    size_t group = row_group_[static_cast<size_t>(row)];
    if (!groups_->DeleteGroup(group)) return;
    row_group_.erase(row_group_.begin() + row);
    for (size_t& other : row_group_) {
      if (other > group) --other;
    }
    delete list()->takeTopLevelItem(row);
    // Nothing is selected afterwards, so that Done never picks a group the
    // user did not choose.
    list()->clearSelection();
    changed_ = true;
  }

  void Finish() {
    int row = kit::SelectedListRow(list());
    if (row < 0) {
      done(kGroupCancel);
      return;
    }
    chosen_ = row_group_[static_cast<size_t>(row)];
    done(kGroupOk);
  }

  SendGroups* groups_;
  // The group each list row shows (its index in groups_): rows are
  // appended while groups are added at the front.
  std::vector<size_t> row_group_;
  bool changed_ = false;
  size_t chosen_ = 0;
};

class MemberEditor : public GroupDialogBase {
 public:
  MemberEditor(QWidget* parent, SendGroups* groups, size_t group)
      : GroupDialogBase(parent, kMemberTemplate, kit::ids::kMemberSettingTitle),
        groups_(groups),
        group_(group) {
    auto* layout = new QVBoxLayout(content());
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    auto* fields = new QGridLayout();
    phone_ = new QLineEdit(content());
    kit::SetControlId(phone_, kMemberPhoneEdit);
    fields->addWidget(new QLabel(kit::Str(kit::ids::kNameColumn), content()), 0,
                      0);
    fields->addWidget(first_edit(), 0, 1);
    fields->addWidget(new QLabel(kit::Str(kit::ids::kPhone), content()), 1, 0);
    fields->addWidget(phone_, 1, 1);
    layout->addLayout(fields);

    list()->setColumnCount(2);
    list()->setHeaderLabels(
        {kit::Str(kit::ids::kNameColumn), kit::Str(kit::ids::kNumberColumn)});
    layout->addWidget(list(), 1);
    setTabOrder(first_edit(), phone_);
    setTabOrder(phone_, list());

    for (const GroupMember& member : groups_->groups()[group_].members) {
      AppendRow(member);
    }
    kit::SelectListRow(list(), 0);
  }

 protected:
  void OnCommand(uint32_t command) override {
    switch (command) {
      case kit::kCommandOk:  // the title bar's OK button
      case kit::cmds::kDone:
        done(changed_ ? kGroupOk : kGroupCancel);
        return;
      case kit::kCommandCancel:
        done(kGroupCancel);
        return;
      case kit::cmds::kGroupAdd:
        Add();
        return;
      case kit::cmds::kDelete:
        Delete();
        return;
      default:
        return;
    }
  }

 private:
  void AppendRow(const GroupMember& member) {
    auto* item = new QTreeWidgetItem(list());
    item->setText(0, kit::Q(member.name));
    item->setText(1, kit::Q(member.number));
  }

  void Add() {
    if (!groups_->AddMember(group_, kit::U(first_edit()->text()),
                            kit::U(phone_->text()))) {
      return;
    }
    AppendRow(groups_->groups()[group_].members.back());
    first_edit()->clear();
    phone_->clear();
    changed_ = true;
  }

  void Delete() {
    int row = kit::SelectedListRow(list());
    if (row < 0) return;
    if (!groups_->DeleteMember(group_, static_cast<size_t>(row))) return;
    delete list()->takeTopLevelItem(row);
    // The row that moved up is selected, so Delete can go on down the list.
    list()->clearSelection();
    kit::SelectListRow(list(), std::min(row, list()->topLevelItemCount() - 1));
    changed_ = true;
  }

  SendGroups* groups_;
  size_t group_;
  QLineEdit* phone_;
  bool changed_ = false;  // a member was added or deleted
};

}  // namespace

int ChooseGroup(QWidget* parent, SendGroups* groups, size_t* chosen,
                bool* changed) {
  GroupDialog dialog(parent, groups);
  int result = dialog.Run();
  if (changed != nullptr) *changed = dialog.changed();
  if (result != kGroupOk) return kGroupCancel;
  if (chosen != nullptr) *chosen = dialog.chosen();
  return kGroupOk;
}

int EditMembers(QWidget* parent, SendGroups* groups, size_t group) {
  if (group >= groups->size()) return kGroupCancel;
  MemberEditor dialog(parent, groups, group);
  return dialog.Run() == kGroupOk ? kGroupOk : kGroupCancel;
}

}  // namespace contacts::ui
