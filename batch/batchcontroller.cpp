#include "batch/batchcontroller.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>

#include "batch/outputnames.h"
#include "media/fflogger.h"
#include "media/ffutils.h"
#include "platform/desktop.h"
#include "platform/mainthread.h"
#include "platform/prompt.h"
#include "platform/sleepinhibitor.h"
#include "platform/text.h"
#include "profiles/jobbuilder.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

namespace batch {

namespace {

// The stored "priority" as a worker priority; other values leave the priority as it is.
std::optional<platform::TThreadPriority> WorkerPriority(int stored) {
  switch (stored) {
    case 0: return platform::TThreadPriority::Idle;
    case 1: return platform::TThreadPriority::Normal;
    case 2: return platform::TThreadPriority::Lower;
    case 3: return platform::TThreadPriority::Lowest;
    default: return std::nullopt;
  }
}

std::string Seconds(int64_t microseconds) {
  return std::to_string(microseconds / 1'000'000) + " Second";
}

}  // namespace

TBatchController::TBatchController(engine::TCustomZUzezaVIV& engine, TFileList& list,
                                   IBatchView& view, std::string settingsFile,
                                   std::string formatFile)
    : engine_(engine),
      list_(list),
      view_(view),
      settingsFile_(std::move(settingsFile)),
      formatFile_(std::move(formatFile)) {
  engine_.SetPreviewBitmap(true);
  // Progress and previews come on the user-interface thread already when the engine hands its
  // events over (its default); MainThreadCall then runs them at once.
  engine_.OnProgress = [this](media::TFFBaseComponent*, engine::TProgressInfo* info) {
    platform::MainThreadCall([this, info] { HandleProgress(*info); });
  };
  engine_.OnPreviewBitmap = [this](media::TFFBaseComponent*, const engine::TPreviewInfo& info) {
    platform::MainThreadCall([this, &info] { HandlePreviewBitmap(info); });
  };
  engine_.OnTerminate = [this](media::TFFBaseComponent*, const engine::TTerminateInfo& info) {
    platform::MainThreadCall([this, &info] { HandleTerminate(info); });
  };
  engine_.OnCustomHook = [this](media::TFFBaseComponent*, engine::THookInfo* info) {
    HandleCustomHook(*info);
  };
  engine_.OnCustomHookArea = [this](media::TFFBaseComponent*, engine::THookAreaInfo* info) {
    HandleCustomHookArea(*info);
  };
}

TBatchController::~TBatchController() { Close(); }

bool TBatchController::Start(int maxRunning) {
  view_.CommitFrameSize();
  const profiles::TSettings settings(settingsFile_);
  if (const auto priority = WorkerPriority(settings.Priority()))
    engine_.SetThreadPriority(*priority);
  if (list_.CheckedCount() == 0) {
    platform::Prompt().Message(kNoCheckedRowWarning, kNoCheckedRowTitle,
                               platform::TPromptIcon::Warning);
    return false;
  }

  taskMap_.clear();
  taskExpected_.clear();
  taskEffects_.clear();
  failures_.clear();
  endedTasks_ = 0;
  lastTaskFinished_ = false;
  view_.StopPreview();
  engine_.ClearTasks();

  const int code = settings.FormatCode();
  // The zoom is read like every other profile value: a profile never set up converts with its
  // own defaults.
  profiles::EnsureProfileValues(settingsFile_, formatFile_, code);
  extension_ = OutputExtension(formatFile_, code);
  const std::string zoom = ProfileZoom(settingsFile_, code);

  const size_t rows = static_cast<size_t>(list_.CheckedCount());
  taskMap_.reserve(rows);
  taskExpected_.reserve(rows);
  taskEffects_.reserve(rows);
  // The outputs given so far, viewed in the rows' records.
  std::pmr::monotonic_buffer_resource pool;
  TTakenNames taken(&pool);
  taken.reserve(rows);
  for (int row = 0; row < list_.RowCount(); ++row) {
    if (!list_.Row(row).Checked) continue;
    list_.Row(row).Progress.clear();
    view_.RowChanged(row);
    std::string reason;
    if (!AddRowTask(row, code, extension_, zoom, taken, reason)) SkipRow(row, reason);
  }

  running_ = true;
  if (!taskMap_.empty()) KeepAwake();
  view_.SetMainButtonsEnabled(false);
  engine_.StartTask(maxRunning);
  // An empty task list ends at once; the window is then not shown at all.
  if (running_) view_.ShowProgressWindow();
  return true;
}

bool TBatchController::AddRowTask(int row, int code, const std::string& extension,
                                  const std::string& zoom, TTakenNames& taken,
                                  std::string& reason) {
  TFileRow& fileRow = list_.Row(row);
  TlvFilesRecord& record = *fileRow.Record;
  try {
    // The facts probed when the row was added serve while the file is the same, unchanged file;
    // otherwise it is probed again (and a file gone or no longer readable is reported by that).
    const std::optional<TFileIdentity> identity = IdentityOf(fileRow.Caption());
    TSourceFacts facts;
    if (fileRow.Facts && identity && fileRow.Facts->Identity == *identity) {
      facts = *fileRow.Facts;
    } else {
      media::TAVProbe& probe = engine_.Probe();
      if (!probe.LoadFile(fileRow.Caption())) {
        reason = probe.LastErrMsg();
        return false;
      }
      facts = FactsOf(probe, identity.value_or(TFileIdentity{}));
      probe.CloseFile();
      // Kept for the next batch only while the file's identity is known.
      if (identity)
        fileRow.Facts = facts;
      else
        fileRow.Facts.reset();
    }

    engine::TInputOptions input;
    input.FileName = fileRow.Caption();
    input.FileFormat = facts.InputFormatName;
    if (record.TrimStart >= 0) input.StartTime = record.TrimStart;
    const std::string output =
        ClaimOutputFileName(settingsFile_, fileRow.Caption(), extension, taken);
    // The claim (the empty part file) goes again unless the task takes it over.
    struct ReleaseClaim {
      std::string part;
      ~ReleaseClaim() {
        std::error_code ignored;
        if (!part.empty()) std::filesystem::remove(part, ignored);
      }
    } claim{PartFileName(output)};
    record.Zoom = zoom;

    profiles::TJobSource source;
    source.HasVideo = facts.VideoStreams > 0;
    if (source.HasVideo) {
      // The engine turns a rotated source upright first: the job sees the upright picture.
      source.Width = facts.UprightWidth;
      source.Height = facts.UprightHeight;
      source.DisplayWidth = facts.DisplayWidth;
      source.DisplayHeight = facts.DisplayHeight;
      source.VideoBitrate = facts.VideoBitRate;
    }
    source.Zoom = record.Zoom;
    source.CropTop = record.CropTop;
    source.CropBottom = record.CropBottom;
    source.CropLeft = record.CropLeft;
    source.CropRight = record.CropRight;
    source.TrimDuration = record.TrimDuration;
    engine::TOutputOptions options;
    options.FileName = claim.part;
    profiles::BuildJobOptions(settingsFile_, formatFile_, code, source, options, input);
    // Written under the part name: the container is the one the final name stands for, unless
    // the job or its disc target names its own.
    if (options.FileFormat.empty() && options.TargetType == 0)
      options.FileFormat = media::OutputFormatName(output);
    // A job without video has the source opened without it: its pictures are never decoded,
    // not even to probe them.
    if (options.DisableVideo)
      input.ExtOptions += (input.ExtOptions.empty() ? "" : "\n") + std::string("vn=1");

    const int task = engine_.AddTask(fileRow.Caption(), &input);
    if (task < 0) {
      reason = engine_.LastErrMsg;
      return false;
    }
    options.CustomHook = HasEffects(record);
    if (!engine_.SetOutputFile(task, claim.part, &options)) {
      reason = engine_.LastErrMsg;
      engine_.RemoveTask(task);
      return false;
    }
    claim.part.clear();
    taskMap_.push_back(row);
    taskExpected_.push_back(ExpectedOutput(facts, !options.DisableVideo, !options.DisableAudio,
                                           record.TrimStart, record.TrimDuration));
    record.DestFile = output;
    taskEffects_.push_back(
        options.CustomHook
            ? std::make_unique<const effects::FrameEffectSettings>(EffectSettings(record))
            : nullptr);
    taken.insert(record.DestFile);
    return true;
  } catch (const std::exception& error) {
    reason = error.what();
    return false;
  }
}

void TBatchController::SkipRow(int row, const std::string& reason) {
  list_.Row(row).Progress = kFailedMark;
  EndRow(row, TRowOutcome::Skipped, reason);
}

void TBatchController::EndRow(int row, TRowOutcome outcome, const std::string& message) {
  if (outcome == TRowOutcome::Failed || outcome == TRowOutcome::Skipped)
    failures_.push_back({row, list_.Row(row).Caption(), message});
  view_.RowChanged(row);
  view_.RowEnded(row, outcome, message);
}

void TBatchController::KeepAwake() {
  std::string error;
  if (platform::SleepInhibitor().Acquire(kSleepReason, error)) return;
  // Said once: a machine without the login manager will not have it at the next batch either.
  static std::once_flag told;
  std::call_once(told, [&error] {
    media::GetLogger().LogMessage(nullptr, media::llWarning,
                                  "The computer may go to sleep during conversions: " + error);
  });
}

std::string TBatchController::FinishOutput(int task, bool stopped) {
  TlvFilesRecord& record = *list_.Row(taskMap_[task]).Record;
  const std::string part = PartFileName(record.DestFile);
  std::error_code error;
  if (std::filesystem::file_size(part, error) == 0 || error) {
    // Never written (a task stopped before it ran): no file to keep.
    std::filesystem::remove(part, error);
    return stopped ? "" : "output check: nothing was written";
  }
  std::string name;
  try {
    name = CommitOutputFile(record.DestFile, record.SourceFile, extension_);
  } catch (const std::exception& failure) {
    return failure.what();
  }
  record.DestFile = name;
  const TOutputCheck check = CheckOutput(name, taskExpected_[task], stopped);
  if (check.Problem.empty()) return "";
  if (!check.HasStreams) {
    std::filesystem::remove(name, error);
    return check.Problem + "; the output " + name + " was removed";
  }
  return check.Problem + "; the output is kept as " + name;
}

void TBatchController::Pause() { engine_.PauseTask(); }

void TBatchController::Resume() { engine_.ResumeTask(); }

void TBatchController::Stop() { engine_.StopTask(true); }

void TBatchController::Close() {
  if (!attached_) return;
  if (running_) {
    engine_.StopTask(true);
    // The final notice still refers to this controller; it must have been handled before the
    // events are detached.
    platform::WaitServing([this] { return !running_; });
  }
  engine_.OnProgress = nullptr;
  engine_.OnPreviewBitmap = nullptr;
  engine_.OnTerminate = nullptr;
  engine_.OnCustomHook = nullptr;
  engine_.OnCustomHookArea = nullptr;
  attached_ = false;
  taskMap_.clear();
  taskExpected_.clear();
  taskEffects_.clear();
  previewBitmap_ = media::TBitmap();
}

void TBatchController::HandleProgress(const engine::TProgressInfo& info) {
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskMap_.size())) return;
  TProgressValues values;
  values.Row = taskMap_[info.TaskIndex];
  values.Info = info;
  TFileRow& row = list_.Row(values.Row);
  // A length of 0 or an unknown one (-1) gives no percentage; output a little past the expected
  // length (audio padding) still shows 100.
  if (info.TotalDuration > 0)
    values.Percent = static_cast<int>(
        std::clamp<int64_t>(info.CurrentDuration * 100 / info.TotalDuration, 0, 100));
  row.Progress = values.Percent >= 0 ? std::to_string(values.Percent) + "%" : "";
  view_.RowChanged(values.Row);

  values.CurrentTime = Seconds(info.CurrentDuration);
  values.Length = info.TotalDuration >= 0 ? Seconds(info.TotalDuration) : "";
  values.FileSize = std::to_string(info.CurrentSize / 1000) + " kb";
  values.Progress =
      "[" + std::to_string(info.TaskIndex + 1) + "/" + std::to_string(engine_.TaskCount()) + "]";
  values.File = ProgressFileText(row.Caption());
  view_.ShowProgress(values);
}

