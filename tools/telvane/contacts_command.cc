#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace telvane_cli {

const char* const kContactsUsage = "";

int ContactsCommand(const CommandArgs&) {
  return UsageError("\"contacts\" is not available in this build");
}
int GroupsCommand(const CommandArgs&) {
  return UsageError("\"groups\" is not available in this build");
}
int SentencesCommand(const CommandArgs&) {
  return UsageError("\"sentences\" is not available in this build");
}

}  // namespace telvane_cli
