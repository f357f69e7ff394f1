#include "platform/threadpriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

int ProcessNice() {
  static const int nice = [] {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    return errno == 0 ? value : 0;
  }();
  return nice;
}

}  // namespace

int NiceOffset(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::Idle:
    case TThreadPriority::Normal:
      return 0;
    case TThreadPriority::Lowest:
      return 10;
    case TThreadPriority::Lower:
      return 5;
    case TThreadPriority::Higher:
      return -5;
    case TThreadPriority::Highest:
      return -10;
    case TThreadPriority::TimeCritical:
      return -20;
  }
  return 0;
}

bool SetCurrentThreadPriority(TThreadPriority priority) {
  const int base = ProcessNice();
  sched_param param{};
  if (priority == TThreadPriority::Idle) return ::sched_setscheduler(0, SCHED_IDLE, &param) == 0;

  const id_t tid = static_cast<id_t>(::gettid());
  errno = 0;
  const int oldNice = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return false;
  // Leave Idle first: going back to Idle always succeeds, so a refused nice value can be undone.
  const bool wasIdle = ::sched_getscheduler(0) == SCHED_IDLE;
  if (wasIdle && ::sched_setscheduler(0, SCHED_OTHER, &param) != 0) return false;
  const int nice = std::clamp(base + NiceOffset(priority), -20, 19);
  if (nice != oldNice && ::setpriority(PRIO_PROCESS, tid, nice) != 0) {
    if (wasIdle) ::sched_setscheduler(0, SCHED_IDLE, &param);
    return false;
  }
  return true;
}

}  // namespace platform
