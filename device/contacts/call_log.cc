#include "device/contacts/call_log.h"

#include <memory>

#include "platform/device_db.h"
#include "platform/unicode.h"

namespace device::contacts {
namespace {

using platform::DeviceDb;
using platform::ErrorCode;
using platform::Statement;
using platform::Status;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS call_log ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time INTEGER NOT NULL,"
    " number TEXT NOT NULL,"
    " name TEXT NOT NULL DEFAULT '');";

std::shared_ptr<DeviceDb> Open(Status* status) {
  return DeviceDb::GetWithSchema("call_log", kSchema, status);
}

}  // namespace

Status RecordCall(std::u16string_view number, std::u16string_view name) {
  if (number.empty() || number.size() > kCallMaxChars ||
      name.size() > kCallMaxChars)
    return Status(ErrorCode::kInvalidArgument,
                  "call: the number is empty or a text is too long");
  std::optional<platform::FileTime> now =
      platform::SystemTimeToFileTime(platform::CurrentSystemTime());
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  Statement insert(
      *db, "INSERT INTO call_log (time, number, name) VALUES (?, ?, ?)");
  insert.Bind(1, static_cast<int64_t>(now ? now->value() : 0))
      .Bind(2, platform::ToUtf8(number))
      .Bind(3, platform::ToUtf8(name));
  return insert.Run();
}

std::vector<CallRecord> ListCalls(Status* status) {
  std::vector<CallRecord> calls;
  std::shared_ptr<DeviceDb> db = Open(status);
  if (db == nullptr) return calls;
  Statement select(*db,
                   "SELECT id, time, number, name FROM call_log ORDER BY id");
  while (select.Step(status)) {
    CallRecord call;
    call.id = select.ColumnInt(0);
    call.time = platform::FileTime::FromValue(
        static_cast<uint64_t>(select.ColumnInt(1)));
    call.number = platform::FromUtf8(select.ColumnText(2));
    call.name = platform::FromUtf8(select.ColumnText(3));
    calls.push_back(std::move(call));
  }
  return calls;
}

Status ClearCalls() {
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  return db->Exec("DELETE FROM call_log");
}

}  // namespace device::contacts
