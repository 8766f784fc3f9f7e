#include "platform/device_db.h"

#include <unistd.h>

#include <map>
#include <utility>
#include <vector>

#include "platform/device.h"

namespace platform {
namespace {

// Long enough for another process's save or bulk import to finish.
constexpr int kBusyTimeoutMs = 30000;

struct Cache {
  Mutex mutex;
  pid_t pid GUARDED_BY(mutex) = 0;
  std::map<std::string, std::shared_ptr<DeviceDb>> by_path GUARDED_BY(mutex);
};

Cache& TheCache() {
  static Cache* cache = new Cache();  // never destroyed: used at exit
  return *cache;
}

}  // namespace

std::shared_ptr<DeviceDb> DeviceDb::OpenPath(const std::string& path,
                                             bool create, Status* status) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    if (status != nullptr) {
      *status = Status(
          rc == SQLITE_CANTOPEN ? ErrorCode::kUnavailable : ErrorCode::kIoError,
          "open " + path + ": " + sqlite3_errstr(rc));
    }
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  std::shared_ptr<DeviceDb> result(new DeviceDb(db));
  // WAL lets readers in other processes go on while one writes.
  Status s = result->Exec(
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
      "PRAGMA foreign_keys=ON;");
  if (!s.ok()) {
    if (status != nullptr) *status = s;
    return nullptr;
  }
  return result;
}

std::shared_ptr<DeviceDb> DeviceDb::Get(Status* status) {
  std::string path = DeviceDatabasePath().string();
  Cache& cache = TheCache();
  MutexLock lock(&cache.mutex);
  if (cache.pid != getpid()) {
    // A forked child must not use its parent's connections.
    // Closing them here could disturb the parent's locks, so they are kept
    // (unused) for the life of the child.
    static auto* inherited = new std::vector<std::shared_ptr<DeviceDb>>();
    for (auto& entry : cache.by_path) inherited->push_back(entry.second);
    cache.by_path.clear();
    cache.pid = getpid();
  }
  auto it = cache.by_path.find(path);
  if (it != cache.by_path.end()) return it->second;
  if (access(path.c_str(), F_OK) != 0) {
    if (status != nullptr) {
      *status = Status(
          ErrorCode::kUnavailable,
          "no device at " + DeviceRoot().string() + " (run: devicectl init)");
    }
    return nullptr;
  }
  std::shared_ptr<DeviceDb> db = OpenPath(path, /*create=*/false, status);
  if (db != nullptr) cache.by_path[path] = db;
  return db;
}

std::shared_ptr<DeviceDb> DeviceDb::GetWithSchema(const char* name,
                                                  const char* sql,
                                                  Status* status) {
  Status local;
  std::shared_ptr<DeviceDb> db = Get(&local);
  if (db != nullptr) local = db->EnsureSchema(name, sql);
  if (status != nullptr) *status = local;
  return local.ok() ? db : nullptr;
}

DeviceDb::~DeviceDb() {
  sqlite3_finalize(data_version_);
  sqlite3_close_v2(db_);
}

DeviceDb::ChangeStamp DeviceDb::CurrentChangeStamp() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ChangeStamp stamp;
  stamp.own = sqlite3_total_changes64(db_);
  if (data_version_ == nullptr &&
      sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &data_version_,
                         nullptr) != SQLITE_OK) {
    data_version_ = nullptr;
  }
  if (data_version_ != nullptr && sqlite3_step(data_version_) == SQLITE_ROW) {
    stamp.others = sqlite3_column_int64(data_version_, 0);
  } else {
    // Never equal to an earlier stamp: whoever caches must read again.
    stamp.others = -2 - failed_stamps_++;
  }
  if (data_version_ != nullptr) sqlite3_reset(data_version_);
  return stamp;
}

Status DeviceDb::Error(std::string_view what) const {
  std::string message(what);
  message += ": ";
  message += sqlite3_errmsg(db_);
  int rc = sqlite3_extended_errcode(db_);
  ErrorCode code = ErrorCode::kIoError;
  if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
    code = ErrorCode::kTimeout;
  } else if ((rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_PERM) {
    code = ErrorCode::kAccessDenied;
  }
  return Status(code, std::move(message));
}

Status DeviceDb::Exec(const char* sql) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error != nullptr ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    return Status(ErrorCode::kIoError, "device.db: " + message);
  }
  return Status::Ok();
}

Status DeviceDb::EnsureSchema(const char* name, const char* sql) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string marker = std::string("|") + name + "|";
  if (schemas_.find(marker) != std::string::npos) return Status::Ok();
  Status s = Exec(sql);
  if (s.ok()) schemas_ += marker;
  return s;
}

DeviceDb::Transaction::Transaction(DeviceDb& db) : db_(db), lock_(db.mutex_) {
  begin_ = db_.Exec("BEGIN IMMEDIATE");
  if (!begin_.ok()) done_ = true;
}

DeviceDb::Transaction::~Transaction() {
  if (!done_) db_.Exec("ROLLBACK").IgnoreError();
}

Status DeviceDb::Transaction::Commit() {
  if (done_)
    return begin_.ok() ? Status(ErrorCode::kInvalidArgument,
                                "transaction already ended")
                       : begin_;
  Status s = db_.Exec("COMMIT");
  if (s.ok()) done_ = true;
  return s;
}

Statement::Statement(DeviceDb& db, const char* sql)
    : db_(db), lock_(db.mutex()) {
  if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (stmt_ != nullptr) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, size_t size) {
  if (stmt_ != nullptr) {
    // An empty blob is still a blob, not NULL.
    static const char kEmpty = 0;
    sqlite3_bind_blob(stmt_, index, size == 0 ? &kEmpty : data,
                      static_cast<int>(size), SQLITE_TRANSIENT);
  }
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (stmt_ != nullptr) sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Statement::Step(Status* status) {
  if (stmt_ == nullptr) {
    if (status != nullptr) *status = db_.Error("prepare");
    return false;
  }
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE && status != nullptr) *status = db_.Error("step");
  return false;
}

Status Statement::Run() {
  Status status;
  Step(&status);
  return status;
}

void Statement::Reset() {
  if (stmt_ != nullptr) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

int64_t Statement::ColumnInt(int column) const {
  return sqlite3_column_int64(stmt_, column);
}

std::string Statement::ColumnText(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(size));
}

std::string Statement::ColumnBlob(int column) const {
  const void* data = sqlite3_column_blob(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return data == nullptr ? std::string()
                         : std::string(static_cast<const char*>(data),
                                       static_cast<size_t>(size));
}

bool Statement::ColumnIsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

}  // namespace platform
