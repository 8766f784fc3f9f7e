#include "platform/kernel_objects.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/device.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/unique_fd.h"

namespace platform {

// Segment layouts; docs/formats/kernel-objects.md describes them byte by
// byte. Every field is a plain value so the structs can live in shared
// memory; `ready` and an event's `word` are only ever touched through
// std::atomic_ref.
struct SegmentHeader {
  uint32_t magic;    // kMutexMagic or kEventMagic
  uint32_t version;  // kMutexLayoutVersion or kEventLayoutVersion
  uint32_t ready;    // 0 while the creator initialises, then kReady
  uint32_t size;     // bytes of the whole state, as the creator wrote it
};

struct SharedMutexState {
  SegmentHeader header;
  pthread_mutex_t mutex;  // robust, process-shared, recursive
};

// An event is one futex word and nothing else: a waiter keeps no record of
// itself in shared memory, so one that dies anywhere leaves nothing behind.
struct SharedEventState {
  SegmentHeader header;
  // kEventSignaled | kEventSleepers | generation * kEventGenerationUnit;
  // changed only by atomic read-modify-write (see NamedEvent below).
  uint32_t word;
  uint32_t manual_reset;  // fixed at creation
};

static_assert(offsetof(SegmentHeader, ready) == 8);
static_assert(sizeof(SegmentHeader) == 16);
static_assert(offsetof(SharedMutexState, mutex) == 16);
static_assert(offsetof(SharedEventState, word) == 16);
static_assert(offsetof(SharedEventState, manual_reset) == 20);
static_assert(sizeof(SharedEventState) == 24);
#if defined(__x86_64__)
static_assert(sizeof(SharedMutexState) == 56);
#endif
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free);

// One mapping of a mutex or event segment per process, shared by every
// handle of the object, so that a robust mutex is always locked and unlocked
// at one address (the thread's robust list records that address, and the
// kernel walks it when the thread ends).
struct KernelObjectMapping {
  dev_t device = 0;
  ino_t inode = 0;
  void* address = nullptr;
  size_t size = 0;
  int handles = 0;  // guarded by the registry mutex
  // Levels of the mutex held by threads of this process. While it is not
  // zero the mapping stays even without handles: unmapping memory that is
  // on a robust list would break the list and hide the owner's death.
  std::atomic<int64_t> owned{0};
};

