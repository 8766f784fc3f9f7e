// The registry over two tables of device.db; docs/formats/registry.md gives
// the layout.
#include "platform/registry.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>

#include "platform/device_db.h"
#include "platform/unicode.h"

namespace platform {
namespace {

// One row per key, the root key of each root (empty path) included. A key's
// subtree is every key of its root whose folded path equals the key's or
// starts with it and "\": a range of the unique index, so deleting a subtree
// is one statement and needs no LIKE pattern. Deleting a key row deletes its
// values through the trigger (which does not depend on foreign_keys).
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS registry_keys ("
    "  id INTEGER PRIMARY KEY,"
    "  root INTEGER NOT NULL,"
    "  path TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  parent INTEGER,"
    "  UNIQUE (root, folded));"
    "CREATE INDEX IF NOT EXISTS registry_keys_parent"
    "  ON registry_keys(parent);"
    "CREATE TABLE IF NOT EXISTS registry_values ("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY (key, folded));"
    "CREATE TRIGGER IF NOT EXISTS registry_keys_delete"
    "  AFTER DELETE ON registry_keys BEGIN"
    "  DELETE FROM registry_values WHERE key = old.id; END;"
    "INSERT OR IGNORE INTO registry_keys(root, path, folded, parent)"
    "  VALUES (0, '', '', NULL), (1, '', '', NULL), (2, '', '', NULL);";

constexpr RegistryRoot kRoots[] = {RegistryRoot::kClassesRoot,
                                   RegistryRoot::kLocalMachine,
                                   RegistryRoot::kCurrentUser};

Status OpenRegistry(std::shared_ptr<DeviceDb>* db) {
  Status status;
  *db = DeviceDb::Get(&status);
  if (*db == nullptr) {
    return status.ok() ? Status(ErrorCode::kUnavailable, "no device.db")
                       : status;
  }
  return (*db)->EnsureSchema("registry", kSchema);
}

// Text SQLite can keep exactly: no NUL, no unpaired surrogate.
bool StorableText(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string Label(RegistryRoot root, std::u16string_view path) {
  std::string label = RegistryRootName(root);
  if (!path.empty()) label += "\\" + ToUtf8(path);
  return label;
}

Status KeyNotFound(RegistryRoot root, std::u16string_view path) {
  return Status(ErrorCode::kNotFound,
                "registry key " + Label(root, path) + " not found");
}

Status ValueNotFound(RegistryRoot root, std::u16string_view path,
                     std::u16string_view name) {
  return Status(ErrorCode::kNotFound, "registry value \"" + ToUtf8(name) +
                                          "\" of " + Label(root, path) +
                                          " not found");
}

Status BadName(std::u16string_view what) {
  return Status(
      ErrorCode::kInvalidArgument,
      "registry " + ToUtf8(what) + " holds a NUL or an unpaired surrogate");
}

// The path without empty components, joined with "\".
bool NormalisePath(std::u16string_view path, std::vector<std::u16string>* parts,
                   std::u16string* joined, Status* status) {
  if (!StorableText(path)) {
    *status = BadName(u"key path");
    return false;
  }
  parts->clear();
  joined->clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) {
      parts->emplace_back(path.substr(start, end - start));
      if (!joined->empty()) *joined += u'\\';
      *joined += parts->back();
    }
    start = end + 1;
  }
  return true;
}

std::string FoldedUtf8(std::u16string_view text) {
  return ToUtf8(FoldCase(text));
}

struct KeyRow {
  int64_t id = 0;
  std::u16string path;
};

// The key with this folded path; nullopt when there is none or on an error
// (then *status is set).
std::optional<KeyRow> FindKey(DeviceDb& db, RegistryRoot root,
                              const std::string& folded, Status* status) {
  Statement find(db,
                 "SELECT id, path FROM registry_keys"
                 " WHERE root = ? AND folded = ?");
  find.Bind(1, static_cast<int64_t>(root)).Bind(2, folded);
  if (!find.Step(status)) return std::nullopt;
  return KeyRow{find.ColumnInt(0), FromUtf8(find.ColumnText(1))};
}

// As FindKey, inside a write transaction; the root key is made if its row
// was ever lost, since a root always exists.
std::optional<KeyRow> FindKeyForWrite(DeviceDb& db, RegistryRoot root,
                                      const std::string& folded,
                                      Status* status) {
  std::optional<KeyRow> key = FindKey(db, root, folded, status);
  if (key || !status->ok() || !folded.empty()) return key;
  {
    Statement insert(db,
                     "INSERT OR IGNORE INTO registry_keys(root, path, folded)"
                     " VALUES (?, '', '')");
    insert.Bind(1, static_cast<int64_t>(root));
    *status = insert.Run();
    if (!status->ok()) return std::nullopt;
  }
  return FindKey(db, root, folded, status);
}

std::string LittleEndian(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return bytes;
}

std::u16string LastComponent(const std::u16string& path) {
  size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char ca = a[i], cb = b[i];
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<char>(cb - 'A' + 'a');
    if (ca != cb) return false;
  }
  return true;
}

