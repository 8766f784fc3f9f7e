// The Alert Option dialog (template 163): the unread reminder, the sent
// popup and its skin, the popups' lifetimes, the photo folders and the
// random sound folder.
//
// It reads the options from a SettingsStore when it opens and writes them
// back only on "Done"; it never saves the store (the program saves it
// later with everything else). Times are shown and typed in seconds and
// kept in milliseconds.
//
// The reminder's edits ("Seconds", the reminder sound and its "Browse...")
// are enabled while "Unread Alert" shows anything but "None"; the skin
// list and "Test..." while "Sent Popup Window" is ticked. An "Unread Alert"
// value outside 0..3 shows as "None". The skin list holds "Default" (the
// built-in look) and the skins of the program's "skins" folder; it shows
// the skin whose name is the file name of "SentSkin", or "Default" when
// none is (a skin whose file has gone shows "Default").
//
// The four "Browse..." buttons open the file browser in "LastDir" (sound
// and picture files in open mode, the two folders in folder mode) and
// leave the place the user ended in as "LastDir". "Test..." previews the
// chosen skin with "This is only for test", "1234567890" and the stored
// "defaultPhoto".
//
// "Done" (also the title bar's OK) reads "Seconds" as a decimal number;
// with a reminder other than "None" a zero (or empty) value puts the focus
// back there and leaves the dialog open, with no message and nothing
// stored. With a reminder that sounds ("Sound", "Vibrate and Sound"), a
// reminder sound that is not empty and cannot be played (a missing file,
// not sound) is told in an "Error" box, the focus goes to its edit and the
// dialog stays open. Otherwise it stores, in order, "UnReadAlert",
// "AlertSecond", "UnReadIcon", "AlertSound", "RndSoundPath" (and, when it
// is not empty, makes and scans the random sound list), "PhotoFolder",
// "defaultPhoto", "DisappearTime", "DisappearTimeRecv", "SentAlert" and
// "SentSkin" (empty for "Default", else the program folder, "skins\", the
// name and ".cfg"), and ends with 1. Seconds become milliseconds capped at
// the largest 32-bit value. "Cancel" and the Back key end it with 0 and
// change nothing.
//
// The dialog is tall: its controls scroll (option_scroll.h) and stretch to
// the right edge when it is resized. UI thread only.
#ifndef TELVANE_SETTINGS_UI_ALERT_OPTION_DIALOG_H_
#define TELVANE_SETTINGS_UI_ALERT_OPTION_DIALOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/ui/option_dialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace settings {
class SettingsStore;
}

namespace settings::ui {

class OptionScrollArea;

inline constexpr int kAlertOptionTemplate = 163;

// Control identifiers.
inline constexpr int kUnreadIconBox = 1040;          // "UnReadIcon"
inline constexpr int kUnreadAlertList = 1110;        // "UnReadAlert"
inline constexpr int kAlertSecondsEdit = 1109;       // "AlertSecond" / 1000
inline constexpr int kAlertSoundEdit = 1066;         // "AlertSound"
inline constexpr int kAlertSoundBrowse = 1027;       // sound file
inline constexpr int kSentPopupBox = 1072;           // "SentAlert"
inline constexpr int kSentSkinList = 1111;           // "SentSkin"
inline constexpr int kSkinTestButton = 1108;         // "Test..."
inline constexpr int kAppearSendEdit = 40367;        // "DisappearTime"
inline constexpr int kAppearRecvEdit = 40369;        // "DisappearTimeRecv"
inline constexpr int kPhotoFolderEdit = 1069;        // "PhotoFolder"
inline constexpr int kPhotoFolderBrowse = 1028;      // folder
inline constexpr int kDefaultPhotoEdit = 1071;       // "defaultPhoto"
inline constexpr int kDefaultPhotoBrowse = 1029;     // picture file
inline constexpr int kRandomSoundFolderEdit = 1035;  // "RndSoundPath"
inline constexpr int kRandomSoundBrowse = 40081;     // folder

class AlertOptionDialog : public OptionDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog. `app_folder` is the program's
  // folder with its trailing "\" (where the "skins" folder is).
  AlertOptionDialog(QWidget* parent, settings::SettingsStore* settings,
                    std::u16string app_folder);

  OptionScrollArea* scroll_area() const { return scroll_; }

 protected:
 private:
  QCheckBox* AddBox(int id, uint32_t text_id, bool checked);
  // An edit with a label before it.
  QLineEdit* AddLabelledEdit(int id, uint32_t label_id, const QString& text,
                             bool digits);
  // A label above a row of an edit and a button.
  QLineEdit* AddBrowseRow(int edit_id, uint32_t label_id,
                          std::u16string_view text, int button_id,
                          QPushButton** button);
  void FollowUnreadAlert();
  void FollowSentPopup();
  // "Browse..." in open mode (`types`: a string id) or folder mode (0).
  void Browse(QLineEdit* edit, uint32_t types);
  std::u16string SkinPath() const;
  void Test();
  void Done() override;

  settings::SettingsStore* settings_;
  std::u16string app_folder_;
  OptionScrollArea* scroll_;

  QCheckBox* unread_icon_;
  QComboBox* unread_alert_;
  QLineEdit* seconds_;
  QLineEdit* alert_sound_;
  QPushButton* alert_sound_browse_;
  QCheckBox* sent_popup_;
  QComboBox* skins_;
  QPushButton* test_;
  QLineEdit* appear_send_;
  QLineEdit* appear_recv_;
  QLineEdit* photo_folder_;
  QLineEdit* default_photo_;
  QLineEdit* random_folder_;
};

// "Alert..." (command 40399): runs the dialog modally over `parent`.
// Returns 1 after "Done" and 0 otherwise.
int RunAlertOptionDialog(QWidget* parent, settings::SettingsStore* settings,
                         std::u16string_view app_folder);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_ALERT_OPTION_DIALOG_H_
