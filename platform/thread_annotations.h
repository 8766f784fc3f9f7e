// Lock rules the compiler checks. With Clang and -Wthread-safety (the
// TELVANE_THREAD_SAFETY build, `make tsa`) these macros let the compiler
// prove that every member marked GUARDED_BY is touched only with its mutex
// held, and that a function marked REQUIRES is called only by a thread that
// holds the mutex it names. Other compilers see nothing: every macro is
// empty there.
//
// The capability is a platform::Mutex (platform/mutex.h); locks are taken
// with platform::MutexLock. A short guide:
//
//   class Queue {
//    public:
//     void Push(int v) EXCLUDES(mutex_);  // takes mutex_ itself
//    private:
//     void PushLocked(int v) REQUIRES(mutex_);
//     platform::Mutex mutex_;
//     std::vector<int> items_ GUARDED_BY(mutex_);
//   };
//
// The analysis reads one function at a time and knows nothing of threads:
// a lambda is a function of its own (it holds no lock its caller held), and
// constructors and destructors are not checked.
#ifndef TELVANE_PLATFORM_THREAD_ANNOTATIONS_H_
#define TELVANE_PLATFORM_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define TELVANE_THREAD_ANNOTATION_(x) __attribute__((x))
#else
#define TELVANE_THREAD_ANNOTATION_(x)
#endif

// A class whose objects are locks ("mutex" names the kind in messages).
#define CAPABILITY(x) TELVANE_THREAD_ANNOTATION_(capability(x))

// A class that takes a lock when it is made and lets it go when it dies.
#define SCOPED_CAPABILITY TELVANE_THREAD_ANNOTATION_(scoped_lockable)

// A member read or written only with the lock held.
#define GUARDED_BY(x) TELVANE_THREAD_ANNOTATION_(guarded_by(x))

// A pointer member whose target is read or written only with the lock held
// (the pointer itself is not guarded).
#define PT_GUARDED_BY(x) TELVANE_THREAD_ANNOTATION_(pt_guarded_by(x))

// The caller must hold the lock(s), and still holds them on return.
#define REQUIRES(...) \
  TELVANE_THREAD_ANNOTATION_(requires_capability(__VA_ARGS__))

// The caller must not hold the lock(s): the function takes them itself.
#define EXCLUDES(...) TELVANE_THREAD_ANNOTATION_(locks_excluded(__VA_ARGS__))

// The function takes the lock(s) (on a member function without arguments:
// the object itself) and returns holding them.
#define ACQUIRE(...) TELVANE_THREAD_ANNOTATION_(acquire_capability(__VA_ARGS__))

// The function lets the lock(s) go; the caller must hold them.
#define RELEASE(...) TELVANE_THREAD_ANNOTATION_(release_capability(__VA_ARGS__))

// The function tries to take the lock(s); it holds them when it returns the
// first argument (true or false).
#define TRY_ACQUIRE(...) \
  TELVANE_THREAD_ANNOTATION_(try_acquire_capability(__VA_ARGS__))

// The function returns a reference to the lock named.
#define RETURN_CAPABILITY(x) TELVANE_THREAD_ANNOTATION_(lock_returned(x))

// The function is not checked. For code whose locking the analysis cannot
// follow; say in a comment why it is right.
#define NO_THREAD_SAFETY_ANALYSIS \
  TELVANE_THREAD_ANNOTATION_(no_thread_safety_analysis)

#endif  // TELVANE_PLATFORM_THREAD_ANNOTATIONS_H_
