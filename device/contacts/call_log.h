// The phone's call log as device.db keeps it (docs/formats/call-log.md):
// one row per voice call a program requested through cellcore.dll's
// "tapiRequestMakeCallW". cellcore.dll appends; `devicectl calls` lists and
// clears.
//
// Every call opens the current device's database; without a device it
// fails with kUnavailable. Calls may come from any thread and any process
// (device.db serialises them).
#ifndef TELVANE_DEVICE_CONTACTS_CALL_LOG_H_
#define TELVANE_DEVICE_CONTACTS_CALL_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/time.h"

namespace device::contacts {

// What one request may carry (the interface's limit on a dial string).
inline constexpr size_t kCallMaxChars = 255;

struct CallRecord {
  int64_t id = 0;           // assigned when stored; the log's order
  platform::FileTime time;  // when the call was requested, UTC
  std::u16string number;    // the number dialled, never empty
  std::u16string name;      // the called party's name; empty when none
};

// Appends a call requested now. kInvalidArgument for an empty number or
// texts longer than kCallMaxChars.
platform::Status RecordCall(std::u16string_view number,
                            std::u16string_view name);
// Every call, oldest first.
std::vector<CallRecord> ListCalls(platform::Status* status = nullptr);
platform::Status ClearCalls();

}  // namespace device::contacts

#endif  // TELVANE_DEVICE_CONTACTS_CALL_LOG_H_
