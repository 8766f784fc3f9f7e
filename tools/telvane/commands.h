// The command groups of `telvane` besides "zud", one file each
// (NAME_command.cc). Each takes the arguments after its own name, returns the
// process exit code, and offers its lines for `telvane help`.
#ifndef TELVANE_TOOLS_TELVANE_COMMANDS_H_
#define TELVANE_TOOLS_TELVANE_COMMANDS_H_

#include <string>
#include <vector>

namespace tools::telvane {

using CommandArgs = std::vector<std::string>;

// telvane filters show|explain ...   (filters_command.cc)
int FiltersCommand(const CommandArgs& args);
extern const char* const kFiltersUsage;

// telvane send ...                   (send_command.cc)
int SendCommand(const CommandArgs& args);
extern const char* const kSendUsage;

// telvane play ...                   (play_command.cc)
int PlayCommand(const CommandArgs& args);
extern const char* const kPlayUsage;

// telvane contacts|groups|sentences  (contacts_command.cc)
int ContactsCommand(const CommandArgs& args);
int GroupsCommand(const CommandArgs& args);
int SentencesCommand(const CommandArgs& args);
extern const char* const kContactsUsage;

// telvane setup                     (setup_command.cc)
int SetupCommand(const CommandArgs& args);
extern const char* const kSetupUsage;

}  // namespace tools::telvane

#endif  // TELVANE_TOOLS_TELVANE_COMMANDS_H_
