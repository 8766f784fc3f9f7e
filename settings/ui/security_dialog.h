// The Security dialog (template 180): how often protected nodes ask for
// their password, whether the file password is asked again after the
// program was hidden, and the two passwords themselves.
//
// "Password:" shows "ProtectLevel" (a stored value outside 0..2 shows as
// "Reinput after Minimize"); "ScreenSaver after Minimized" shows
// "StartScreenSaveMin". Both are stored only by "Done" (also the title
// bar's OK), which ends the dialog with 1; "Cancel" and the Back key end it
// with 0 and store neither.
//
// The two password buttons act at once, whatever way the dialog ends later:
// - "Password..." (only while a document is open) runs the password prompt
//   in change mode on the document's file password; after OK the new one
//   replaces the password in the document header (see ReplaceFilePassword)
//   and the document is marked modified. It reaches the file with the next
//   save of the document.
// - "Rule Password" runs the prompt in change mode on the filter set's
//   password; after OK the filter set is saved through the environment.
//
// UI thread only.
#ifndef TELVANE_SETTINGS_UI_SECURITY_DIALOG_H_
#define TELVANE_SETTINGS_UI_SECURITY_DIALOG_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/status.h"
#include "settings/ui/option_dialog.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace firewall {
struct FilterSet;
}
namespace settings {
class SettingsStore;
}
namespace store {
class Document;
}

namespace settings::ui {

inline constexpr int kSecurityTemplate = 180;

// Control identifiers.
inline constexpr int kProtectLevelList = 1110;    // "ProtectLevel"
inline constexpr int kScreenSaverBox = 1109;      // "StartScreenSaveMin"
inline constexpr int kFilePasswordButton = 1026;  // "Password..."
inline constexpr int kRulePasswordButton = 1027;  // "Rule Password"

// What the dialog works on besides the settings. Nothing is owned.
struct SecurityEnvironment {
  // The document, or null. "Password..." is enabled only while it is open.
  store::Document* document = nullptr;
  // The filter set whose password "Rule Password" changes; null disables
  // the button.
  firewall::FilterSet* filters = nullptr;
  // Saves the filter set after its password changed. The caller reports a
  // failure (the dialog shows nothing); the status is handed back so that
  // the caller can tell. May be empty: then nothing is saved.
  std::function<platform::Status()> save_filters;
};

// Replaces the password in the header of the open `document` with
// `password` converted to the device's code page and cut to the 12 bytes of
// the header field (whole characters only: a character that would not fit
// whole is left out with everything after it; an empty text removes the
// password), and marks the header for writing and the document modified.
// Nothing happens when no document is open.
void ReplaceFilePassword(store::Document* document,
                         std::u16string_view password);

class SecurityDialog : public OptionDialog {
  Q_OBJECT

 public:
  // `settings` must outlive the dialog, and so must what `environment`
  // names.
  SecurityDialog(QWidget* parent, settings::SettingsStore* settings,
                 SecurityEnvironment environment);

 protected:
 private:
  void ChangeFilePassword();
  void ChangeRulePassword();
  void Done() override;

  settings::SettingsStore* settings_;
  SecurityEnvironment environment_;
  QComboBox* level_;
  QCheckBox* screen_saver_;
  QPushButton* file_password_;
  QPushButton* rule_password_;
};

// "Security..." (command 40346): runs the dialog modally over `owner`.
// Returns 1 after "Done" and 0 otherwise. The caller saves the settings
// either way.
int RunSecurityDialog(QWidget* owner, settings::SettingsStore* settings,
                      SecurityEnvironment environment);

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_SECURITY_DIALOG_H_
