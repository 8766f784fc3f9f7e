// The send queue and the send thread.
//
// The program has one SendService. Producers (the compose window, the
// firewall's auto reply and auto forward) put SendRequests into its queue
// from any thread; a background thread drains the queue in passes and
// submits each text to the phone's SMS library ("sms.dll", loaded by name,
// its entry points bound by name). For every request it has handled the
// thread makes one synchronous report through SendReporter, which the main
// window implements to file the result (send/filing.h) and show the sent
// popup; the request is freed after the report returns.
//
// A pass: wait for the event "SMS_SEND_THREAD_EVENT"; read the clock once;
// under the mutex "SMS_SEND_THREAD_MUTEX" take every request that is not
// timed or whose due time has come (compared to the second); open one SMS
// handle for the pass; for each taken request in order of arrival split the
// recipients at ";", reduce each piece with text::NormalizeNumber, submit
// to every non-empty one with SendToAddress, and report the result of the
// last non-empty piece (failed when there was none); close the handle.
// When "SmsOpen" fails, the requests of that pass are freed unsent and
// unreported.
//
// The event and the mutex are named kernel objects of the device, so two
// programs that each run a SendService on one device share them: a wake-up
// may be taken by the other program's thread. Such a thread only makes an
// empty pass; the periodic Wake (every 10 s from the main window) makes up
// for the lost wake-up.
//
// Lifetime: Stop (also run by the destructor) clears the running flag,
// tells the reporter to abandon any report in progress, wakes the thread,
// waits until it has left its loop, and only then releases the library; no
// pass ever uses a released library. Requests still queued are freed unsent.
//
// Thread safety: Enqueue and Wake may be called from any thread. Start,
// Stop and the set_ methods belong to the thread that owns the service and
// must not be called from a report.
#ifndef TELVANE_SEND_SEND_SERVICE_H_
#define TELVANE_SEND_SEND_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/modules.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/time.h"
#include "send/sms_library.h"

namespace store {
class Node;
}  // namespace store

namespace send {

// SendRequest flags.
inline constexpr uint32_t kSendFlagFlash = 1u << 0;
inline constexpr uint32_t kSendFlagTimed = 1u << 1;  // set by Enqueue only
inline constexpr uint32_t kSendFlagStatusReport = 1u << 2;

inline constexpr std::string_view kSendThreadEventName =
    "SMS_SEND_THREAD_EVENT";
inline constexpr std::string_view kSendThreadMutexName =
    "SMS_SEND_THREAD_MUTEX";

// The main window's message number for a send result, and the timer that
// wakes the send thread.
inline constexpr uint32_t kWmSendResult = 0x0466;
inline constexpr uint32_t kSendWakeTimerId = 2;
inline constexpr uint32_t kSendWakeIntervalMs = 10000;

// What a report asks the main window to do with a request.
enum class SendResultKind : uint32_t {
  kFailed = 0,         // the send thread could not send it
  kSent = 1,           // the send thread sent it
  kSaveDraft = 2,      // the compose window's Save
  kGroupFinished = 4,  // a group sending finished
};
// The handler accepts 0..4 and ignores anything above.
inline constexpr uint32_t kMaxSendResultKind = 4;

// The draft a request was written from: a node of the open document's tree
// and the record it showed when the reference was taken. The node pointer
// is only compared, never followed, until the tree is searched for it (see
// send/filing.h), so a reference to a node deleted since stays harmless.
struct DraftReference {
  const store::Node* node = nullptr;
  uint32_t record_offset = 0;
  friend bool operator==(const DraftReference&,
                         const DraftReference&) = default;
};

struct SendRequest {
  std::u16string recipients;      // entries joined by ";"
  std::u16string text;            // sent unchanged
  uint32_t flags = 0;             // kSendFlag* bits
  platform::SystemTime due_time;  // local time; only with kSendFlagTimed
  std::optional<DraftReference> draft;

