#include "cli/consoleview.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <iostream>

#include <nlohmann/json.hpp>

#include "platform/text.h"

namespace cli {

namespace {

// Nanoseconds the process spent suspended. Written by the signal handler only.
std::atomic<int64_t> gSuspendedNs{0};

int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void OnSuspend(int) {
  const int savedErrno = errno;
  const int64_t before = MonotonicNs();
  // Stop the way the key asks for, then count the time until the process is continued.
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  sigaction(SIGTSTP, &deflt, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(SIGTSTP);
  gSuspendedNs += MonotonicNs() - before;
  InstallSuspendClock();
  errno = savedErrno;
}

std::string Name(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
  return 80;
}

nlohmann::json SecondsOrNull(double seconds) {
  return seconds < 0 ? nlohmann::json(nullptr) : nlohmann::json(std::round(seconds * 10) / 10);
}

}  // namespace

double ConvertingSeconds() { return (MonotonicNs() - gSuspendedNs.load()) / 1e9; }

void InstallSuspendClock() {
  struct sigaction action {};
  action.sa_handler = OnSuspend;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTSTP, &action, nullptr);
}

std::string ClockText(double seconds) {
  const int64_t total = static_cast<int64_t>(seconds + 0.5);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(total / 3600),
                  static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(total % 60));
  return text;
}

std::string SizeText(int64_t bytes) {
  char text[32];
  if (bytes >= 1'000'000)
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  else
    std::snprintf(text, sizeof text, "%lld kB", static_cast<long long>(bytes / 1000));
  return text;
}

TConsoleView::TConsoleView(TOutputMode mode, bool quiet, const batch::TFileList& list)
    : mode_(mode), quiet_(quiet), list_(list) {}

void TConsoleView::ShowProgressWindow() {
  // The batch's tasks are known now; rows not yet begun count with the length their record
  // promises (the trimmed length, else the source's).
  batchStarted_ = ConvertingSeconds();
  rows_.clear();
  nextToStart_ = 0;
  if (!controller_) return;
  rows_.reserve(controller_->TaskMap().size());
  for (const int row : controller_->TaskMap()) {
    const batch::TlvFilesRecord& record = *list_.Row(row).Record;
    TRowState state;
    state.length = record.TrimDuration > 0
                       ? record.TrimDuration
                       : std::max<int64_t>(int64_t{record.DurationSec} * 1'000'000 -
                                               std::max<int64_t>(record.TrimStart, 0),
                                           0);
    rows_.push_back(state);
  }
  for (int i = 0; i < jobs_; ++i) StartNextRow(batchStarted_);
}

int TConsoleView::TaskOf(int row) const {
  if (!controller_) return -1;
  // The batch's tasks follow the list's order.
  const std::vector<int>& taskRows = controller_->TaskMap();
  const auto found = std::lower_bound(taskRows.begin(), taskRows.end(), row);
  return found != taskRows.end() && *found == row ? static_cast<int>(found - taskRows.begin())
                                                  : -1;
}

TConsoleView::TRowState* TConsoleView::StateOf(int row) {
  const int task = TaskOf(row);
  return task >= 0 && task < static_cast<int>(rows_.size()) ? &rows_[task] : nullptr;
}

void TConsoleView::StartNextRow(double now) {
  // Rows begin in task order: every row before the next one to start has begun or ended.
  for (; nextToStart_ < rows_.size(); ++nextToStart_) {
    TRowState& state = rows_[nextToStart_];
    if (state.started < 0 && !state.ended) {
      state.started = now;
      return;
    }
  }
}

double TConsoleView::RowSecondsLeft(const TRowState& state, double now) const {
  if (state.started < 0 || state.current <= 0 || state.length <= 0) return -1;
  const double rate = state.current / std::max(now - state.started, 1e-3);  // µs per second
  return std::max<double>(state.length - state.current, 0) / rate;
}

double TConsoleView::BatchSecondsLeft(double now) const {
  int64_t done = 0, left = 0;
  for (const TRowState& state : rows_) {
    if (state.length < 0) return -1;  // a file of unknown length: no estimate
    done += state.ended ? state.length : state.current;
    if (!state.ended) left += std::max<int64_t>(state.length - state.current, 0);
  }
  if (done <= 0 || batchStarted_ < 0) return -1;
  const double rate = done / std::max(now - batchStarted_, 1e-3);
  return left / rate;
}

