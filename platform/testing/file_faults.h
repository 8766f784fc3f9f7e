// FileFaults: the test side of the file seam (platform/files.h, "Fault
// injection"). While one lives it counts every call of platform::files that
// reads, writes or commits a file, and fails or cuts short the one a test
// picks.
//
// The sweep every save should pass:
//
//   size_t calls;
//   {
//     FileFaults counting;
//     ASSERT_TRUE(Save().ok());
//     calls = counting.calls();
//   }
//   for (size_t n = 1; n <= calls; ++n) {
//     ...put the old file back...
//     FileFaults faults;
//     faults.FailCall(n);
//     EXPECT_FALSE(Save().ok());
//     EXPECT_TRUE(faults.fired());
//     ...the file is the old one or the new one, whole...
//   }
//
// An observer sees every call just before it is made: what is on disk at
// that moment is what a crash right then would leave (data not yet
// committed aside), so a test can check every crash point of a save.
//
// Counting is across the process (every thread), from construction. Only
// one FileFaults may live at a time. Calls made from inside the observer
// are neither counted nor failed.
#ifndef TELVANE_PLATFORM_TESTING_FILE_FAULTS_H_
#define TELVANE_PLATFORM_TESTING_FILE_FAULTS_H_

#include <array>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace platform::testing {

class FileFaults final : public files::FileFaultInjector {
 public:
  struct Call {
    files::FileCall kind;
    std::filesystem::path host;
    size_t size = 0;   // bytes a read or write asked to move
    size_t index = 0;  // 1 for the first call counted
  };

  // Installs itself, counting only; the destructor removes it.
  FileFaults();
  ~FileFaults();
  FileFaults(const FileFaults&) = delete;
  FileFaults& operator=(const FileFaults&) = delete;

  // Arms the one fault (a later call replaces an earlier one):
  // the nth call counted (from 1) fails with `error`;
  void FailCall(size_t n, int error = EIO);
  // the nth call of `kind` fails with `error`;
  void FailCall(files::FileCall kind, size_t n, int error = EIO);
  // the nth call of `kind` (kRead or kWrite) moves only `keep` bytes (by
  // default half of what it asked for).
  void CutCall(files::FileCall kind, size_t n,
               std::optional<size_t> keep = std::nullopt);
  // the nth call of `kind` (kRead or kWrite) moves only `keep` bytes and
  // the next call of that kind fails with `error`: a transfer that breaks
  // off part way, as at a bad block. fired() turns true with the failure.
  void FailMidway(files::FileCall kind, size_t n, size_t keep, int error = EIO);

  // Runs before every counted call, after the fault is decided and before
  // the call is made.
  void set_observer(std::function<void(const Call&)> observer);

  size_t calls() const;
  size_t calls(files::FileCall kind) const;
  std::vector<Call> log() const;
  // "create write sync rename sync folder": the kinds of the calls so far,
  // for messages.
  std::string Describe() const;
  // Whether the armed fault happened.
  bool fired() const;

  files::FileFault Before(files::FileCall call,
                          const std::filesystem::path& host,
                          size_t size) override;

 private:
  enum class Mode { kCount, kFail, kCut, kMidway };

  // Arms the one fault, forgetting any earlier one.
  void Arm(Mode mode, std::optional<files::FileCall> kind, size_t n,
           std::optional<size_t> keep, int error);

  mutable Mutex mutex_;
  Mode mode_ GUARDED_BY(mutex_) = Mode::kCount;
  // Counted among this kind only.
  std::optional<files::FileCall> kind_ GUARDED_BY(mutex_);
  size_t target_ GUARDED_BY(mutex_) = 0;  // the call to hit
  int error_ GUARDED_BY(mutex_) = EIO;
  std::optional<size_t> keep_ GUARDED_BY(mutex_);
  // kMidway: the cut happened; the next call fails.
  bool cut_ GUARDED_BY(mutex_) = false;
  bool fired_ GUARDED_BY(mutex_) = false;
  std::vector<Call> log_ GUARDED_BY(mutex_);
  std::array<size_t, files::kFileCallKinds> per_kind_ GUARDED_BY(mutex_) = {};
  std::function<void(const Call&)> observer_ GUARDED_BY(mutex_);
  files::FileFaultInjector* previous_ = nullptr;
};

// The sweep above, for one save. Runs `save` once with nothing failing,
// calling `at_each_call` before each of its calls (a crash there leaves
// what is on disk then); that run must succeed. Then, for every call it
// made, runs `save` failing that call, and for every write, once more with
// that write cut short; each of these runs must fail, and `after_failure`
// then looks at what is left. `restore` puts the old state back before
// every run. Failures are reported through gtest, traced with the fault
// (e.g. "failing call 4 (rename)"). Returns the number of calls of the
// first run.
size_t SweepFileFaults(const std::function<void()>& restore,
                       const std::function<Status()>& save,
                       const std::function<void()>& after_failure,
                       const std::function<void()>& at_each_call = {});

}  // namespace platform::testing

#endif  // TELVANE_PLATFORM_TESTING_FILE_FAULTS_H_
