// The phone's message store over three tables of device.db; the layout is
// in docs/formats/message-store.md.
#include "device/cemapi/message_store.h"

#include <memory>
#include <utility>

#include "platform/device_db.h"
#include "platform/mapi.h"

namespace device::cemapi {
namespace {

using platform::DeviceDb;
using platform::ErrorCode;
using platform::FileTime;
using platform::Statement;
using platform::Status;

constexpr uint8_t kEntryIdVersion = 1;

// Row ids come from AUTOINCREMENT, so an identifier of a deleted object
// never names a later one. Texts are UTF-16LE blobs: kept exactly, unpaired
// surrogates included. The store and its folders have fixed row ids.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS msgstore_stores ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  name BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS msgstore_folders ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  store INTEGER NOT NULL,"
    "  parent INTEGER,"
    "  role INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  UNIQUE (store, role));"
    "CREATE TABLE IF NOT EXISTS msgstore_messages ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  folder INTEGER NOT NULL,"
    "  subject BLOB NOT NULL,"
    "  address BLOB NOT NULL,"
    "  delivery_time INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS msgstore_messages_folder"
    "  ON msgstore_messages(folder, delivery_time);"
    // "SMS", "", "Inbox", "Sent Items" in UTF-16LE.
    "INSERT OR IGNORE INTO msgstore_stores(id, name)"
    "  VALUES (1, x'53004d005300');"
    "INSERT OR IGNORE INTO msgstore_folders(id, store, parent, role, name)"
    "  VALUES (1, 1, NULL, 0, x''),"
    "         (2, 1, 1, 1, x'49006e0062006f007800'),"
    "         (3, 1, 1, 2, x'530065006e00740020004900740065006d007300');";

std::string Utf16Bytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::u16string Utf16Text(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  (static_cast<uint8_t>(bytes[i + 1]) << 8));
  }
  return text;
}

// The device's database with the store's tables; nullptr and *status set on
// failure.
std::shared_ptr<DeviceDb> OpenStore(Status* status) {
  Status local;
  std::shared_ptr<DeviceDb> db = DeviceDb::Get(&local);
  if (db == nullptr) {
    if (local.ok()) local = Status(ErrorCode::kUnavailable, "no device.db");
  } else {
    local = db->EnsureSchema("message_store", kSchema);
    if (!local.ok()) db = nullptr;
  }
  if (status != nullptr && !local.ok()) *status = std::move(local);
  return db;
}

void SetStatus(Status* status, Status value) {
  if (status != nullptr) *status = std::move(value);
}

constexpr const char* kMessageColumns =
    "SELECT id, folder, subject, address, delivery_time, flags"
    " FROM msgstore_messages";

PhoneMessage ReadMessage(const Statement& row) {
  PhoneMessage message;
  message.id = row.ColumnInt(0);
  message.folder = row.ColumnInt(1);
  message.text = Utf16Text(row.ColumnBlob(2));
  message.address = Utf16Text(row.ColumnBlob(3));
  message.delivery_time =
      FileTime::FromValue(static_cast<uint64_t>(row.ColumnInt(4)));
  message.flags = static_cast<uint32_t>(row.ColumnInt(5));
  return message;
}

FolderInfo ReadFolder(const Statement& row) {
  FolderInfo folder;
  folder.id = row.ColumnInt(0);
  folder.store = row.ColumnInt(1);
  folder.parent = row.ColumnIsNull(2) ? 0 : row.ColumnInt(2);
  folder.role = static_cast<FolderRole>(row.ColumnInt(3));
  folder.name = Utf16Text(row.ColumnBlob(4));
  return folder;
}

std::optional<FolderInfo> QueryFolder(const char* where, int64_t value,
                                      Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  std::string sql =
      std::string(
          "SELECT id, store, parent, role, name FROM msgstore_folders"
          " WHERE ") +
      where;
  Statement find(*db, sql.c_str());
  find.Bind(1, value);
  Status step;
  if (find.Step(&step)) return ReadFolder(find);
  SetStatus(status,
            step.ok() ? Status(ErrorCode::kNotFound, "no such folder") : step);
  return std::nullopt;
}