void TConsoleView::ShowProgress(const batch::TProgressValues& values) {
  TRowState* found = StateOf(values.Row);
  if (!found) return;
  TRowState& state = *found;
  const double now = ConvertingSeconds();
  if (state.started < 0) state.started = now;  // never: every task begins as one ends
  state.running = true;
  state.current = values.Info.CurrentDuration;
  if (values.Info.TotalDuration >= 0) state.length = values.Info.TotalDuration;
  state.percent = values.Percent;
  state.fps = values.Info.FPS;
  state.size = values.Info.CurrentSize;

  if (mode_ == TOutputMode::Json) {
    const double elapsed = now - state.started;
    nlohmann::json event = {
        {"event", "progress"},
        {"file", list_.Row(values.Row).Caption()},
        {"task", values.Info.TaskIndex},
        {"percent", values.Percent < 0 ? nlohmann::json(nullptr) : nlohmann::json(values.Percent)},
        {"time", std::round(state.current / 1e3) / 1e3},
        {"length", state.length < 0 ? nlohmann::json(nullptr) : nlohmann::json(state.length / 1e6)},
        {"size", state.size},
        {"fps", state.fps < 0 ? nlohmann::json(nullptr) : nlohmann::json(state.fps)},
        {"speed", elapsed > 0 ? nlohmann::json(std::round(state.current / 1e6 / elapsed * 100) / 100)
                              : nlohmann::json(nullptr)},
        {"eta", SecondsOrNull(RowSecondsLeft(state, now))},
        {"batch_eta", SecondsOrNull(BatchSecondsLeft(now))}};
    Emit(event.dump());
  } else if (mode_ == TOutputMode::Live && !quiet_) {
    ClearBlock();
    DrawBlock();
  }
}

void TConsoleView::DrawBlock() {
  const double now = ConvertingSeconds();
  const size_t columns = TerminalColumns() - 1;
  int lines = 0;
  int ended = 0;
  for (size_t task = 0; task < rows_.size(); ++task) {
    const TRowState& state = rows_[task];
    ended += state.ended ? 1 : 0;
    if (!state.running || state.ended) continue;
    char text[160];
    const double elapsed = now - state.started;
    const double left = RowSecondsLeft(state, now);
    std::snprintf(text, sizeof text, "%4s  %5s fps  %5.1fx  %9s  left %s  ",
                  state.percent < 0 ? "" : (std::to_string(state.percent) + "%").c_str(),
                  state.fps < 0 ? "-" : std::to_string(state.fps).c_str(),
                  elapsed > 0 ? state.current / 1e6 / elapsed : 0.0, SizeText(state.size).c_str(),
                  left < 0 ? "-" : ClockText(left).c_str());
    std::fprintf(stderr, "%s\n", platform::FirstCharacters(text + Name(list_.Row(controller_->TaskMap()[task]).Caption()), columns).c_str());
    ++lines;
  }
  const double left = BatchSecondsLeft(now);
  const std::string batchLine = std::to_string(ended) + " of " + std::to_string(rows_.size()) +
                                " files done, batch left " + (left < 0 ? "-" : ClockText(left));
  std::fprintf(stderr, "%s\n", platform::FirstCharacters(batchLine, columns).c_str());
  drawnLines_ = lines + 1;
  std::fflush(stderr);
}

void TConsoleView::ClearBlock() {
  if (drawnLines_ == 0) return;
  // Up to the block's first line, then erase to the end of the screen.
  std::fprintf(stderr, "\x1b[%dF\x1b[J", drawnLines_);
  drawnLines_ = 0;
}

void TConsoleView::PrintAbove(std::FILE* stream, const std::string& line) {
  const bool live = mode_ == TOutputMode::Live && drawnLines_ > 0;
  if (live) ClearBlock();
  std::fflush(stderr);
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
  if (live) DrawBlock();
}

void TConsoleView::Emit(const std::string& jsonLine) {
  std::fprintf(stdout, "%s\n", jsonLine.c_str());
  std::fflush(stdout);
}

void TConsoleView::Failure(const std::string& path, const std::string& message) {
  ++failed_;
  if (mode_ == TOutputMode::Json)
    Emit(nlohmann::json{{"event", "failed"}, {"file", path}, {"message", message}}.dump());
  // The engine's messages often begin with the file's name already.
  PrintAbove(stderr, "kvc: " + (message.rfind(path, 0) == 0 ? message : path + ": " + message));
}

