// The built kvc run as a child process the way a shell runs it: arguments as given, standard
// input from /dev/null, standard output read line by line while it runs (so a test can act in
// the middle of a conversion), standard error collected whole.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testdirs.h"

namespace clitest {

class TKvcProcess {
 public:
  explicit TKvcProcess(const std::vector<std::string>& args);
  ~TKvcProcess();
  TKvcProcess(const TKvcProcess&) = delete;
  TKvcProcess& operator=(const TKvcProcess&) = delete;

  // The next line of standard output; false at its end or when none came within the timeout.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(60));
  void Signal(int signal);
  pid_t Pid() const { return pid_; }
  // Reads standard output to its end and waits for the process. The exit status, or 128 + the
  // signal that ended it.
  int Wait();

  const std::vector<std::string>& Lines() const { return lines_; }  // every line read so far
  const std::string& Errors() const { return errors_; }              // valid after Wait

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::string errors_;
  std::thread errorReader_;
  int status_ = -1;
};

// Runs kvc to its end (testsupport::RunTool); the exit status, with standard output and error.
int RunKvc(const std::vector<std::string>& args, std::string* output, std::string* errors);

// An empty settings folder (no test reads or writes the program's own settings; the format file
// is the program's) and an output folder of its own, in a temporary folder.
struct TKvcPlace {
  testsupport::TempDir dir;
  std::string settings = dir.File("settings");
  std::string out = dir.File("out");
  TKvcPlace();
  // {"convert", "--settings", settings, "--out", out} followed by rest.
  std::vector<std::string> Args(const std::vector<std::string>& rest) const;
  // Copies a fixture into the temporary folder under a new name; the copy's path.
  std::string Copy(const std::string& fixture, const std::string& name) const;
  // The paths of the files in the output folder.
  std::vector<std::string> Outputs() const;
};

}  // namespace clitest
