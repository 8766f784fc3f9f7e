#include "platform/leds.h"

#include <unistd.h>

#include <chrono>

#include "platform/device.h"
#include "platform/device_db.h"

namespace platform {
namespace {

constexpr const char* kLedSchema =
    "CREATE TABLE IF NOT EXISTS led_log ("
    "  id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL,"
    "  led INTEGER NOT NULL, state INTEGER NOT NULL,"
    "  process INTEGER NOT NULL);";

std::shared_ptr<DeviceDb> LedDb(Status* status) {
  return DeviceDb::GetWithSchema("led_log", kLedSchema, status);
}

}  // namespace

int LedCount() {
  int64_t count = GetDeviceSettingInt("led_count", 0);
  return count < 0 || count > 64 ? 0 : static_cast<int>(count);
}

Status SetLed(int led, bool on) {
  if (led < 0 || led >= LedCount()) {
    return Status(ErrorCode::kInvalidArgument,
                  "the device has no LED " + std::to_string(led));
  }
  Status status;
  std::shared_ptr<DeviceDb> db = LedDb(&status);
  if (db == nullptr) return status;
  int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  Statement insert(*db,
                   "INSERT INTO led_log(time_ms, led, state, process) "
                   "VALUES(?, ?, ?, ?)");
  insert.Bind(1, now).Bind(2, led).Bind(3, on ? 1 : 0).Bind(4, getpid());
  return insert.Run();
}

bool LedIsOn(int led) {
  std::shared_ptr<DeviceDb> db = LedDb(nullptr);
  if (db == nullptr) return false;
  Statement query(*db,
                  "SELECT state FROM led_log WHERE led = ? "
                  "ORDER BY id DESC LIMIT 1");
  query.Bind(1, led);
  return query.Step() && query.ColumnInt(0) != 0;
}

std::optional<std::vector<LedEvent>> LedHistory() {
  std::shared_ptr<DeviceDb> db = LedDb(nullptr);
  if (db == nullptr) return std::nullopt;
  Statement query(*db,
                  "SELECT id, time_ms, led, state, process FROM led_log "
                  "ORDER BY id");
  std::vector<LedEvent> events;
  Status status;
  while (query.Step(&status)) {
    LedEvent event;
    event.id = query.ColumnInt(0);
    event.time_ms = query.ColumnInt(1);
    event.led = static_cast<int>(query.ColumnInt(2));
    event.on = query.ColumnInt(3) != 0;
    event.process = query.ColumnInt(4);
    events.push_back(event);
  }
  if (!status.ok()) return std::nullopt;
  return events;
}

Status ClearLedHistory() {
  Status status;
  std::shared_ptr<DeviceDb> db = LedDb(&status);
  if (db == nullptr) return status;
  return db->Exec("DELETE FROM led_log;");
}

}  // namespace platform
