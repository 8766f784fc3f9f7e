// The command groups of `telvane` besides "zud", one file each
// (NAME_command.cc). Each adds its commands, with their options and help, to
// the tool; a command's handler returns the process exit code.
#ifndef TELVANE_TOOLS_TELVANE_COMMANDS_H_
#define TELVANE_TOOLS_TELVANE_COMMANDS_H_

#include "cli/cli.h"

namespace tools::telvane {

// telvane filters show|explain|block|add ...   (filters_command.cc)
void AddFiltersCommands(cli::Tool& tool);

// telvane send ...                   (send_command.cc)
void AddSendCommand(cli::Tool& tool);

// telvane play ...                   (play_command.cc)
void AddPlayCommand(cli::Tool& tool);

// telvane contacts|groups|sentences  (contacts_command.cc)
void AddContactsCommands(cli::Tool& tool);

// telvane setup                      (setup_command.cc)
void AddSetupCommand(cli::Tool& tool);

}  // namespace tools::telvane

#endif  // TELVANE_TOOLS_TELVANE_COMMANDS_H_