namespace {

constexpr uint32_t kMutexMagic = 0x584D5654;  // "TVMX"
constexpr uint32_t kEventMagic = 0x56455654;  // "TVEV"
constexpr uint32_t kMutexLayoutVersion = 1;
// 1 was an event of a robust mutex and a process-shared condition variable
// (120 bytes); 2 is the futex word.
constexpr uint32_t kEventLayoutVersion = 2;
constexpr uint32_t kReady = 1;

// The bits of an event's word.
constexpr uint32_t kEventSignaled = 1u;  // set, not yet taken or reset
// A waiter may be asleep in the kernel on the word: the next Set wakes.
// Only a hint: a waiter that died asleep leaves it for one spare wake-up,
// and every Set clears it.
constexpr uint32_t kEventSleepers = 2u;
// Bits 2-31 count Set calls (wrapping); a manual-reset waiter is released
// when the count moves.
constexpr uint32_t kEventGenerationUnit = 4u;
constexpr uint32_t kEventGenerationMask = ~(kEventSignaled | kEventSleepers);

// The longest an event waiter sleeps in the kernel before it looks at the
// word again on its own. Bounds how long a Set whose caller died between
// changing the word and waking the sleepers can go unnoticed.
constexpr int64_t kEventWaitSliceNs = 100'000'000;  // 100 ms

// How long an opener waits for the creator of a segment to size and
// initialise it.
constexpr std::chrono::milliseconds kCreatorWait(2000);
constexpr std::chrono::milliseconds kCreatorPoll(1);

// Encoded names longer than this are shortened with a hash.
constexpr size_t kMaxEncodedName = 200;
constexpr size_t kHashDigits = 32;

struct MappingRegistry {
  Mutex mutex;
  std::vector<KernelObjectMapping*> mappings GUARDED_BY(mutex);
};

MappingRegistry& Registry() {
  static MappingRegistry* registry = new MappingRegistry;
  return *registry;
}

// Looks up this process' mapping of a segment; counts a new handle on it.
KernelObjectMapping* AdoptMappingLocked(MappingRegistry& registry, dev_t device,
                                        ino_t inode) REQUIRES(registry.mutex) {
  for (KernelObjectMapping* mapping : registry.mappings) {
    if (mapping->device == device && mapping->inode == inode) {
      ++mapping->handles;
      return mapping;
    }
  }
  return nullptr;
}

void ReleaseMapping(KernelObjectMapping* mapping) {
  MappingRegistry& registry = Registry();
  MutexLock lock(&registry.mutex);
  if (--mapping->handles > 0 || mapping->owned.load() > 0) return;
  munmap(mapping->address, mapping->size);
  auto& all = registry.mappings;
  all.erase(std::remove(all.begin(), all.end(), mapping), all.end());
  delete mapping;
}

void SetStatus(Status* out, Status value) {
  if (out != nullptr) *out = std::move(value);
}

bool IsKeptByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The name as file-name-safe text: [A-Za-z0-9_-] kept, every other byte
// %XX. Longer than kMaxEncodedName: a prefix, "~" and 32 hex digits of the
// FNV-1a 128-bit hash of the whole name ("~" never occurs otherwise).
std::string EncodeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    if (IsKeptByte(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  if (out.size() <= kMaxEncodedName) return out;

  size_t keep = kMaxEncodedName - 1 - kHashDigits;
  if (out[keep - 1] == '%') {
    keep -= 1;
  } else if (out[keep - 2] == '%') {
    keep -= 2;
  }
  out.resize(keep);
  unsigned __int128 hash =
      (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) |
      0x62b821756295c58dULL;
  const unsigned __int128 prime =
      (static_cast<unsigned __int128>(1) << 88) | 0x13B;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= prime;
  }
  out += '~';
  for (int i = static_cast<int>(kHashDigits) - 1; i >= 0; --i) {
    out += "0123456789abcdef"[static_cast<unsigned>(hash >> (4 * i)) & 0xF];
  }
  return out;
}

std::string SegmentPath(std::string_view kind, std::string_view name) {
  std::string path = "/telvane.";
  path += DeviceId();
  path += '.';
  path += kind;
  path += '.';
  path += EncodeName(name);
  return path;
}

int64_t MonotonicNowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

timespec MonotonicDeadline(uint32_t timeout_ms) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  ts.tv_sec += timeout_ms / 1000;
  ts.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

struct OpenedSegment {
  UniqueFd fd;
  bool created = false;
};

// shm_open with O_EXCL first; on EEXIST the existing segment. A segment
// removed between the two calls (ClearNamedObjects) is created afresh.
std::optional<OpenedSegment> CreateOrOpenSegment(const std::string& path,
                                                 Status* status) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                      S_IRUSR | S_IWUSR);
    if (fd >= 0) return OpenedSegment{UniqueFd(fd), true};
    if (errno != EEXIST) {
      SetStatus(status, Status::FromErrno("shm_open", path, errno));
      return std::nullopt;
    }
    fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0) return OpenedSegment{UniqueFd(fd), false};
    if (errno != ENOENT) {
      SetStatus(status, Status::FromErrno("shm_open", path, errno));
      return std::nullopt;
    }
  }
  SetStatus(status, Status(ErrorCode::kUnavailable,
                           path + ": created and removed over and over"));
  return std::nullopt;
}

// The segment's attributes once its creator has given it a size (a new
// segment has none until ftruncate), waiting until `deadline` for that.
std::optional<struct stat> StatWhenSized(
    int fd, const std::string& path,
    std::chrono::steady_clock::time_point deadline, Status* status) {
  for (;;) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      SetStatus(status, Status::FromErrno("fstat", path, errno));
      return std::nullopt;
    }
    if (st.st_size > 0) return st;
    if (std::chrono::steady_clock::now() >= deadline) {
      SetStatus(status, Status(ErrorCode::kUnavailable,
                               path + ": its creator never sized it"));
      return std::nullopt;
    }
    std::this_thread::sleep_for(kCreatorPoll);
  }
}

