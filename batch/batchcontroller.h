// The batch controller: turns the checked rows of the file list into engine tasks (one per row,
// its job built from the current profile and the row's record), starts them, shows the engine's
// progress in the rows and through the progress view, applies each row's frame effects and
// watermarks while its task converts, and runs the post-actions (open the output folder, shut
// down) when the last file is done. Pause, resume, stop and the closing sequence go through it.
// Each output is written under its part name and gets its final name only once the engine has
// finalised it; a finished output is then checked against its job, and one that falls short
// fails its row, as does one whose source shrank after the batch started (the message then
// says so first). While the conversions run, the computer is kept from sleeping.
// Every member is called on the user-interface thread; the engine's termination notices are
// handed to that thread before they touch the list or the view.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/filelist.h"
#include "batch/outputcheck.h"
#include "batch/outputnames.h"
#include "effects/frameeffects.h"
#include "engine/zuzezaviv.h"
#include "media/bitmap.h"

namespace batch {

inline constexpr char kNoCheckedRowWarning[] = "Please select a file by clicking the check box!";
inline constexpr char kNoCheckedRowTitle[] = "Warning";
// The "Progress" text of a row whose file could not be converted.
inline constexpr char kFailedMark[] = "Failed";

// What the progress window shows for one progress report.
struct TProgressValues {
  int Row = -1;             // the list row of the task
  int Percent = -1;         // file bar, 0…100; -1 while the length is unknown
  std::string CurrentTime;  // "Current Time:" value, "<seconds> Second"
  std::string Length;       // "Length:" value, "<seconds> Second"; "" when unknown
  std::string FileSize;     // "File Size:" value, "<thousands of bytes> kb"
  std::string Progress;     // "Progress:" value, "[<task number>/<task count>]"
  std::string File;         // "File:" value, the source path shortened (ProgressFileText)
  engine::TProgressInfo Info;  // the engine's report itself
};

// How a row's part of the batch ended.
enum class TRowOutcome {
  Finished,  // converted to its end, and the output holds what the job asked for
  Failed,    // the engine's task failed, or its output fell short; the message says why
  Stopped,   // the batch was stopped before the file was done
  Skipped,   // no task could be made for the row (source unreadable, refused); the message says why
};

// The windows the controller drives: the progress window, the main window's buttons and list,
// the preview player. Every call comes on the user-interface thread. The defaults do nothing, so
// a program without windows implements only what it shows.
class IBatchView {
 public:
  virtual ~IBatchView() = default;
  // Before the batch is built: the main window takes a frame size still being typed.
  virtual void CommitFrameSize() {}
  virtual void StopPreview() {}
  // "&Add", "&Remove", "&Clear" and "&Start".
  virtual void SetMainButtonsEnabled(bool /*enabled*/) {}
  // Shows the progress window. A window shown modally returns when it has been closed.
  virtual void ShowProgressWindow() {}
  virtual void CloseProgressWindow() {}
  virtual void ShowProgress(const TProgressValues& /*values*/) {}
  virtual void SetFileBar(int /*percent*/) {}
  // A row's "Progress" text changed.
  virtual void RowChanged(int /*row*/) {}
  virtual void RowEnded(int /*row*/, TRowOutcome /*outcome*/, const std::string& /*message*/) {}
  // The progress window's two post-action check boxes, read when the last file is done.
  virtual bool OpenFolderAfterConversion() { return false; }
  virtual bool ShutDownAfterConversion() { return false; }
};

// A row of the batch that was not converted, and why: for the summary after the batch.
struct TBatchFailure {
  int Row = -1;
  std::string File;    // the source
  std::string Reason;  // the message the row ended with
};

// The reason the computer is kept awake, as the system shows it.
inline constexpr char kSleepReason[] = "Converting video files";

class TBatchController {
 public:
  // Wires the engine's progress, termination, preview-bitmap and per-frame events to this
  // controller and turns the engine's preview bitmaps on. The engine, the list and the view must
  // outlive the controller.
  TBatchController(engine::TCustomZUzezaVIV& engine, TFileList& list, IBatchView& view,
                   std::string settingsFile, std::string formatFile);
  // Close().
  ~TBatchController();
  TBatchController(const TBatchController&) = delete;
  TBatchController& operator=(const TBatchController&) = delete;

