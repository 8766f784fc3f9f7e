// Named objects under fire: victim processes wait on, set and reset the
// events and take, hold and release the mutex, and are killed with SIGKILL
// at random moments, over and over, while a survivor process keeps playing
// ping-pong through the same events and taking the same mutex, each round
// with a deadline it must never miss.
//
// The run is short by default (a few hundred kills). For a long one:
//   TELVANE_TORTURE_KILLS=5000 platform_test --gtest_filter='*Torture*'
// Either way it ends with one line of figures: kills, rounds, missed
// deadlines.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/testing/temp_device.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long one survivor round (a ping-pong and a turn with the mutex) may
// take, and how long the mutex wait is. A round takes milliseconds; the
// bound is wide so that a machine busy with sanitized programs (three
// victims taking the mutex in a loop, unfairly, on two cores) is not taken
// for a survivor that cannot get on: what it must catch is a wait that
// never ends.
constexpr auto kRoundDeadline = std::chrono::milliseconds(5000);
constexpr uint32_t kMutexWaitMs = 5000;
// The pinging survivor sets "ping" again this often while no answer came:
// a victim may take an auto-reset signal or reset an event, as any
// program may.
constexpr uint32_t kResetEveryMs = 20;
// A round under way for this long is taken for stuck: the run ends early.
constexpr auto kStuckAfter = std::chrono::seconds(15);
constexpr int kVictims = 3;
constexpr int kDefaultKills = 300;

constexpr char kPing[] = "torture ping";    // auto-reset
constexpr char kPong[] = "torture pong";    // manual-reset
constexpr char kSpare[] = "torture spare";  // auto-reset, only victims
constexpr char kMutex[] = "torture mutex";
constexpr char kBoard[] = "torture board";

// Shared between the controller, the survivor and the victims.
struct Board {
  std::atomic<uint32_t> stop;
  std::atomic<uint64_t> ping_round;  // the round the pinger asks for
  std::atomic<uint64_t> pong_round;  // the last round the echo answered
  std::atomic<uint64_t> rounds;      // rounds finished
  // When the round under way began (steady clock, in µs), 0 between rounds.
  std::atomic<int64_t> round_started_us;
  std::atomic<uint64_t> missed;  // rounds over kRoundDeadline
  std::atomic<uint64_t> mutex_timeouts;
  std::atomic<uint64_t> abandoned;  // the survivor took an abandoned mutex
  std::atomic<uint64_t> failures;   // kFailed or a failed Set/Reset/Release
  std::atomic<int64_t> worst_round_us;
  std::atomic<uint64_t> victim_steps;
};
static_assert(std::atomic<uint64_t>::is_always_lock_free);

int64_t Micros(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

// The steady clock is CLOCK_MONOTONIC, one clock for every process.
int64_t NowMicros() { return Micros(Clock::now().time_since_epoch()); }

// How long the survivor's current round has been under way.
std::chrono::microseconds RoundAge(const Board& board) {
  const int64_t started = board.round_started_us.load();
  return std::chrono::microseconds(started == 0 ? 0 : NowMicros() - started);
}

struct Objects {
  NamedEvent ping, pong, spare;
  NamedMutex mutex;
  SharedMemory board_memory;
  Board* board = nullptr;

  bool Open() {
    bool existed = false;
    auto ping_event = NamedEvent::CreateOrOpen(kPing, false, false, &existed);
    auto pong_event = NamedEvent::CreateOrOpen(kPong, true, false, &existed);
    auto spare_event = NamedEvent::CreateOrOpen(kSpare, false, false, &existed);
    auto named_mutex = NamedMutex::CreateOrOpen(kMutex, false, &existed);
    auto memory = SharedMemory::CreateOrOpen(kBoard, sizeof(Board), &existed);
    if (!ping_event || !pong_event || !spare_event || !named_mutex || !memory) {
      return false;
    }
    ping = std::move(*ping_event);
    pong = std::move(*pong_event);
    spare = std::move(*spare_event);
    mutex = std::move(*named_mutex);
    board_memory = std::move(*memory);
    board = static_cast<Board*>(board_memory.data());
    return true;
  }
};

// xorshift64*: a victim's own stream of choices.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed | 1) {}
  uint32_t Below(uint32_t n) {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32) % n;
  }

 private:
  uint64_t state_;
};

void SleepMicros(uint32_t us) {
  timespec ts{0, static_cast<long>(us) * 1000};
  nanosleep(&ts, nullptr);
}