// Creates (with `init`) or opens the mutex or event segment of `kind` and
// returns this process' mapping of it, with one more handle counted.
// `init(State*)` runs on a new, zero-filled segment before it is published
// as ready; it returns a Status.
template <typename State, typename Init>
KernelObjectMapping* OpenSyncSegment(std::string_view kind,
                                     std::string_view name, uint32_t magic,
                                     uint32_t version, Init init,
                                     bool* already_existed, Status* status) {
  if (name.empty()) {
    SetStatus(status, Status(ErrorCode::kInvalidArgument,
                             "a named " + std::string(kind) + " needs a name"));
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + kCreatorWait;
  const std::string path = SegmentPath(kind, name);
  std::optional<OpenedSegment> segment = CreateOrOpenSegment(path, status);
  if (!segment) return nullptr;
  const int fd = segment->fd.get();
  MappingRegistry& registry = Registry();

  if (segment->created) {
    struct stat st;
    if (ftruncate(fd, sizeof(State)) != 0 || fstat(fd, &st) != 0) {
      SetStatus(status, Status::FromErrno("ftruncate", path, errno));
      shm_unlink(path.c_str());
      return nullptr;
    }
    void* address =
        mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
      SetStatus(status, Status::FromErrno("mmap", path, errno));
      shm_unlink(path.c_str());
      return nullptr;
    }
    auto* state = static_cast<State*>(address);
    state->header.magic = magic;
    state->header.version = version;
    state->header.size = sizeof(State);
    Status init_status = init(state);
    if (!init_status.ok()) {
      SetStatus(status, std::move(init_status));
      munmap(address, sizeof(State));
      shm_unlink(path.c_str());
      return nullptr;
    }
    auto* mapping = new KernelObjectMapping;
    mapping->device = st.st_dev;
    mapping->inode = st.st_ino;
    mapping->address = address;
    mapping->size = sizeof(State);
    mapping->handles = 1;
    {
      MutexLock lock(&registry.mutex);
      registry.mappings.push_back(mapping);
    }
    // Published last: an opener of this process finds the mapping above.
    std::atomic_ref<uint32_t>(state->header.ready)
        .store(kReady, std::memory_order_release);
    if (already_existed != nullptr) *already_existed = false;
    SetStatus(status, Status::Ok());
    return mapping;
  }

  std::optional<struct stat> st = StatWhenSized(fd, path, deadline, status);
  if (!st) return nullptr;
  if (static_cast<uint64_t>(st->st_size) < sizeof(State)) {
    SetStatus(status, Status(ErrorCode::kInvalidArgument,
                             path + ": too small for a " + std::string(kind)));
    return nullptr;
  }
  {
    MutexLock lock(&registry.mutex);
    if (KernelObjectMapping* mapping =
            AdoptMappingLocked(registry, st->st_dev, st->st_ino)) {
      if (already_existed != nullptr) *already_existed = true;
      SetStatus(status, Status::Ok());
      return mapping;
    }
  }
  void* address =
      mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    SetStatus(status, Status::FromErrno("mmap", path, errno));
    return nullptr;
  }
  auto* state = static_cast<State*>(address);
  std::atomic_ref<uint32_t> ready(state->header.ready);
  while (ready.load(std::memory_order_acquire) != kReady) {
    if (std::chrono::steady_clock::now() >= deadline) {
      munmap(address, sizeof(State));
      SetStatus(status, Status(ErrorCode::kUnavailable,
                               path + ": its creator never initialised it"));
      return nullptr;
    }
    std::this_thread::sleep_for(kCreatorPoll);
  }
  if (state->header.magic != magic || state->header.version != version ||
      state->header.size != sizeof(State)) {
    munmap(address, sizeof(State));
    SetStatus(status, Status(ErrorCode::kInvalidArgument,
                             path + ": not a " + std::string(kind) +
                                 " of this layout version"));
    return nullptr;
  }
  MutexLock lock(&registry.mutex);
  if (already_existed != nullptr) *already_existed = true;
  SetStatus(status, Status::Ok());
  // Another thread of this process may have mapped it meanwhile.
  if (KernelObjectMapping* mapping =
          AdoptMappingLocked(registry, st->st_dev, st->st_ino)) {
    munmap(address, sizeof(State));
    return mapping;
  }
  auto* mapping = new KernelObjectMapping;
  mapping->device = st->st_dev;
  mapping->inode = st->st_ino;
  mapping->address = address;
  mapping->size = sizeof(State);
  mapping->handles = 1;
  registry.mappings.push_back(mapping);
  return mapping;
}

