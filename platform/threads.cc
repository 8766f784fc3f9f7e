#include "platform/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::mutex& PriorityMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

std::map<ThreadId, int>& Priorities() {
  static auto* priorities = new std::map<ThreadId, int>();
  return *priorities;
}

}  // namespace

ThreadId CurrentThreadId() { return static_cast<ThreadId>(syscall(SYS_gettid)); }

bool SetThreadPriority(ThreadId thread, int priority) {
  if (priority < 0 || priority > 255) return false;
  int nice_value = std::clamp(priority - kThreadPriorityNormal, -20, 19);
  // On Linux a thread id is accepted by setpriority and affects that thread.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice_value) != 0) {
    return false;
  }
  std::lock_guard<std::mutex> lock(PriorityMutex());
  Priorities()[thread] = priority;
  return true;
}

int ThreadPriority(ThreadId thread) {
  std::lock_guard<std::mutex> lock(PriorityMutex());
  auto it = Priorities().find(thread);
  return it == Priorities().end() ? kThreadPriorityNormal : it->second;
}

extern "C" int CeSetThreadPriority(ThreadId thread, int priority) {
  return SetThreadPriority(thread, priority) ? 1 : 0;
}

}  // namespace platform
