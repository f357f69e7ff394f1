#include "tests/engine/taskrunner.h"

#include <mutex>
#include <stdexcept>

#include "media/fflogger.h"
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

TRunResult RunTask(const std::vector<std::string>& inputs, const TOptions& inputOptions,
                   const TOptions& outputOptions, const std::string& output, bool join) {
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
  result.error = PrepareTask(task, inputs, inputOptions, outputOptions, output, join);
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