// A robust, process-shared, recursive mutex.
Status InitSharedMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return Status::FromErrno("pthread_mutexattr_init", "", rc);
  rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (rc == 0) rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) return Status::FromErrno("pthread_mutex_init", "", rc);
  return Status::Ok();
}

// Sleeps while *word still holds `expected`, until woken, a signal or the
// CLOCK_MONOTONIC time `until_ns`. A shared futex (no FUTEX_PRIVATE_FLAG):
// the kernel keys it by the segment's page, so the processes meet on it.
// 0 when woken, else the errno (EAGAIN: the word had changed; ETIMEDOUT;
// EINTR).
int FutexWaitUntil(uint32_t* word, uint32_t expected, int64_t until_ns) {
  timespec until;
  until.tv_sec = static_cast<time_t>(until_ns / 1'000'000'000);
  until.tv_nsec = static_cast<long>(until_ns % 1'000'000'000);
  // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC.
  long rc = syscall(SYS_futex, word, FUTEX_WAIT_BITSET, expected, &until,
                    nullptr, FUTEX_BITSET_MATCH_ANY);
  return rc == 0 ? 0 : errno;
}

// Wakes every thread asleep on *word, in any process; 0 or the errno.
int FutexWakeAll(uint32_t* word) {
  long rc = syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  return rc >= 0 ? 0 : errno;
}

// One look at an event's word: true when it releases a waiter that began
// at `generation`, taking the signal of an auto-reset event. `*seen` is
// the word as last read.
bool TakeEvent(std::atomic_ref<uint32_t> word, bool manual, uint32_t generation,
               uint32_t* seen) {
  *seen = word.load(std::memory_order_acquire);
  if (manual) {
    return (*seen & kEventSignaled) != 0 ||
           (*seen & kEventGenerationMask) != generation;
  }
  // Auto-reset: whoever clears the bit took the event.
  while ((*seen & kEventSignaled) != 0) {
    if (word.compare_exchange_weak(*seen, *seen & ~kEventSignaled,
                                   std::memory_order_acq_rel,
                                   std::memory_order_acquire)) {
      return true;
    }
  }
  return false;
}

Status NotOpen(const char* what) {
  return Status(ErrorCode::kInvalidArgument,
                std::string(what) + " handle is not open");
}

}  // namespace

// ---------------------------------------------------------------- NamedMutex

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : state_(std::exchange(other.state_, nullptr)),
      mapping_(std::exchange(other.mapping_, nullptr)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    state_ = std::exchange(other.state_, nullptr);
    mapping_ = std::exchange(other.mapping_, nullptr);
  }
  return *this;
}

std::optional<NamedMutex> NamedMutex::CreateOrOpen(std::string_view name,
                                                   bool initially_owned,
                                                   bool* already_existed,
                                                   Status* status) {
  bool existed = false;
  auto init = [initially_owned](SharedMutexState* state) {
    Status result = InitSharedMutex(&state->mutex);
    if (result.ok() && initially_owned) {
      int rc = pthread_mutex_lock(&state->mutex);
      if (rc != 0) result = Status::FromErrno("pthread_mutex_lock", "", rc);
    }
    return result;
  };
  KernelObjectMapping* mapping = OpenSyncSegment<SharedMutexState>(
      "mutex", name, kMutexMagic, kMutexLayoutVersion, init, &existed, status);
  if (mapping == nullptr) return std::nullopt;
  if (!existed && initially_owned) mapping->owned.fetch_add(1);
  if (already_existed != nullptr) *already_existed = existed;
  NamedMutex mutex;
  mutex.state_ = static_cast<SharedMutexState*>(mapping->address);
  mutex.mapping_ = mapping;
  return mutex;
}

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  if (state_ == nullptr) return WaitResult::kFailed;
  int rc;
  if (timeout_ms == kInfinite) {
    rc = pthread_mutex_lock(&state_->mutex);
  } else if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(&state_->mutex);
  } else {
    timespec deadline = MonotonicDeadline(timeout_ms);
    rc = pthread_mutex_clocklock(&state_->mutex, CLOCK_MONOTONIC, &deadline);
  }
  switch (rc) {
    case 0:
      mapping_->owned.fetch_add(1);
      return WaitResult::kSignaled;
    case EOWNERDEAD:
      // Ours now, with a count of one; mark it usable for the next owner.
      mapping_->owned.fetch_add(1);
      if (pthread_mutex_consistent(&state_->mutex) != 0) {
        Release().IgnoreError();
        return WaitResult::kFailed;
      }
      return WaitResult::kAbandoned;
    case EBUSY:
    case ETIMEDOUT:
      return WaitResult::kTimeout;
    default:  // ENOTRECOVERABLE, EAGAIN (recursion limit), EINVAL
      return WaitResult::kFailed;
  }
}

