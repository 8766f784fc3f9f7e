// The program's one password dialog. It checks an entry against a password
// the caller keeps, or lets the user change that password. Every password
// set through it has at most 10 characters: an edit takes 11 as typed and
// the dialog reads the first 10.
//
// UI thread only. While a prompt is up, PasswordPromptUp() is true, so the
// main window does not ask again when it is shown.
#ifndef TELVANE_KIT_PASSWORD_PROMPT_H_
#define TELVANE_KIT_PASSWORD_PROMPT_H_

#include <string>

#include "kit/device_window.h"

class QLabel;
class QLineEdit;

namespace kit {

enum class PasswordMode { kCheck = 0, kChange = 1 };

// Control identifiers of the dialog (template 121).
inline constexpr int kPasswordDialogTemplate = 121;
inline constexpr int kPasswordEdit = 1012;  // entered or old password
inline constexpr int kNewPasswordEdit = 1013;
inline constexpr int kConfirmPasswordEdit = 1014;
inline constexpr int kPasswordLabel = 1015;
inline constexpr int kNewPasswordLabel = 1016;
inline constexpr int kConfirmPasswordLabel = 1017;

// Runs the prompt modally. Check mode: 1 when the entry equals *password
// (which must not be empty), 2 when cancelled. Change mode: 1 with the new
// password (possibly empty: no password) written to *password, 2 when
// cancelled. Wrong entries never end the dialog.
int PasswordPrompt(QWidget* parent, PasswordMode mode,
                   std::u16string* password);

// True while a prompt is showing.
bool PasswordPromptUp();

class PasswordDialog : public DeviceDialog {
  Q_OBJECT

 public:
  PasswordDialog(QWidget* parent, PasswordMode mode, std::u16string* password);
  ~PasswordDialog() override;

 protected:
  void OnCommand(uint32_t command) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void ClearEdits();

  PasswordMode mode_;
  std::u16string* password_;
  QLineEdit* entered_;
  QLineEdit* new_;
  QLineEdit* confirm_;
};

}  // namespace kit

#endif  // TELVANE_KIT_PASSWORD_PROMPT_H_
