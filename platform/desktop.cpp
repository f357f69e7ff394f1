#include "platform/desktop.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// Starts argv as a child in its own session with stdin from /dev/null, the signal mask cleared and
// every signal at its default action. Returns the child's pid, or -1 with errno set.
pid_t Spawn(const std::vector<std::string>& argv) {
  if (argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                      POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    errno = err;
    return -1;
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::mutex desktopMutex;             // protects currentDesktop
std::unique_ptr<IDesktop> currentDesktop;

}  // namespace

std::vector<std::string> OpenCommandLine(const std::string& path) {
  std::string target = path;
  if (!target.empty() && target.front() != '/') {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(target, ec);
    if (!ec) target = absolute.string();
  }
  return {"xdg-open", target};
}

std::vector<std::vector<std::string>> ShutdownCommandLines() {
  return {
      {"busctl", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
       "org.freedesktop.login1.Manager", "PowerOff", "b", "false"},
      {"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
       "/org/freedesktop/login1", "org.freedesktop.login1.Manager.PowerOff", "boolean:false"},
      {"systemctl", "poweroff"},
  };
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  const pid_t pid = Spawn(argv);
  if (pid < 0) return false;
  try {
    std::thread([pid] { WaitExit(pid); }).detach();
  } catch (const std::system_error&) {
    // No thread for the reaper: the child still runs and is left for the process to reap.
  }
  return true;
}

int RunAndWait(const std::vector<std::string>& argv) {
  const pid_t pid = Spawn(argv);
  return pid < 0 ? -1 : WaitExit(pid);
}

bool TSystemDesktop::OpenDefault(const std::string& path) {
  return SpawnDetached(OpenCommandLine(path));
}

bool TSystemDesktop::ShutDown() {
  for (const std::vector<std::string>& argv : ShutdownCommandLines())
    if (RunAndWait(argv) == 0) return true;
  return false;
}

IDesktop& Desktop() {
  std::lock_guard lock(desktopMutex);
  if (!currentDesktop) currentDesktop = std::make_unique<TSystemDesktop>();
  return *currentDesktop;
}

std::unique_ptr<IDesktop> SetDesktop(std::unique_ptr<IDesktop> desktop) {
  std::lock_guard lock(desktopMutex);
  std::unique_ptr<IDesktop> previous = std::move(currentDesktop);
  currentDesktop = std::move(desktop);
  return previous;
}

}  // namespace platform
