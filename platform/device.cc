#include "platform/device.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <system_error>

#include "platform/device_db.h"
#include "platform/kernel_objects.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Every device setting the platform and the stand-in libraries read. A new
// setting is added here with its default; nothing else needs to change.
constexpr DeviceSettingInfo kSettings[] = {
    {"codepage", "936", "ANSI code page: 936 (GB18030), 1252 or 65001 (UTF-8)",
     "936|1252|65001"},
    {"date_format", "yyyy-M-d", "default short date format of the locale",
     "text"},
    {"time_format", "H:mm:ss", "default time format of the locale", "text"},
    {"screen_width", "240", "logical screen width in pixels", "int"},
    {"screen_height", "320", "logical screen height in pixels", "int"},
    {"screen_scale", "auto",
     "host display pixels per screen pixel; auto: the largest that fits",
     "auto|1|2|3|4|5|6|7|8"},
    {"screen_origin", "centre",
     "where the screen sits on the host display: centre, or X,Y in display "
     "pixels",
     "centre|x,y"},
    {"phone", "1", "the device has a phone (phone.dll is present)", "bool"},
    {"cellular_line", "1", "the telephony service offers \"Cellular Line\"",
     "bool"},
    {"touch_screen", "0",
     "the device is a touch-screen device (Pocket PC); 0: a keypad phone",
     "bool"},
    {"led_count", "2", "number of notification LEDs (LED 1 is the vibrator)",
     "int"},
    {"audio_output", "auto", "wave-out backend: auto, alsa, wavfile or none",
     "auto|alsa|wavfile|none"},
    {"wavfile_pace", "realtime",
     "the WAV-file sink plays in real time or takes samples as fast as they "
     "come",
     "realtime|fast"},
    {"wave_out_streams", "4",
     "wave-out streams a process may have open at once; more are busy", "int"},
    {"sms_open_fails", "0", "the radio is off: sms.dll's SmsOpen fails",
     "bool"},
    {"sms_refuse_types", "", "address types sms.dll refuses (e.g. \"0,2\")",
     "text"},
    {"sms_refuse_match", "*",
     "addresses the refusal applies to (\",\"-separated, * and ? globs)",
     "text"},
};

bool IsCount(std::string_view text) {
  uint32_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return !text.empty() && ec == std::errc() &&
         end == text.data() + text.size() && n <= 1000000;
}

bool IsPoint(std::string_view value) {
  size_t comma = value.find(',');
  return comma != std::string_view::npos && IsCount(value.substr(0, comma)) &&
         IsCount(value.substr(comma + 1));
}

bool Accepts(const DeviceSettingInfo& info, std::string_view value) {
  std::string_view accepts = info.accepts;
  if (accepts == "text") return value.find('\n') == std::string_view::npos;
  if (accepts == "int" || accepts == "bool") {
    int64_t n = 0;
    auto [end, ec] =
        std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end != value.data() + value.size()) return false;
    return accepts == "int" ? n >= 0 : (n == 0 || n == 1);
  }
  while (!accepts.empty()) {
    size_t bar = accepts.find('|');
    std::string_view choice = accepts.substr(0, bar);
    // "x,y": two whole numbers >= 0, such as a point on the host display.
    if (choice == "x,y" ? IsPoint(value) : choice == value) return true;
    if (bar == std::string_view::npos) break;
    accepts.remove_prefix(bar + 1);
  }
  return false;
}

uint64_t Fnv1a(std::string_view text) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

constexpr const char* kSettingsSchema =
    "CREATE TABLE IF NOT EXISTS device_settings ("
    "  key TEXT PRIMARY KEY, value TEXT NOT NULL);";

}  // namespace

fs::path DeviceRoot() {
  const char* env = std::getenv("TELVANE_DEVICE");
  fs::path root;
  if (env != nullptr && *env != '\0') {
    root = env;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME");
             xdg != nullptr && *xdg == '/') {
    root = fs::path(xdg) / "telvane" / "device";
  } else {
    const char* home = std::getenv("HOME");
    root = fs::path(home != nullptr && *home != '\0' ? home : "/tmp") /
           ".local" / "share" / "telvane" / "device";
  }
  std::error_code ec;
  fs::path absolute = fs::absolute(root, ec);
  if (ec) absolute = root;
  return absolute.lexically_normal();
}