Status NamedMutex::Release() {
  if (state_ == nullptr) return NotOpen("mutex");
  int rc = pthread_mutex_unlock(&state_->mutex);
  if (rc == 0) {
    mapping_->owned.fetch_sub(1);
    return Status::Ok();
  }
  if (rc == EPERM) {
    return Status(ErrorCode::kAccessDenied,
                  "release mutex: the calling thread does not own it");
  }
  return Status::FromErrno("pthread_mutex_unlock", "", rc);
}

void NamedMutex::Close() {
  if (mapping_ != nullptr) ReleaseMapping(mapping_);
  state_ = nullptr;
  mapping_ = nullptr;
}

// ---------------------------------------------------------------- NamedEvent

NamedEvent::~NamedEvent() { Close(); }

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : state_(std::exchange(other.state_, nullptr)),
      mapping_(std::exchange(other.mapping_, nullptr)) {}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
  if (this != &other) {
    Close();
    state_ = std::exchange(other.state_, nullptr);
    mapping_ = std::exchange(other.mapping_, nullptr);
  }
  return *this;
}

std::optional<NamedEvent> NamedEvent::CreateOrOpen(std::string_view name,
                                                   bool manual_reset,
                                                   bool initially_set,
                                                   bool* already_existed,
                                                   Status* status) {
  auto init = [manual_reset, initially_set](SharedEventState* state) {
    state->word = initially_set ? kEventSignaled : 0;
    state->manual_reset = manual_reset ? 1 : 0;
    return Status::Ok();
  };
  KernelObjectMapping* mapping = OpenSyncSegment<SharedEventState>(
      "event", name, kEventMagic, kEventLayoutVersion, init, already_existed,
      status);
  if (mapping == nullptr) return std::nullopt;
  NamedEvent event;
  event.state_ = static_cast<SharedEventState*>(mapping->address);
  event.mapping_ = mapping;
  return event;
}

// Set, Reset and Wait change the word only by atomic read-modify-write, so
// a caller that dies anywhere leaves it whole. Set is lock-free: it never
// waits for anybody, dead or alive.
Status NamedEvent::Set() {
  if (state_ == nullptr) return NotOpen("event");
  std::atomic_ref<uint32_t> word(state_->word);
  uint32_t seen = word.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    // Signalled, the next generation, the sleepers hint cleared: the
    // sleepers are woken below, and whoever sleeps on sets it again.
    next =
        ((seen & kEventGenerationMask) + kEventGenerationUnit) | kEventSignaled;
  } while (!word.compare_exchange_weak(seen, next, std::memory_order_acq_rel,
                                       std::memory_order_relaxed));
  // A setter that dies here leaves the sleepers to their next look at the
  // word, at most kEventWaitSliceNs away.
  if ((seen & kEventSleepers) != 0) {
    if (int rc = FutexWakeAll(&state_->word); rc != 0) {
      return Status::FromErrno("futex wake", "", rc);
    }
  }
  return Status::Ok();
}