bool ValidRoot(RegistryRoot root) {
  return std::find(std::begin(kRoots), std::end(kRoots), root) !=
         std::end(kRoots);
}

Status BadRoot(RegistryRoot root) {
  return Status(ErrorCode::kInvalidArgument,
                "no registry root " + std::to_string(static_cast<int>(root)));
}

template <typename T>
std::optional<T> Fail(Status* status, Status failure) {
  if (status != nullptr) *status = std::move(failure);
  return std::nullopt;
}

// The injector, when a test installed one (see SetRegistryFaultInjector).
std::atomic<RegistryFaultInjector*> fault_injector{nullptr};

// The seam: asked inside the transaction before every write.
Status AskWrite(RegistryWriteKind kind, RegistryRoot root,
                std::u16string_view path, std::u16string_view name = {}) {
  RegistryFaultInjector* injector =
      fault_injector.load(std::memory_order_acquire);
  if (injector == nullptr) [[likely]] {
    return Status::Ok();
  }
  return injector->BeforeWrite(kind, root, path, name);
}

std::string StringData(std::u16string_view text) {
  std::string data;
  data.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    data += static_cast<char>(c & 0xFF);
    data += static_cast<char>(c >> 8);
  }
  data.append(2, '\0');
  return data;
}

// The writes below run inside an open write transaction; a failure leaves
// it to be rolled back.

// Opens the key `parts` of `root`, making it and any missing parents with
// the case given. *stored is its path as stored; *made tells whether the
// key itself was new.
Status CreateKeyIn(DeviceDb& db, RegistryRoot root,
                   const std::vector<std::u16string>& parts,
                   const std::u16string& normal, std::u16string* stored,
                   bool* made) {
  Status s = AskWrite(RegistryWriteKind::kCreateKey, root, normal);
  if (!s.ok()) return s;
  std::optional<KeyRow> parent = FindKeyForWrite(db, root, "", &s);
  if (!parent) return s.ok() ? KeyNotFound(root, u"") : s;
  // Walk down from the root, keeping the stored case of every key that
  // exists and making the rest with the case given.
  stored->clear();
  *made = false;
  std::u16string folded;
  for (const std::u16string& part : parts) {
    if (!folded.empty()) folded += u'\\';
    folded += FoldCase(part);
    std::string folded_utf8 = ToUtf8(folded);
    std::optional<KeyRow> key = FindKey(db, root, folded_utf8, &s);
    if (!s.ok()) return s;
    if (key) {
      parent = std::move(key);
      *stored = parent->path;
      *made = false;
      continue;
    }
    if (!stored->empty()) *stored += u'\\';
    *stored += part;
    Statement insert(db,
                     "INSERT INTO registry_keys(root, path, folded, parent)"
                     " VALUES (?, ?, ?, ?)");
    insert.Bind(1, static_cast<int64_t>(root))
        .Bind(2, ToUtf8(*stored))
        .Bind(3, folded_utf8)
        .Bind(4, parent->id);
    s = insert.Run();
    if (!s.ok()) return s;
    parent = KeyRow{sqlite3_last_insert_rowid(db.handle()), *stored};
    *made = true;
  }
  return Status::Ok();
}