  // Converts the checked rows, `maxRunning` files at a time. Without a checked row the user is
  // warned and nothing starts (false). Otherwise every checked row gets its task, in list order:
  // its zoom from the profile, its output name (MakeOutputFileName, never a name given to an
  // earlier row), its job (profiles::BuildJobOptions) and the frame hook when it has effects or
  // a watermark. A row without a task (unreadable source, refused by the engine) is skipped with
  // the failure mark. Then the tasks start and the progress window is shown; Start returns when
  // ShowProgressWindow returns, which for a window that is not modal is while the batch runs.
  // While a batch runs the engine refuses a new one ("Cannot ClearTasks while working.").
  bool Start(int maxRunning = 1);
  // From Start until the engine's final notice has been handled.
  bool Running() const { return running_; }
  void Pause();
  void Resume();
  // Stops the batch and waits for the tasks to end; outputs written so far are finalised. The
  // final notice then closes the progress window; no post-action runs.
  void Stop();
  // The closing sequence of the main window: stops the batch (waiting for its final notice),
  // detaches the engine's events and forgets the task map and the preview bitmap.
  void Close();

  // Task k's list row, for the tasks of the current or last batch.
  const std::vector<int>& TaskMap() const { return taskMap_; }
  // Task k's output file: its final name (the name it got, once it is complete), kept in its
  // row's record while the list holds that row.
  const std::string& TaskOutput(int task) const {
    return list_.Row(taskMap_.at(task)).Record->DestFile;
  }
  // The rows of the current or last batch that failed or were skipped, in the order they ended.
  const std::vector<TBatchFailure>& Failures() const { return failures_; }
  // The last preview frame the engine delivered (empty before the first).
  const media::TBitmap& PreviewBitmap() const { return previewBitmap_; }

 private:
  void HandleProgress(const engine::TProgressInfo& info);
  void HandlePreviewBitmap(const engine::TPreviewInfo& info);
  void HandleTerminate(const engine::TTerminateInfo& info);
  void HandleCustomHook(engine::THookInfo& info) const;
  void HandleCustomHookArea(engine::THookAreaInfo& info) const;
  // Makes the task of one checked row; false (with the reason) when the row gets none.
  bool AddRowTask(int row, int code, const std::string& extension, const std::string& zoom,
                  TTakenNames& taken, std::string& reason);
  void SkipRow(int row, const std::string& reason);
  // Ends the output of task k, which the engine has finished (or stopped) and closed: gives it
  // its final name and checks it. "" when it is what the job asked for; else the problem.
  std::string FinishOutput(int task, bool stopped);
  void EndRow(int row, TRowOutcome outcome, const std::string& message);
  void KeepAwake();
  void RunPostActions();

  engine::TCustomZUzezaVIV& engine_;
  TFileList& list_;
  IBatchView& view_;
  std::string settingsFile_, formatFile_;
  bool attached_ = true;
  std::atomic<bool> running_{false};
  std::vector<int> taskMap_;
  std::vector<TOutputExpectation> taskExpected_;
  std::string extension_;  // the outputs' extension, with its dot
  std::vector<TBatchFailure> failures_;
  // The frame effects of each task, fixed when the batch starts; none for a task without a hook
  // (most tasks of a long batch: kept out of line). Worker threads read it while the batch runs.
  std::vector<std::unique_ptr<const effects::FrameEffectSettings>> taskEffects_;
  int endedTasks_ = 0;
  bool lastTaskFinished_ = false;
  media::TBitmap previewBitmap_;
};

// The "File:" value of the progress window: the path when it is shorter than 51 characters, else
// its first 44 characters, "..", and its extension with the dot.
std::string ProgressFileText(const std::string& path);

// Opens the stored output folder with the desktop's default handler when its name is longer than
// 2 characters; the main window's "Open" button does the same.
void OpenOutputFolder(const std::string& settingsFile);

}  // namespace batch
