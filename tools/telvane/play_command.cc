#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace telvane_cli {

const char* const kPlayUsage = "";

int PlayCommand(const CommandArgs&) {
  return UsageError("\"play\" is not available in this build");
}

}  // namespace telvane_cli