// Deletes the key `normal` (not a root) and its subtree; *found tells
// whether it existed.
Status DeleteKeyIn(DeviceDb& db, RegistryRoot root,
                   const std::u16string& normal, bool* found) {
  Status s = AskWrite(RegistryWriteKind::kDeleteKey, root, normal);
  if (!s.ok()) return s;
  std::string folded = FoldedUtf8(normal);
  // The key and every key below it: "\" is 0x5C and "]" 0x5D, so the
  // folded paths in [folded "\", folded "]") are exactly those that start
  // with folded "\" (paths compare bytewise).
  Statement remove(db,
                   "DELETE FROM registry_keys WHERE root = ?1"
                   " AND (folded = ?2 OR (folded >= ?3 AND folded < ?4))");
  remove.Bind(1, static_cast<int64_t>(root))
      .Bind(2, folded)
      .Bind(3, folded + "\\")
      .Bind(4, folded + "]");
  s = remove.Run();
  if (!s.ok()) return s;
  *found = sqlite3_changes(db.handle()) != 0;
  return Status::Ok();
}

// Writes a value of the existing key `normal`; a new value takes `name` as
// given, an existing one keeps its first name.
Status SetValueIn(DeviceDb& db, RegistryRoot root, const std::u16string& normal,
                  std::u16string_view name, RegistryType type,
                  std::string_view data) {
  if (!StorableText(name)) return BadName(u"value name");
  if (data.size() > static_cast<size_t>(
                        sqlite3_limit(db.handle(), SQLITE_LIMIT_LENGTH, -1))) {
    return Status(ErrorCode::kInvalidArgument, "registry value of " +
                                                   std::to_string(data.size()) +
                                                   " bytes is too large");
  }
  Status s = AskWrite(RegistryWriteKind::kSetValue, root, normal, name);
  if (!s.ok()) return s;
  std::optional<KeyRow> key = FindKeyForWrite(db, root, FoldedUtf8(normal), &s);
  if (!s.ok()) return s;
  // A key deleted since it was opened stays deleted.
  if (!key) return KeyNotFound(root, normal);
  Statement upsert(db,
                   "INSERT INTO registry_values(key, name, folded, type, data)"
                   " VALUES (?, ?, ?, ?, ?) ON CONFLICT(key, folded)"
                   " DO UPDATE SET type = excluded.type,"
                   " data = excluded.data");
  upsert.Bind(1, key->id)
      .Bind(2, ToUtf8(name))
      .Bind(3, FoldedUtf8(name))
      .Bind(4, static_cast<int64_t>(static_cast<uint32_t>(type)))
      .BindBlob(5, data.data(), data.size());
  return upsert.Run();
}

}  // namespace

std::optional<RegistryKey> RegistryKey::Open(RegistryRoot root,
                                             std::u16string_view path,
                                             Status* status) {
  std::vector<std::u16string> parts;
  std::u16string normal;
  Status s;
  if (!ValidRoot(root)) return Fail<RegistryKey>(status, BadRoot(root));
  if (!NormalisePath(path, &parts, &normal, &s)) {
    return Fail<RegistryKey>(status, s);
  }
  std::shared_ptr<DeviceDb> db;
  s = OpenRegistry(&db);
  if (!s.ok()) return Fail<RegistryKey>(status, s);
  if (normal.empty()) {
    if (status != nullptr) *status = Status::Ok();
    return RegistryKey(root, u"");
  }
  std::optional<KeyRow> key = FindKey(*db, root, FoldedUtf8(normal), &s);
  if (!s.ok()) return Fail<RegistryKey>(status, s);
  if (!key) return Fail<RegistryKey>(status, KeyNotFound(root, normal));
  if (status != nullptr) *status = Status::Ok();
  return RegistryKey(root, std::move(key->path));
}

