// RegistryFaults: the test side of the registry's seam (platform/registry.h,
// "Fault injection"). While one lives it counts every registry write and
// fails the one a test picks, which rolls back the whole transaction that
// write belongs to (a single call, or a whole RegistryBatch).
//
//   size_t writes;
//   {
//     RegistryFaults counting;
//     ASSERT_TRUE(store.Save().ok());
//     writes = counting.writes();
//   }
//   for (size_t n = 1; n <= writes; ++n) {
//     RegistryFaults faults;
//     faults.FailWrite(n);
//     EXPECT_FALSE(store.Save().ok());
//     ...the registry holds all the old values...
//   }
//
// An observer sees every write just before it is made, while its
// transaction is open: a connection of its own (CommittedRegistry below)
// then shows what another process, or the device after a crash at that
// moment, would find.
//
// Counting is across the process, from construction. Only one
// RegistryFaults may live at a time.
#ifndef TELVANE_PLATFORM_TESTING_REGISTRY_FAULTS_H_
#define TELVANE_PLATFORM_TESTING_REGISTRY_FAULTS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/registry.h"
#include "platform/thread_annotations.h"

namespace platform::testing {

class RegistryFaults final : public RegistryFaultInjector {
 public:
  struct Write {
    RegistryWriteKind kind;
    RegistryRoot root;
    std::u16string path;
    std::u16string name;
    size_t index = 0;  // 1 for the first write counted
  };

  // Installs itself, counting only; the destructor removes it.
  RegistryFaults();
  ~RegistryFaults();
  RegistryFaults(const RegistryFaults&) = delete;
  RegistryFaults& operator=(const RegistryFaults&) = delete;

  // Arms the one fault: the nth write counted (from 1) fails with kIoError.
  void FailWrite(size_t n);
  // The nth write of `kind` fails.
  void FailWrite(RegistryWriteKind kind, size_t n);
  // Runs before every counted write, after the fault is decided.
  void set_observer(std::function<void(const Write&)> observer);

  size_t writes() const;
  size_t writes(RegistryWriteKind kind) const;
  std::vector<Write> log() const;
  bool fired() const;

  Status BeforeWrite(RegistryWriteKind kind, RegistryRoot root,
                     std::u16string_view path,
                     std::u16string_view name) override;

 private:
  mutable Mutex mutex_;
  bool armed_ GUARDED_BY(mutex_) = false;
  std::optional<RegistryWriteKind> kind_ GUARDED_BY(mutex_);
  size_t target_ GUARDED_BY(mutex_) = 0;
  bool fired_ GUARDED_BY(mutex_) = false;
  std::vector<Write> log_ GUARDED_BY(mutex_);
  std::array<size_t, 4> per_kind_ GUARDED_BY(mutex_) = {};
  std::function<void(const Write&)> observer_ GUARDED_BY(mutex_);
  RegistryFaultInjector* previous_ = nullptr;
};

// One value of the registry as committed.
struct CommittedValue {
  std::string key;   // the key's path as stored (UTF-8)
  std::string name;  // the value's name as stored (UTF-8)
  uint32_t type = 0;
  std::string data;
  bool operator==(const CommittedValue&) const = default;
};

// Every value of `root` under the key `path` (its own and its subkeys'), as
// committed, read through a connection of its own to the current device's
// device.db, ordered by key and value name (folded). Empty when there are
// none, or the database cannot be read.
std::vector<CommittedValue> CommittedRegistry(RegistryRoot root,
                                              std::u16string_view path);

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_REGISTRY_FAULTS_H_
