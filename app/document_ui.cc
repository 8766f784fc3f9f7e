#include "app/document_ui.h"

#include "kit/message_box.h"
#include "kit/password_prompt.h"
#include "kit/qt_text.h"

namespace app {

bool ShellDocumentUi::Confirm(std::u16string_view text,
                              std::u16string_view caption) {
  return kit::ShowMessage(parent_, kit::Q(text), kit::Q(caption),
                          kit::Buttons::kOkCancel) == kit::kAnswerOk;
}

void ShellDocumentUi::Inform(std::u16string_view text,
                             std::u16string_view caption) {
  kit::ShowMessage(parent_, kit::Q(text), kit::Q(caption));
}

bool ShellDocumentUi::CheckPassword(const std::u16string& password) {
  std::u16string known = password;
  return kit::PasswordPrompt(parent_, kit::PasswordMode::kCheck, &known) == 1;
}

std::optional<std::u16string> ShellDocumentUi::ChangePassword(
    const std::u16string& current) {
  std::u16string password = current;
  if (kit::PasswordPrompt(parent_, kit::PasswordMode::kChange, &password) !=
      1) {
    return std::nullopt;
  }
  return password;
}

}  // namespace app