std::optional<RegistryKey> RegistryKey::Create(RegistryRoot root,
                                               std::u16string_view path,
                                               bool* created, Status* status) {
  if (created != nullptr) *created = false;
  std::vector<std::u16string> parts;
  std::u16string normal;
  Status s;
  if (!ValidRoot(root)) return Fail<RegistryKey>(status, BadRoot(root));
  if (!NormalisePath(path, &parts, &normal, &s)) {
    return Fail<RegistryKey>(status, s);
  }
  std::shared_ptr<DeviceDb> db;
  s = OpenRegistry(&db);
  if (!s.ok()) return Fail<RegistryKey>(status, s);

  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) {
    return Fail<RegistryKey>(status, transaction.begin_status());
  }
  std::u16string stored;
  bool made = false;
  s = CreateKeyIn(*db, root, parts, normal, &stored, &made);
  if (!s.ok()) return Fail<RegistryKey>(status, s);
  s = transaction.Commit();
  if (!s.ok()) return Fail<RegistryKey>(status, s);
  if (created != nullptr) *created = made;
  if (status != nullptr) *status = Status::Ok();
  return RegistryKey(root, std::move(stored));
}

Status RegistryKey::Query(std::u16string_view name, size_t capacity,
                          RegistryValue* out, size_t* needed) const {
  if (!StorableText(name)) return BadName(u"value name");
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) return s;
  // One statement, so the key and the value are read from one snapshot:
  // no row means no key, a row of NULLs a key without this value.
  Statement query(*db,
                  "SELECT v.name, v.type, v.data FROM registry_keys k"
                  " LEFT JOIN registry_values v"
                  "   ON v.key = k.id AND v.folded = ?3"
                  " WHERE k.root = ?1 AND k.folded = ?2");
  query.Bind(1, static_cast<int64_t>(root_))
      .Bind(2, FoldedUtf8(path_))
      .Bind(3, FoldedUtf8(name));
  if (!query.Step(&s)) {
    if (!s.ok()) return s;
    // A root always exists, even if its row was lost.
    return path_.empty() ? ValueNotFound(root_, path_, name)
                         : KeyNotFound(root_, path_);
  }
  if (query.ColumnIsNull(0)) return ValueNotFound(root_, path_, name);
  std::string data = query.ColumnBlob(2);
  if (needed != nullptr) *needed = data.size();
  if (out != nullptr) {
    out->name = FromUtf8(query.ColumnText(0));
    out->type =
        static_cast<RegistryType>(static_cast<uint32_t>(query.ColumnInt(1)));
    out->data.clear();
  }
  if (out == nullptr) return Status::Ok();
  if (data.size() > capacity) {
    return Status(ErrorCode::kMoreData,
                  "registry value \"" + ToUtf8(name) + "\" of " +
                      Label(root_, path_) + " holds " +
                      std::to_string(data.size()) + " bytes, " +
                      std::to_string(capacity) + " given");
  }
  out->data = std::move(data);
  return Status::Ok();
}

namespace {

Status WrongType(std::u16string_view name, const char* wanted) {
  return Status(ErrorCode::kWrongType,
                "registry value \"" + ToUtf8(name) + "\" is not " + wanted);
}

}  // namespace

std::optional<uint32_t> RegistryKey::QueryDword(std::u16string_view name,
                                                Status* status) const {
  RegistryValue value;
  size_t size = 0;
  Status s = Query(name, 4, &value, &size);
  // The type is known even when the data did not fit, and a DWORD value of
  // another size than 4 bytes is no DWORD either.
  if ((s.ok() || s.code() == ErrorCode::kMoreData) &&
      (value.type != RegistryType::kDword || size != 4)) {
    return Fail<uint32_t>(status, WrongType(name, "a 4-byte DWORD"));
  }
  if (!s.ok()) return Fail<uint32_t>(status, s);
  uint32_t result = 0;
  for (int i = 3; i >= 0; --i) {
    result = (result << 8) | static_cast<unsigned char>(value.data[i]);
  }
  if (status != nullptr) *status = Status::Ok();
  return result;
}

