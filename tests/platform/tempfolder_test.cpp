// Temporary folders: removed with their contents when done, and the folder of a process killed
// before it could remove its own removed by the next one made, while a living one's stays.
#include "platform/tempfolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;
using platform::TTempFolder;

// A child process that makes a folder with a file in it, writes the folder's path to the parent
// and waits to be killed.
struct TFolderHolder {
  pid_t pid = -1;
  std::string path;
  explicit TFolderHolder(const std::string& prefix) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::close(pipeEnds[0]);
      const TTempFolder folder(prefix);
      testsupport::WriteText(folder.Path() + "/settings.ini", "[s]\nk=1\n");
      const std::string line = folder.Path() + "\n";
      if (::write(pipeEnds[1], line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        ::_exit(1);
      for (;;) ::pause();
    }
    ::close(pipeEnds[1]);
    char c;
    while (pid > 0 && ::read(pipeEnds[0], &c, 1) == 1 && c != '\n') path += c;
    ::close(pipeEnds[0]);
  }
  void Kill() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~TFolderHolder() {
    if (pid > 0) Kill();
  }
};

TEST(TempFolder, RemovedWhenDoneAndAfterItsProcessWasKilled) {
  const std::string prefix = "vctest" + std::to_string(::getpid());
  std::string own;
  {
    const TTempFolder folder(prefix);
    own = folder.Path();
    EXPECT_EQ(fs::path(own).filename().string().rfind(prefix + "-", 0), 0u) << own;
    testsupport::WriteText(own + "/settings.ini", "x");
  }
  EXPECT_FALSE(fs::exists(own));

  TFolderHolder killed(prefix), living(prefix);
  ASSERT_TRUE(fs::exists(killed.path + "/settings.ini")) << killed.path;
  ASSERT_TRUE(fs::exists(living.path + "/settings.ini")) << living.path;
  killed.Kill();
  EXPECT_TRUE(fs::exists(killed.path));  // nobody removes it until the next folder is made
  {
    const TTempFolder held(prefix);  // one this process still uses
    const TTempFolder next(prefix);
    EXPECT_FALSE(fs::exists(killed.path));
    EXPECT_TRUE(fs::exists(living.path + "/settings.ini"));
    EXPECT_TRUE(fs::exists(held.Path()));
    EXPECT_TRUE(fs::exists(next.Path()));
  }
  living.Kill();
  const TTempFolder last(prefix);  // and tidies up after the last one
  EXPECT_FALSE(fs::exists(living.path));
}

}  // namespace
