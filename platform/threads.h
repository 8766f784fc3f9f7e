// Threads: identifiers and priorities.
//
// The device schedules threads by a priority from 0 (highest) to 255
// (lowest); 251 is normal, 248..255 is the range of ordinary programs. The
// host maps it onto the thread's nice value: 251 is nice 0, each step up or
// down moves nice by one, clamped to -20..19. Raising a thread above normal
// needs a privilege the host may not grant; the call then fails and the
// thread keeps its priority.
#ifndef TELVANE_PLATFORM_THREADS_H_
#define TELVANE_PLATFORM_THREADS_H_

#include <cstdint>

namespace platform {

using ThreadId = int32_t;  // the host's thread id

ThreadId CurrentThreadId();

inline constexpr int kThreadPriorityNormal = 251;

// Sets the fine-grained priority of a thread of this process; false when
// the host refused. `CeSetThreadPriority`, offered by the built-in
// "Coredll.dll", calls this.
bool SetThreadPriority(ThreadId thread, int priority);
// The thread's priority as last set through SetThreadPriority (normal when
// never set).
int ThreadPriority(ThreadId thread);

// The entry point "CeSetThreadPriority" of "Coredll.dll": (thread,
// priority) -> nonzero on success.
extern "C" int CeSetThreadPriority(ThreadId thread, int priority);
using CeSetThreadPriorityFunction = int (*)(ThreadId, int);

}  // namespace platform

#endif  // TELVANE_PLATFORM_THREADS_H_
