#include "device/devicectl/devicectl.h"

namespace devicectl {

const char* const kRadioUsage = "";

int SentCommand(const CommandArgs&) {
  return UsageError("\"sent\" is not available in this build");
}

}  // namespace devicectl
