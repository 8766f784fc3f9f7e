// The device registry: keys and values under three roots, kept in device.db.
//
// Semantics are the platform's:
//  - key paths are "\"-separated ("Software\Pelicorde\Key"); a leading "\"
//    and empty components are ignored; key and value names are compared
//    ignoring case and stored with the case they were created with;
//  - the default value of a key has the empty name;
//  - data is stored exactly as given (no conversion); a string value's size
//    is whatever the writer stored, (length + 1) x 2 bytes when written with
//    SetString;
//  - a read into a buffer smaller than the stored data fails with kMoreData
//    and reports the size needed;
//  - deleting a key deletes its subkeys and values.
// Every call is one SQLite transaction, so several processes may read and
// write at once without losing a write. A RegistryBatch makes several
// writes one transaction: another reader, or a crash, sees all or none. Keys
// are not locked while a handle is open: a handle names a path, and a key
// deleted under it simply stops having values (writes through the handle fail
// with kNotFound).
//
// Every call opens the device's database itself: without a device they fail
// with kUnavailable. Key paths and value names holding a NUL or an unpaired
// surrogate are refused with kInvalidArgument. Handles may be used from any
// thread; the calls are serialised on the process's connection.
#ifndef TELVANE_PLATFORM_REGISTRY_H_
#define TELVANE_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform {

enum class RegistryRoot {
  kClassesRoot = 0,
  kLocalMachine = 1,
  kCurrentUser = 2
};

enum class RegistryType : uint32_t {
  kNone = 0,
  kSz = 1,
  kExpandSz = 2,
  kBinary = 3,
  kDword = 4,
  kMultiSz = 7,
};

struct RegistryValue {
  std::u16string name;
  RegistryType type = RegistryType::kNone;
  std::string data;  // the stored bytes
};

// An open key. Cheap to copy; holds no lock and no connection of its own.
class RegistryKey {
 public:
  // Opens an existing key (kNotFound when it does not exist). The root
  // itself (an empty path) always exists.
  static std::optional<RegistryKey> Open(RegistryRoot root,
                                         std::u16string_view path,
                                         Status* status = nullptr);
  // Opens the key, creating it and any missing parents. `created` tells
  // whether it was new.
  static std::optional<RegistryKey> Create(RegistryRoot root,
                                           std::u16string_view path,
                                           bool* created = nullptr,
                                           Status* status = nullptr);

  RegistryRoot root() const { return root_; }
  // The path as stored (the case of first creation), without a leading "\".
  const std::u16string& path() const { return path_; }

  // Reads a value into at most `capacity` bytes. kMoreData when the stored
  // data is larger: out->name and out->type are filled, out->data is empty.
  // *needed is set to the stored size whenever the value exists. With `out`
  // null only the size is asked for (no kMoreData).
  Status Query(std::u16string_view name, size_t capacity, RegistryValue* out,
               size_t* needed = nullptr) const;

  // Typed reads. Each fails when the value is missing (kNotFound), has
  // another type (kWrongType), or does not fit (kMoreData); a wrong type is
  // reported before a size. A kDword value of another size than 4 bytes is
  // kWrongType.
  std::optional<uint32_t> QueryDword(std::u16string_view name,
                                     Status* status = nullptr) const;
  // A REG_SZ read into a buffer of `capacity_chars` wide characters,
  // terminator included, as the platform's read call does: the stored size
  // must not exceed capacity_chars * 2 bytes. The text ends at the first NUL
  // (an odd last byte is ignored). kSz and kExpandSz are accepted.
  std::optional<std::u16string> QueryString(std::u16string_view name,
                                            size_t capacity_chars,
                                            Status* status = nullptr) const;
  std::optional<std::string> QueryBinary(std::u16string_view name,
                                         size_t capacity,
                                         Status* status = nullptr) const;

  // Writes a value: a new one takes `name` as given, an existing one keeps
  // the name it was first written with. kNotFound when the key is gone.
  Status Set(std::u16string_view name, RegistryType type,
             std::string_view data);
  Status SetDword(std::u16string_view name, uint32_t value);
  // Stores the text and its terminator: (length + 1) x 2 bytes of UTF-16LE.
  Status SetString(std::u16string_view name, std::u16string_view text);
  Status SetBinary(std::u16string_view name, std::string_view data);

  Status DeleteValue(std::u16string_view name);

  // Values and direct subkeys, in name order (ignoring case). Empty, with
  // `status` set, when the key is gone.
  std::vector<RegistryValue> Values(Status* status = nullptr) const;
  std::vector<std::u16string> Subkeys(Status* status = nullptr) const;

  // Makes everything written so far durable (a checkpoint of device.db).
  // Waits, up to the database's busy timeout, for other processes' writes.
  Status Flush() const;