void TBatchController::HandlePreviewBitmap(const engine::TPreviewInfo& info) {
  if (info.Bitmap && info.Bitmap->Width() > 0 && info.Bitmap->Height() > 0)
    previewBitmap_ = *info.Bitmap;
}

void TBatchController::HandleTerminate(const engine::TTerminateInfo& info) {
  if (info.TaskIndex < 0) {
    platform::SleepInhibitor().Release();
    view_.SetMainButtonsEnabled(true);
    engine_.ClearTasks();
    running_ = false;
    view_.CloseProgressWindow();
    return;
  }
  if (info.TaskIndex >= static_cast<int>(taskMap_.size())) return;
  ++endedTasks_;
  const int row = taskMap_[info.TaskIndex];
  TFileRow& fileRow = list_.Row(row);
  std::string problem;
  if (info.Failed) {
    // A failed run's output is unfinished: only its part file is there, and it goes.
    problem = info.ErrorMessage;
    std::error_code ignored;
    std::filesystem::remove(PartFileName(TaskOutput(info.TaskIndex)), ignored);
  } else {
    problem = FinishOutput(info.TaskIndex, !info.Finished);
  }
  // A source cut short under the engine reads as a file that simply ends there: the output then
  // falls short of the file that was queued even where the source did not tell its length (a
  // stream) and the output check had nothing to hold it against. Such a row fails, and its
  // message gives this cause first.
  // The row's facts are those its task was built from, with the source's identity then.
  const TFileIdentity* before = fileRow.Facts ? &fileRow.Facts->Identity : nullptr;
  const std::optional<TFileIdentity> now = IdentityOf(fileRow.Caption());
  if ((info.Failed || info.Finished || !problem.empty()) && before && now &&
      now->Device == before->Device && now->Inode == before->Inode && now->Size < before->Size) {
    const std::string cause = "the source shrank from " + std::to_string(before->Size) + " to " +
                              std::to_string(now->Size) + " bytes during the conversion";
    problem = problem.empty() ? cause + "; the output is kept as " + TaskOutput(info.TaskIndex)
                              : cause + "; " + problem;
  }
  if (info.Failed || !problem.empty()) {
    fileRow.Progress = kFailedMark;
    EndRow(row, TRowOutcome::Failed, problem);
  } else if (info.Finished) {
    fileRow.Progress = "100%";
    view_.SetFileBar(100);
    EndRow(row, TRowOutcome::Finished, "");
    if (info.TaskIndex + 1 == static_cast<int>(taskMap_.size())) lastTaskFinished_ = true;
  } else {
    EndRow(row, TRowOutcome::Stopped, "");
  }
  // The last file is done once its task finished and, when several run at once, every other
  // task has ended as well.
  if (lastTaskFinished_ && endedTasks_ == static_cast<int>(taskMap_.size())) {
    lastTaskFinished_ = false;
    RunPostActions();
  }
}

