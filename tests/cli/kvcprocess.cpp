#include "tests/cli/kvcprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/ffprobe.h"

namespace clitest {

TKvcProcess::TKvcProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  std::vector<char*> argv;
  std::string program = KVC_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  const int errFd = err[0];
  errorReader_ = std::thread([this, errFd] {
    char buffer[4096];
    for (ssize_t n; (n = read(errFd, buffer, sizeof buffer)) > 0;) errors_.append(buffer, n);
    close(errFd);
  });
}

TKvcProcess::~TKvcProcess() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (errorReader_.joinable()) errorReader_.join();
}

bool TKvcProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      lines_.push_back(line);
      return true;
    }
    if (out_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) {
      close(out_);
      out_ = -1;
      if (!pending_.empty()) {
        line = pending_;
        pending_.clear();
        lines_.push_back(line);
        return true;
      }
      return false;
    }
    pending_.append(buffer, n);
  }
}

void TKvcProcess::Signal(int signal) { kill(pid_, signal); }

int TKvcProcess::Wait() {
  if (status_ >= 0) return status_;
  std::string line;
  while (ReadLine(line, std::chrono::minutes(5))) {
  }
  int raw = 0;
  waitpid(pid_, &raw, 0);
  if (errorReader_.joinable()) errorReader_.join();
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

int RunKvc(const std::vector<std::string>& args, std::string* output, std::string* errors) {
  std::vector<std::string> command = {KVC_PATH};
  command.insert(command.end(), args.begin(), args.end());
  return testsupport::RunTool(command, output, errors);
}

TKvcPlace::TKvcPlace() { std::filesystem::create_directories(settings); }

std::vector<std::string> TKvcPlace::Args(const std::vector<std::string>& rest) const {
  std::vector<std::string> args = {"convert", "--settings", settings, "--out", out};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

std::string TKvcPlace::Copy(const std::string& fixture, const std::string& name) const {
  std::filesystem::copy_file(testsupport::Fixture(fixture), dir.File(name));
  return dir.File(name);
}

std::vector<std::string> TKvcPlace::Outputs() const {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(out, error))
    files.push_back(entry.path());
  return files;
}

}  // namespace clitest
