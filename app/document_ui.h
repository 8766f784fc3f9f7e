// The document's questions and password checks, answered with the program's
// message boxes and password prompt (so tests script them the same way).
// UI thread only.
#ifndef TELVANE_APP_DOCUMENT_UI_H_
#define TELVANE_APP_DOCUMENT_UI_H_

#include "store/document.h"

class QWidget;

namespace app {

class ShellDocumentUi : public store::DocumentUi {
 public:
  // Boxes and prompts appear over `parent` (not owned; may be null).
  explicit ShellDocumentUi(QWidget* parent) : parent_(parent) {}

  bool Confirm(std::u16string_view text, std::u16string_view caption) override;
  void Inform(std::u16string_view text, std::u16string_view caption) override;
  bool CheckPassword(const std::u16string& password) override;
  std::optional<std::u16string> ChangePassword(
      const std::u16string& current) override;

 private:
  QWidget* parent_;
};

}  // namespace app

#endif  // TELVANE_APP_DOCUMENT_UI_H_
