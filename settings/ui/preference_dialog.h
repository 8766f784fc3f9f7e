// The Preference dialog (template 137): the program's general options, the
// rule client and Today item registrations and the start-up shortcut.
//
// It reads the options from a SettingsStore when it opens and writes them
// back only on "Done"; it never saves the store (the caller does, after
// "Done"). The "Auto Receive SMS" and "Add Today plug-in Support" boxes show
// the device's registrations, not options; "Done" applies all three
// registrations again (see intercept/registration.h).
//
// "Done" (also the title bar's OK) first reads the two numeric edits as
// decimal numbers: an empty, non-numeric or zero value puts the focus back
// on that edit and leaves the dialog open, with no message and nothing
// stored (minutes are checked even when "Auto Save" is off; the hour has no
// upper bound). Then it stores "SaveDuration" and "WhenCompress", then
// "ShowPopup", "AutoCompress", "SaveWhenArrive" and "OpenLastFile";
// registers or unregisters the rule client after "Auto Receive SMS"; sets
// or removes the Today item; stores "DeleteAlert", "EmptyReceiveBinAlert",
// "AutoHide", "AutoStart", "AutoSave" and "ShowTrayIcon"; applies the
// start-up shortcut last; and ends the dialog with 1. A registration that
// fails is told in an "Error" box naming what failed and why ("The Today
// plug-in could not be registered: ..."), one box per failure; the rest is
// applied and stored all the same. "Cancel" and the Back key end it with 0
// and change nothing.
//
// The dialog is tall: its controls scroll (option_scroll.h) and keep their
// left edge while ending 4 pixels from the right edge or from the next
// control when the dialog is resized. UI thread only.
#ifndef TELVANE_SETTINGS_UI_PREFERENCE_DIALOG_H_
#define TELVANE_SETTINGS_UI_PREFERENCE_DIALOG_H_

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "settings/ui/option_dialog.h"

class QCheckBox;
class QLineEdit;

namespace settings {
class SettingsStore;
}

namespace settings::ui {

class OptionScrollArea;

inline constexpr int kPreferenceTemplate = 137;

// Control identifiers.
inline constexpr int kAutoRunBox = 1100;           // "AutoStart"
inline constexpr int kAutoHideBox = 1062;          // "AutoHide"
inline constexpr int kLoadPreviousFileBox = 1034;  // "OpenLastFile"
inline constexpr int kAutoReceiveBox = 1035;       // rule client
inline constexpr int kDeleteAlertBox = 1036;       // "DeleteAlert"
inline constexpr int kEmptyBinAlertBox = 1037;     // "EmptyReceiveBinAlert"
inline constexpr int kShowPreviewBox = 1080;       // "ShowPopup"
inline constexpr int kShowTrayIconBox = 1039;      // "ShowTrayIcon"
inline constexpr int kTodayBox = 1041;             // Today item
inline constexpr int kAutoSaveBox = 1038;          // "AutoSave"
inline constexpr int kSaveMinutesEdit = 1108;      // "SaveDuration"
inline constexpr int kSaveWhenArriveBox = 1042;    // "SaveWhenArrive"
inline constexpr int kAutoCompressBox = 1040;      // "AutoCompress"
inline constexpr int kCompressHourEdit = 1109;     // "WhenCompress"

// The value of a numeric edit as "Done" reads it: the decimal number of a
// text of digits, else 0 (empty, anything but digits, or more than fits a
// 32-bit signed integer).
int ReadDecimal(const QString& text);

class PreferenceDialog : public OptionDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog. `app_folder` is the program's folder
  // with its trailing "\" (where inrelay.dll, pelicordep.dll and loader.exe
  // are), `program_path` the program's own device path (what the start-up
  // shortcut starts). Reads the registrations of the current device.
  PreferenceDialog(QWidget* parent, settings::SettingsStore* settings,
                   std::u16string app_folder, std::u16string program_path);

  OptionScrollArea* scroll_area() const { return scroll_; }

 protected:
 private:
  QCheckBox* AddBox(int id, uint32_t text_id, bool checked);
  QLineEdit* AddNumber(int id, uint32_t label_id, int32_t value);
  void Done() override;
  // Shows an "Error" box "<text what_id>: <cause>" when `status` failed.
  void TellFailure(const platform::Status& status, uint32_t what_id);

  settings::SettingsStore* settings_;
  std::u16string app_folder_;
  std::u16string program_path_;
  OptionScrollArea* scroll_;

  QCheckBox* auto_run_;
  QCheckBox* auto_hide_;
  QCheckBox* load_previous_;
  QCheckBox* auto_receive_;
  QCheckBox* delete_alert_;
  QCheckBox* empty_bin_alert_;
  QCheckBox* show_preview_;
  QCheckBox* show_tray_icon_;
  QCheckBox* today_;
  QCheckBox* auto_save_;
  QLineEdit* minutes_;
  QCheckBox* save_when_arrive_;
  QCheckBox* auto_compress_;
  QLineEdit* hour_;
};

// What the main window must follow up after the dialog.
struct PreferenceChanges {
  // "ShowTrayIcon" was turned on or off: add or remove the tray icon.
  bool tray_icon_changed = false;
  bool show_tray_icon = false;  // "ShowTrayIcon" now
  bool show_popup = false;      // "ShowPopup" now: keep a preview window
  bool auto_save = false;       // "AutoSave" now: restart the save timer
};

// "Preference..." (command 40257): runs the dialog modally over `owner`
// with the program's own path as the start-up shortcut's target. Returns 1
// after "Done" (the caller then saves the settings and follows `*changes`
// up) and 0 otherwise. `changes` may be null; it is filled either way
// (nothing changed after 0).
int RunPreferenceDialog(QWidget* owner, settings::SettingsStore* settings,
                        std::u16string_view app_folder,
                        PreferenceChanges* changes = nullptr);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_PREFERENCE_DIALOG_H_