std::optional<std::u16string> RegistryKey::QueryString(std::u16string_view name,
                                                       size_t capacity_chars,
                                                       Status* status) const {
  size_t capacity =
      capacity_chars > SIZE_MAX / 2 ? SIZE_MAX : capacity_chars * 2;
  RegistryValue value;
  Status s = Query(name, capacity, &value);
  bool is_string =
      value.type == RegistryType::kSz || value.type == RegistryType::kExpandSz;
  // The type is known even when the data did not fit: the wrong type wins.
  if ((s.ok() || s.code() == ErrorCode::kMoreData) && !is_string) {
    return Fail<std::u16string>(status, WrongType(name, "a string"));
  }
  if (!s.ok()) return Fail<std::u16string>(status, s);
  std::u16string text;
  text.reserve(value.data.size() / 2);
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(
        static_cast<unsigned char>(value.data[i]) |
        (static_cast<unsigned char>(value.data[i + 1]) << 8));
    if (c == 0) break;
    text += c;
  }
  if (status != nullptr) *status = Status::Ok();
  return text;
}

std::optional<std::string> RegistryKey::QueryBinary(std::u16string_view name,
                                                    size_t capacity,
                                                    Status* status) const {
  RegistryValue value;
  Status s = Query(name, capacity, &value);
  if ((s.ok() || s.code() == ErrorCode::kMoreData) &&
      value.type != RegistryType::kBinary) {
    return Fail<std::string>(status, WrongType(name, "binary"));
  }
  if (!s.ok()) return Fail<std::string>(status, s);
  if (status != nullptr) *status = Status::Ok();
  return std::move(value.data);
}

Status RegistryKey::Set(std::u16string_view name, RegistryType type,
                        std::string_view data) {
  if (!StorableText(name)) return BadName(u"value name");
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) return s;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  s = SetValueIn(*db, root_, path_, name, type, data);
  if (!s.ok()) return s;
  return transaction.Commit();
}

Status RegistryKey::SetDword(std::u16string_view name, uint32_t value) {
  return Set(name, RegistryType::kDword, LittleEndian(value));
}

Status RegistryKey::SetString(std::u16string_view name,
                              std::u16string_view text) {
  return Set(name, RegistryType::kSz, StringData(text));
}

Status RegistryKey::SetBinary(std::u16string_view name, std::string_view data) {
  return Set(name, RegistryType::kBinary, data);
}

Status RegistryKey::DeleteValue(std::u16string_view name) {
  if (!StorableText(name)) return BadName(u"value name");
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) return s;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  std::optional<KeyRow> key = FindKey(*db, root_, FoldedUtf8(path_), &s);
  if (!s.ok()) return s;
  if (!key) {
    return path_.empty() ? ValueNotFound(root_, path_, name)
                         : KeyNotFound(root_, path_);
  }
  s = AskWrite(RegistryWriteKind::kDeleteValue, root_, path_, name);
  if (!s.ok()) return s;
  {
    Statement remove(
        *db, "DELETE FROM registry_values WHERE key = ? AND folded = ?");
    remove.Bind(1, key->id).Bind(2, FoldedUtf8(name));
    s = remove.Run();
    if (!s.ok()) return s;
    if (sqlite3_changes(db->handle()) == 0) {
      return ValueNotFound(root_, path_, name);
    }
  }
  return transaction.Commit();
}

