#include "device/devicectl/devicectl.h"

namespace devicectl {

const char* const kLedsUsage = "";

int LedsCommand(const CommandArgs&) {
  return UsageError("\"leds\" is not available in this build");
}

}  // namespace devicectl
