#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace telvane_cli {

const char* const kSendUsage = "";

int SendCommand(const CommandArgs&) {
  return UsageError("\"send\" is not available in this build");
}

}  // namespace telvane_cli
