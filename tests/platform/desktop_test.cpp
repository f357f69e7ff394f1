#include "platform/desktop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/testdirs.h"

namespace {

using Argv = std::vector<std::string>;

class RecordingDesktop : public platform::IDesktop {
 public:
  explicit RecordingDesktop(std::vector<std::string>* log) : log_(log) {}
  bool OpenDefault(const std::string& path) override {
    log_->push_back("open " + path);
    return true;
  }
  bool ShutDown() override {
    log_->push_back("shut down");
    return false;
  }

 private:
  std::vector<std::string>* log_;
};

TEST(Desktop, ReplacementReceivesTheCallsAndTheDefaultComesBack) {
  std::vector<std::string> log;
  platform::SetDesktop(std::make_unique<RecordingDesktop>(&log));
  EXPECT_TRUE(platform::Desktop().OpenDefault("/videos/out.mp4"));
  EXPECT_FALSE(platform::Desktop().ShutDown());
  EXPECT_EQ(log, (std::vector<std::string>{"open /videos/out.mp4", "shut down"}));

  const std::unique_ptr<platform::IDesktop> replaced = platform::SetDesktop(nullptr);
  EXPECT_NE(dynamic_cast<RecordingDesktop*>(replaced.get()), nullptr);
  EXPECT_NE(dynamic_cast<platform::TSystemDesktop*>(&platform::Desktop()), nullptr);
}

TEST(Desktop, DefaultCommandLines) {
  const std::string odd = "/videos/a b;$(rm x) 'c'.mp4";
  EXPECT_EQ(platform::OpenCommandLine(odd), (Argv{"xdg-open", odd}));
  EXPECT_EQ(platform::OpenCommandLine("-rf"),
            (Argv{"xdg-open", (std::filesystem::current_path() / "-rf").string()}));

  const std::vector<Argv> shutdown = platform::ShutdownCommandLines();
  ASSERT_EQ(shutdown.size(), 3u);
  EXPECT_EQ(shutdown[0], (Argv{"busctl", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "PowerOff", "b", "false"}));
  EXPECT_EQ(shutdown[1], (Argv{"dbus-send", "--system", "--print-reply",
                               "--dest=org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager.PowerOff", "boolean:false"}));
  EXPECT_EQ(shutdown[2], (Argv{"systemctl", "poweroff"}));
}

TEST(Desktop, ProgramsRunWithoutAShellAndFailuresAreReported) {
  testsupport::TempDir dir;
  const std::string name = dir.File("a b;touch x $(touch y) *");
  ASSERT_TRUE(platform::SpawnDetached({"touch", name}));
  for (int i = 0; i < 1000 && !std::filesystem::exists(name); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(name));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  EXPECT_EQ(platform::RunAndWait({"true"}), 0);
  EXPECT_EQ(platform::RunAndWait({"false"}), 1);
  EXPECT_EQ(platform::RunAndWait({"no-such-program-vc"}), -1);
  errno = 0;
  EXPECT_FALSE(platform::SpawnDetached({"no-such-program-vc"}));
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
