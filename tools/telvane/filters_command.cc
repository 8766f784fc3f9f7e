#include "tools/telvane/cli.h"
#include "tools/telvane/commands.h"

namespace telvane_cli {

const char* const kFiltersUsage = "";

int FiltersCommand(const CommandArgs&) {
  return UsageError("\"filters\" is not available in this build");
}

}  // namespace telvane_cli