std::optional<std::string> AddMessage(FolderRole role,
                                      std::u16string_view address,
                                      std::u16string_view text, FileTime time,
                                      uint32_t flags, Status* status) {
  std::optional<FolderInfo> folder = FindSmsFolder(role, status);
  if (!folder) return std::nullopt;
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  std::string subject = Utf16Bytes(text);
  std::string address_bytes = Utf16Bytes(address);
  Statement insert(*db,
                   "INSERT INTO msgstore_messages(folder, subject, address,"
                   " delivery_time, flags) VALUES (?, ?, ?, ?, ?)");
  insert.Bind(1, folder->id)
      .BindBlob(2, subject.data(), subject.size())
      .BindBlob(3, address_bytes.data(), address_bytes.size())
      .Bind(4, static_cast<int64_t>(time.value()))
      .Bind(5, static_cast<int64_t>(flags));
  Status run = insert.Run();
  if (!run.ok()) {
    SetStatus(status, run);
    return std::nullopt;
  }
  // The statement still holds the connection's lock, so the row id is ours.
  int64_t id = sqlite3_last_insert_rowid(db->handle());
  return EncodeEntryId({EntryKind::kMessage, id});
}

}  // namespace

std::string EncodeEntryId(EntryRef ref) {
  std::string bytes(kEntryIdSize, '\0');
  bytes[4] = static_cast<char>(kEntryIdVersion);
  bytes[5] = static_cast<char>(ref.kind);
  uint64_t row = static_cast<uint64_t>(ref.row);
  for (int i = 0; i < 8; ++i) {
    bytes[6 + i] = static_cast<char>((row >> (8 * i)) & 0xFF);
  }
  return bytes;
}

std::optional<EntryRef> DecodeEntryId(std::string_view bytes) {
  if (bytes.size() != kEntryIdSize) return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] != 0) return std::nullopt;
  }
  if (static_cast<uint8_t>(bytes[4]) != kEntryIdVersion) return std::nullopt;
  uint8_t kind = static_cast<uint8_t>(bytes[5]);
  if (kind < 1 || kind > 3) return std::nullopt;
  uint64_t row = 0;
  for (int i = 7; i >= 0; --i) {
    row = (row << 8) | static_cast<uint8_t>(bytes[6 + i]);
  }
  if (row == 0 || row > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return EntryRef{static_cast<EntryKind>(kind), static_cast<int64_t>(row)};
}

Status EnsureMessageStore() {
  Status status;
  OpenStore(&status);
  return status;
}

std::optional<std::vector<StoreInfo>> ListStores(Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  Statement list(*db, "SELECT id, name FROM msgstore_stores ORDER BY id");
  std::vector<StoreInfo> stores;
  Status step;
  while (list.Step(&step)) {
    stores.push_back({list.ColumnInt(0), Utf16Text(list.ColumnBlob(1))});
  }
  if (!step.ok()) {
    SetStatus(status, step);
    return std::nullopt;
  }
  return stores;
}

std::optional<StoreInfo> FindStore(int64_t id, Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  Statement find(*db, "SELECT id, name FROM msgstore_stores WHERE id = ?");
  find.Bind(1, id);
  Status step;
  if (find.Step(&step)) {
    return StoreInfo{find.ColumnInt(0), Utf16Text(find.ColumnBlob(1))};
  }
  SetStatus(status,
            step.ok() ? Status(ErrorCode::kNotFound, "no such store") : step);
  return std::nullopt;
}

std::optional<FolderInfo> FindFolder(int64_t id, Status* status) {
  return QueryFolder("id = ?", id, status);
}

std::optional<FolderInfo> FindSmsFolder(FolderRole role, Status* status) {
  return QueryFolder(
      "role = ? AND store = (SELECT id FROM msgstore_stores WHERE name = "
      "x'53004d005300' ORDER BY id LIMIT 1)",
      static_cast<int64_t>(role), status);
}

std::optional<PhoneMessage> FindMessage(int64_t id, Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  std::string sql = std::string(kMessageColumns) + " WHERE id = ?";
  Statement find(*db, sql.c_str());
  find.Bind(1, id);
  Status step;
  if (find.Step(&step)) return ReadMessage(find);
  SetStatus(status,
            step.ok() ? Status(ErrorCode::kNotFound, "no such message") : step);
  return std::nullopt;
}

