// The process' lock and its condition variable: a wait lets the mutex go
// while it sleeps and returns holding it again, whether it was woken or its
// deadline came.
#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/testing/wait.h"

namespace platform {
namespace {

// Whether another thread can take `mutex` now (it lets it go at once).
bool FreeForAnotherThread(Mutex& mutex) {
  bool taken = false;
  std::thread([&] {
    if (mutex.TryLock()) {
      mutex.Unlock();
      taken = true;
    }
  }).join();
  return taken;
}

TEST(MutexTest, HeldFromTheLockToTheEndOfItsScope) {
  Mutex mutex;
  EXPECT_TRUE(FreeForAnotherThread(mutex));
  {
    MutexLock lock(&mutex);
    EXPECT_FALSE(FreeForAnotherThread(mutex));
  }
  EXPECT_TRUE(FreeForAnotherThread(mutex));
}

TEST(CondVarTest, WaitLetsTheMutexGoUntilNotifiedAndTakesItBack) {
  Mutex mutex;
  CondVar changed;
  bool ready = false;  // guarded by `mutex`
  std::thread notifier;
  {
    MutexLock lock(&mutex);
    // Started with the mutex held: it can set `ready` only while the wait
    // below has let the mutex go.
    notifier = std::thread([&] {
      MutexLock notifier_lock(&mutex);
      ready = true;
      changed.NotifyAll();
    });
    const CondVar::Clock::time_point deadline =
        CondVar::Clock::now() + testing::kPatience;
    while (!ready && CondVar::Clock::now() < deadline) {
      changed.WaitUntil(&mutex, deadline);
    }
    EXPECT_TRUE(ready);
    EXPECT_FALSE(FreeForAnotherThread(mutex));
  }
  notifier.join();
  EXPECT_TRUE(FreeForAnotherThread(mutex));
}

TEST(CondVarTest, AWaitWhoseDeadlineCameReturnsFalseHoldingTheMutex) {
  Mutex mutex;
  CondVar changed;
  {
    MutexLock lock(&mutex);
    EXPECT_FALSE(changed.WaitUntil(
        &mutex, CondVar::Clock::now() - std::chrono::seconds(1)));
    EXPECT_FALSE(FreeForAnotherThread(mutex));
    EXPECT_FALSE(changed.WaitFor(&mutex, std::chrono::milliseconds(0)));
    EXPECT_FALSE(FreeForAnotherThread(mutex));
  }
  EXPECT_TRUE(FreeForAnotherThread(mutex));
}

}  // namespace
}  // namespace platform
