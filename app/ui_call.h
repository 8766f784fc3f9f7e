// UiCall: a worker thread asks the user-interface thread to run a task and
// waits for it, the way a window message is sent and answered.
//
// The intake thread hands every intercepted message to the firewall this
// way, and the send thread every send result to the filing; both wait for
// the answer. A program that is shutting down must not leave them waiting,
// nor run their tasks on a half-closed window: Abandon(), on the UI thread,
// makes every waiting Run return false at once (one whose task is running
// returns true when the task ends) and every later Run return false without
// queueing anything. A task that had not started when Abandon
// ran never runs (tasks and Abandon both run on the UI thread, so a task
// either ran completely before Abandon or not at all).
//
// Thread safety: Run from any thread but the UI thread (it would wait for
// itself); Abandon and the destructor on the UI thread. The object must
// outlive every Run in progress (the owner stops its worker threads before
// destroying it).
#ifndef TELVANE_APP_UI_CALL_H_
#define TELVANE_APP_UI_CALL_H_

#include <functional>
#include <memory>

class QObject;

namespace app {

class UiCall {
 public:
  // `context` lives on the UI thread; tasks run in its thread's event loop
  // (nested loops of modal dialogs included).
  explicit UiCall(QObject* context);
  ~UiCall();
  UiCall(const UiCall&) = delete;
  UiCall& operator=(const UiCall&) = delete;

  // Runs `task` on the UI thread and waits until it has run. False when the
  // call was abandoned before the task ran (the task then never runs).
  bool Run(const std::function<void()>& task);

  // See the file comment. Irreversible.
  void Abandon();
  // Runs the tasks already queued (a message or a result that reached the
  // UI thread's queue is handled rather than dropped), then abandons.
  void Finish();
  bool abandoned() const;
  // Tasks queued and not yet started (or skipped).
  int pending() const;

 private:
  struct Shared;
  QObject* context_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace app

#endif  // TELVANE_APP_UI_CALL_H_
