// The login manager's sleep lock, where the machine has one: held while the object holds it, as
// the system's own list of locks shows, and gone once released. Without a system bus or login
// manager the test is skipped with the reason the lock could not be had.
#include <gtest/gtest.h>

#include <signal.h>

#include <sstream>
#include <string>

#include "platform/sleepinhibitor.h"
#include "tests/support/ffprobe.h"

namespace {

// The system's list of sleep locks ("" when it cannot be read).
std::string ListedLocks() {
  std::string output;
  testsupport::RunTool({"systemd-inhibit", "--list", "--no-pager"}, &output);
  return output;
}

TEST(SleepInhibitor, TheLoginManagerListsTheHoldUntilItIsReleased) {
  platform::TLogindSleepInhibitor inhibitor;
  std::string error;
  const std::string reason = "Converting video files (test)";
  if (!inhibitor.Acquire(reason, error)) GTEST_SKIP() << "no sleep lock here: " << error;
  EXPECT_TRUE(inhibitor.Acquire(reason, error));  // held already: nothing more is asked
  EXPECT_NE(ListedLocks().find(reason), std::string::npos) << ListedLocks();
  inhibitor.Release();
  EXPECT_EQ(ListedLocks().find(reason), std::string::npos) << ListedLocks();
}

TEST(SleepInhibitor, WithoutTheLoginManagerTheReasonIsGivenAtOnce) {
  // A bus address where no bus is: the hold is refused with a reason, without waiting.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  platform::TLogindSleepInhibitor inhibitor;
  std::string error;
  EXPECT_FALSE(inhibitor.Acquire("test", error));
  EXPECT_NE(error.find("no system bus"), std::string::npos) << error;
  inhibitor.Release();  // nothing held: nothing happens
}

// The bus library reads the bus address once per process, so this case has a test of its own.
TEST(SleepInhibitor, ABusWithoutTheLoginManagerRefusesTheHold) {
  // A bus of the test's own, where nobody answers for the login manager: the request goes over
  // the bus and comes back refused.
  platform::TLogindSleepInhibitor inhibitor;
  std::string error;
  std::string started;
  if (testsupport::RunTool({"dbus-daemon", "--session", "--fork", "--print-address=1",
                            "--print-pid=1"},
                           &started) != 0)
    GTEST_SKIP() << "no dbus-daemon to start a bus with";
  std::istringstream lines(started);
  std::string address;
  pid_t pid = 0;
  lines >> address >> pid;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  EXPECT_FALSE(inhibitor.Acquire("test", error));
  if (pid > 0) ::kill(pid, SIGTERM);
  EXPECT_NE(error.find("the login manager gave no sleep lock (org.freedesktop.DBus.Error."),
            std::string::npos)
      << error;
}

}  // namespace
