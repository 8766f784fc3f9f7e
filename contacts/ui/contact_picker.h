// The contact picker (template 122, "Contacts"): the store's contacts, and
// in several-choice mode its send groups, in one list from which the user
// picks numbers.
//
// Modes (contacts/picker_list.h): kPickerSingle (menu bar 202) hands back
// the selected contact's chosen number and name; kPickerMultiple (menu bar
// 133) lists the send groups first and hands back every ticked item as
// ;"NAME"<NUMBER> entries; any other mode behaves like kPickerMultiple
// without groups and without the "Send Group" entries of the menu.
//
// Rows show the tick image (all modes but single choice), the photo (with
// the setting "ShowPhoto": rows 30 pixels high, the photo scaled into 26
// pixels, a stock picture for contacts without one and another for groups)
// and the name; rows are 20 pixels high without photos. The photos are
// loaded by a PhotoLoader per fill of the list.
//
// Keys in the list: letters and "#" find the next name under that letter;
// on keypad devices the digits 2-9 cycle through their letters, on touch-
// screen devices a header of nine tabs does; "1" and "*" move the selected
// contact's chosen number on; Left and Right page; Enter ticks (or, in
// single-choice mode, confirms). A tap within 21 pixels of a row's left
// edge ticks it; a double tap on a group edits its members.
//
// Two seconds after an item becomes selected, while the picker is the
// active window, an information window a third of the screen high shows
// the item's details for three seconds in the half of the screen away from
// the item.
//
// The picker uses the store, its groups and the settings it is given (not
// owned; they must outlive it). UI thread only.
#ifndef TELVANE_CONTACTS_UI_CONTACT_PICKER_H_
#define TELVANE_CONTACTS_UI_CONTACT_PICKER_H_

#include <QImage>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/picker_list.h"
#include "kit/device_window.h"
#include "platform/status.h"

class QLabel;
class QListView;
class QMenu;
class QAction;
class QActionGroup;

namespace settings {
class SettingsStore;
}

namespace contacts::ui {

class PhotoLoader;
class PickerModel;

inline constexpr int kPickerTemplate = 122;
inline constexpr int kPickerListId = 1001;

// What the picker ends with.
inline constexpr int kPickerConfirmed = 40090;
inline constexpr int kPickerCancelled = 40016;

// Row heights and the tap zone of the tick.
inline constexpr int kRowHeight = 20;
inline constexpr int kPhotoRowHeight = 30;
inline constexpr int kTickZone = 21;

// The information window's timing.
inline constexpr std::chrono::milliseconds kInfoDelay{2000};
inline constexpr std::chrono::milliseconds kInfoShowTime{3000};

struct PickerEnvironment {
  ContactStore* store = nullptr;
  settings::SettingsStore* settings = nullptr;
  // Callers read platform::GetDeviceSettingInt("touch_screen", 0).
  bool touch_screen = false;
};

class ContactPicker : public kit::DeviceDialog {
  Q_OBJECT

 public:
  ContactPicker(QWidget* parent, const PickerEnvironment& environment,
                int mode);
  ~ContactPicker() override;

  int mode() const { return mode_; }
  const PickerList& list() const { return *list_; }
  QListView* list_view() const { return view_; }
  // The touch-screen tab row (its buttons "tab.0" to "tab.8"); nullptr on
  // keypad devices.
  QWidget* tab_header() const { return tabs_; }
  // The information window (a frameless top-level window).
  QLabel* info_window() const { return info_; }
  PhotoLoader* photo_loader() const { return loader_; }

  // The picture shown for item `item`: its loaded photo, else null.
  QImage photo(size_t item) const;
  int row_height() const;

  // Selects item `item` and scrolls it into view; false when there is none.
  bool SelectItem(size_t item);
  // Shows the information window for the selected item at once.
  void ShowInfoNow();
  // Handles events until the photo loader has delivered everything or
  // `limit` passed; whether it finished.
  bool WaitForPhotos(std::chrono::milliseconds limit);

  // After kPickerConfirmed: the several-choice text, or the single choice.
  const std::u16string& output() const { return output_; }
  const std::optional<SingleChoice>& choice() const { return choice_; }

  // Stops the photo loader and the information window, then ends.
  void done(int result) override;

 protected:
  void OnCommand(uint32_t command) override;
  void OnBack() override;
  void OnMenuPopup(QMenu* menu) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Fills the list from a fresh snapshot of the store (at opening,
  // "Refresh" and a chosen category).
  void Fill(std::optional<std::u16string> category);
  // Fills the list again after the groups changed, keeping the contacts'
  // ticks, chosen numbers and the selected contact.
  void RebuildGroups();
  void BeginFill();
  void EndFill();
  void RebuildCategoryMenu();
  void StartPhotos();
  void SyncSelection();
  void RowChanged(size_t item);
  void OnCurrentRowChanged(int row);
  void OnInfoDelay();

  bool HandleKey(int key, const QString& text);
  void Confirm();
  void ToggleTick(size_t item);
  void MoveChosenNumber();
  void SetPhotoCommand();
  void DeletePhotoCommand();
  void ShowPhotoCommand();
  void AddToGroupCommand();
  void EditGroup(size_t item);
  void DeleteGroupCommand();
  void SaveGroups();
  void ReportSaveFailure(std::u16string_view what,
                         const platform::Status& status);

  const PickerItem* SelectedItem() const;
  bool show_photo() const;

  PickerEnvironment environment_;
  int mode_;
  std::shared_ptr<const ContactData> snapshot_;
  std::unique_ptr<PickerList> list_;
  std::vector<QImage> photos_;  // per item; null: the stock picture

  std::u16string output_;
  std::optional<SingleChoice> choice_;

  QListView* view_;
  PickerModel* model_;
  QWidget* tabs_ = nullptr;
  QLabel* info_;
  QTimer info_delay_;
  QTimer info_hide_;
  PhotoLoader* loader_;
  QMenu* category_menu_ = nullptr;
  QActionGroup* category_group_ = nullptr;
  std::vector<QAction*> category_actions_;
};

// Runs the picker in `mode`. On kPickerConfirmed, `*output` is the several-
// choice text (the chosen number in single-choice mode). Otherwise
// kPickerCancelled and `*output` is left alone.
int RunContactPicker(QWidget* parent, const PickerEnvironment& environment,
                     int mode, std::u16string* output);

// Runs the picker in single-choice mode: kPickerConfirmed with the chosen
// number and the contact's name, or kPickerCancelled.
int PickContact(QWidget* parent, const PickerEnvironment& environment,
                std::u16string* number, std::u16string* name);

}  // namespace contacts::ui

#endif  // TELVANE_CONTACTS_UI_CONTACT_PICKER_H_
