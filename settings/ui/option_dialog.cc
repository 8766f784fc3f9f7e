#include "settings/ui/option_dialog.h"

#include "kit/menu_table.h"

namespace settings::ui {

void OptionDialog::OnCommand(uint32_t command) {
  if (command == kit::cmds::kDone || command == kit::kCommandOk) {
    Done();
    return;
  }
  if (command == kit::cmds::kCancel || command == kit::kCommandCancel) {
    done(0);
    return;
  }
  DeviceDialog::OnCommand(command);
}

void OptionDialog::OnBack() { done(0); }

}  // namespace settings::ui
