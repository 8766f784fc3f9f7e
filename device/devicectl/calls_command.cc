// devicectl calls: the phone's call log.
#include <iostream>

#include "device/contacts/call_log.h"
#include "device/devicectl/devicectl.h"

namespace device::devicectl {
namespace {

using cli::Fail;
using cli::kFailure;
using platform::Status;

int CallsList() {
  if (!RequireDevice()) return kFailure;
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

int CallsClear() {
  if (!RequireDevice()) return kFailure;
  Status status = device::contacts::ClearCalls();
  if (!status.ok()) return Fail("calls clear: " + status.ToString());
  std::cout << "deleted every call\n";
  return 0;
}

}  // namespace

void AddCallsCommands(cli::Tool& tool) {
  CLI::App* calls = tool.AddCommand(
      tool.root(), "calls",
      "the voice calls programs asked for (as `calls list`)", CallsList);
  tool.AddCommand(calls, "list",
                  "the voice calls programs asked for: time (UTC), number, "
                  "name",
                  CallsList);
  tool.AddCommand(calls, "clear", "empty the call log", CallsClear);
}

}  // namespace device::devicectl
