// Runs one engine task to its end in the calling thread, the way the component drives it: options
// for the input, the input, options for the output, the output, then the run. Loads the engine's
// libraries on first use.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/customffmpeg.h"

namespace testsupport {

using TOptions = std::vector<std::pair<std::string, std::string>>;

// One progress report of a task.
struct TProgress {
  int fileIndex = 0, frameNumber = 0, fps = 0;
  float quality = 0;
  int64_t size = 0, time = 0, total = 0;
};

struct TRunResult {
  bool finished = false;
  bool failed = false;
  std::string error;  // the set-up failure or the run's ErrorMessage
  std::vector<std::string> log;  // the task's own log lines
  std::vector<TProgress> progress;  // every report (the task reports after every packet)
  // The first log line containing the text, "" when none.
  std::string LogLine(const std::string& text) const;
};

// Prepares the task (ResetState, options, inputs, output); "" when ready, else the failure text.
// Several inputs are opened in turn, each after the input options.
std::string PrepareTask(engine::TCustomFFmpeg& task, const std::vector<std::string>& inputs,
                        const TOptions& inputOptions, const TOptions& outputOptions,
                        const std::string& output, bool join = false);

// Prepares and runs a fresh task in this thread.
TRunResult RunTask(const std::vector<std::string>& inputs, const TOptions& inputOptions,
                   const TOptions& outputOptions, const std::string& output, bool join = false);
TRunResult RunTask(const std::string& input, const TOptions& outputOptions,
                   const std::string& output);

// Runs a fresh task in this thread from option records, applied the way the engine component
// applies them (the records' option steps); the output is output.FileName.
TRunResult RunJob(const std::string& input, const engine::TInputOptions& inputOptions,
                  const engine::TOutputOptions& outputOptions);

}  // namespace testsupport