void TConsoleView::FileRefused(const std::string& path, const std::string& reason) {
  refused_.push_back({-1, path, reason});
  Failure(path, reason);
}

void TConsoleView::Log(const std::string& text) { PrintAbove(stderr, text); }

void TConsoleView::RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) {
  const std::string& source = list_.Row(row).Caption();
  TRowState* found = StateOf(row);
  if (found && !found->ended) {
    found->ended = true;
    found->running = false;
    StartNextRow(ConvertingSeconds());
  }
  switch (outcome) {
    case batch::TRowOutcome::Finished: {
      ++converted_;
      std::string output;
      if (const int task = TaskOf(row); task >= 0) output = controller_->TaskOutput(task);
      std::error_code error;
      const auto bytes = std::filesystem::file_size(output, error);
      const int64_t size = error ? -1 : static_cast<int64_t>(bytes);
      const double seconds =
          found && found->started >= 0
              ? ConvertingSeconds() - found->started
              : 0.0;
      if (mode_ == TOutputMode::Json)
        Emit(nlohmann::json{{"event", "done"},
                            {"file", source},
                            {"output", output},
                            {"size", size},
                            {"seconds", std::round(seconds * 100) / 100}}
                 .dump());
      else if (!quiet_)
        PrintAbove(stdout, source + " -> " + output + " (" + SizeText(size) + ")");
      break;
    }
    case batch::TRowOutcome::Stopped:
      ++stopped_;
      if (mode_ == TOutputMode::Json)
        Emit(nlohmann::json{{"event", "stopped"}, {"file", source}}.dump());
      else if (!quiet_)
        PrintAbove(stderr, "kvc: " + source + ": stopped");
      break;
    case batch::TRowOutcome::Failed:
    case batch::TRowOutcome::Skipped:
      Failure(source, message.empty() ? "conversion failed" : message);
      break;
  }
}

void TConsoleView::BatchEnded(bool interrupted) {
  if (mode_ == TOutputMode::Live) ClearBlock();
  const double seconds = batchStarted_ < 0 ? 0.0 : ConvertingSeconds() - batchStarted_;
  // Every file that was not converted, with its reason: the files refused when they were added,
  // then the batch's own.
  std::vector<batch::TBatchFailure> failures = refused_;
  if (controller_)
    failures.insert(failures.end(), controller_->Failures().begin(), controller_->Failures().end());
  if (mode_ == TOutputMode::Json) {
    nlohmann::json list = nlohmann::json::array();
    for (const batch::TBatchFailure& f : failures)
      list.push_back({{"file", f.File}, {"reason", f.Reason}});
    Emit(nlohmann::json{{"event", "batch"},
                        {"converted", converted_},
                        {"failed", failed_},
                        {"stopped", stopped_},
                        {"interrupted", interrupted},
                        {"seconds", std::round(seconds * 100) / 100},
                        {"failures", std::move(list)}}
             .dump());
  } else if (!quiet_) {
    std::fprintf(stderr, "%d converted, %d failed%s in %s\n", converted_, failed_,
                 interrupted ? ", stopped" : "", ClockText(seconds).c_str());
    if (!failures.empty()) std::fprintf(stderr, "Not converted:\n");
    for (const batch::TBatchFailure& f : failures)
      std::fprintf(stderr, "  %s: %s\n", f.File.c_str(), f.Reason.c_str());
  }
}

void TConsolePrompt::Message(const std::string& text, const std::string& title,
                             platform::TPromptIcon) {
  std::fprintf(stderr, "kvc: %s%s%s\n", title.c_str(), title.empty() ? "" : ": ", text.c_str());
}

bool TConsolePrompt::Question(const std::string& text, const std::string& title,
                              platform::TPromptIcon) {
  if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) {
    std::fprintf(stderr, "kvc: %s%s%s [y/N] n (no terminal to ask)\n", title.c_str(),
                 title.empty() ? "" : ": ", text.c_str());
    return false;
  }
  std::fprintf(stderr, "kvc: %s [y/N] ", text.c_str());
  std::fflush(stderr);
  std::string answer;
  std::getline(std::cin, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace cli
