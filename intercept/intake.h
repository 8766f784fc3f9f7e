// The intake: the program's end of the queue of intercepted messages.
//
// The rule-client library (inrelay, running in the messaging service's
// process) copies every incoming SMS into the shared buffer "ZUD_SmsBuffer"
// (docs/formats/sms-buffer.md, ruleclient/sms_buffer_layout.h) under
// "ZUD_SMSDataMutex" and sets "ZUD_SMSAvailableEvent". The intake thread
// wakes on that event, takes the mutex and hands every queued entry, in
// queue order, to a handler (the firewall, on the UI thread) and waits for
// its answer. While the intake runs, the buffer's reader-attached flag is 1,
// so the library waits up to 1500 ms for a verdict: "ZUD_SMSDeleteEvent",
// which the handler sets when the message must leave the phone's Inbox.
//
// The shared buffer is outside input: another process writes it. The reader
// stays inside every field (a text without its terminator ends at the end of
// its field), resets a queue whose count or read index is out of range, and
// treats an unknown overflow index as "no continuation". Nothing the buffer
// holds can crash the reader or stop it; dropped entries cost nothing
// because the library leaves every message without a verdict in the Inbox.
#ifndef TELVANE_INTERCEPT_INTAKE_H_
#define TELVANE_INTERCEPT_INTAKE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

#include "platform/kernel_objects.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/thread_annotations.h"
#include "platform/time.h"

namespace intercept {

// One intercepted message, as handed to the handler. Both texts are
// NUL-terminated (text.data()[text.size()] == 0) and hold no NUL. They point
// into the intake thread's own copy of the entry and are valid only for the
// duration of the handler call. `body` has at most 352 + 1024 code units,
// `sender` at most 63 (the writer produces at most 1375 and 62).
struct IncomingSms {
  std::u16string_view body;
  std::u16string_view sender;
  platform::FileTime delivery_time;  // UTC, as the message store gave it
  // platform::TickCount() when the intake took the entry: the rule client
  // began its 1500 ms wait for the answer just before.
  uint32_t taken_tick = 0;
};

// Called on the intake thread, once per queued entry, while the intake holds
// "ZUD_SMSDataMutex" (the library cannot queue the next message meanwhile).
// Returns nonzero when the entry was consumed; 0 leaves it at the head of
// the queue until the next wake-up.
using IntakeHandler = std::function<uint32_t(const IncomingSms&)>;

// What one drain of the queue did.
struct DrainResult {
  int delivered = 0;          // entries consumed (the handler said nonzero)
  bool held = false;          // the handler said 0: the head entry stays
  bool header_reset = false;  // count or read index out of range: reset
  int unknown_overflow = 0;   // entries with an overflow index not 1, 2, FFFF
  int unterminated = 0;       // texts cut at the end of their field
};

// Drains the queue of one buffer: while the count is above 0, hands the
// entry at the read index to `handler`, then advances the read index and
// lowers the count. Stops at the first 0 answer. At most five entries per
// call. A count outside 0..5 or a read index outside 0..4 resets the queue
// (count 0, read index = write index when that is valid, else 0) and
// delivers nothing. Writes only the count and the read index.
// REQUIRES: the caller holds "ZUD_SMSDataMutex" (or owns `buffer` alone).
// A buffer shorter than the layout's 8316 bytes is left alone.
DrainResult DrainQueue(std::span<uint8_t> buffer, const IntakeHandler& handler);

// The intake thread and its handles. Owned by the main window: created with
// it, started while it is created, stopped and destroyed with it. Start and
// stop from one thread (the UI thread); the handler runs on the intake
// thread.
class Intake {
 public:
  Intake() = default;
  // Stops the intake and waits for its thread to end, which includes the
  // handler call it may be in: the owner must not destroy the intake on a
  // thread that handler waits for (see WaitStopped).
  ~Intake();
  Intake(const Intake&) = delete;
  Intake& operator=(const Intake&) = delete;

  // Creates or opens "ZUD_SMSAvailableEvent" (auto-reset, clear),
  // "ZUD_SMSDataMutex" (not owned) and "ZUD_SmsBuffer" (8316 bytes), sets
  // the reader-attached flag to 1, drops what is still queued and starts
  // the intake thread. False, with no thread started and the flag
  // untouched, when an object is not available; the program then runs
  // without interception. An Intake starts at most once: a second call
  // returns false.
  //
  // What is queued at the start was queued while no intake answered (the
  // program was not running, or had died): the rule client left each of
  // those messages in the phone's Inbox, so handling them now would file,
  // announce and answer them late while they stay there too. They are
  // dropped (the flag is set first, so a message queued meanwhile is either
  // dropped too, and stays in the Inbox, or handled with its answer
  // awaited); the user finds them in the phone's Inbox.
  bool StartIntake(IntakeHandler handler);
  // Entries dropped at the start (for the log and tests).
  int dropped_at_start() const { return dropped_at_start_; }

  // Sets the reader-attached flag to 0 (the library stops waiting for
  // verdicts), asks the thread to end and wakes it. Returns at once; the
  // thread ends at its next wake-up, after the handler call it may be in.
  // Entries queued later stay in the buffer. Safe to call more than once,
  // and from the handler.
  void StopIntake();

  // Waits up to `timeout_ms` (platform::kInfinite: no limit) for the thread
  // to end after StopIntake() and joins it. True when no thread runs any
  // more. Must not be called from the handler, nor from a thread the
  // handler waits for (it would wait for itself).
  bool WaitStopped(uint32_t timeout_ms) EXCLUDES(state_mutex_);

  // True between a successful StartIntake() and the end of the thread.
  bool running() const EXCLUDES(state_mutex_);

 private:
  void Run();

  IntakeHandler handler_;
  platform::NamedEvent available_;  // "ZUD_SMSAvailableEvent"
  platform::NamedMutex mutex_;      // "ZUD_SMSDataMutex"
  platform::SharedMemory buffer_;   // "ZUD_SmsBuffer", mapped for the run
  std::thread thread_;
  std::atomic<bool> stop_{false};
  bool started_ = false;
  int dropped_at_start_ = 0;

  mutable platform::Mutex state_mutex_;
  platform::CondVar finished_changed_;
  bool finished_ GUARDED_BY(state_mutex_) = false;
};

// Creates or opens "ZUD_SMSDeleteEvent" (auto-reset, initially clear): the
// verdict the library waits for. The main window creates it when it is
// constructed, before the intake starts, keeps it for its lifetime and
// gives it to the firewall, which sets it for a message that must not be
// shown in the Inbox. The intake itself never touches it.
std::optional<platform::NamedEvent> CreateDeleteEvent(
    platform::Status* status = nullptr);

}  // namespace intercept

#endif  // TELVANE_INTERCEPT_INTAKE_H_
