#include "app/ui_call.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace app {

struct UiCall::Shared {
  platform::Mutex mutex;
  platform::CondVar changed;
  bool abandoned GUARDED_BY(mutex) = false;
  int pending GUARDED_BY(mutex) = 0;
};

UiCall::UiCall(QObject* context)
    : context_(context), shared_(std::make_shared<Shared>()) {}

UiCall::~UiCall() { Abandon(); }

bool UiCall::Run(const std::function<void()>& task) {
  // The task and the waiter share this state; the task's copy of `shared`
  // keeps the lock alive if the queued call outlives the waiter.
  struct State {
    bool running = false;
    bool done = false;
  };
  auto state = std::make_shared<State>();
  std::shared_ptr<Shared> shared = shared_;
  platform::MutexLock lock(&shared->mutex);
  if (shared->abandoned) return false;
  // Posted under the lock, so `pending` counts only what really is in the
  // queue (posting never runs the task; the task takes the lock first).
  bool queued = QMetaObject::invokeMethod(
      context_,
      [shared, state, &task] {
        {
          platform::MutexLock lock(&shared->mutex);
          --shared->pending;
          // Abandoned since it was queued: the waiter has gone and `task`
          // may no longer exist.
          if (shared->abandoned) return;
          state->running = true;
        }
        task();
        platform::MutexLock lock(&shared->mutex);
        state->running = false;
        state->done = true;
        shared->changed.NotifyAll();
      },
      Qt::QueuedConnection);
  if (!queued) return false;
  ++shared->pending;
  // A task that has started is waited for even when abandoned meanwhile
  // (from a loop nested in the task): `task` belongs to this frame.
  while (!state->done && !(shared->abandoned && !state->running)) {
    shared->changed.Wait(&shared->mutex);
  }
  return state->done;
}

void UiCall::Abandon() {
  platform::MutexLock lock(&shared_->mutex);
  shared_->abandoned = true;
  shared_->changed.NotifyAll();
}

void UiCall::Finish() {
  if (!abandoned()) {
    QCoreApplication::sendPostedEvents(context_, QEvent::MetaCall);
  }
  Abandon();
}

int UiCall::pending() const {
  platform::MutexLock lock(&shared_->mutex);
  return shared_->pending;
}

bool UiCall::abandoned() const {
  platform::MutexLock lock(&shared_->mutex);
  return shared_->abandoned;
}

}  // namespace app
