#include <iostream>

#include "device/contacts/call_log.h"
#include "device/devicectl/devicectl.h"

namespace device::devicectl {
namespace {

using platform::Status;

int CallsList() {
  Status status;
  std::vector<device::contacts::CallRecord> calls =
      device::contacts::ListCalls(&status);
  if (!status.ok()) return Fail("calls list: " + status.ToString());
  for (const device::contacts::CallRecord& call : calls) {
    std::cout << FormatUtcTime(call.time) << "\t" << OneLine(call.number)
              << "\t" << OneLine(call.name) << "\n";
  }
  std::cout << calls.size() << " call(s)\n";
  return 0;
}

}  // namespace

int CallsCommand(const CommandArgs& args) {
  if (args.size() > 1) return UsageError("calls takes list or clear");
  if (!RequireDevice()) return kFailure;
  if (args.empty() || args[0] == "list") return CallsList();
  if (args[0] == "clear") {
    Status status = device::contacts::ClearCalls();
    if (!status.ok()) return Fail("calls clear: " + status.ToString());
    std::cout << "deleted every call\n";
    return 0;
  }
  return UsageError("unknown calls command \"" + args[0] + "\"");
}

const char* const kCallsUsage =
    "  calls [list]                  the voice calls programs asked for: "
    "time (UTC),\n"
    "                                number, name\n"
    "  calls clear                   empty the call log\n";

}  // namespace device::devicectl