 private:
  RegistryKey(RegistryRoot root, std::u16string path)
      : root_(root), path_(std::move(path)) {}
  RegistryRoot root_;
  std::u16string path_;
};

// Deletes the key, its values and all its subkeys (kNotFound when absent;
// a root cannot be deleted: kInvalidArgument).
Status DeleteRegistryKey(RegistryRoot root, std::u16string_view path);

// Several writes made as one. Building a batch touches nothing; Commit()
// makes the writes in the order they were added, in one transaction, so
// that another process, or a crash at any moment, sees either all of them
// or none. Each write means what the call of the same name means alone.
//
//   RegistryBatch batch;
//   batch.CreateKey(root, u"Software\\Pelicorde")
//       .SetDword(root, u"Software\\Pelicorde", u"ShowPopup", 1)
//       .SetString(root, u"Software\\Pelicorde", u"LastDir", u"\\");
//   Status status = batch.Commit();
class RegistryBatch {
 public:
  // Opens the key, creating it and any missing parents (RegistryKey::Create).
  RegistryBatch& CreateKey(RegistryRoot root, std::u16string_view path);
  // Deletes the key with its values and subkeys (DeleteRegistryKey); unlike
  // that call, a key that does not exist is no failure.
  RegistryBatch& DeleteKey(RegistryRoot root, std::u16string_view path);
  // Writes a value of a key that exists at that point of the batch (made
  // before, or by an earlier CreateKey); kNotFound otherwise.
  RegistryBatch& Set(RegistryRoot root, std::u16string_view path,
                     std::u16string_view name, RegistryType type,
                     std::string_view data);
  RegistryBatch& SetDword(RegistryRoot root, std::u16string_view path,
                          std::u16string_view name, uint32_t value);
  RegistryBatch& SetString(RegistryRoot root, std::u16string_view path,
                           std::u16string_view name, std::u16string_view text);
  RegistryBatch& SetBinary(RegistryRoot root, std::u16string_view path,
                           std::u16string_view name, std::string_view data);

  size_t size() const { return writes_.size(); }
  bool empty() const { return writes_.empty(); }

  // Makes every write, in order, in one transaction. The first write that
  // fails ends it: nothing of the batch stays and that failure is
  // returned. An empty batch succeeds without touching the database. The
  // batch itself is kept (it may be committed again).
  Status Commit() const;

 private:
  enum class Kind { kCreateKey, kDeleteKey, kSetValue };
  struct Write {
    Kind kind;
    RegistryRoot root;
    std::u16string path;
    std::u16string name;
    RegistryType type = RegistryType::kNone;
    std::string data;
  };
  std::vector<Write> writes_;
};

// ---------------------------------------------------------------------------
// Fault injection
//
// Every write the registry makes (the single calls above and each write of
// a batch) asks one seam first, inside its transaction; the test side is
// platform/testing/registry_faults.h. What the seam promises:
//  - Without an injector a write costs one predictable branch.
//  - A failure the injector returns fails that write as a failure of the
//    database would: the transaction is rolled back, so nothing of the call
//    or of the whole batch stays, and the caller gets that status.
//  - The injector runs on the writing thread while the write transaction
//    is open and this process's connection is locked: it may read the
//    registry through a connection of its own (it then sees the state
//    before the transaction, as any other process would), never through
//    these calls.

enum class RegistryWriteKind : uint8_t {
  kCreateKey,    // RegistryKey::Create, a batch's CreateKey (whether or not
                 // the key exists already)
  kDeleteKey,    // DeleteRegistryKey, a batch's DeleteKey
  kSetValue,     // RegistryKey::Set and the typed setters, a batch's Set...
  kDeleteValue,  // RegistryKey::DeleteValue
};

class RegistryFaultInjector {
 public:
  // Asked before each write; anything but OK fails it. `name` is the value
  // name (empty for key writes).
  // REQUIRES: safe to call from several threads at once.
  virtual Status BeforeWrite(RegistryWriteKind kind, RegistryRoot root,
                             std::u16string_view path,
                             std::u16string_view name) = 0;

 protected:
  ~RegistryFaultInjector() = default;
};

// Installs `injector` for the whole process (nullptr removes it) and
// returns the one installed before.
// REQUIRES: no registry write runs on another thread meanwhile, and the
// injector lives until it is removed.
RegistryFaultInjector* SetRegistryFaultInjector(
    RegistryFaultInjector* injector);

// "HKCR", "HKLM", "HKCU" and the long HKEY_ names, any case.
std::optional<RegistryRoot> ParseRegistryRoot(std::string_view text);
const char* RegistryRootName(RegistryRoot root);  // "HKEY_CURRENT_USER", ...

}  // namespace platform

#endif  // TELVANE_PLATFORM_REGISTRY_H_
