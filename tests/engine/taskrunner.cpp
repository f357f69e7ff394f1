#include "tests/engine/taskrunner.h"

#include <functional>
#include <mutex>
#include <stdexcept>

#include "media/fflogger.h"
#include "engine/recordoptions.h"
#include "media/ffloader.h"

namespace testsupport {

std::string PrepareTask(engine::TCustomFFmpeg& task, const std::vector<std::string>& inputs,
                        const TOptions& inputOptions, const TOptions& outputOptions,
                        const std::string& output, bool join) {
  if (!media::FFLoader().Load(media::EngineLibraries)) return media::FFLoader().LastErrMsg();
  try {
    task.ResetState();
    for (const std::string& input : inputs) {
      for (const auto& [name, value] : inputOptions) task.SetOption(name, value);
      if (!task.OpenInput(input)) return task.LastErrMsg;
    }
    for (const auto& [name, value] : outputOptions) task.SetOption(name, value);
    if (task.AddOutput(output, join) < 0) return task.LastErrMsg;
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

namespace {

// Runs a task prepared by `prepare` ("" when ready, else the failure), collecting its own log
// lines and every progress report (one after every packet).
TRunResult Run(const std::function<std::string(engine::TCustomFFmpeg&)>& prepare) {
  TRunResult result;
  engine::TCustomFFmpeg task;
  // The task's own lines (not the libraries'), collected from whichever thread logs them.
  static std::mutex lock;
  media::TFFLogger& logger = media::GetLogger();
  logger.TriggerEventInMainThread = false;
  logger.OnLog = [&](media::TFFBaseComponent* sender, uint32_t, media::TLogLevel,
                     const std::string& text) {
    if (sender != &task) return;
    std::lock_guard guard(lock);
    result.log.push_back(text);
  };
  result.error = prepare(task);
  task.SetProgressInterval(0);
  task.ProgressCallback = [&](engine::TCustomFFmpeg*, int fileIndex, int frameNumber, int fps,
                              float quality, float, int64_t size, int64_t time, int64_t total) {
    result.progress.push_back({fileIndex, frameNumber, fps, quality, size, time, total});
  };
  if (result.error.empty()) {
    task.Start(false, platform::TThreadPriority::Normal);
    result.finished = task.Finished();
    result.failed = task.Failed();
    result.error = task.ErrorMessage();
  } else {
    result.failed = true;
  }
  logger.OnLog = nullptr;
  return result;
}

}  // namespace

TRunResult RunTask(const std::vector<std::string>& inputs, const TOptions& inputOptions,
                   const TOptions& outputOptions, const std::string& output, bool join) {
  return Run([&](engine::TCustomFFmpeg& task) {
    return PrepareTask(task, inputs, inputOptions, outputOptions, output, join);
  });
}

TRunResult RunJob(const std::string& input, const engine::TInputOptions& inputOptions,
                  const engine::TOutputOptions& outputOptions) {
  return Run([&](engine::TCustomFFmpeg& task) -> std::string {
    if (!media::FFLoader().Load(media::EngineLibraries)) return media::FFLoader().LastErrMsg();
    try {
      task.ResetState();
      for (const engine::TOptionStep& step : engine::InputOptionSteps(inputOptions)) step.Apply(task);
      if (!task.OpenInput(input)) return task.LastErrMsg;
      const engine::TOutputOptionSteps steps = engine::OutputOptionSteps(outputOptions);
      for (const engine::TOptionStep& step : steps.BeforeAdd) step.Apply(task);
      if (task.AddOutput(outputOptions.FileName, false) < 0) return task.LastErrMsg;
      for (const engine::TOptionStep& step : steps.NewStreams) step.Apply(task);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  });
}

std::string TRunResult::LogLine(const std::string& text) const {
  for (const std::string& line : log)
    if (line.find(text) != std::string::npos) return line;
  return "";
}

TRunResult RunTask(const std::string& input, const TOptions& outputOptions,
                   const std::string& output) {
  return RunTask(std::vector<std::string>{input}, {}, outputOptions, output);
}

}  // namespace testsupport