// A victim: opens the objects by name, as a program starting up does, and
// does random things with them until it is killed. Never returns.
[[noreturn]] void RunVictim(uint64_t seed) {
  Objects objects;
  if (!objects.Open()) _exit(10);
  Random random(seed);
  NamedEvent* events[] = {&objects.ping, &objects.pong, &objects.spare};
  for (;;) {
    if (objects.board->stop.load()) _exit(0);
    objects.board->victim_steps.fetch_add(1, std::memory_order_relaxed);
    NamedEvent& event = *events[random.Below(3)];
    switch (random.Below(10)) {
      case 0:
      case 1:
        event.Set().IgnoreError();
        break;
      case 2:
        event.Reset().IgnoreError();
        break;
      case 3:  // may take a ping meant for the survivor: it is set again
        event.Wait(random.Below(3));
        break;
      case 4:  // asleep in the kernel when the kill comes
        objects.spare.Wait(random.Below(4) == 0 ? kInfinite : random.Below(30));
        break;
      case 5:
        objects.pong.Wait(random.Below(20));
        break;
      default: {  // the mutex, taken once or twice and held a little
        WaitResult taken =
            objects.mutex.Wait(random.Below(4) == 0 ? kInfinite : 5);
        if (taken != WaitResult::kSignaled && taken != WaitResult::kAbandoned) {
          break;
        }
        const bool twice = random.Below(3) == 0 &&
                           objects.mutex.Wait(0) == WaitResult::kSignaled;
        SleepMicros(random.Below(1500));
        if (twice) objects.mutex.Release().IgnoreError();
        objects.mutex.Release().IgnoreError();
        break;
      }
    }
  }
}

// The survivor: a pinger and an echo thread, and the mutex once a round.
// Ends when the board says stop.
[[noreturn]] void RunSurvivor() {
  Objects objects;
  if (!objects.Open()) _exit(10);
  Board& board = *objects.board;
  std::thread echo([&] {
    while (!board.stop.load()) {
      WaitResult woken = objects.ping.Wait(500);
      if (woken == WaitResult::kFailed) board.failures.fetch_add(1);
      if (woken != WaitResult::kSignaled) continue;
      // Answers only when pinged: the answer travels through the events.
      const uint64_t round = board.ping_round.load();
      if (round > board.pong_round.load()) board.pong_round.store(round);
      if (!objects.pong.Set().ok()) board.failures.fetch_add(1);
    }
  });

  for (uint64_t round = 1; !board.stop.load(); ++round) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + kRoundDeadline;
    board.round_started_us.store(Micros(start.time_since_epoch()));
    if (!objects.pong.Reset().ok()) board.failures.fetch_add(1);
    board.ping_round.store(round);
    bool answered = false;
    while (!answered && !board.stop.load()) {
      if (!objects.ping.Set().ok()) board.failures.fetch_add(1);
      WaitResult result = objects.pong.Wait(kResetEveryMs);
      if (result == WaitResult::kFailed) board.failures.fetch_add(1);
      if (result != WaitResult::kSignaled) continue;
      // Set by the echo for this round, or by a victim: only the first
      // ends the round. The pong_round store precedes the echo's Set.
      answered = board.pong_round.load() >= round;
      if (!answered && !objects.pong.Reset().ok()) board.failures.fetch_add(1);
    }
    if (!answered) break;  // stopping
    WaitResult taken = objects.mutex.Wait(kMutexWaitMs);
    if (taken == WaitResult::kSignaled || taken == WaitResult::kAbandoned) {
      if (taken == WaitResult::kAbandoned) board.abandoned.fetch_add(1);
      if (!objects.mutex.Release().ok()) board.failures.fetch_add(1);
    } else if (taken == WaitResult::kTimeout) {
      board.mutex_timeouts.fetch_add(1);
    } else {
      board.failures.fetch_add(1);
    }
    const int64_t took = Micros(Clock::now() - start);
    if (Clock::now() > deadline) board.missed.fetch_add(1);
    int64_t worst = board.worst_round_us.load();
    while (took > worst &&
           !board.worst_round_us.compare_exchange_weak(worst, took)) {
    }
    board.round_started_us.store(0);
    board.rounds.fetch_add(1);
  }
  board.stop.store(1);
  objects.ping.Set().IgnoreError();  // the echo may be asleep
  echo.join();
  _exit(0);
}

