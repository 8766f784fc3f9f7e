// device.db: the one SQLite database of a device, shared by every process on
// it (registry, device settings, and the phone's own stores that the
// stand-in system libraries keep).
//
// Each process opens its own connection (per device root; a forked child
// reopens), in WAL mode with a generous busy timeout, so concurrent readers
// and writers in several processes wait for one another instead of failing.
// Within a process the connection is shared; Transaction serialises threads.
#ifndef TELVANE_PLATFORM_DEVICE_DB_H_
#define TELVANE_PLATFORM_DEVICE_DB_H_

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/thread_annotations.h"

namespace platform {

class DeviceDb {
 public:
  // The connection to the current device's database; nullptr (and `status`
  // set when given) when the device is not initialised or cannot be opened.
  static std::shared_ptr<DeviceDb> Get(Status* status = nullptr);
  // The connection with the tables of one part of the device made (see
  // EnsureSchema); nullptr (and `status` set when given) when either fails.
  static std::shared_ptr<DeviceDb> GetWithSchema(const char* name,
                                                 const char* sql,
                                                 Status* status = nullptr);

  // Opens `path`, creating it when `create` is set; used by InitialiseDevice.
  static std::shared_ptr<DeviceDb> OpenPath(const std::string& path,
                                            bool create, Status* status);

  ~DeviceDb();
  DeviceDb(const DeviceDb&) = delete;
  DeviceDb& operator=(const DeviceDb&) = delete;

  sqlite3* handle() const { return db_; }

  // Runs `sql` (one or more statements, no results).
  Status Exec(const char* sql);

  // Creates the tables of one part of the device once per connection.
  // `name` identifies the schema; `sql` must use CREATE ... IF NOT EXISTS.
  Status EnsureSchema(const char* name, const char* sql);

  // A write transaction (BEGIN IMMEDIATE): holds this process's connection
  // lock for its lifetime and rolls back unless Commit() succeeded.
  class Transaction {
   public:
    explicit Transaction(DeviceDb& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    const Status& begin_status() const { return begin_; }
    Status Commit();

   private:
    DeviceDb& db_;
    std::unique_lock<std::recursive_mutex> lock_;
    Status begin_;
    bool done_ = false;
  };

  // Which state of the database a reader saw: `others` moves when another
  // connection (another process) commits, `own` when this connection
  // changes rows. Equal stamps mean nothing changed in between, so a value
  // read under one stamp may be reused while the stamp stays the same.
  struct ChangeStamp {
    int64_t others = -1;
    int64_t own = -1;
    bool operator==(const ChangeStamp&) const = default;
  };
  // The current stamp; a failed read gives a stamp equal to no other.
  ChangeStamp CurrentChangeStamp();

  // Held around any statement sequence outside a Transaction.
  std::recursive_mutex& mutex() { return mutex_; }

  Status Error(std::string_view what) const;

 private:
  explicit DeviceDb(sqlite3* db) : db_(db) {}

  sqlite3* db_;
  std::recursive_mutex mutex_;
  std::string schemas_;  // names of schemas ensured, "|"-separated
  sqlite3_stmt* data_version_ =
      nullptr;  // "PRAGMA data_version", kept prepared
  int64_t failed_stamps_ = 0;
};

// A prepared statement with bind helpers; finalised when destroyed. It holds
// the connection's lock for its lifetime, so a statement and its rows are
// never interleaved with another thread's.
class Statement {
 public:
  Statement(DeviceDb& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool valid() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, const void* data, size_t size);
  Statement& BindNull(int index);

  // Advances: true while a row is available. `status` reports an error.
  bool Step(Status* status = nullptr);
  // Runs a statement without result rows.
  Status Run();
  void Reset();

  int64_t ColumnInt(int column) const;
  std::string ColumnText(int column) const;
  std::string ColumnBlob(int column) const;
  bool ColumnIsNull(int column) const;

 private:
  DeviceDb& db_;
  std::unique_lock<std::recursive_mutex>
      lock_;  // held while the statement lives
  sqlite3_stmt* stmt_ = nullptr;
};

// A value that is read from device.db on every message (a setting) kept
// between reads: read again only after the database changed (anyone's
// write, in any process). Without a device it is read every time.
// Thread-safe.
template <typename T>
class ChangeCachedValue {
 public:
  template <typename Read>
  T Get(Read read) EXCLUDES(mutex_) {
    std::shared_ptr<DeviceDb> db = DeviceDb::Get();
    MutexLock lock(&mutex_);
    DeviceDb::ChangeStamp stamp;
    if (db != nullptr) {
      stamp = db->CurrentChangeStamp();
      if (value_ && db_.lock() == db && stamp == stamp_) return *value_;
    }
    // The stamp was taken before the read: a change in between only makes
    // the next call read again.
    T value = read();
    db_ = db;
    stamp_ = stamp;
    if (db != nullptr) {
      value_ = value;
    } else {
      value_.reset();
    }
    return value;
  }

 private:
  Mutex mutex_;
  std::weak_ptr<DeviceDb> db_ GUARDED_BY(mutex_);
  DeviceDb::ChangeStamp stamp_ GUARDED_BY(mutex_);
  std::optional<T> value_ GUARDED_BY(mutex_);
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_DEVICE_DB_H_