fs::path DeviceFsRoot() { return DeviceRoot() / "fs"; }
fs::path DeviceRunDir() { return DeviceRoot() / "run"; }
fs::path DeviceDatabasePath() { return DeviceRoot() / "device.db"; }
fs::path DeviceDebugLogPath() { return DeviceRoot() / "debug.log"; }

std::string DeviceId() {
  fs::path root = DeviceRoot();
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(root, ec);
  std::string key = (ec ? root : canonical).string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  char hex[17];
  uint64_t hash = Fnv1a(key);
  for (int i = 15; i >= 0; --i) {
    hex[i] = "0123456789abcdef"[hash & 0xF];
    hash >>= 4;
  }
  hex[16] = '\0';
  return hex;
}

bool DeviceExists() { return access(DeviceDatabasePath().c_str(), F_OK) == 0; }

Status InitialiseDevice() {
  fs::path root = DeviceRoot();
  std::error_code ec;
  for (const char* sub : {"fs/Windows/StartUp", "fs/Program Files/Telvane",
                          "fs/My Documents", "fs/Temp", "run"}) {
    fs::create_directories(root / sub, ec);
    if (ec)
      return Status::FromErrno("create folder", (root / sub).string(),
                               ec.value());
  }
  UniqueFd debug_log(open(DeviceDebugLogPath().c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!debug_log)
    return Status::FromErrno("create", DeviceDebugLogPath().string(), errno);
  debug_log.Reset();
  Status status;
  std::shared_ptr<DeviceDb> db = DeviceDb::OpenPath(
      DeviceDatabasePath().string(), /*create=*/true, &status);
  if (db == nullptr) return status;
  return db->EnsureSchema("device_settings", kSettingsSchema);
}

Status ShutdownDevice() {
  Status status = ClearNamedObjects();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DeviceRunDir(), ec)) {
    if (entry.is_socket(ec)) fs::remove(entry.path(), ec);
  }
  return status;
}

std::span<const DeviceSettingInfo> KnownDeviceSettings() { return kSettings; }

const DeviceSettingInfo* FindDeviceSetting(std::string_view key) {
  for (const DeviceSettingInfo& info : kSettings) {
    if (key == info.key) return &info;
  }
  return nullptr;
}

std::optional<std::string> GetDeviceSetting(std::string_view key) {
  const DeviceSettingInfo* info = FindDeviceSetting(key);
  if (info == nullptr) return std::nullopt;
  std::shared_ptr<DeviceDb> db = DeviceDb::Get();
  if (db == nullptr ||
      !db->EnsureSchema("device_settings", kSettingsSchema).ok()) {
    return std::string(info->default_value);
  }
  Statement query(*db, "SELECT value FROM device_settings WHERE key = ?");
  query.Bind(1, key);
  if (query.Step()) return query.ColumnText(0);
  return std::string(info->default_value);
}

int64_t GetDeviceSettingInt(std::string_view key, int64_t fallback) {
  std::optional<std::string> value = GetDeviceSetting(key);
  if (!value) return fallback;
  int64_t n = 0;
  auto [end, ec] =
      std::from_chars(value->data(), value->data() + value->size(), n);
  if (ec != std::errc() || end != value->data() + value->size())
    return fallback;
  return n;
}

Status SetDeviceSetting(std::string_view key, std::string_view value) {
  const DeviceSettingInfo* info = FindDeviceSetting(key);
  if (info == nullptr) {
    return Status(ErrorCode::kInvalidArgument,
                  "unknown device setting \"" + std::string(key) + "\"");
  }
  if (!Accepts(*info, value)) {
    return Status(ErrorCode::kInvalidArgument,
                  "device setting " + std::string(key) + " accepts " +
                      info->accepts + ", not \"" + std::string(value) + "\"");
  }
  Status status;
  std::shared_ptr<DeviceDb> db = DeviceDb::Get(&status);
  if (db == nullptr) return status;
  status = db->EnsureSchema("device_settings", kSettingsSchema);
  if (!status.ok()) return status;
  Statement upsert(*db,
                   "INSERT INTO device_settings(key, value) VALUES(?, ?) "
                   "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
  upsert.Bind(1, key).Bind(2, value);
  return upsert.Run();
}

}  // namespace platform
