// The Black List editor ("Blacklist", menu bar kit::BlackListMenuBar()).
//
// Controls: a Name field (1035, text input), a Phone field (1103, numeric
// input) and a list (1001, whole rows) with the columns "Name" and "Number"
// showing the Black List's entries in order, the first selected. The row's
// tap-and-hold menu ("Black List") holds "Delete".
//
// Commands:
//   "Add"       appends (name, phone) to the Black List and to the list and
//               empties both fields, when both are filled; else nothing.
//   "Select From Contact..."
//               runs the contact picker in single choice; when it is
//               confirmed, a non-empty number goes into the Phone field and
//               a non-empty name into the Name field.
//   "Delete"    removes the selected entry and selects the one below it.
//   "Done"      (also the title bar's OK button) first adds the fields as
//               "Add" does when both are filled, then ends with kBlackListDone.
//   Cancel      ends with kBlackListCancelled, as does the Back key in the
//               list; in a field the Back key erases a character.
//
// Every change acts on the Black List at once, also when the dialog is then
// cancelled. The dialog never writes the filter file: the caller saves it
// after RunBlackList, whatever the result.
//
// UI thread only. The filter set and the picker's store and settings are
// not owned and must outlive the dialog.
#ifndef TELVANE_FIREWALL_UI_BLACK_LIST_H_
#define TELVANE_FIREWALL_UI_BLACK_LIST_H_

#include <cstdint>

#include "contacts/ui/contact_picker.h"
#include "firewall/filter_set.h"
#include "kit/device_window.h"

class QLineEdit;
class QMenu;
class QPoint;
class QTreeWidget;

namespace firewall::ui {

// The dialog has no template number of its own; this one names it
// ("dialog.47101") beside the Filter List's 47100.
inline constexpr int kBlackListTemplate = 47101;

// Control identifiers.
inline constexpr int kBlackListNameEdit = 1035;
inline constexpr int kBlackListPhoneEdit = 1103;
inline constexpr int kBlackListList = 1001;

// What the dialog ends with.
inline constexpr int kBlackListDone = 1;
inline constexpr int kBlackListCancelled = 2;

class BlackListDialog : public kit::DeviceDialog {
  Q_OBJECT

 public:
  BlackListDialog(QWidget* parent, FilterSet* set,
                  const contacts::ui::PickerEnvironment& picker);

  QLineEdit* name_field() const { return name_; }
  QLineEdit* phone_field() const { return phone_; }
  QTreeWidget* list() const { return list_; }
  // The rows' tap-and-hold menu.
  QMenu* row_menu() const { return row_menu_; }

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AppendRow(const BlackListEntry& entry);
  // Adds the fields as an entry when both are filled; whether it did.
  bool Add();
  void SelectFromContact();
  void Delete();
  void OpenRowMenu(const QPoint& point);

  FilterSet* set_;
  contacts::ui::PickerEnvironment picker_;
  QLineEdit* name_;
  QLineEdit* phone_;
  QTreeWidget* list_;
  QMenu* row_menu_;
};

// Runs the Black List editor on `set`'s Black List: kBlackListDone or
// kBlackListCancelled. The caller saves the filter file in either case.
int RunBlackList(QWidget* parent, FilterSet* set,
                 const contacts::ui::PickerEnvironment& picker);

}  // namespace firewall::ui

#endif  // TELVANE_FIREWALL_UI_BLACK_LIST_H_
