#include "device/sms/radio_log.h"

#include <charconv>
#include <memory>

#include "platform/device.h"
#include "platform/device_db.h"

namespace device::sms {
namespace {

using platform::DeviceDb;
using platform::Statement;
using platform::Status;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS radio_sms ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  time INTEGER NOT NULL,"
    "  address BLOB NOT NULL,"
    "  address_type INTEGER NOT NULL,"
    "  message_class INTEGER NOT NULL,"
    "  message_options INTEGER NOT NULL,"
    "  replace_option INTEGER NOT NULL,"
    "  encoding INTEGER NOT NULL,"
    "  send_options INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  result INTEGER NOT NULL);";

std::shared_ptr<DeviceDb> OpenLog(Status* status) {
  return DeviceDb::GetWithSchema("radio_sms", kSchema, status);
}

std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string Utf16Text(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

// Glob match of one pattern, iterative with one back-track point.
bool GlobMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::u16string RadioSubmission::text() const { return Utf16Text(data); }

Status EnsureRadioLog() {
  Status status;
  OpenLog(&status);
  return status;
}

std::optional<int64_t> RecordSubmission(const RadioSubmission& s,
                                        Status* status) {
  std::shared_ptr<DeviceDb> db = OpenLog(status);
  if (db == nullptr) return std::nullopt;
  const std::string address = Utf16Bytes(s.address);
  Statement insert(*db,
                   "INSERT INTO radio_sms(time, address, address_type, "
                   "message_class, message_options, replace_option, encoding, "
                   "send_options, data, result) "
                   "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.Bind(1, static_cast<int64_t>(s.time.value()))
      .BindBlob(2, address.data(), address.size())
      .Bind(3, int64_t{s.address_type})
      .Bind(4, int64_t{s.message_class})
      .Bind(5, int64_t{s.message_options})
      .Bind(6, int64_t{s.replace_option})
      .Bind(7, int64_t{s.encoding})
      .Bind(8, int64_t{s.send_options})
      .BindBlob(9, s.data.data(), s.data.size())
      .Bind(10, int64_t{s.result});
  Status run = insert.Run();
  if (!run.ok()) {
    if (status != nullptr) *status = run;
    return std::nullopt;
  }
  return sqlite3_last_insert_rowid(db->handle());
}

std::optional<std::vector<RadioSubmission>> ListSubmissions(
    bool include_refused, Status* status) {
  std::shared_ptr<DeviceDb> db = OpenLog(status);
  if (db == nullptr) return std::nullopt;
  Statement query(*db, include_refused
                           ? "SELECT id, time, address, address_type, "
                             "message_class, message_options, replace_option, "
                             "encoding, send_options, data, result "
                             "FROM radio_sms ORDER BY id"
                           : "SELECT id, time, address, address_type, "
                             "message_class, message_options, replace_option, "
                             "encoding, send_options, data, result "
                             "FROM radio_sms WHERE result = 0 ORDER BY id");
  std::vector<RadioSubmission> out;
  Status step;
  while (query.Step(&step)) {
    RadioSubmission s;
    s.id = query.ColumnInt(0);
    s.time = platform::FileTime::FromValue(
        static_cast<uint64_t>(query.ColumnInt(1)));
    s.address = Utf16Text(query.ColumnBlob(2));
    s.address_type = static_cast<uint32_t>(query.ColumnInt(3));
    s.message_class = static_cast<uint32_t>(query.ColumnInt(4));
    s.message_options = static_cast<uint32_t>(query.ColumnInt(5));
    s.replace_option = static_cast<uint32_t>(query.ColumnInt(6));
    s.encoding = static_cast<uint32_t>(query.ColumnInt(7));
    s.send_options = static_cast<uint32_t>(query.ColumnInt(8));
    s.data = query.ColumnBlob(9);
    s.result = static_cast<int32_t>(query.ColumnInt(10));
    out.push_back(std::move(s));
  }
  if (!step.ok()) {
    if (status != nullptr) *status = step;
    return std::nullopt;
  }
  return out;
}

Status ClearRadioLog() {
  Status status;
  std::shared_ptr<DeviceDb> db = OpenLog(&status);
  if (db == nullptr) return status;
  return db->Exec("DELETE FROM radio_sms;");
}

RadioSwitches ReadRadioSwitches() {
  RadioSwitches switches;
  switches.open_fails =
      platform::GetDeviceSettingInt(kSettingOpenFails, 0) != 0;
  std::string types =
      platform::GetDeviceSetting(kSettingRefuseTypes).value_or("");
  size_t start = 0;
  while (start <= types.size()) {
    size_t end = types.find(',', start);
    if (end == std::string::npos) end = types.size();
    std::string_view item(types.data() + start, end - start);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    uint32_t type = 0;
    auto [ptr, ec] =
        std::from_chars(item.data(), item.data() + item.size(), type);
    if (!item.empty() && ec == std::errc() &&
        ptr == item.data() + item.size()) {
      switches.refused_types.push_back(type);
    }
    start = end + 1;
  }
  switches.refuse_match =
      platform::GetDeviceSetting(kSettingRefuseMatch).value_or("*");
  return switches;
}

bool MatchesAddressPattern(std::string_view patterns,
                           std::string_view address) {
  size_t start = 0;
  while (start < patterns.size()) {
    size_t end = patterns.find(',', start);
    if (end == std::string_view::npos) end = patterns.size();
    std::string_view pattern = patterns.substr(start, end - start);
    if (!pattern.empty() && GlobMatch(pattern, address)) return true;
    start = end + 1;
  }
  return false;
}

bool Refuses(const RadioSwitches& switches, std::string_view address,
             uint32_t type) {
  bool listed = false;
  for (uint32_t refused : switches.refused_types) listed |= refused == type;
  return listed && MatchesAddressPattern(switches.refuse_match, address);
}

}  // namespace device::sms
