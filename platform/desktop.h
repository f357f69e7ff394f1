// The desktop services the program asks for: opening a file or folder with the user's default
// handler and powering the computer off. They go through the replaceable interface IDesktop so
// tests and the GUI can substitute their own; the default runs system commands without a shell.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

class IDesktop {
 public:
  virtual ~IDesktop() = default;
  // Opens a file or folder with the desktop's default handler and returns without waiting for it.
  // False when the handler could not be started.
  virtual bool OpenDefault(const std::string& path) = 0;
  // Asks the system to power off now. False when every way of asking was refused or missing.
  virtual bool ShutDown() = 0;
};

// The default implementation: OpenDefault starts OpenCommandLine(path) detached; ShutDown runs
// each of ShutdownCommandLines() in turn, waiting for it, until one exits with status 0.
class TSystemDesktop : public IDesktop {
 public:
  bool OpenDefault(const std::string& path) override;
  bool ShutDown() override;
};

// {"xdg-open", path}, a relative path made absolute first so it can never read as an option.
std::vector<std::string> OpenCommandLine(const std::string& path);
// The ways to ask for power-off, in order: logind over D-Bus through busctl, the same through
// dbus-send, then systemctl poweroff. The D-Bus requests are non-interactive, so an unattended
// machine never waits at a password prompt.
std::vector<std::vector<std::string>> ShutdownCommandLines();

// Starts argv (argv[0] looked up in PATH) as a child in its own session, with stdin from
// /dev/null, without a shell: every element reaches the program as one argument. Does not wait;
// the child is reaped in the background. False (errno set) when it could not be started.
bool SpawnDetached(const std::vector<std::string>& argv);
// Runs argv like SpawnDetached but waits for it. Returns its exit status, or -1 when it could not
// be started or did not exit normally.
int RunAndWait(const std::vector<std::string>& argv);

// The process-wide implementation, a TSystemDesktop until SetDesktop replaces it. The reference
// stays valid until the next SetDesktop call.
IDesktop& Desktop();
// Installs desktop (nullptr restores the default) and returns the previous one. Call it at
// start-up or in tests, not while another thread is using Desktop().
std::unique_ptr<IDesktop> SetDesktop(std::unique_ptr<IDesktop> desktop);

}  // namespace platform
