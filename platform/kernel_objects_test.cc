#include "platform/kernel_objects.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

// Runs `body` in a child process, which ends with its return value.
template <typename Body>
pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The exit code of a child, or -1 when it did not exit normally.
int Reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pipe on which children say they are about to wait.
struct ReadyPipe {
  int fds[2] = {-1, -1};
  ReadyPipe() { EXPECT_EQ(pipe(fds), 0); }
  ~ReadyPipe() {
    close(fds[0]);
    close(fds[1]);
  }
  void Announce() const {
    char c = 'r';
    if (write(fds[1], &c, 1) != 1) _exit(90);
  }
  // Waits for `count` announcements.
  bool Await(int count) const {
    for (int i = 0; i < count; ++i) {
      char c;
      if (read(fds[0], &c, 1) != 1) return false;
    }
    return true;
  }
};

bool SegmentExists(const std::string& kind, const std::string& encoded) {
  return std::filesystem::exists("/dev/shm/telvane." + DeviceId() + "." + kind +
                                 "." + encoded);
}

// The bytes of an event segment as the format document lays them out,
// mapped by the test itself (the segment must exist).
class RawEvent {
 public:
  explicit RawEvent(const std::string& name) {
    std::string path = "/telvane." + DeviceId() + ".event." + name;
    int fd = shm_open(path.c_str(), O_RDWR, 0);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return;
    void* address =
        mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    EXPECT_NE(address, MAP_FAILED);
    if (address != MAP_FAILED) bytes_ = static_cast<uint32_t*>(address);
  }
  ~RawEvent() {
    if (bytes_ != nullptr) munmap(bytes_, kSize);
  }
  bool ok() const { return bytes_ != nullptr; }
  uint32_t field(int index) const {
    return std::atomic_ref<uint32_t>(bytes_[index]).load();
  }
  // The futex word at offset 16.
  void WakeAll() const {
    syscall(SYS_futex, &bytes_[4], FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  }
  std::atomic_ref<uint32_t> word() const {
    return std::atomic_ref<uint32_t>(bytes_[4]);
  }
  // What a setter does to the word before it wakes the sleepers: signalled,
  // the next generation, the sleepers hint cleared. No wake-up follows, as
  // when the setter was killed right after.
  void SetWithoutWaking() const {
    uint32_t seen = word().load();
    while (!word().compare_exchange_weak(seen, ((seen & ~3u) + 4u) | 1u)) {
    }
  }

 private:
  static constexpr size_t kSize = 24;
  uint32_t* bytes_ = nullptr;
};

// True once the process whose /proc stat file is `path` is asleep in the
// kernel (state S).
bool WaitUntilAsleep(const std::string& path) {
  for (int i = 0; i < 10000; ++i) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    size_t paren = line.rfind(')');
    if (paren != std::string::npos && paren + 2 < line.size() &&
        line[paren + 2] == 'S') {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Spins until `done()` holds, at most about `limit`; whether it held.
template <typename Done>
bool SpinUntil(Done done, std::chrono::milliseconds limit =
                              std::chrono::milliseconds(20000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::string ThreadStatPath(pid_t tid) {
  return "/proc/self/task/" + std::to_string(tid) + "/stat";
}

TEST(NamedMutexTest, AbandonedByDyingProcess) {
  testing::TempDevice device;
  pid_t child = Spawn([] {
    bool existed = true;
    auto mutex = NamedMutex::CreateOrOpen("ZUD_SMSDataMutex", false, &existed);
    if (!mutex || existed) return 1;
    if (mutex->Wait() != WaitResult::kSignaled) return 2;
    if (mutex->Wait(0) != WaitResult::kSignaled) return 3;
    return 0;  // dies holding it twice
  });
  ASSERT_EQ(Reap(child), 0);

  bool existed = false;
  Status status;
  auto mutex =
      NamedMutex::CreateOrOpen("ZUD_SMSDataMutex", true, &existed, &status);
  ASSERT_TRUE(mutex.has_value()) << status.ToString();
  EXPECT_TRUE(existed);
  EXPECT_EQ(mutex->Wait(5000), WaitResult::kAbandoned);
  // The dead owner's recursion does not carry over: one release frees it.
  EXPECT_TRUE(mutex->Release().ok());
  EXPECT_EQ(mutex->Release().code(), ErrorCode::kAccessDenied);
  EXPECT_EQ(mutex->Wait(5000), WaitResult::kSignaled);
  EXPECT_TRUE(mutex->Release().ok());

  // Another process sees a plain, free mutex as well.
  pid_t second = Spawn([] {
    bool existed = false;
    auto again = NamedMutex::CreateOrOpen("ZUD_SMSDataMutex", false, &existed);
    if (!again || !existed) return 1;
    if (again->Wait(5000) != WaitResult::kSignaled) return 2;
    return again->Release().ok() ? 0 : 3;
  });
  EXPECT_EQ(Reap(second), 0);
}

TEST(NamedMutexTest, OwnershipRecursionAndTimeouts) {
  testing::TempDevice device;
  bool existed = true;
  auto mutex =
      NamedMutex::CreateOrOpen("m", /*initially_owned=*/true, &existed);
  ASSERT_TRUE(mutex.has_value());
  EXPECT_FALSE(existed);
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignaled);  // now held twice

  auto other_thread = [&](auto body) {
    std::thread thread(body);
    thread.join();
  };
  other_thread([&] {
    EXPECT_EQ(mutex->Wait(0), WaitResult::kTimeout);
    EXPECT_EQ(mutex->Wait(50), WaitResult::kTimeout);
    EXPECT_EQ(mutex->Release().code(), ErrorCode::kAccessDenied);
    // Opening an existing mutex "initially owned" does not take it.
    bool opened_existing = false;
    auto second = NamedMutex::CreateOrOpen("m", true, &opened_existing);
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(opened_existing);
    EXPECT_EQ(second->Wait(0), WaitResult::kTimeout);
  });
  ASSERT_TRUE(mutex->Release().ok());
  other_thread([&] { EXPECT_EQ(mutex->Wait(20), WaitResult::kTimeout); });
  ASSERT_TRUE(mutex->Release().ok());
  EXPECT_EQ(mutex->Release().code(), ErrorCode::kAccessDenied);
  other_thread([&] {
    EXPECT_EQ(mutex->Wait(1000), WaitResult::kSignaled);
    EXPECT_TRUE(mutex->Release().ok());
  });

  // A moved-from handle is closed; the moved-to one works.
  NamedMutex moved = std::move(*mutex);
  EXPECT_FALSE(mutex->is_open());
  EXPECT_EQ(mutex->Wait(0), WaitResult::kFailed);
  EXPECT_FALSE(mutex->Release().ok());
  EXPECT_EQ(moved.Wait(0), WaitResult::kSignaled);
  EXPECT_TRUE(moved.Release().ok());
}

TEST(NamedMutexTest, ClosingAnOwnedHandleKeepsItOwned) {
  testing::TempDevice device;
  bool existed = false;
  std::thread owner([] {
    bool existed = false;
    auto mutex = NamedMutex::CreateOrOpen("held", false, &existed);
    ASSERT_TRUE(mutex.has_value());
    ASSERT_EQ(mutex->Wait(), WaitResult::kSignaled);
    mutex->Close();  // still owned by this thread, which now ends
  });
  owner.join();
  auto mutex = NamedMutex::CreateOrOpen("held", false, &existed);
  ASSERT_TRUE(mutex.has_value());
  EXPECT_TRUE(existed);
  EXPECT_EQ(mutex->Wait(5000), WaitResult::kAbandoned);
  EXPECT_TRUE(mutex->Release().ok());
}

TEST(NamedMutexTest, MutualExclusionAcrossProcesses) {
  testing::TempDevice device;
  constexpr int kProcesses = 4;
  constexpr int kRounds = 2000;
  bool existed = true;
  auto counter =
      SharedMemory::CreateOrOpen("counter", sizeof(uint64_t), &existed);
  ASSERT_TRUE(counter.has_value());
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(Spawn([] {
      bool existed = false;
      auto mutex = NamedMutex::CreateOrOpen("counter lock", false, &existed);
      auto memory =
          SharedMemory::CreateOrOpen("counter", sizeof(uint64_t), &existed);
      if (!mutex || !memory) return 1;
      volatile uint64_t* value = static_cast<uint64_t*>(memory->data());
      for (int round = 0; round < kRounds; ++round) {
        if (mutex->Wait() != WaitResult::kSignaled) return 2;
        uint64_t seen = *value;
        if (round % 64 == 0) sched_yield();
        *value = seen + 1;
        if (!mutex->Release().ok()) return 3;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(Reap(child), 0);
  EXPECT_EQ(*static_cast<uint64_t*>(counter->data()),
            uint64_t{kProcesses} * kRounds);
}

TEST(NamedEventTest, AutoResetReleasesExactlyOneProcess) {
  testing::TempDevice device;
  bool existed = true;
  auto event =
      NamedEvent::CreateOrOpen("ZUD_SMSAvailableEvent", false, false, &existed);
  ASSERT_TRUE(event.has_value());
  EXPECT_FALSE(existed);
  ReadyPipe ready;
  std::vector<pid_t> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.push_back(Spawn([&ready] {
      bool existed = false;
      auto mine = NamedEvent::CreateOrOpen("ZUD_SMSAvailableEvent", true, true,
                                           &existed);
      if (!mine || !existed) return 10;
      ready.Announce();
      switch (mine->Wait(3000)) {
        case WaitResult::kSignaled:
          return 0;
        case WaitResult::kTimeout:
          return 1;
        default:
          return 11;
      }
    }));
  }
  ASSERT_TRUE(ready.Await(2));
  ASSERT_TRUE(event->Set().ok());
  int released = 0, timed_out = 0;
  for (pid_t waiter : waiters) {
    int code = Reap(waiter);
    released += code == 0;
    timed_out += code == 1;
  }
  EXPECT_EQ(released, 1);
  EXPECT_EQ(timed_out, 1);
  // The one release consumed the event.
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
}

TEST(NamedEventTest, ManualResetReleasesAllUntilReset) {
  testing::TempDevice device;
  bool existed = true;
  auto event =
      NamedEvent::CreateOrOpen("ZUD_SMSDeleteEvent", true, false, &existed);
  ASSERT_TRUE(event.has_value());
  ReadyPipe ready;
  std::vector<pid_t> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.push_back(Spawn([&ready] {
      bool existed = false;
      auto mine = NamedEvent::CreateOrOpen("ZUD_SMSDeleteEvent", false, false,
                                           &existed);
      if (!mine || !existed) return 10;
      ready.Announce();
      return mine->Wait(30000) == WaitResult::kSignaled ? 0 : 1;
    }));
  }
  ASSERT_TRUE(ready.Await(3));
  ASSERT_TRUE(event->Set().ok());
  for (pid_t waiter : waiters) EXPECT_EQ(Reap(waiter), 0);
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(event->Wait(10), WaitResult::kSignaled);
  ASSERT_TRUE(event->Reset().ok());
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);

  // Set followed at once by Reset still releases whoever was waiting, even
  // when it cannot run before the Reset (it is stopped meanwhile).
  pid_t pulsed = Spawn([&ready] {
    bool existed = false;
    auto mine =
        NamedEvent::CreateOrOpen("ZUD_SMSDeleteEvent", true, false, &existed);
    if (!mine) return 10;
    ready.Announce();
    return mine->Wait(10000) == WaitResult::kSignaled ? 0 : 1;
  });
  ASSERT_TRUE(ready.Await(1));
  ASSERT_TRUE(WaitUntilAsleep("/proc/" + std::to_string(pulsed) + "/stat"));
  ASSERT_EQ(kill(pulsed, SIGSTOP), 0);
  int stopped = 0;
  ASSERT_EQ(waitpid(pulsed, &stopped, WUNTRACED), pulsed);
  ASSERT_TRUE(WIFSTOPPED(stopped));
  ASSERT_TRUE(event->Set().ok());
  ASSERT_TRUE(event->Reset().ok());
  ASSERT_EQ(kill(pulsed, SIGCONT), 0);
  EXPECT_EQ(Reap(pulsed), 0);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
}

TEST(NamedEventTest, PollTimeoutAndTheKindOfAnExistingEvent) {
  testing::TempDevice device;
  bool existed = true;
  auto event = NamedEvent::CreateOrOpen("e", /*manual_reset=*/false,
                                        /*initially_set=*/true, &existed);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);
  EXPECT_EQ(event->Wait(30), WaitResult::kTimeout);

  // Reopening as manual and set changes nothing: still auto-reset, unset.
  auto same = NamedEvent::CreateOrOpen("e", true, true, &existed);
  ASSERT_TRUE(same.has_value());
  EXPECT_TRUE(existed);
  EXPECT_EQ(same->Wait(0), WaitResult::kTimeout);
  ASSERT_TRUE(same->Set().ok());
  ASSERT_TRUE(same->Set().ok());  // sets do not add up
  EXPECT_EQ(event->Wait(0), WaitResult::kSignaled);
  EXPECT_EQ(same->Wait(0), WaitResult::kTimeout);

  // Set from another thread wakes an infinite wait: the set comes once the
  // waiter has left its hint and fallen asleep.
  RawEvent raw("e");
  ASSERT_TRUE(raw.ok());
  const pid_t waiter = static_cast<pid_t>(syscall(SYS_gettid));
  std::thread setter([&] {
    EXPECT_TRUE(SpinUntil([&] { return (raw.field(4) & 2u) != 0; }));
    EXPECT_TRUE(WaitUntilAsleep(ThreadStatPath(waiter)));
    EXPECT_TRUE(same->Set().ok());
  });
  EXPECT_EQ(event->Wait(kInfinite), WaitResult::kSignaled);
  setter.join();

  NamedEvent closed;
  EXPECT_EQ(closed.Wait(0), WaitResult::kFailed);
  EXPECT_FALSE(closed.Set().ok());
}

TEST(NamedEventTest, SegmentIsOneWordAndTheOldLayoutIsRefused) {
  testing::TempDevice device;
  bool existed = true;
  auto event = NamedEvent::CreateOrOpen("layout", /*manual_reset=*/true,
                                        /*initially_set=*/true, &existed);
  ASSERT_TRUE(event.has_value());
  RawEvent raw("layout");
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(raw.field(0), 0x56455654u);  // "TVEV"
  EXPECT_EQ(raw.field(1), 2u);           // layout version
  EXPECT_EQ(raw.field(2), 1u);           // ready
  EXPECT_EQ(raw.field(3), 24u);          // size
  EXPECT_EQ(raw.field(4), 1u);           // signalled, generation 0
  EXPECT_EQ(raw.field(5), 1u);           // manual-reset
  ASSERT_TRUE(event->Set().ok());
  EXPECT_EQ(raw.field(4), 4u | 1u);  // generation 1, still signalled
  ASSERT_TRUE(event->Reset().ok());
  EXPECT_EQ(raw.field(4), 4u);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);

  // An event of the first layout (a flag, a robust mutex and a condition
  // variable in 120 bytes) is refused, never misread.
  std::string path = "/telvane." + DeviceId() + ".event.old";
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 120), 0);
  const uint32_t header[] = {0x56455654u, 1, 1, 120, 1};
  ASSERT_EQ(pwrite(fd, header, sizeof header, 0),
            static_cast<ssize_t>(sizeof header));
  close(fd);
  Status status;
  EXPECT_FALSE(
      NamedEvent::CreateOrOpen("old", false, false, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
}

// Waiters killed while asleep in the kernel, forever or with a time-out,
// leave no more than the sleepers hint: Set does not wait for them, a live
// waiter is released as before and the word is clean afterwards.
TEST(NamedEventTest, WaitersKilledAsleepLeaveNothingBehind) {
  testing::TempDevice device;
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual-reset" : "auto-reset");
    const std::string name = manual ? "dying manual" : "dying auto";
    bool existed = true;
    auto event = NamedEvent::CreateOrOpen(name, manual, false, &existed);
    ASSERT_TRUE(event.has_value());
    RawEvent raw(manual ? "dying%20manual" : "dying%20auto");
    ASSERT_TRUE(raw.ok());
    ReadyPipe ready;
    std::vector<pid_t> dead;
    for (uint32_t timeout : {kInfinite, 60000u, kInfinite}) {
      dead.push_back(Spawn([&ready, &event, timeout] {
        ready.Announce();
        event->Wait(timeout);
        return 0;
      }));
    }
    ASSERT_TRUE(ready.Await(3));
    for (pid_t pid : dead) {
      ASSERT_TRUE(WaitUntilAsleep("/proc/" + std::to_string(pid) + "/stat"));
    }
    ASSERT_TRUE(SpinUntil([&] { return (raw.field(4) & 2u) != 0; }));
    for (pid_t pid : dead) {
      ASSERT_EQ(kill(pid, SIGKILL), 0);
      EXPECT_EQ(Reap(pid), -1);
    }
    EXPECT_EQ(raw.field(4), 2u);  // not set, generation 0, the hint
    raw.word().fetch_and(~2u);    // to see the live waiter fall asleep

    pid_t live = Spawn([&ready, &event] {
      ready.Announce();
      return event->Wait(60000) == WaitResult::kSignaled ? 0 : 1;
    });
    ASSERT_TRUE(ready.Await(1));
    ASSERT_TRUE(WaitUntilAsleep("/proc/" + std::to_string(live) + "/stat"));
    ASSERT_TRUE(SpinUntil([&] { return (raw.field(4) & 2u) != 0; }));
    ASSERT_TRUE(event->Set().ok());
    if (manual) {
      ASSERT_TRUE(event->Reset().ok());
    }
    EXPECT_EQ(Reap(live), 0);
    EXPECT_EQ(raw.field(4), 4u);  // generation 1 and nothing else
  }
}

// A setter killed between changing the word and waking the sleepers: the
// sleepers find the event set on their own, auto- and manual-reset alike
// (the manual one even though it is reset again at once).
TEST(NamedEventTest, SleepersNoticeASetWhoseSetterDiedBeforeWaking) {
  testing::TempDevice device;
  for (bool manual : {false, true}) {
    for (uint32_t timeout : {kInfinite, 60000u}) {
      SCOPED_TRACE(std::string(manual ? "manual" : "auto") + " reset, " +
                   (timeout == kInfinite ? "no time-out" : "time-out"));
      ASSERT_TRUE(ClearNamedObjects().ok());
      bool existed = true;
      auto event = NamedEvent::CreateOrOpen("orphan", manual, false, &existed);
      ASSERT_TRUE(event.has_value());
      RawEvent raw("orphan");
      ASSERT_TRUE(raw.ok());
      std::atomic<pid_t> tid{0};
      std::atomic<int> result{-1};
      std::thread waiter([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        result = static_cast<int>(event->Wait(timeout));
      });
      // (No ASSERT while the thread runs: it must be joined.)
      EXPECT_TRUE(SpinUntil([&] { return tid.load() != 0; }) &&
                  WaitUntilAsleep(ThreadStatPath(tid)) &&
                  SpinUntil([&] { return (raw.field(4) & 2u) != 0; }));
      raw.SetWithoutWaking();
      if (manual) {
        EXPECT_TRUE(event->Reset().ok());
      }
      const bool returned = SpinUntil([&] { return result.load() != -1; });
      if (!returned) {  // woken by hand, so that it can be joined
        event->Set().IgnoreError();
        SpinUntil([&] {
          raw.WakeAll();
          return result.load() != -1;
        });
      }
      waiter.join();
      EXPECT_TRUE(returned);
      EXPECT_EQ(result.load(), static_cast<int>(WaitResult::kSignaled));
      EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);  // taken or reset
    }
  }
}

// The waiter's time-out runs out while it cannot run (it is stopped), and
// the event is set in that moment without a wake-up: its look at the word
// after the deadline still finds it set.
TEST(NamedEventTest, ASetJustBeforeTheDeadlineIsNotMissed) {
  testing::TempDevice device;
  constexpr uint32_t kTimeoutMs = 1000;
  bool existed = true;
  auto event = NamedEvent::CreateOrOpen("deadline", false, false, &existed);
  ASSERT_TRUE(event.has_value());
  RawEvent raw("deadline");
  ASSERT_TRUE(raw.ok());
  ReadyPipe ready;
  pid_t waiter = Spawn([&ready, &event] {
    ready.Announce();
    return event->Wait(kTimeoutMs) == WaitResult::kSignaled ? 0 : 1;
  });
  ASSERT_TRUE(ready.Await(1));
  ASSERT_TRUE(WaitUntilAsleep("/proc/" + std::to_string(waiter) + "/stat"));
  ASSERT_TRUE(SpinUntil([&] { return (raw.field(4) & 2u) != 0; }));
  // The wait began before now, so its deadline is less than kTimeoutMs
  // from here.
  const auto asleep = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(waiter, SIGSTOP), 0);
  int stopped = 0;
  ASSERT_EQ(waitpid(waiter, &stopped, WUNTRACED), waiter);
  ASSERT_TRUE(WIFSTOPPED(stopped));
  // Waits for the clock, not for something to happen.
  while (std::chrono::steady_clock::now() <
         asleep + std::chrono::milliseconds(kTimeoutMs + 100)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  raw.SetWithoutWaking();
  ASSERT_EQ(kill(waiter, SIGCONT), 0);
  EXPECT_EQ(Reap(waiter), 0);
  EXPECT_EQ(event->Wait(0), WaitResult::kTimeout);  // the waiter took it
}

// Wake-ups that come with no Set (another process' futex wake on the word,
// a Reset, a new sleeper) never end a wait, and never early.
TEST(NamedEventTest, SpuriousWakeUpsNeverEndAWait) {
  testing::TempDevice device;
  constexpr auto kTimeout = std::chrono::milliseconds(300);
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual-reset" : "auto-reset");
    ASSERT_TRUE(ClearNamedObjects().ok());
    bool existed = true;
    auto event = NamedEvent::CreateOrOpen("spurious", manual, false, &existed);
    ASSERT_TRUE(event.has_value());
    RawEvent raw("spurious");
    ASSERT_TRUE(raw.ok());
    std::atomic<bool> done{false};
    WaitResult result = WaitResult::kFailed;
    std::chrono::steady_clock::duration waited{};
    std::thread waiter([&] {
      const auto start = std::chrono::steady_clock::now();
      result = event->Wait(static_cast<uint32_t>(kTimeout.count()));
      waited = std::chrono::steady_clock::now() - start;
      done = true;
    });
    std::thread other([&] { event->Wait(static_cast<uint32_t>(50)); });
    EXPECT_TRUE(SpinUntil([&] {
      raw.WakeAll();
      event->Reset().IgnoreError();
      return done.load();
    }));
    waiter.join();
    other.join();
    EXPECT_EQ(result, WaitResult::kTimeout);
    EXPECT_GE(waited, kTimeout);
    EXPECT_EQ(raw.field(4) & ~2u, 0u);  // never set
  }
}

