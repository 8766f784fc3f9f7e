// The send groups' two dialogs.
//
// GroupDialog (template 164, "Send Group", menu bar 204): a name field
// (1035), an "Add" button (1119) and a one-column list (1001) of the group
// names in list order, the first selected. The button puts a new group
// with the field's name at the front of the groups and appends its row to
// the list (the field is emptied; an empty field adds nothing). "Delete"
// removes the selected group from the groups and the list at once and
// leaves no row selected, so Done never picks a group the user did not
// tap; a new row is not selected either. "Done" (or the OK button) ends
// with kGroupOk and the selected group as the result, or with kGroupCancel
// when nothing is selected. The menu's "Add" does nothing. Back in the list
// moves the focus to the name field; in a field it erases a character.
//
// MemberEditor (template 151 titled "Member Setting", menu bar 204): a Name
// field (1035), a Phone field (1103) and a list (1001) with the columns
// "Name" and "Number" of the group's members, the first selected. The menu's
// "Add" appends a member when both fields are filled (and empties them);
// "Delete" removes the selected member and selects the one below it; "Done"
// ends with kGroupOk when anything was added or deleted, else kGroupCancel.
// Back in the list moves the focus to the Name field. Back never closes
// either dialog.
//
// Both edit the groups in memory only; the caller saves them. UI thread
// only.
#ifndef TELVANE_CONTACTS_UI_GROUP_DIALOG_H_
#define TELVANE_CONTACTS_UI_GROUP_DIALOG_H_

#include <cstddef>
#include <optional>

#include "contacts/send_groups.h"
#include "kit/device_window.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace contacts::ui {

inline constexpr int kGroupTemplate = 164;
inline constexpr int kMemberTemplate = 151;
inline constexpr int kGroupNameEdit = 1035;  // also the member's Name
inline constexpr int kGroupAddButton = 1119;
inline constexpr int kGroupList = 1001;
inline constexpr int kMemberPhoneEdit = 1103;

inline constexpr int kGroupOk = 1;
inline constexpr int kGroupCancel = 2;

// Runs the group dialog over `groups`. Returns kGroupOk with the chosen
// group's index in `groups` (as the list is when the dialog ends) in
// `*chosen`, or kGroupCancel. `*changed` (optional) tells whether a group
// was created or deleted, so the caller rebuilds what shows the groups.
int ChooseGroup(QWidget* parent, SendGroups* groups, size_t* chosen,
                bool* changed);

// Runs the member editor on group `group` of `groups`. kGroupOk when
// members were added or deleted, else kGroupCancel (also when there is no
// such group).
int EditMembers(QWidget* parent, SendGroups* groups, size_t group);

}  // namespace contacts::ui

#endif  // TELVANE_CONTACTS_UI_GROUP_DIALOG_H_
