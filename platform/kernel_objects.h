// Named kernel objects: mutexes, events and shared memory, shared between
// the processes of one device.
//
// Names are case-sensitive and scoped to the device (DeviceId()): two
// devices on one host never see each other's "ZUD_SmsBuffer". An object
// lives from its first creation until the device is shut down
// (ClearNamedObjects(), run by `devicectl shutdown` and `devicectl boot`);
// closing a handle never destroys the object, and a process that dies leaves
// its objects usable by the others.
//
// Realised with POSIX shared memory: each object is one segment under
// /dev/shm named "telvane.<device id>.<kind>.<encoded name>" (kind "mutex",
// "event" or "shm"; docs/formats/kernel-objects.md has the name encoding and
// the byte layouts). A mutex is a robust, process-shared pthread mutex, so
// an owner that dies never wedges the others. An event is a single futex
// word changed only by atomic operations: its waiters leave no record of
// themselves in the segment, so a process that dies anywhere in Set, Reset
// or Wait never stops another.
//
// Names: any non-empty byte string (UTF-8 text in practice), compared
// exactly. An empty name is refused with kInvalidArgument.
//
// Failures: nothing throws. CreateOrOpen returns std::nullopt and, when
// `status` is not null, stores why. A segment another process is still
// creating is waited for (up to about two seconds); one that never becomes
// ready (its creator died half-way) gives kUnavailable.
//
// Thread safety: a handle may be used from several threads at once, except
// that Close(), assignment and destruction must not race with other calls
// on the same handle. Handles are movable, not copyable; a moved-from handle
// is closed. Within one process every handle of a mutex or event shares one
// mapping of it, and that mapping is kept while a thread of the process
// still owns the mutex, so closing a handle of a mutex the caller still
// owns is safe (the mutex stays owned, and is abandoned if the owner ends).
//
// fork(): the child inherits the open handles and may use them; do not fork
// while another thread is inside CreateOrOpen or Close.
#ifndef TELVANE_PLATFORM_KERNEL_OBJECTS_H_
#define TELVANE_PLATFORM_KERNEL_OBJECTS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/status.h"

namespace platform {

// Waits without a time-out.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult {
  kSignaled,   // the object was taken (mutex) or was set (event)
  kAbandoned,  // mutex only: taken, but its last owner died holding it
  kTimeout,    // the time-out ran out first
  kFailed,     // the handle is not open or the wait failed
};

// Opaque per-object state in shared memory; defined in the implementation.
struct SharedMutexState;
struct SharedEventState;
// This process' record of one mapped mutex or event segment (shared by all
// handles of the object in the process); defined in the implementation.
struct KernelObjectMapping;

// A named, recursive mutex. Ownership belongs to the thread that took it; it
// may take it again and must release it as often. When the owning thread or
// process ends while holding it, the next Wait reports kAbandoned and owns
// the mutex.
class NamedMutex {
 public:
  NamedMutex() = default;
  ~NamedMutex();
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates the mutex or opens the existing one. `already_existed` tells
  // which; `initially_owned` makes the calling thread its owner when the
  // mutex is new (as the platform does, an existing mutex is not taken).
  static std::optional<NamedMutex> CreateOrOpen(std::string_view name,
                                                bool initially_owned,
                                                bool* already_existed,
                                                Status* status = nullptr);

  // Takes the mutex: kSignaled, or kAbandoned when its previous owner died
  // holding it (the caller owns it either way and must Release it once),
  // kTimeout, or kFailed. 0 polls; kInfinite waits for ever.
  WaitResult Wait(uint32_t timeout_ms = kInfinite);
  // Releases one level of ownership. Fails (kAccessDenied) when the calling
  // thread does not own the mutex.
  Status Release();
  bool is_open() const { return state_ != nullptr; }
  // Closes the handle; the mutex itself, and its ownership, are unaffected.
  void Close();

 private:
  SharedMutexState* state_ = nullptr;
  KernelObjectMapping* mapping_ = nullptr;
};

// A named event: manual-reset (stays set until Reset) or auto-reset (a
// successful Wait clears it, so each Set releases exactly one waiter).
//
// Set and Reset never block. A waiter is woken by Set at once; should the
// setting process die between changing the event and waking the sleepers,
// they notice by themselves within a fraction of a second (waits sleep in
// slices of at most 100 ms and look at the event after each).
class NamedEvent {
 public:
  NamedEvent() = default;
  ~NamedEvent();
  NamedEvent(NamedEvent&& other) noexcept;
  NamedEvent& operator=(NamedEvent&& other) noexcept;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Creates or opens the event. The reset kind and initial state apply only
  // when the event is new; an existing event keeps its own.
  static std::optional<NamedEvent> CreateOrOpen(std::string_view name,
                                                bool manual_reset,
                                                bool initially_set,
                                                bool* already_existed,
                                                Status* status = nullptr);

  // Sets the event. A manual-reset event releases every thread that was
  // waiting when it was set, even when it is Reset again at once.
  Status Set();
  Status Reset();
  // kSignaled when the event is (or becomes) set before the time-out,
  // kTimeout, or kFailed. 0 polls; kInfinite waits for ever. Spurious
  // wake-ups never end a wait early.
  WaitResult Wait(uint32_t timeout_ms = kInfinite);
  bool is_open() const { return state_ != nullptr; }
  void Close();

 private:
  SharedEventState* state_ = nullptr;
  KernelObjectMapping* mapping_ = nullptr;
};

// A named block of shared memory of an exact size, zero-filled when created.
// The view stays mapped while the handle lives.
class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates the block with `size` bytes, or opens the existing one. Opening
  // an existing block that is smaller than `size` fails (kInvalidArgument):
  // a view never reaches past the block. A larger block is opened with a
  // view of `size` bytes. A size of 0 is refused (kInvalidArgument).
  static std::optional<SharedMemory> CreateOrOpen(std::string_view name,
                                                  size_t size,
                                                  bool* already_existed,
                                                  Status* status = nullptr);

  void* data() const { return data_; }
  size_t size() const { return size_; }
  bool is_open() const { return data_ != nullptr; }
  // Unmaps this handle's view; the block lives on.
  void Close();

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
};

// Removes every named object of the current device. Handles that are still
// open keep working on their (now nameless) objects; later CreateOrOpen
// calls make new ones.
Status ClearNamedObjects();

}  // namespace platform

#endif  // TELVANE_PLATFORM_KERNEL_OBJECTS_H_
