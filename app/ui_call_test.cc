#include "app/ui_call.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <thread>

#include "kit/testing/qt_app.h"
#include "platform/testing/wait.h"

namespace app {
namespace {

// Runs the UI thread's loop until `done` holds (bounded); whether it held.
template <class Done>
bool SpinUntil(Done done) {
  return platform::testing::WaitUntil([&] {
    QCoreApplication::processEvents();
    return done();
  });
}

// Waits (bounded) until a worker's task is queued.
bool WaitUntilPending(const UiCall& call) {
  return platform::testing::WaitUntil([&] { return call.pending() != 0; });
}

TEST(UiCallTest, RunsOnTheUiThreadAndAbandonReleasesWaiters) {
  kit::testing::EnsureApplication();
  QObject context;
  UiCall call(&context);
  const std::thread::id ui_thread = std::this_thread::get_id();

  // A task runs on the UI thread while the worker waits for it.
  std::atomic<bool> returned{false};
  bool result = false;
  std::thread::id ran_on;
  std::thread worker([&] {
    result = call.Run([&] { ran_on = std::this_thread::get_id(); });
    returned = true;
  });
  ASSERT_TRUE(SpinUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ran_on, ui_thread);

  // Abandoned before the UI thread got to it: the waiter returns false and
  // the task never runs, even when the loop runs afterwards.
  std::atomic<bool> ran{false};
  returned = false;
  worker = std::thread([&] {
    result = call.Run([&] { ran = true; });
    returned = true;
  });
  ASSERT_TRUE(WaitUntilPending(call));
  call.Abandon();
  worker.join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran.load());

  // Later calls return at once.
  worker = std::thread([&] { result = call.Run([&] { ran = true; }); });
  worker.join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran.load());
  EXPECT_TRUE(call.abandoned());
}

TEST(UiCallTest, FinishRunsWhatIsQueuedThenAbandons) {
  kit::testing::EnsureApplication();
  QObject context;
  UiCall call(&context);
  bool result = false;
  bool ran = false;
  std::thread worker([&] { result = call.Run([&] { ran = true; }); });
  // Once the worker's task is queued, Finish runs it although the loop
  // never turns.
  ASSERT_TRUE(WaitUntilPending(call));
  call.Finish();
  EXPECT_EQ(call.pending(), 0);
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(result);
  EXPECT_TRUE(call.abandoned());
}

TEST(UiCallTest, ATaskThatShutsTheCallDownStillFinishes) {
  kit::testing::EnsureApplication();
  QObject context;
  UiCall call(&context);
  bool result = false;
  bool finished = false;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    // The task abandons the call (as a shutdown inside it would) and goes
    // on; the worker must wait for its end before its frame goes.
    result = call.Run([&] {
      call.Abandon();
      finished = true;
    });
    returned = true;
  });
  ASSERT_TRUE(SpinUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace app
