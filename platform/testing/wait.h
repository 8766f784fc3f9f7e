// For tests that wait for something another thread or process does: every
// wait has a bound, so that a fault fails the test instead of hanging it,
// and the bound is generous, so that a slow machine is not a fault.
//
// Only for waiting until something happens. A test never waits a fixed time
// to show that something did not happen: it drives the clock or the queue
// that would make it happen (platform/testing/manual_clock.h), or waits
// for a later event that must come after it.
#ifndef TELVANE_PLATFORM_TESTING_WAIT_H_
#define TELVANE_PLATFORM_TESTING_WAIT_H_

#include <chrono>
#include <thread>
#include <utility>

namespace platform::testing {

// How long a test waits for what must come.
inline constexpr std::chrono::milliseconds kPatience{20000};

// Looks at `done` until it holds or `deadline` passes; whether it held. The
// predicate is asked once more at the deadline.
template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The same for at most `limit` from now.
template <class Predicate>
bool WaitUntil(Predicate done,
               std::chrono::steady_clock::duration limit = kPatience) {
  return WaitUntil(std::move(done), std::chrono::steady_clock::now() + limit);
}

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_WAIT_H_
