// TZUzezaVIV: the engine component. It owns an ordered list of transcoding tasks (one input and up
// to 20 outputs each), turns the option records into each task's options, runs the list (several
// tasks at once on worker threads, or one after another in the caller's thread), pauses, resumes
// and stops it, and reports through four events. Every task gets exactly one termination notice,
// followed by the final notice (TaskIndex -1). Operations are called on the user-interface thread.
// A long list costs what its running tasks cost: the first few tasks and the one being set up
// keep their files open, every other task waits as its set-up alone (no open file, no task object)
// and is made and opens its files again when it runs; a task that has run and ended is let go,
// its place kept. AddTask still opens a source to refuse one it cannot read, and InputProbe still
// answers for a waiting task.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/enginerecords.h"
#include "engine/ffmpeg.h"
#include "media/avprobe.h"
#include "media/ffbasecomponent.h"
#include "platform/threadpriority.h"

namespace engine {


// The events. Sender is the component; the record is the component's own buffer for that kind of
// event, valid during the call only.
using TCustomHookEvent = std::function<void(media::TFFBaseComponent* sender, THookInfo* info)>;
using TCustomHookAreaEvent =
    std::function<void(media::TFFBaseComponent* sender, THookAreaInfo* info)>;
using TPreviewBitmapEvent =
    std::function<void(media::TFFBaseComponent* sender, const TPreviewInfo& info)>;
using TProgressEvent = std::function<void(media::TFFBaseComponent* sender, TProgressInfo* info)>;
using TTerminateEvent =
    std::function<void(media::TFFBaseComponent* sender, const TTerminateInfo& info)>;

class TCustomZUzezaVIV : public media::TFFBaseComponent {
 public:
  TCustomZUzezaVIV();
  // Stops every task, waiting for each, frees them, and waits for notices still being delivered.
  ~TCustomZUzezaVIV() override;
  TCustomZUzezaVIV(const TCustomZUzezaVIV&) = delete;
  TCustomZUzezaVIV& operator=(const TCustomZUzezaVIV&) = delete;

  std::string Version() const { return "3.3"; }

  // ---- Properties --------------------------------------------------------------------------

  // Show converted frames in the previewer window / deliver them through OnPreviewBitmap.
  // Setting either updates every existing task at once.
  bool Preview() const { return preview_; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return previewBitmap_; }
  void SetPreviewBitmap(bool value);
  // Minimum time between two progress reports of a task, ms (default 500); 100 or less is stored
  // as 100. A task takes the value when it starts.
  int ProgressInterval() const { return progressInterval_; }
  void SetProgressInterval(int milliseconds);
  // Priority of the worker threads StartTask creates.
  platform::TThreadPriority ThreadPriority() const { return threadPriority_; }
  void SetThreadPriority(platform::TThreadPriority value) { threadPriority_ = value; }
  // Deliver OnProgress and OnPreviewBitmap on the user-interface thread (default), waiting for it.
  // OnCustomHook and OnTerminate are never handed over.
  bool TriggerEventInMainThread() const { return triggerEventInMainThread_; }
  void SetTriggerEventInMainThread(bool value) { triggerEventInMainThread_ = value; }

  // ---- Events (assign them while no task runs) -------------------------------------------

  // Every decoded video frame of a task whose output asked for it, on the worker thread, with the
  // frame's canvas locked; the handler may draw on the bitmap.
  TCustomHookEvent OnCustomHook;
  // Before the first hooked frame of each picture size, on the worker thread: the part of the
  // frame OnCustomHook reaches (the whole frame when not handled), and optionally work to run on
  // the bitmap's rows as each frame is converted (THookAreaInfo::Rows).
  TCustomHookAreaEvent OnCustomHookArea;
  TPreviewBitmapEvent OnPreviewBitmap;
  TProgressEvent OnProgress;
  // Once per task as it ends, then once with TaskIndex -1 after the last. With StartTask(n > 0) it
  // arrives on a short-lived thread of the component (not the user-interface thread), in the
  // order the tasks ended; an exception from the handler is logged and dropped. With
  // StartTask(n <= 0) it is called in the thread that ended the task; an exception from the
  // handler is logged at llError and the batch goes on as if the handler had returned.
  TTerminateEvent OnTerminate;

  // Text of the last failure of LoadAVLib, AddTask or SetOutputFile.
  std::string LastErrMsg;
  // A probe of the component's own, for opening a file and reading its properties.
  media::TAVProbe& Probe() { return *probe_; }

  // ---- Operations --------------------------------------------------------------------------
  // AddTask, SetOutputFile, RemoveTask and StartTask throw std::runtime_error
  // "Cannot <operation> while working." from StartTask until ClearTasks; ClearTasks throws
  // "Cannot ClearTasks while working." until every task has ended.

