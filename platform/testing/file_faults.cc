#include "platform/testing/file_faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace platform::testing {
namespace {

// Set while the observer runs on this thread: its own calls pass through.
thread_local bool in_observer = false;

}  // namespace

FileFaults::FileFaults() { previous_ = files::SetFileFaultInjector(this); }

FileFaults::~FileFaults() { files::SetFileFaultInjector(previous_); }

void FileFaults::Arm(Mode mode, std::optional<files::FileCall> kind, size_t n,
                     std::optional<size_t> keep, int error) {
  MutexLock lock(&mutex_);
  mode_ = mode;
  kind_ = kind;
  target_ = n;
  keep_ = keep;
  error_ = error;
  cut_ = false;
  fired_ = false;
}

void FileFaults::FailCall(size_t n, int error) {
  Arm(Mode::kFail, std::nullopt, n, std::nullopt, error);
}

void FileFaults::FailCall(files::FileCall kind, size_t n, int error) {
  Arm(Mode::kFail, kind, n, std::nullopt, error);
}

void FileFaults::CutCall(files::FileCall kind, size_t n,
                         std::optional<size_t> keep) {
  Arm(Mode::kCut, kind, n, keep, EIO);
}

void FileFaults::FailMidway(files::FileCall kind, size_t n, size_t keep,
                            int error) {
  Arm(Mode::kMidway, kind, n, keep, error);
}

void FileFaults::set_observer(std::function<void(const Call&)> observer) {
  MutexLock lock(&mutex_);
  observer_ = std::move(observer);
}

size_t FileFaults::calls() const {
  MutexLock lock(&mutex_);
  return log_.size();
}

size_t FileFaults::calls(files::FileCall kind) const {
  MutexLock lock(&mutex_);
  return per_kind_[static_cast<size_t>(kind)];
}

std::vector<FileFaults::Call> FileFaults::log() const {
  MutexLock lock(&mutex_);
  return log_;
}

std::string FileFaults::Describe() const {
  MutexLock lock(&mutex_);
  std::string text;
  for (const Call& call : log_) {
    if (!text.empty()) text += ' ';
    text += files::FileCallName(call.kind);
  }
  return text;
}

bool FileFaults::fired() const {
  MutexLock lock(&mutex_);
  return fired_;
}

files::FileFault FileFaults::Before(files::FileCall call,
                                    const std::filesystem::path& host,
                                    size_t size) {
  if (in_observer) return {};
  files::FileFault fault;
  Call record{call, host, size, 0};
  std::function<void(const Call&)> observer;
  {
    MutexLock lock(&mutex_);
    record.index = log_.size() + 1;
    size_t& of_kind = per_kind_[static_cast<size_t>(call)];
    ++of_kind;
    log_.push_back(record);
    bool hit = mode_ != Mode::kCount && !fired_ &&
               (kind_ ? *kind_ == call && of_kind == target_
                      : record.index == target_);
    if (mode_ == Mode::kMidway) {
      if (cut_ && !fired_ && call == *kind_) {
        fired_ = true;
        fault.error = error_;
      } else if (hit && !cut_) {
        cut_ = true;
        fault.transfer = std::min(*keep_, size);
      }
    } else if (hit) {
      fired_ = true;
      if (mode_ == Mode::kFail) {
        fault.error = error_;
      } else {
        fault.transfer = keep_ ? std::min(*keep_, size) : size / 2;
      }
    }
    observer = observer_;
  }
  if (observer) {
    in_observer = true;
    observer(record);
    in_observer = false;
  }
  return fault;
}

size_t SweepFileFaults(const std::function<void()>& restore,
                       const std::function<Status()>& save,
                       const std::function<void()>& after_failure,
                       const std::function<void()>& at_each_call) {
  std::vector<FileFaults::Call> calls;
  restore();
  {
    FileFaults counting;
    if (at_each_call) {
      counting.set_observer([&](const FileFaults::Call&) { at_each_call(); });
    }
    Status status = save();
    EXPECT_TRUE(status.ok())
        << "the save without faults failed: " << status.ToString();
    calls = counting.log();
  }
  EXPECT_FALSE(calls.empty()) << "the save made no file call";
  auto run = [&](const std::string& what, auto arm) {
    SCOPED_TRACE(what);
    restore();
    FileFaults faults;
    arm(faults);
    Status status = save();
    EXPECT_FALSE(status.ok()) << "the save reported success";
    EXPECT_TRUE(faults.fired())
        << "the fault did not happen: the save made " << faults.Describe();
    after_failure();
  };
  size_t writes = 0;
  for (const FileFaults::Call& call : calls) {
    run("failing call " + std::to_string(call.index) + " (" +
            files::FileCallName(call.kind) + ")",
        [&](FileFaults& faults) { faults.FailCall(call.index); });
    if (call.kind == files::FileCall::kWrite && call.size > 0) {
      size_t n = ++writes;
      run("cutting write " + std::to_string(n) + " short",
          [&](FileFaults& faults) {
            faults.CutCall(files::FileCall::kWrite, n);
          });
    }
  }
  return calls.size();
}

}  // namespace platform::testing
