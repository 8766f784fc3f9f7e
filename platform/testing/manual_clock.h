// A playback clock that a test moves by hand, so that a test of real-time
// sound decides how much has played instead of sleeping while it plays.
//
// Time stands still until Advance() moves it; then every thread waiting on
// the clock for a moment that has now come is woken. A thread whose wait
// has a later deadline (or none) is a "sleeper": it did what it could and
// waits for time to pass or to be woken. WaitForSleepers() lets a test wait
// (bounded, in real time) until the threads it drives got that far, which
// is how it knows that a writer is blocked, a stream is full or a player
// waits before a retry, without sleeping to find out.
//
// Thread safety: every call is safe from any thread. The clock must outlive
// every stream and player it was handed.
#ifndef TELVANE_PLATFORM_TESTING_MANUAL_CLOCK_H_
#define TELVANE_PLATFORM_TESTING_MANUAL_CLOCK_H_

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/testing/wait.h"
#include "platform/wave_out.h"

namespace platform::testing {

class ManualClock final : public PlaybackClock {
 public:
  ManualClock() = default;
  ~ManualClock() = default;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  TimePoint Now() override {
    std::lock_guard guard(mutex_);
    return now_;
  }

  void WaitUntil(std::unique_lock<std::mutex>& lock,
                 std::condition_variable& changed,
                 TimePoint deadline) override {
    Waiter self{lock.mutex(), &changed, deadline};
    {
      std::lock_guard guard(mutex_);
      if (now_ >= deadline) return;
      waiters_.push_back(&self);
      clock_changed_.notify_all();
    }
    changed.wait(lock);
    // Advance() may be about to wake this wait, which takes the caller's
    // mutex: let it go until no Advance() holds on to this waiter.
    lock.unlock();
    {
      std::unique_lock guard(mutex_);
      waiters_.erase(std::find(waiters_.begin(), waiters_.end(), &self));
      clock_changed_.wait(guard, [&] { return self.waking == 0; });
      clock_changed_.notify_all();
    }
    lock.lock();
  }

  // Moves the clock on by `step` and wakes every wait whose deadline came.
  void Advance(std::chrono::steady_clock::duration step) {
    std::vector<Waiter*> due;
    {
      std::lock_guard guard(mutex_);
      now_ += step;
      for (Waiter* waiter : waiters_) {
        if (waiter->deadline <= now_) {
          ++waiter->waking;
          due.push_back(waiter);
        }
      }
    }
    for (Waiter* waiter : due) {
      {
        std::lock_guard caller(*waiter->mutex);
        waiter->changed->notify_all();
      }
      std::lock_guard guard(mutex_);
      --waiter->waking;
      clock_changed_.notify_all();
    }
  }

  // Threads waiting now for a moment after Now() (or for no moment).
  size_t sleepers() {
    std::lock_guard guard(mutex_);
    return SleepersLocked();
  }

  // Waits until at least `count` threads sleep on this clock; false when
  // `limit` (real time) ran out first.
  bool WaitForSleepers(size_t count = 1,
                       std::chrono::milliseconds limit = kPatience) {
    std::unique_lock guard(mutex_);
    return clock_changed_.wait_for(guard, limit,
                                   [&] { return SleepersLocked() >= count; });
  }

 private:
  struct Waiter {
    std::mutex* mutex;                 // the caller's, held around its wait
    std::condition_variable* changed;  // what the caller waits on
    TimePoint deadline;
    int waking = 0;  // Advance() calls about to notify it
  };

  size_t SleepersLocked() const {
    return static_cast<size_t>(
        std::count_if(waiters_.begin(), waiters_.end(),
                      [&](const Waiter* w) { return w->deadline > now_; }));
  }

  std::mutex mutex_;
  std::condition_variable clock_changed_;  // a waiter came, went or was woken
  // Any start will do; an hour in keeps "the start minus a little" valid.
  TimePoint now_{std::chrono::hours(1)};
  std::vector<Waiter*> waiters_;
};

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_MANUAL_CLOCK_H_
