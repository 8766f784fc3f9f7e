// The options dialogs' common shape: a full-screen dialog with "Done" and
// "Cancel". "Done" (or the title bar's OK) runs Done(), which stores the
// choices and closes with 1 when they are valid, or keeps the dialog open
// with the focus on the offending field; "Cancel" and the Back key close
// it with 0 and change nothing.
//
// UI thread only.
#ifndef TELVANE_SETTINGS_UI_OPTION_DIALOG_H_
#define TELVANE_SETTINGS_UI_OPTION_DIALOG_H_

#include <cstdint>

#include "kit/device_window.h"

namespace settings::ui {

class OptionDialog : public kit::DeviceDialog {
 public:
  using kit::DeviceDialog::DeviceDialog;

 protected:
  virtual void Done() = 0;

  void OnCommand(uint32_t command) override;
  void OnBack() override;
};

}  // namespace settings::ui

#endif  // TELVANE_SETTINGS_UI_OPTION_DIALOG_H_
