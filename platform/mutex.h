// The in-process lock, its scoped holder and the condition variable that
// waits with it, annotated so that Clang's -Wthread-safety checks the lock
// rules written beside the data (platform/thread_annotations.h).
//
//   platform::Mutex mutex_;
//   platform::CondVar changed_;
//   bool done_ GUARDED_BY(mutex_) = false;
//
//   void Finish() {
//     platform::MutexLock lock(&mutex_);
//     done_ = true;
//     changed_.NotifyAll();
//   }
//   void AwaitFinish() {
//     platform::MutexLock lock(&mutex_);
//     while (!done_) changed_.Wait(&mutex_);
//   }
//
// Waits are written as loops over the guarded state, as above, rather than
// with a predicate: a predicate is a lambda, which the analysis reads as a
// function of its own that holds no lock.
//
// These are the process' own locks. The named mutexes that several
// processes share are platform::NamedMutex (platform/kernel_objects.h).
//
// Thread safety: every call is safe from any thread. A Mutex is not
// recursive: a thread that takes one it already holds deadlocks.
#ifndef TELVANE_PLATFORM_MUTEX_H_
#define TELVANE_PLATFORM_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // Takes the mutex when no one holds it; true when it did.
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds a Mutex from its construction to the end of its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_->Lock();
  }
  ~MutexLock() RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

// A condition variable waited on with a Mutex held. Every wait lets the
// mutex go while it sleeps and returns with it held again; any wait may
// also return without a notification, so callers look again at what they
// wait for after each return.
class CondVar {
 public:
  using Clock = std::chrono::steady_clock;

  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Waits until notified.
  void Wait(Mutex* mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex->mutex_, std::adopt_lock);
    changed_.wait(lock);
    lock.release();  // still held: the caller's MutexLock lets it go
  }

  // Waits until notified or until `deadline`; false when it returned
  // because the deadline had come.
  bool WaitUntil(Mutex* mutex, Clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex->mutex_, std::adopt_lock);
    const bool notified =
        changed_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }

  // The same for at most `timeout` from now.
  template <class Rep, class Period>
  bool WaitFor(Mutex* mutex, std::chrono::duration<Rep, Period> timeout)
      REQUIRES(mutex) {
    return WaitUntil(mutex, Clock::now() + timeout);
  }

  void NotifyOne() { changed_.notify_one(); }
  void NotifyAll() { changed_.notify_all(); }

 private:
  std::condition_variable changed_;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_MUTEX_H_