Status NamedEvent::Reset() {
  if (state_ == nullptr) return NotOpen("event");
  std::atomic_ref<uint32_t>(state_->word)
      .fetch_and(~kEventSignaled, std::memory_order_acq_rel);
  return Status::Ok();
}

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  if (state_ == nullptr) return WaitResult::kFailed;
  const bool manual = state_->manual_reset != 0;
  std::atomic_ref<uint32_t> word(state_->word);
  // A manual-reset event releases whoever waited when it was set, even if
  // it was reset before this waiter looked again.
  uint32_t seen = word.load(std::memory_order_acquire);
  const uint32_t generation = seen & kEventGenerationMask;
  // The first look needs no clock.
  if (TakeEvent(word, manual, generation, &seen)) return WaitResult::kSignaled;
  if (timeout_ms == 0) return WaitResult::kTimeout;
  const bool forever = timeout_ms == kInfinite;
  const int64_t deadline =
      forever ? 0 : MonotonicNowNs() + int64_t{timeout_ms} * 1'000'000;
  for (;;) {
    if ((seen & kEventSleepers) == 0 &&
        !word.compare_exchange_strong(seen, seen | kEventSleepers,
                                      std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      // The word moved: look again.
      if (TakeEvent(word, manual, generation, &seen)) {
        return WaitResult::kSignaled;
      }
      continue;
    }
    seen |= kEventSleepers;
    // Asleep for one slice at most. Should the word have moved since the
    // look, the kernel does not put us to sleep (EAGAIN); once asleep, only
    // a Set's wake-up, a signal or the end of the slice wakes us.
    const int64_t now = MonotonicNowNs();
    int64_t until = now + kEventWaitSliceNs;
    if (!forever) until = std::min(until, deadline);
    int rc = FutexWaitUntil(&state_->word, seen, until);
    if (rc != 0 && rc != EAGAIN && rc != EINTR && rc != ETIMEDOUT) {
      return WaitResult::kFailed;
    }
    // Woken, timed out or not: look again. The clock is read before the
    // look, so the last look is taken at or after the deadline and a Set
    // that landed just before it still counts. Spurious returns only lead
    // to another look.
    const bool last_look = !forever && MonotonicNowNs() >= deadline;
    if (TakeEvent(word, manual, generation, &seen)) {
      return WaitResult::kSignaled;
    }
    if (last_look) return WaitResult::kTimeout;
  }
}

void NamedEvent::Close() {
  if (mapping_ != nullptr) ReleaseMapping(mapping_);
  state_ = nullptr;
  mapping_ = nullptr;
}

// -------------------------------------------------------------- SharedMemory

SharedMemory::~SharedMemory() { Close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

std::optional<SharedMemory> SharedMemory::CreateOrOpen(std::string_view name,
                                                       size_t size,
                                                       bool* already_existed,
                                                       Status* status) {
  if (name.empty() || size == 0 ||
      size > static_cast<size_t>(std::numeric_limits<off_t>::max())) {
    SetStatus(status, Status(ErrorCode::kInvalidArgument,
                             "shared memory needs a name and a size (" +
                                 std::string(name) + ", " +
                                 std::to_string(size) + ")"));
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + kCreatorWait;
  const std::string path = SegmentPath("shm", name);
  std::optional<OpenedSegment> segment = CreateOrOpenSegment(path, status);
  if (!segment) return std::nullopt;
  if (segment->created) {
    if (ftruncate(segment->fd.get(), static_cast<off_t>(size)) != 0) {
      SetStatus(status, Status::FromErrno("ftruncate", path, errno));
      shm_unlink(path.c_str());
      return std::nullopt;
    }
  } else {
    std::optional<struct stat> st =
        StatWhenSized(segment->fd.get(), path, deadline, status);
    if (!st) return std::nullopt;
    if (static_cast<uint64_t>(st->st_size) < size) {
      SetStatus(status,
                Status(ErrorCode::kInvalidArgument,
                       path + ": the block has " + std::to_string(st->st_size) +
                           " bytes, " + std::to_string(size) + " asked for"));
      return std::nullopt;
    }
  }
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED,
                       segment->fd.get(), 0);
  if (address == MAP_FAILED) {
    SetStatus(status, Status::FromErrno("mmap", path, errno));
    if (segment->created) shm_unlink(path.c_str());
    return std::nullopt;
  }
  if (already_existed != nullptr) *already_existed = !segment->created;
  SetStatus(status, Status::Ok());
  SharedMemory memory;
  memory.data_ = address;
  memory.size_ = size;
  return memory;
}

void SharedMemory::Close() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

// ------------------------------------------------------------------ Clearing

Status ClearNamedObjects() {
  std::string prefix = "telvane." + DeviceId() + ".";
  DIR* dir = opendir("/dev/shm");
  if (dir == nullptr) return Status::FromErrno("open", "/dev/shm", errno);
  Status result;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (shm_unlink(("/" + name).c_str()) != 0 && errno != ENOENT) {
      result = Status::FromErrno("shm_unlink", name, errno);
    }
  }
  closedir(dir);
  return result;
}

}  // namespace platform
