#include "platform/testing/registry_faults.h"

#include <sqlite3.h>

#include <utility>

#include "platform/device.h"
#include "platform/unicode.h"

namespace platform::testing {

RegistryFaults::RegistryFaults() { previous_ = SetRegistryFaultInjector(this); }

RegistryFaults::~RegistryFaults() { SetRegistryFaultInjector(previous_); }

void RegistryFaults::FailWrite(size_t n) {
  MutexLock lock(&mutex_);
  armed_ = true;
  kind_.reset();
  target_ = n;
  fired_ = false;
}

void RegistryFaults::FailWrite(RegistryWriteKind kind, size_t n) {
  MutexLock lock(&mutex_);
  armed_ = true;
  kind_ = kind;
  target_ = n;
  fired_ = false;
}

void RegistryFaults::set_observer(std::function<void(const Write&)> observer) {
  MutexLock lock(&mutex_);
  observer_ = std::move(observer);
}

size_t RegistryFaults::writes() const {
  MutexLock lock(&mutex_);
  return log_.size();
}

size_t RegistryFaults::writes(RegistryWriteKind kind) const {
  MutexLock lock(&mutex_);
  return per_kind_[static_cast<size_t>(kind)];
}

std::vector<RegistryFaults::Write> RegistryFaults::log() const {
  MutexLock lock(&mutex_);
  return log_;
}

bool RegistryFaults::fired() const {
  MutexLock lock(&mutex_);
  return fired_;
}

Status RegistryFaults::BeforeWrite(RegistryWriteKind kind, RegistryRoot root,
                                   std::u16string_view path,
                                   std::u16string_view name) {
  Write record{kind, root, std::u16string(path), std::u16string(name), 0};
  bool hit = false;
  std::function<void(const Write&)> observer;
  {
    MutexLock lock(&mutex_);
    record.index = log_.size() + 1;
    size_t& of_kind = per_kind_[static_cast<size_t>(kind)];
    ++of_kind;
    log_.push_back(record);
    hit = armed_ && !fired_ &&
          (kind_ ? *kind_ == kind && of_kind == target_
                 : record.index == target_);
    if (hit) fired_ = true;
    observer = observer_;
  }
  if (observer) observer(record);
  if (!hit) return Status::Ok();
  return Status(ErrorCode::kIoError, "injected failure of registry write " +
                                         std::to_string(record.index) + " (\"" +
                                         ToUtf8(name) + "\" of " +
                                         ToUtf8(path) + ")");
}

std::vector<CommittedValue> CommittedRegistry(RegistryRoot root,
                                              std::u16string_view path) {
  std::vector<CommittedValue> values;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(DeviceDatabasePath().c_str(), &db, SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return values;
  }
  sqlite3_busy_timeout(db, 30000);
  std::u16string trimmed(path);
  while (!trimmed.empty() && trimmed.front() == u'\\') trimmed.erase(0, 1);
  while (!trimmed.empty() && trimmed.back() == u'\\') trimmed.pop_back();
  std::string folded = ToUtf8(FoldCase(trimmed));
  sqlite3_stmt* query = nullptr;
  const char* sql =
      "SELECT k.path, v.name, v.type, v.data FROM registry_values v"
      " JOIN registry_keys k ON v.key = k.id WHERE k.root = ?1"
      " AND (k.folded = ?2 OR (k.folded >= ?2 || '\\' AND"
      "      k.folded < ?2 || ']'))"
      " ORDER BY k.folded, v.folded";
  if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(query, 1, static_cast<int64_t>(root));
    sqlite3_bind_text(query, 2, folded.data(), static_cast<int>(folded.size()),
                      SQLITE_TRANSIENT);
    while (sqlite3_step(query) == SQLITE_ROW) {
      CommittedValue value;
      auto text = [&](int column) {
        const unsigned char* bytes = sqlite3_column_text(query, column);
        return bytes == nullptr
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(bytes),
                                 static_cast<size_t>(
                                     sqlite3_column_bytes(query, column)));
      };
      value.key = text(0);
      value.name = text(1);
      value.type = static_cast<uint32_t>(sqlite3_column_int64(query, 2));
      const void* blob = sqlite3_column_blob(query, 3);
      if (blob != nullptr) {
        value.data.assign(static_cast<const char*>(blob),
                          static_cast<size_t>(sqlite3_column_bytes(query, 3)));
      }
      values.push_back(std::move(value));
    }
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return values;
}

}  // namespace platform::testing