  bool timed() const { return (flags & kSendFlagTimed) != 0; }
};

// Receives one report per handled request, on the send thread.
class SendReporter {
 public:
  virtual ~SendReporter() = default;
  // Handles the result and returns when it is handled (the main window
  // files it on its own thread while the send thread waits). `request`
  // stays valid only during the call. `kind` is kFailed or kSent.
  virtual void ReportSendResult(SendRequest& request, SendResultKind kind) = 0;
  // Called by Stop, on the stopping thread, before it waits for the send
  // thread (which may be waiting for that very thread to handle a report):
  // a ReportSendResult in progress must return soon, unhandled, and must
  // not touch the request afterwards; one that starts later (the thread
  // may be just about to report) must return at once.
  virtual void AbandonReports() {}
};

// What a pass did, for observers.
struct PassSummary {
  size_t taken = 0;          // requests taken from the queue
  size_t left = 0;           // timed requests left waiting
  bool open_failed = false;  // "SmsOpen" failed; the taken ones were dropped
};

class SendService {
 public:
  using Clock = std::function<platform::SystemTime()>;  // local time

  // `reporter` is not owned and must outlive the service (or Stop).
  explicit SendService(SendReporter* reporter);
  ~SendService();
  SendService(const SendService&) = delete;
  SendService& operator=(const SendService&) = delete;

  // Loads "sms.dll" by name, creates the event (auto-reset, not set) and
  // the mutex (not owned), binds the three entry points, sets the running
  // flag and starts the thread. False when any step fails (nothing is
  // running then; requests may still be enqueued but are never sent) or
  // when the service was started before.
  bool Start();

  // Queues a copy of the request and sets the event. A due time makes the
  // request timed (kSendFlagTimed is set here; callers never set it). A due
  // time that is not a valid date counts as already due.
  void Enqueue(std::u16string_view recipients, std::u16string_view text,
               uint32_t flags, std::optional<platform::SystemTime> due_time,
               std::optional<DraftReference> draft) EXCLUDES(queue_mutex_);

  // Sets the event when the service is running.
  void Wake();

  // See the file comment. Safe to call more than once and without Start.
  void Stop() EXCLUDES(queue_mutex_, exit_mutex_);

  bool running() const { return running_.load(); }
  // Requests waiting in the queue.
  size_t queued() const EXCLUDES(queue_mutex_);

  // Seams, set before Start: the clock a pass reads (default: the device's
  // local time); a call after each recipient is submitted (the normalised
  // number and whether it was sent) and after each pass, on the send thread.
  void set_clock(Clock clock) { clock_ = std::move(clock); }
  void set_recipient_observer(
      std::function<void(const SendRequest&, std::u16string_view, bool)> f) {
    recipient_observer_ = std::move(f);
  }
  void set_pass_observer(std::function<void(const PassSummary&)> f) {
    pass_observer_ = std::move(f);
  }

 private:
  void ThreadMain();
  void Pass();
  std::vector<std::unique_ptr<SendRequest>> TakeDue(
      const platform::SystemTime& now, size_t* left) EXCLUDES(queue_mutex_);
  SendResultKind SendRequestNow(platform::SMS_HANDLE handle,
                                const SendRequest& request,
                                platform::SMS_ADDRESS& address,
                                platform::TEXT_PROVIDER_SPECIFIC_DATA& data);
  // Takes the named mutex when it exists, then the in-process lock.
  class QueueLock;

  SendReporter* reporter_;
  std::unique_ptr<platform::Library> library_;
  SmsApi api_;
  platform::NamedEvent event_;
  platform::NamedMutex mutex_;
  std::atomic<bool> running_{false};
  bool started_ = false;

  // The queue, in order of arrival. Guarded by mutex_ (the design's lock,
  // shared with other programs) and queue_mutex_ (this process' threads,
  // also when the named mutex could not be made).
  mutable platform::Mutex queue_mutex_;
  std::vector<std::unique_ptr<SendRequest>> queue_ GUARDED_BY(queue_mutex_);

  std::thread thread_;
  platform::Mutex exit_mutex_;
  platform::CondVar exit_cv_;
  bool thread_left_ GUARDED_BY(exit_mutex_) = false;

  Clock clock_;
  std::function<void(const SendRequest&, std::u16string_view, bool)>
      recipient_observer_;
  std::function<void(const PassSummary&)> pass_observer_;
};

}  // namespace send

#endif  // TELVANE_SEND_SEND_SERVICE_H_
