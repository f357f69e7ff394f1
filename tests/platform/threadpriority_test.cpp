#include "platform/threadpriority.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace {

using platform::SetCurrentThreadPriority;
using platform::TThreadPriority;

int ThreadNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); }

TEST(ThreadPriority, LowerLevelsChangeOnlyTheCallingThread) {
  const int base = ThreadNice();
  struct Case {
    TThreadPriority priority;
    int offset;
    int policy;
  };
  const Case cases[] = {{TThreadPriority::Lowest, 10, SCHED_OTHER},
                        {TThreadPriority::Lower, 5, SCHED_OTHER},
                        {TThreadPriority::Normal, 0, SCHED_OTHER},
                        {TThreadPriority::Idle, 0, SCHED_IDLE}};
  for (const Case& c : cases) {
    bool ok = false;
    int nice = 0, policy = -1;
    std::thread([&] {
      ok = SetCurrentThreadPriority(c.priority);
      nice = ThreadNice();
      policy = ::sched_getscheduler(0);
    }).join();
    SCOPED_TRACE(static_cast<int>(c.priority));
    EXPECT_TRUE(ok);
    EXPECT_EQ(nice, std::min(base + c.offset, 19));
    EXPECT_EQ(policy, c.policy);
  }
  EXPECT_EQ(ThreadNice(), base);
  EXPECT_EQ(::sched_getscheduler(0), SCHED_OTHER);
}

// Without privilege the system refuses every raise; the call reports it and the thread keeps
// the level it had.
TEST(ThreadPriority, RefusedRaiseFailsAndKeepsTheLevel) {
  if (ThreadNice() > 14) GTEST_SKIP() << "the process already runs near the lowest priority";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_NICE, &none);
    if (::getuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) ::_exit(10);
    const int base = ThreadNice();
    if (SetCurrentThreadPriority(TThreadPriority::Higher) || ThreadNice() != base) ::_exit(1);
    if (!SetCurrentThreadPriority(TThreadPriority::Lower) || ThreadNice() != base + 5) ::_exit(2);
    if (SetCurrentThreadPriority(TThreadPriority::Normal) || ThreadNice() != base + 5) ::_exit(3);
    if (!SetCurrentThreadPriority(TThreadPriority::Idle) || ::sched_getscheduler(0) != SCHED_IDLE)
      ::_exit(4);
    if (SetCurrentThreadPriority(TThreadPriority::Lowest) ||
        ::sched_getscheduler(0) != SCHED_IDLE || ThreadNice() != base + 5)
      ::_exit(5);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: raise, 2: lower, 3: back to normal, 4: idle, 5: leaving idle; 10: setresuid";
}

}  // namespace