template <typename Body>
pid_t Fork(Body body) {
  pid_t pid = fork();
  if (pid == 0) body();
  return pid;
}

// Reaps `pid`, waiting at most about `limit`; false when it did not end.
bool ReapWithin(pid_t pid, std::chrono::milliseconds limit, int* status) {
  const Clock::time_point end = Clock::now() + limit;
  for (;;) {
    pid_t done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 || Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int KillsWanted() {
  const char* text = getenv("TELVANE_TORTURE_KILLS");
  if (text == nullptr || *text == '\0') return kDefaultKills;
  int kills = atoi(text);
  return kills > 0 ? kills : kDefaultKills;
}

TEST(KernelObjectsTortureTest, KilledVictimsNeverStopTheSurvivor) {
  testing::TempDevice device;
  Objects objects;
  ASSERT_TRUE(objects.Open());
  Board& board = *objects.board;
  const int kills_wanted = KillsWanted();

  pid_t survivor = Fork([] { RunSurvivor(); });
  ASSERT_GT(survivor, 0);
  std::vector<pid_t> victims(kVictims, 0);
  Random random(static_cast<uint64_t>(getpid()) * 7919 +
                static_cast<uint64_t>(Micros(Clock::now().time_since_epoch())));
  int kills = 0;
  bool stuck = false;
  while (kills < kills_wanted && !stuck) {
    const int slot = static_cast<int>(random.Below(kVictims));
    if (victims[slot] != 0) {
      ASSERT_EQ(kill(victims[slot], SIGKILL), 0);
      int status = 0;
      ASSERT_EQ(waitpid(victims[slot], &status, 0), victims[slot]);
      ASSERT_TRUE(WIFSIGNALED(status)) << "a victim ended by itself";
      victims[slot] = 0;
      ++kills;
    }
    const uint64_t seed = random.Below(1u << 30) * 4099ull + kills;
    victims[slot] = Fork([seed] { RunVictim(seed); });
    ASSERT_GT(victims[slot], 0);
    // Mostly a moment, now and then long enough to fall asleep or to hold
    // the mutex while the survivor wants it.
    SleepMicros(random.Below(8) == 0 ? random.Below(30000)
                                     : random.Below(2000));
    stuck = RoundAge(board) > kStuckAfter;
  }

  for (pid_t& victim : victims) {
    if (victim == 0) continue;
    kill(victim, SIGKILL);
    int status = 0;
    waitpid(victim, &status, 0);
    victim = 0;
    ++kills;
  }
  // A round still under way past its deadline is a miss as well (the
  // survivor is stuck in it).
  if (RoundAge(board) > kRoundDeadline) board.missed.fetch_add(1);
  // The survivor looks at the board at least twice a second. Nothing here
  // touches the events: were they broken, the controller would hang too.
  board.stop.store(1);
  int survivor_status = 0;
  bool ended = !stuck &&
               ReapWithin(survivor, std::chrono::seconds(20), &survivor_status);
  if (!ended) {
    kill(survivor, SIGKILL);
    waitpid(survivor, &survivor_status, 0);
  }

  std::printf(
      "torture: %d kills, %llu rounds, %llu missed deadlines, %llu mutex "
      "time-outs, %llu abandoned mutexes taken, %llu failures, worst round "
      "%.1f ms, %llu victim steps\n",
      kills, static_cast<unsigned long long>(board.rounds.load()),
      static_cast<unsigned long long>(board.missed.load()),
      static_cast<unsigned long long>(board.mutex_timeouts.load()),
      static_cast<unsigned long long>(board.abandoned.load()),
      static_cast<unsigned long long>(board.failures.load()),
      static_cast<double>(board.worst_round_us.load()) / 1000.0,
      static_cast<unsigned long long>(board.victim_steps.load()));
  std::fflush(stdout);

  EXPECT_FALSE(stuck) << "a survivor round did not end within "
                      << kStuckAfter.count() << " s";
  EXPECT_TRUE(ended) << "the survivor did not stop when asked";
  EXPECT_TRUE(WIFEXITED(survivor_status) && WEXITSTATUS(survivor_status) == 0);
  EXPECT_GT(board.rounds.load(), 0u);
  EXPECT_EQ(board.missed.load(), 0u);
  EXPECT_EQ(board.mutex_timeouts.load(), 0u);
  EXPECT_EQ(board.failures.load(), 0u);
}

}  // namespace
}  // namespace platform