  // Loads the engine's media libraries from the folder ("" = the system's search). False with
  // LastErrMsg on failure. The first call also sets how the process's allocator keeps freed
  // blocks (see zuzezaviv.cpp), so that long batches do not leave the heap in pieces.
  bool LoadAVLib(const std::string& libraryFolder);
  bool AVLibLoaded() const;
  // A new task with one input (options may be null). Returns its index, or -1 with LastErrMsg.
  int AddTask(const std::string& fileName, const TInputOptions* options = nullptr);
  // Adds one output to the task (options may be null). False with LastErrMsg on failure; an
  // index that names no task is such a failure.
  bool SetOutputFile(int taskIndex, const std::string& fileName,
                     const TOutputOptions* options = nullptr);
  // Frees the task; later tasks move down by one. Throws std::out_of_range for a bad index.
  void RemoveTask(int taskIndex);
  // Frees every task, empties LastErrMsg, and makes the component idle again.
  void ClearTasks();
  // Runs the list: maxRunning > 0 tasks at once on worker threads (each ending task starts the
  // next; returns at once), or, with maxRunning <= 0, every task in turn in this thread,
  // returning after the final notice. An empty list gets its final notice at once.
  void StartTask(int maxRunning);
  // Holds every worker at its next safe point / lets them go on.
  void PauseTask();
  void ResumeTask();
  // Ends the run: running tasks are asked to stop, tasks not yet started end at once; each gets
  // its termination notice, then the final notice follows. With wait, returns once every task's
  // run has ended and its notice has been handed over; on the user-interface thread the wait
  // keeps serving the hand-off, and each task is let go (its place kept) once its notice is out,
  // so that stopping a long list holds one waiting task made at a time. Called from inside one of
  // this component's event handlers it does not wait (the task that raised the event cannot end
  // before the handler returns). Does nothing before StartTask.
  void StopTask(bool wait);
  int TaskCount() const;
  // The probe bound to input inputIndex of task taskIndex; nullptr when there is no such task or
  // input (also once the task has run and released its inputs). Use it while no task runs, and
  // only until the next AddTask, SetOutputFile or StartTask: a waiting task asked for its probe is
  // made for it, and goes back to its set-up alone then.
  media::TAVProbe* InputProbe(int taskIndex, int inputIndex);

 protected:
  // The task callbacks.
  virtual void DoCustomHook(TCustomFFmpeg* task, media::TBitmap& bitmap, int frameNumber,
                            int64_t pts, bool& update, bool& stopHook);
  virtual bool DoCustomHookArea(TCustomFFmpeg* task, int width, int height,
                                media::TPictureArea& area, THookRows& rows);
  virtual void DoPreviewBitmap(TCustomFFmpeg* task, const media::TBitmap& bitmap, int64_t pts,
                               int frameNumber);
  virtual void DoProgress(TCustomFFmpeg* task, int fileIndex, int frameNumber, int fps,
                          float quality, float bitRate, int64_t size, int64_t time, int64_t total);
  virtual void DoTerminate(TCustomFFmpeg* task);

 private:
  void RefuseWhileWorking(const char* operation) const;
  // A place in the list: the task while it is made; a task waiting as its set-up alone; or
  // neither, once the task has run and ended and been let go.
  struct TTaskEntry {
    std::shared_ptr<TFFmpeg> task;
    std::unique_ptr<TFFmpeg::TSetUp> setUp;
  };
  std::vector<std::shared_ptr<TFFmpeg>> Snapshot() const;  // the made tasks as they are now
  void UpdatePreviewFlags();
  // A new task wired to this component: a fresh option state, its settings and callbacks.
  std::shared_ptr<TFFmpeg> NewTask();
  // Gives the task the custom hook's callbacks.
  void WireCustomHook(TFFmpeg& task);
  // The task at index, made from its set-up when it waits as that (under lock_); nullptr for a
  // task that has ended and been let go.
  std::shared_ptr<TFFmpeg> MadeTask(TTaskEntry& entry);
  std::shared_ptr<TFFmpeg> TaskAt(int index);  // made; throws std::out_of_range
  int IndexOf(const TCustomFFmpeg* task) const;  // -1 when not in the list
  void StartNextTask();
  // Parks every task that is not among the first kTasksKeptOpen and not `keep`, keeping only its
  // set-up (under lock_).
  void ParkWaitingTasks(const TFFmpeg* keep);
  // Lets go of the tasks before nextIndex_ whose run is over, into `gone` (under lock_).
  void LetEndedTasksGo(std::vector<std::shared_ptr<TFFmpeg>>& gone);
  void FinalNotice();  // under terminateEventLock_
  void DeliverTerminate(const TTerminateInfo& info);
  void DeliveryLoop();
  // Calls OnTerminate; an exception it raises is logged at llError and goes no further.
  void CallOnTerminate(const TTerminateInfo& info);
  // Runs a handler with this component marked as being inside one of its events on this thread.
  template <typename Fn>
  void CallHandler(const Fn& fn);
  bool InsideOwnHandler() const;

  std::unique_ptr<media::TAVProbe> probe_;

  // Tasks at the head of the list that keep their files open while they wait: a short batch
  // runs without opening its sources a second time.
  static constexpr int kTasksKeptOpen = 4;

  mutable std::mutex lock_;  // protects tasks_ and the counters and flags below
  std::vector<TTaskEntry> tasks_;
  size_t firstMade_ = 0;  // no entry before it holds a task that has run
  int terminatedCount_ = 0;
  int nextIndex_ = -1;
  int stillToStart_ = 0;
  bool allDone_ = false;
  bool threaded_ = false;
  bool working_ = false;
  int verbose_ = 1;  // given to every task

  std::atomic<bool> preview_{false};
  std::atomic<bool> previewBitmap_{false};
  std::atomic<int> progressInterval_{500};
  std::atomic<platform::TThreadPriority> threadPriority_{platform::TThreadPriority::Normal};
  std::atomic<bool> triggerEventInMainThread_{true};

  // One lock and one record buffer per event kind.
  std::mutex hookEventLock_;
  std::mutex previewEventLock_;
  std::mutex progressEventLock_;
  std::recursive_mutex terminateEventLock_;  // a failed start ends its task inside DoTerminate
  THookInfo hookInfo_;
  TPreviewInfo previewInfo_;
  TProgressInfo progressInfo_;
  TTerminateInfo terminateInfo_;

  // Notices of a threaded run wait here for the delivery thread, which ends when none is left.
  std::mutex deliveryLock_;  // protects the queue and deliveryRunning_
  std::deque<TTerminateInfo> deliveryQueue_;
  bool deliveryRunning_ = false;
  std::thread deliveryThread_;
};

class TZUzezaVIV final : public TCustomZUzezaVIV {};

}  // namespace engine
