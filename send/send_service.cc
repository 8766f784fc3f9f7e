#include "send/send_service.h"

#include <chrono>
#include <new>
#include <utility>

namespace send {
namespace {

// The automation-date day count of a time, to the second; nullopt for a
// time that is not a valid date.
std::optional<double> DayCount(const platform::SystemTime& time) {
  return platform::SystemTimeToVariantTime(time);
}

}  // namespace

class SCOPED_CAPABILITY SendService::QueueLock {
 public:
  explicit QueueLock(SendService& service) ACQUIRE(service.queue_mutex_)
      : named_(service.mutex_.is_open() ? &service.mutex_ : nullptr),
        local_(&service.queue_mutex_) {
    // The named mutex is waited for without limit. An abandoned one (its
    // last owner died holding it) is owned all the same.
    if (named_ != nullptr &&
        named_->Wait(platform::kInfinite) == platform::WaitResult::kFailed) {
      named_ = nullptr;
    }
    local_->Lock();
  }
  ~QueueLock() RELEASE() {
    local_->Unlock();
    if (named_ != nullptr) named_->Release().IgnoreError();
  }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

 private:
  platform::NamedMutex* named_;
  platform::Mutex* const local_;
};

SendService::SendService(SendReporter* reporter)
    : reporter_(reporter),
      clock_([] { return platform::CurrentLocalTime(); }) {}

SendService::~SendService() { Stop(); }

bool SendService::Start() {
  if (started_) return false;
  started_ = true;
  library_ = platform::Library::Load(platform::kSmsLibraryName);
  if (library_ == nullptr) return false;
  bool existed = false;
  std::optional<platform::NamedEvent> event =
      platform::NamedEvent::CreateOrOpen(kSendThreadEventName,
                                         /*manual_reset=*/false,
                                         /*initially_set=*/false, &existed);
  std::optional<platform::NamedMutex> mutex =
      platform::NamedMutex::CreateOrOpen(kSendThreadMutexName,
                                         /*initially_owned=*/false, &existed);
  std::optional<SmsApi> api = BindSmsApi(*library_);
  if (!event || !mutex || !api) {
    library_.reset();
    return false;
  }
  event_ = std::move(*event);
  mutex_ = std::move(*mutex);
  api_ = *api;
  running_.store(true);
  thread_ = std::thread([this] { ThreadMain(); });
  return true;
}

void SendService::Enqueue(std::u16string_view recipients,
                          std::u16string_view text, uint32_t flags,
                          std::optional<platform::SystemTime> due_time,
                          std::optional<DraftReference> draft) {
  {
    QueueLock lock(*this);
    std::unique_ptr<SendRequest> request(new (std::nothrow) SendRequest);
    if (request != nullptr) {
      request->recipients.assign(recipients);
      request->text.assign(text);
      request->flags = flags & ~kSendFlagTimed;
      if (due_time) {
        request->due_time = *due_time;
        request->flags |= kSendFlagTimed;
      }
      request->draft = draft;
      queue_.push_back(std::move(request));
    }
  }
  if (event_.is_open()) event_.Set().IgnoreError();
}

void SendService::Wake() {
  if (running_.load()) event_.Set().IgnoreError();
}

size_t SendService::queued() const {
  platform::MutexLock lock(&queue_mutex_);
  return queue_.size();
}

void SendService::Stop() {
  running_.store(false);
  if (thread_.joinable()) {
    if (reporter_ != nullptr) reporter_->AbandonReports();
    // The event is shared with every send thread of the device, so one Set
    // may wake another program's thread instead: set it until ours has
    // left its loop.
    {
      platform::MutexLock lock(&exit_mutex_);
      while (!thread_left_) {
        event_.Set().IgnoreError();
        exit_cv_.WaitFor(&exit_mutex_, std::chrono::milliseconds(100));
      }
    }
    thread_.join();
  }
  // Only now, with no pass running, the library goes.
  api_ = SmsApi();
  library_.reset();
  std::vector<std::unique_ptr<SendRequest>> dropped;
  {
    platform::MutexLock lock(&queue_mutex_);
    dropped.swap(queue_);
  }
}

void SendService::ThreadMain() {
  while (running_.load()) {
    if (event_.Wait(platform::kInfinite) == platform::WaitResult::kFailed) {
      break;  // the event is unusable; nothing could ever wake us again
    }
    if (!running_.load()) break;
    Pass();
  }
  platform::MutexLock lock(&exit_mutex_);
  thread_left_ = true;
  exit_cv_.NotifyAll();
}

std::vector<std::unique_ptr<SendRequest>> SendService::TakeDue(
    const platform::SystemTime& now, size_t* left) {
  const std::optional<double> now_days = DayCount(now);
  std::vector<std::unique_ptr<SendRequest>> batch;
  QueueLock lock(*this);
  // From the last to the first: the batch ends up newest first.
  for (size_t i = queue_.size(); i-- > 0;) {
    const SendRequest& request = *queue_[i];
    bool due = !request.timed();
    if (!due) {
      std::optional<double> due_days = DayCount(request.due_time);
      due = !due_days || !now_days || *now_days >= *due_days;
    }
    if (due) {
      batch.push_back(std::move(queue_[i]));
      queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  *left = queue_.size();
  return batch;
}

SendResultKind SendService::SendRequestNow(
    platform::SMS_HANDLE handle, const SendRequest& request,
    platform::SMS_ADDRESS& address,
    platform::TEXT_PROVIDER_SPECIFIC_DATA& data) {
  data.dwMessageOptions = (request.flags & kSendFlagStatusReport) != 0
                              ? platform::PS_MESSAGE_OPTION_STATUSREPORT
                              : platform::PS_MESSAGE_OPTION_NONE;
  data.psMessageClass = (request.flags & kSendFlagFlash) != 0
                            ? platform::PS_MESSAGE_CLASS0
                            : platform::PS_MESSAGE_CLASS1;
  bool sent = false;  // the last non-empty piece's result
  std::u16string_view rest = request.recipients;
  while (true) {
    const size_t semicolon = rest.find(u';');
    std::u16string_view piece = rest.substr(0, semicolon);
    if (SetAddressFromEntry(address, piece) != 0) {
      sent = SendToAddress(api_, handle, address, data, request.text);
      if (recipient_observer_) {
        recipient_observer_(request, address.ptsAddress, sent);
      }
    }
    if (semicolon == std::u16string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return sent ? SendResultKind::kSent : SendResultKind::kFailed;
}

void SendService::Pass() {
  PassSummary summary;
  std::vector<std::unique_ptr<SendRequest>> batch =
      TakeDue(clock_(), &summary.left);
  summary.taken = batch.size();

  platform::SMS_ADDRESS address{};
  platform::TEXT_PROVIDER_SPECIFIC_DATA data{};
  std::optional<platform::SMS_HANDLE> handle;
  // Oldest first: the batch was filled from the end of the queue.
  for (size_t i = batch.size(); i-- > 0;) {
    if (!running_.load()) break;  // stopping: the rest are dropped unsent
    if (!handle) {
      handle = OpenSmsHandle(api_);
      if (!handle) {
        summary.open_failed = true;
        break;  // the whole batch is freed below, unreported
      }
    }
    const SendResultKind kind =
        SendRequestNow(*handle, *batch[i], address, data);
    if (running_.load() && reporter_ != nullptr) {
      reporter_->ReportSendResult(*batch[i], kind);
    }
    batch[i].reset();
  }
  if (handle) api_.close(*handle);
  batch.clear();
  if (pass_observer_) pass_observer_(summary);
}

}  // namespace send