std::vector<RegistryValue> RegistryKey::Values(Status* status) const {
  std::vector<RegistryValue> values;
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) {
    if (status != nullptr) *status = s;
    return values;
  }
  bool key_found = false;
  {
    Statement query(*db,
                    "SELECT v.name, v.type, v.data FROM registry_keys k"
                    " LEFT JOIN registry_values v ON v.key = k.id"
                    " WHERE k.root = ? AND k.folded = ?");
    query.Bind(1, static_cast<int64_t>(root_)).Bind(2, FoldedUtf8(path_));
    while (query.Step(&s)) {
      key_found = true;
      if (query.ColumnIsNull(0)) continue;
      RegistryValue value;
      value.name = FromUtf8(query.ColumnText(0));
      value.type =
          static_cast<RegistryType>(static_cast<uint32_t>(query.ColumnInt(1)));
      value.data = query.ColumnBlob(2);
      values.push_back(std::move(value));
    }
  }
  if (s.ok() && !key_found && !path_.empty()) s = KeyNotFound(root_, path_);
  if (!s.ok()) values.clear();
  std::sort(values.begin(), values.end(),
            [](const RegistryValue& a, const RegistryValue& b) {
              return CompareIgnoreCase(a.name, b.name) < 0;
            });
  if (status != nullptr) *status = s;
  return values;
}

std::vector<std::u16string> RegistryKey::Subkeys(Status* status) const {
  std::vector<std::u16string> names;
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) {
    if (status != nullptr) *status = s;
    return names;
  }
  bool key_found = false;
  {
    Statement query(*db,
                    "SELECT c.path FROM registry_keys k"
                    " LEFT JOIN registry_keys c ON c.parent = k.id"
                    " WHERE k.root = ? AND k.folded = ?");
    query.Bind(1, static_cast<int64_t>(root_)).Bind(2, FoldedUtf8(path_));
    while (query.Step(&s)) {
      key_found = true;
      if (query.ColumnIsNull(0)) continue;
      names.push_back(LastComponent(FromUtf8(query.ColumnText(0))));
    }
  }
  if (s.ok() && !key_found && !path_.empty()) s = KeyNotFound(root_, path_);
  if (!s.ok()) names.clear();
  std::sort(names.begin(), names.end(),
            [](const std::u16string& a, const std::u16string& b) {
              return CompareIgnoreCase(a, b) < 0;
            });
  if (status != nullptr) *status = s;
  return names;
}

Status RegistryKey::Flush() const {
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) return s;
  std::lock_guard<std::recursive_mutex> lock(db->mutex());
  // FULL waits (through the busy timeout) for other writers and for readers
  // of older snapshots, then copies the whole log into device.db and syncs
  // it, so every committed write so far is on storage.
  int rc = sqlite3_wal_checkpoint_v2(db->handle(), nullptr,
                                     SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
  if (rc != SQLITE_OK) return db->Error("registry flush");
  return Status::Ok();
}

Status DeleteRegistryKey(RegistryRoot root, std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string normal;
  Status s;
  if (!ValidRoot(root)) return BadRoot(root);
  if (!NormalisePath(path, &parts, &normal, &s)) return s;
  std::shared_ptr<DeviceDb> db;
  s = OpenRegistry(&db);
  if (!s.ok()) return s;
  if (normal.empty()) {
    return Status(ErrorCode::kInvalidArgument, std::string("the root ") +
                                                   RegistryRootName(root) +
                                                   " cannot be deleted");
  }
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  bool found = false;
  s = DeleteKeyIn(*db, root, normal, &found);
  if (!s.ok()) return s;
  if (!found) return KeyNotFound(root, normal);
  return transaction.Commit();
}

// ---------------------------------------------------------------------------
// RegistryBatch

RegistryBatch& RegistryBatch::CreateKey(RegistryRoot root,
                                        std::u16string_view path) {
  writes_.push_back(Write{Kind::kCreateKey,
                          root,
                          std::u16string(path),
                          {},
                          RegistryType::kNone,
                          {}});
  return *this;
}

RegistryBatch& RegistryBatch::DeleteKey(RegistryRoot root,
                                        std::u16string_view path) {
  writes_.push_back(Write{Kind::kDeleteKey,
                          root,
                          std::u16string(path),
                          {},
                          RegistryType::kNone,
                          {}});
  return *this;
}

