#include "device/contacts/phone_book.h"

#include <memory>

#include "platform/device.h"
#include "platform/device_db.h"
#include "platform/unicode.h"

namespace device::contacts {
namespace {

using platform::DeviceDb;
using platform::ErrorCode;
using platform::Statement;
using platform::Status;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS contacts ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT NOT NULL DEFAULT '',"
    " mobile TEXT NOT NULL DEFAULT '',"
    " home TEXT NOT NULL DEFAULT '',"
    " business TEXT NOT NULL DEFAULT '',"
    " categories TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS sim_phonebook ("
    " slot INTEGER PRIMARY KEY,"
    " text TEXT NOT NULL DEFAULT '',"
    " address TEXT NOT NULL DEFAULT '');";

std::shared_ptr<DeviceDb> Open(Status* status) {
  return DeviceDb::GetWithSchema("phone_book", kSchema, status);
}

}  // namespace

Status AddContacts(const std::vector<Contact>& contacts) {
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  for (const Contact& contact : contacts) {
    Statement insert(*db,
                     "INSERT INTO contacts (name, mobile, home, business, "
                     "categories) VALUES (?, ?, ?, ?, ?)");
    insert.Bind(1, platform::ToUtf8(contact.name))
        .Bind(2, platform::ToUtf8(contact.mobile))
        .Bind(3, platform::ToUtf8(contact.home))
        .Bind(4, platform::ToUtf8(contact.business))
        .Bind(5, platform::ToUtf8(contact.categories));
    status = insert.Run();
    if (!status.ok()) return status;
  }
  return transaction.Commit();
}

std::vector<Contact> ListContacts(Status* status) {
  std::vector<Contact> contacts;
  std::shared_ptr<DeviceDb> db = Open(status);
  if (db == nullptr) return contacts;
  Statement select(*db,
                   "SELECT id, name, mobile, home, business, categories "
                   "FROM contacts ORDER BY id");
  while (select.Step(status)) {
    Contact contact;
    contact.id = select.ColumnInt(0);
    contact.name = platform::FromUtf8(select.ColumnText(1));
    contact.mobile = platform::FromUtf8(select.ColumnText(2));
    contact.home = platform::FromUtf8(select.ColumnText(3));
    contact.business = platform::FromUtf8(select.ColumnText(4));
    contact.categories = platform::FromUtf8(select.ColumnText(5));
    contacts.push_back(std::move(contact));
  }
  return contacts;
}

Status ClearContacts() {
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  return db->Exec("DELETE FROM contacts");
}

Status AddSimEntry(const SimEntry& entry, uint32_t* stored_at) {
  if ((entry.index != 0 &&
       (entry.index < kSimMinIndex || entry.index > kSimMaxIndex)) ||
      entry.text.size() > kSimMaxChars || entry.address.size() > kSimMaxChars)
    return Status(ErrorCode::kInvalidArgument,
                  "SIM entry: index outside 1-250 or text too long");
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  uint32_t index = entry.index;
  if (index == 0) {
    Statement used(*db, "SELECT slot FROM sim_phonebook ORDER BY slot");
    index = kSimMinIndex;
    while (used.Step(&status)) {
      if (used.ColumnInt(0) != index) break;
      ++index;
    }
    if (!status.ok()) return status;
    if (index > kSimMaxIndex)
      return Status(ErrorCode::kAlreadyExists, "the SIM phonebook is full");
  }
  Statement insert(*db,
                   "INSERT OR REPLACE INTO sim_phonebook (slot, text, address) "
                   "VALUES (?, ?, ?)");
  insert.Bind(1, static_cast<int64_t>(index))
      .Bind(2, platform::ToUtf8(entry.text))
      .Bind(3, platform::ToUtf8(entry.address));
  status = insert.Run();
  if (!status.ok()) return status;
  status = transaction.Commit();
  if (status.ok() && stored_at != nullptr) *stored_at = index;
  return status;
}

std::optional<SimEntry> ReadSimEntry(uint32_t index, Status* status) {
  std::shared_ptr<DeviceDb> db = Open(status);
  if (db == nullptr) return std::nullopt;
  Statement select(*db,
                   "SELECT text, address FROM sim_phonebook WHERE slot = ?");
  select.Bind(1, static_cast<int64_t>(index));
  if (!select.Step(status)) return std::nullopt;
  SimEntry entry;
  entry.index = index;
  entry.text = platform::FromUtf8(select.ColumnText(0));
  entry.address = platform::FromUtf8(select.ColumnText(1));
  return entry;
}

std::vector<SimEntry> ListSimEntries(Status* status) {
  std::vector<SimEntry> entries;
  std::shared_ptr<DeviceDb> db = Open(status);
  if (db == nullptr) return entries;
  Statement select(*db,
                   "SELECT slot, text, address FROM sim_phonebook "
                   "ORDER BY slot");
  while (select.Step(status)) {
    SimEntry entry;
    entry.index = static_cast<uint32_t>(select.ColumnInt(0));
    entry.text = platform::FromUtf8(select.ColumnText(1));
    entry.address = platform::FromUtf8(select.ColumnText(2));
    entries.push_back(std::move(entry));
  }
  return entries;
}

Status ClearSim() {
  Status status;
  std::shared_ptr<DeviceDb> db = Open(&status);
  if (db == nullptr) return status;
  return db->Exec("DELETE FROM sim_phonebook");
}

std::u16string CellularLineSerialNumber() {
  if (platform::GetDeviceSettingInt("cellular_line", 1) == 0) return u"";
  // The phone's IMEI: fixed for the simulated handset.
  return u"354066010347725";
}

}  // namespace device::contacts