TEST(SharedMemoryTest, SharedAcrossProcesses) {
  testing::TempDevice device;
  constexpr size_t kSize = 4096;
  bool existed = true;
  auto block = SharedMemory::CreateOrOpen("ZUD_SmsBuffer", kSize, &existed);
  ASSERT_TRUE(block.has_value());
  EXPECT_FALSE(existed);
  ASSERT_EQ(block->size(), kSize);
  auto* bytes = static_cast<unsigned char*>(block->data());
  EXPECT_TRUE(std::all_of(bytes, bytes + kSize, [](auto b) { return b == 0; }));
  std::memcpy(bytes, "from the creator", 17);

  pid_t child = Spawn([] {
    bool existed = false;
    auto mine = SharedMemory::CreateOrOpen("ZUD_SmsBuffer", kSize, &existed);
    if (!mine || !existed) return 1;
    auto* data = static_cast<char*>(mine->data());
    if (std::strcmp(data, "from the creator") != 0) return 2;
    std::memcpy(data + kSize - 6, "reply", 6);
    return 0;
  });
  ASSERT_EQ(Reap(child), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(bytes + kSize - 6), "reply");

  Status status;
  EXPECT_FALSE(SharedMemory::CreateOrOpen("ZUD_SmsBuffer", kSize + 1, &existed,
                                          &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
  auto smaller = SharedMemory::CreateOrOpen("ZUD_SmsBuffer", 16, &existed);
  ASSERT_TRUE(smaller.has_value());
  EXPECT_TRUE(existed);
  EXPECT_EQ(smaller->size(), 16u);
  EXPECT_STREQ(static_cast<char*>(smaller->data()), "from the creator");
  EXPECT_FALSE(SharedMemory::CreateOrOpen("zero", 0, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);

  SharedMemory moved;
  moved = std::move(*smaller);
  EXPECT_FALSE(smaller->is_open());
  EXPECT_EQ(moved.size(), 16u);
  moved.Close();
  EXPECT_FALSE(moved.is_open());
}

TEST(KernelObjectNamesTest, PerDeviceCaseSensitiveAndCleared) {
  testing::TempDevice first;
  bool existed = true;
  auto mutex = NamedMutex::CreateOrOpen("Name", false, &existed);
  auto event = NamedEvent::CreateOrOpen("Name", false, false, &existed);
  auto block = SharedMemory::CreateOrOpen("Name", 64, &existed);
  ASSERT_TRUE(mutex && event && block);
  EXPECT_FALSE(existed);  // the three kinds do not share names
  EXPECT_TRUE(SegmentExists("mutex", "Name"));
  EXPECT_TRUE(SegmentExists("event", "Name"));
  EXPECT_TRUE(SegmentExists("shm", "Name"));
  EXPECT_TRUE(NamedMutex::CreateOrOpen("Name", false, &existed) && existed);
  EXPECT_TRUE(NamedMutex::CreateOrOpen("name", false, &existed) && !existed);
  static_cast<char*>(block->data())[0] = 'x';
  {
    testing::TempDevice second;
    EXPECT_TRUE(NamedMutex::CreateOrOpen("Name", false, &existed) && !existed);
    EXPECT_TRUE(NamedEvent::CreateOrOpen("Name", 0, 0, &existed) && !existed);
    auto other = SharedMemory::CreateOrOpen("Name", 64, &existed);
    ASSERT_TRUE(other.has_value());
    EXPECT_FALSE(existed);
    EXPECT_EQ(static_cast<char*>(other->data())[0], 0);
  }

  ASSERT_TRUE(ClearNamedObjects().ok());
  EXPECT_FALSE(SegmentExists("shm", "Name"));
  // Open handles keep working on the nameless objects.
  EXPECT_EQ(static_cast<char*>(block->data())[0], 'x');
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignaled);
  EXPECT_TRUE(mutex->Release().ok());
  EXPECT_TRUE(event->Set().ok());
  auto fresh = SharedMemory::CreateOrOpen("Name", 64, &existed);
  ASSERT_TRUE(fresh.has_value());
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<char*>(fresh->data())[0], 0);
  auto fresh_event = NamedEvent::CreateOrOpen("Name", false, false, &existed);
  ASSERT_TRUE(fresh_event.has_value());
  EXPECT_FALSE(existed);
  EXPECT_EQ(fresh_event->Wait(0), WaitResult::kTimeout);  // not the old one
  EXPECT_TRUE(NamedMutex::CreateOrOpen("Name", false, &existed) && !existed);
}

TEST(KernelObjectNamesTest, EncodingAndLongNames) {
  testing::TempDevice device;
  bool existed = true;
  Status status;
  EXPECT_FALSE(NamedMutex::CreateOrOpen("", false, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
  EXPECT_FALSE(NamedEvent::CreateOrOpen("", false, false, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
  EXPECT_FALSE(SharedMemory::CreateOrOpen("", 8, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);

  // Every byte outside [A-Za-z0-9_-] is escaped, so look-alikes differ.
  EXPECT_TRUE(NamedEvent::CreateOrOpen("a/b.c", 0, 0, &existed) && !existed);
  EXPECT_TRUE(SegmentExists("event", "a%2Fb%2Ec"));
  EXPECT_TRUE(NamedEvent::CreateOrOpen("a%2Fb%2Ec", 0, 0, &existed) &&
              !existed);
  EXPECT_TRUE(
      NamedEvent::CreateOrOpen("\xE7\x9F\xAD\xE4\xBF\xA1", 0, 0, &existed) &&
      !existed);
  EXPECT_TRUE(SegmentExists("event", "%E7%9F%AD%E4%BF%A1"));
  EXPECT_TRUE(
      NamedEvent::CreateOrOpen(std::string_view("x\0y", 3), 0, 0, &existed) &&
      !existed);

  // Long names are shortened with a hash but stay apart.
  std::string long_a(300, 'x'), long_b = long_a, escaped(150, '/');
  long_b.back() = 'y';
  for (const std::string& name : {long_a, long_b, escaped}) {
    auto block = SharedMemory::CreateOrOpen(name, 8, &existed, &status);
    ASSERT_TRUE(block.has_value()) << status.ToString();
    EXPECT_FALSE(existed);
    auto again = SharedMemory::CreateOrOpen(name, 8, &existed);
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(existed);
  }
  std::string prefix = "telvane." + DeviceId() + ".shm.";
  int long_segments = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    std::string file = entry.path().filename();
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    ++long_segments;
    // At most 200 encoded bytes; an escape is never cut in half.
    EXPECT_LE(file.size(), prefix.size() + 200) << file;
    EXPECT_GE(file.size(), prefix.size() + 198) << file;
    EXPECT_EQ(file[file.size() - 33], '~') << file;
  }
  EXPECT_EQ(long_segments, 3);
}

TEST(KernelObjectsTest, DamagedOrUnfinishedSegmentsFailCleanly) {
  testing::TempDevice device;
  auto make_segment = [](const std::string& kind, off_t size) {
    std::string path = "/telvane." + DeviceId() + "." + kind + ".bad";
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
  };
  bool existed = false;
  Status status;
  // Too small to hold a mutex: refused at once.
  make_segment("mutex", 8);
  EXPECT_FALSE(NamedMutex::CreateOrOpen("bad", false, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kInvalidArgument);
  // Sized but never initialised (its creator died): given up after a while.
  make_segment("event", 4096);
  EXPECT_FALSE(
      NamedEvent::CreateOrOpen("bad", false, false, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kUnavailable);
  // A block its creator never sized.
  make_segment("shm", 0);
  EXPECT_FALSE(SharedMemory::CreateOrOpen("bad", 8, &existed, &status));
  EXPECT_EQ(status.code(), ErrorCode::kUnavailable);
}

}  // namespace
}  // namespace platform