RegistryBatch& RegistryBatch::Set(RegistryRoot root, std::u16string_view path,
                                  std::u16string_view name, RegistryType type,
                                  std::string_view data) {
  writes_.push_back(Write{Kind::kSetValue, root, std::u16string(path),
                          std::u16string(name), type, std::string(data)});
  return *this;
}

RegistryBatch& RegistryBatch::SetDword(RegistryRoot root,
                                       std::u16string_view path,
                                       std::u16string_view name,
                                       uint32_t value) {
  return Set(root, path, name, RegistryType::kDword, LittleEndian(value));
}

RegistryBatch& RegistryBatch::SetString(RegistryRoot root,
                                        std::u16string_view path,
                                        std::u16string_view name,
                                        std::u16string_view text) {
  return Set(root, path, name, RegistryType::kSz, StringData(text));
}

RegistryBatch& RegistryBatch::SetBinary(RegistryRoot root,
                                        std::u16string_view path,
                                        std::u16string_view name,
                                        std::string_view data) {
  return Set(root, path, name, RegistryType::kBinary, data);
}

Status RegistryBatch::Commit() const {
  if (writes_.empty()) return Status::Ok();
  // Everything that can be checked without the database first.
  std::vector<std::vector<std::u16string>> parts(writes_.size());
  std::vector<std::u16string> normal(writes_.size());
  for (size_t i = 0; i < writes_.size(); ++i) {
    const Write& write = writes_[i];
    if (!ValidRoot(write.root)) return BadRoot(write.root);
    Status s;
    if (!NormalisePath(write.path, &parts[i], &normal[i], &s)) return s;
    if (write.kind == Kind::kSetValue && !StorableText(write.name)) {
      return BadName(u"value name");
    }
    if (write.kind == Kind::kDeleteKey && normal[i].empty()) {
      return Status(ErrorCode::kInvalidArgument,
                    std::string("the root ") + RegistryRootName(write.root) +
                        " cannot be deleted");
    }
  }
  std::shared_ptr<DeviceDb> db;
  Status s = OpenRegistry(&db);
  if (!s.ok()) return s;
  DeviceDb::Transaction transaction(*db);
  if (!transaction.begin_status().ok()) return transaction.begin_status();
  for (size_t i = 0; i < writes_.size(); ++i) {
    const Write& write = writes_[i];
    switch (write.kind) {
      case Kind::kCreateKey: {
        std::u16string stored;
        bool made = false;
        s = CreateKeyIn(*db, write.root, parts[i], normal[i], &stored, &made);
        break;
      }
      case Kind::kDeleteKey: {
        bool found = false;
        s = DeleteKeyIn(*db, write.root, normal[i], &found);
        break;
      }
      case Kind::kSetValue:
        s = SetValueIn(*db, write.root, normal[i], write.name, write.type,
                       write.data);
        break;
    }
    if (!s.ok()) return s;  // rolled back with the transaction
  }
  return transaction.Commit();
}

RegistryFaultInjector* SetRegistryFaultInjector(
    RegistryFaultInjector* injector) {
  return fault_injector.exchange(injector, std::memory_order_acq_rel);
}

std::optional<RegistryRoot> ParseRegistryRoot(std::string_view text) {
  static constexpr const char* kShort[] = {"HKCR", "HKLM", "HKCU"};
  for (size_t i = 0; i < std::size(kRoots); ++i) {
    if (AsciiEqualsIgnoreCase(text, kShort[i]) ||
        AsciiEqualsIgnoreCase(text, RegistryRootName(kRoots[i]))) {
      return kRoots[i];
    }
  }
  return std::nullopt;
}

const char* RegistryRootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRoot::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRoot::kCurrentUser:
      return "HKEY_CURRENT_USER";
  }
  return "HKEY_UNKNOWN";
}

}  // namespace platform
