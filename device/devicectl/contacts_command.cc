#include "device/devicectl/devicectl.h"

namespace devicectl {

const char* const kContactsUsage = "";

int ContactsCommand(const CommandArgs&) {
  return UsageError("\"contacts\" is not available in this build");
}
int SimCommand(const CommandArgs&) {
  return UsageError("\"sim\" is not available in this build");
}

platform::Status RegisterInstalledServers() { return platform::Status::Ok(); }

}  // namespace devicectl