void TBatchController::RunPostActions() {
  if (view_.OpenFolderAfterConversion()) OpenOutputFolder(settingsFile_);
  if (view_.ShutDownAfterConversion()) platform::Desktop().ShutDown();
}

void TBatchController::HandleCustomHook(engine::THookInfo& info) const {
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskEffects_.size())) return;
  const effects::FrameEffectSettings* effects = taskEffects_[info.TaskIndex].get();
  if (!effects || !info.Bitmap) return;
  std::lock_guard canvas(*info.Bitmap);
  // Colour steps that come first ran on the rows as the bitmap was made (HandleCustomHookArea).
  effects::ApplyFrameEffects(*info.Bitmap, *effects, effects::ColourStepsComeFirst(*effects));
}

void TBatchController::HandleCustomHookArea(engine::THookAreaInfo& info) const {
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskEffects_.size())) return;
  const effects::FrameEffectSettings* effects = taskEffects_[info.TaskIndex].get();
  if (!effects) return;
  // Watermarks alone change only their own part of the frame.
  if (const auto area = effects::MarkArea(*effects, info.Width, info.Height)) {
    info.Whole = false;
    info.Area = *area;
  }
  // Colour steps that come first run on each band of rows as soon as it is converted; the rows
  // the marks do not reach are then written back at once.
  if (effects::ColourStepsComeFirst(*effects)) {
    auto steps = std::make_shared<const effects::TColourSteps>(*effects);
    info.Rows.Pass = [steps](media::TBitmap& bitmap, int firstRow, int rowCount) {
      steps->ApplyToRows(bitmap, firstRow, rowCount);
    };
    info.Rows.AfterPass = effects::MarksArea(*effects, info.Width, info.Height);
  }
}

std::string ProgressFileText(const std::string& path) {
  // Characters, not bytes: a UTF-8 sequence is never cut.
  if (platform::CharacterCount(path) < 51) return path;
  return platform::FirstCharacters(path, 44) + ".." +
         std::filesystem::path(path).extension().string();
}

void OpenOutputFolder(const std::string& settingsFile) {
  const std::string folder = profiles::TSettings(settingsFile).OutPutDir();
  if (folder.size() > 2) platform::Desktop().OpenDefault(folder);
}

}  // namespace batch