std::optional<PhoneMessage> FindMessage(std::string_view entry_id,
                                        Status* status) {
  std::optional<EntryRef> ref = DecodeEntryId(entry_id);
  if (!ref || ref->kind != EntryKind::kMessage) {
    SetStatus(status, Status(ErrorCode::kInvalidArgument,
                             "not a message entry identifier"));
    return std::nullopt;
  }
  return FindMessage(ref->row, status);
}

std::optional<std::vector<PhoneMessage>> ListMessages(int64_t folder_id,
                                                      Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  std::string sql = std::string(kMessageColumns) +
                    " WHERE folder = ? ORDER BY delivery_time DESC, id DESC";
  Statement list(*db, sql.c_str());
  list.Bind(1, folder_id);
  std::vector<PhoneMessage> messages;
  Status step;
  while (list.Step(&step)) messages.push_back(ReadMessage(list));
  if (!step.ok()) {
    SetStatus(status, step);
    return std::nullopt;
  }
  return messages;
}

std::optional<std::vector<PhoneMessage>> ListSmsFolder(FolderRole role,
                                                       Status* status) {
  std::optional<FolderInfo> folder = FindSmsFolder(role, status);
  if (!folder) return std::nullopt;
  return ListMessages(folder->id, status);
}

std::optional<int64_t> CountMessages(int64_t folder_id, Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  Statement count(*db,
                  "SELECT COUNT(*) FROM msgstore_messages WHERE folder = ?");
  count.Bind(1, folder_id);
  Status step;
  if (count.Step(&step)) return count.ColumnInt(0);
  SetStatus(status, step);
  return std::nullopt;
}

std::optional<int64_t> CountSmsFolder(FolderRole role, Status* status) {
  std::optional<FolderInfo> folder = FindSmsFolder(role, status);
  if (!folder) return std::nullopt;
  return CountMessages(folder->id, status);
}

std::optional<std::string> DeliverIncomingSms(std::u16string_view sender,
                                              std::u16string_view text,
                                              FileTime delivered,
                                              Status* status) {
  return AddMessage(FolderRole::kInbox, sender, text, delivered, 0, status);
}

std::optional<std::string> AddSentSms(std::u16string_view recipient,
                                      std::u16string_view text, FileTime sent,
                                      Status* status) {
  return AddMessage(FolderRole::kSentItems, recipient, text, sent,
                    platform::MSGFLAG_READ | platform::MSGFLAG_FROMME, status);
}

std::optional<int> DeleteMessagesIn(int64_t folder_id,
                                    const std::vector<int64_t>& message_ids,
                                    Status* status) {
  std::shared_ptr<DeviceDb> db = OpenStore(status);
  if (db == nullptr) return std::nullopt;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) {
    SetStatus(status, transaction.begin_status());
    return std::nullopt;
  }
  int deleted = 0;
  {
    Statement remove(
        *db, "DELETE FROM msgstore_messages WHERE id = ? AND folder = ?");
    for (int64_t id : message_ids) {
      remove.Reset();
      remove.Bind(1, id).Bind(2, folder_id);
      Status run = remove.Run();
      if (!run.ok()) {
        SetStatus(status, run);
        return std::nullopt;
      }
      deleted += sqlite3_changes(db->handle());
    }
  }
  Status commit = transaction.Commit();
  if (!commit.ok()) {
    SetStatus(status, commit);
    return std::nullopt;
  }
  return deleted;
}

Status DeleteMessage(std::string_view entry_id) {
  std::optional<EntryRef> ref = DecodeEntryId(entry_id);
  if (!ref || ref->kind != EntryKind::kMessage) {
    return Status(ErrorCode::kInvalidArgument,
                  "not a message entry identifier");
  }
  Status status;
  std::shared_ptr<DeviceDb> db = OpenStore(&status);
  if (db == nullptr) return status;
  Statement remove(*db, "DELETE FROM msgstore_messages WHERE id = ?");
  remove.Bind(1, ref->row);
  status = remove.Run();
  if (!status.ok()) return status;
  if (sqlite3_changes(db->handle()) == 0) {
    return Status(ErrorCode::kNotFound, "no such message");
  }
  return Status::Ok();
}

}  // namespace device::cemapi
