// The batch as a terminal shows it. Live: a block of lines on the error output, redrawn at every
// report, with each running file's percentage, frames per second, speed, output size and time
// left, and the time left for the whole batch; Lines: one plain line per file when it ends; Json:
// one JSON object per event on standard output. Failures are always named on the error output.
// Times left count only time spent converting: a suspended process (Ctrl-Z) does not count, and a
// trimmed file counts only its trimmed length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "batch/filelist.h"
#include "platform/prompt.h"

namespace cli {

enum class TOutputMode { Live, Lines, Json };

// Seconds of a steady clock that stands still while the process is suspended from the terminal
// (SIGTSTP, the Ctrl-Z key) and continued again. InstallSuspendClock sets up the handler that
// measures the suspension; without it the clock is the steady clock.
double ConvertingSeconds();
void InstallSuspendClock();

// "1:05", "1:02:03": whole seconds as minutes and seconds, with hours when there are any.
std::string ClockText(double seconds);
// "512 kB", "1.2 MB": a size in bytes for people (1000-based, as the progress window counts).
std::string SizeText(int64_t bytes);

class TConsoleView : public batch::IBatchView {
 public:
  TConsoleView(TOutputMode mode, bool quiet, const batch::TFileList& list);
  void SetController(const batch::TBatchController* controller) { controller_ = controller; }
  // How many files the engine converts at once: it starts that many at first and the next one
  // whenever one ends, so the view knows when each file began.
  void SetJobs(int jobs) { jobs_ = jobs; }
  void SetPostActions(bool openFolder, bool shutDown) {
    openFolder_ = openFolder;
    shutDown_ = shutDown;
  }

  // A file that never became a row (refused, missing, a folder): a failure of the batch.
  void FileRefused(const std::string& path, const std::string& reason);
  // A line of the engine's log (shown with -v).
  void Log(const std::string& text);
  // The summary once the batch is over.
  void BatchEnded(bool interrupted);

  int Converted() const { return converted_; }
  int Failed() const { return failed_; }

  void ShowProgressWindow() override;
  void ShowProgress(const batch::TProgressValues& values) override;
  void RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) override;
  bool OpenFolderAfterConversion() override { return openFolder_; }
  bool ShutDownAfterConversion() override { return shutDown_; }

 private:
  struct TRowState {
    double started = -1;    // converting clock when its task began
    int64_t current = 0;    // µs of output written
    int64_t length = -1;    // µs expected; an estimate from the record until the first report
    int percent = -1;
    int fps = -1;
    int64_t size = 0;
    bool running = false;
    bool ended = false;
  };
  // Seconds left for a row (-1 unknown) and for the whole batch.
  double RowSecondsLeft(const TRowState& state, double now) const;
  double BatchSecondsLeft(double now) const;
  void Failure(const std::string& path, const std::string& message);
  void StartNextRow(double now);
  // The batch's task of a list row (-1: none), and that row's state (nullptr: none).
  int TaskOf(int row) const;
  TRowState* StateOf(int row);
  // Live mode: remove the block, print a line above it, draw the block again.
  void ClearBlock();
  void DrawBlock();
  void PrintAbove(std::FILE* stream, const std::string& line);
  void Emit(const std::string& jsonLine);

  TOutputMode mode_;
  bool quiet_;
  const batch::TFileList& list_;
  const batch::TBatchController* controller_ = nullptr;
  bool openFolder_ = false, shutDown_ = false;
  std::vector<TRowState> rows_;  // the rows of the batch, in task order
  size_t nextToStart_ = 0;       // no row before it is still to begin
  int jobs_ = 1;
  double batchStarted_ = -1;
  int drawnLines_ = 0;
  int converted_ = 0, failed_ = 0, stopped_ = 0;
  std::vector<batch::TBatchFailure> refused_;  // files the list did not take
};

// The prompt of the command line: messages go to the error output; a question is asked on the
// terminal when there is one (answer y or n), and is otherwise answered "no", saying so.
class TConsolePrompt : public platform::TPrompt {
 public:
  void Message(const std::string& text, const std::string& title,
               platform::TPromptIcon icon) override;
  bool Question(const std::string& text, const std::string& title,
                platform::TPromptIcon icon) override;
};

}  // namespace cli
