#include "engine/zuzezaviv.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "engine/ffmpeg.h"
#include "engine/recordoptions.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "platform/mainthread.h"

namespace engine {

namespace {

// The components whose event handlers the current thread is inside, innermost last.
thread_local std::vector<const TCustomZUzezaVIV*> tHandlerOwners;

// Waits until done() holds, in 20 ms slices; on the user-interface thread each slice serves the
// hand-off and the window messages (the thread being waited for may need them).
void WaitServing(const std::function<bool()>& done) {
  using namespace std::chrono_literals;
  while (!done()) {
    if (platform::IsMainThread()) {
      platform::CheckSynchronize(20ms);
      platform::ProcessMessages();
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
}

}  // namespace

TCustomZUzezaVIV::TCustomZUzezaVIV() : probe_(std::make_unique<media::TAVProbe>()) {}

TCustomZUzezaVIV::~TCustomZUzezaVIV() {
  StopTask(true);
  std::vector<TTaskEntry> tasks;
  {
    std::lock_guard lock(lock_);
    tasks.swap(tasks_);
  }
  tasks.clear();
  // Notices of the run may still be on their way to OnTerminate.
  WaitServing([this] {
    std::lock_guard lock(deliveryLock_);
    return !deliveryRunning_;
  });
  if (deliveryThread_.joinable()) deliveryThread_.join();
  probe_.reset();
}

// ---- Properties ------------------------------------------------------------------------------

void TCustomZUzezaVIV::SetPreview(bool value) {
  preview_ = value;
  UpdatePreviewFlags();
}

void TCustomZUzezaVIV::SetPreviewBitmap(bool value) {
  previewBitmap_ = value;
  UpdatePreviewFlags();
}

void TCustomZUzezaVIV::UpdatePreviewFlags() {
  // Not under lock_: a task's post hook holds the preview lock while it raises its event, which
  // takes lock_ to find the task's index.
  for (const auto& task : Snapshot()) task->SetPreviewFlags(preview_, previewBitmap_);
}

std::vector<std::shared_ptr<TFFmpeg>> TCustomZUzezaVIV::Snapshot() const {
  std::lock_guard lock(lock_);
  std::vector<std::shared_ptr<TFFmpeg>> made;
  for (const TTaskEntry& entry : tasks_)
    if (entry.task) made.push_back(entry.task);
  return made;
}

void TCustomZUzezaVIV::SetProgressInterval(int milliseconds) {
  progressInterval_ = std::max(milliseconds, 100);
}

// ---- Set-up ----------------------------------------------------------------------------------

void TCustomZUzezaVIV::RefuseWhileWorking(const char* operation) const {
  std::lock_guard lock(lock_);
  if (!working_) return;
  char text[96];
  std::snprintf(text, sizeof text, "Cannot %s while working.", operation);
  throw std::runtime_error(text);
}

std::shared_ptr<TFFmpeg> TCustomZUzezaVIV::NewTask() {
  auto task = std::make_shared<TFFmpeg>();
  task->ResetState();
  task->SetVerbose(verbose_);
  task->SetPreviewFlags(preview_, previewBitmap_);
  task->PreviewCallback = [this](TCustomFFmpeg* t, const media::TBitmap& bitmap, int64_t pts,
                                 int frameNumber) { DoPreviewBitmap(t, bitmap, pts, frameNumber); };
  task->ProgressCallback = [this](TCustomFFmpeg* t, int fileIndex, int frameNumber, int fps,
                                  float quality, float bitRate, int64_t size, int64_t time,
                                  int64_t total) {
    DoProgress(t, fileIndex, frameNumber, fps, quality, bitRate, size, time, total);
  };
  task->TerminateCallback = [this](TCustomFFmpeg* t) { DoTerminate(t); };
  return task;
}

void TCustomZUzezaVIV::WireCustomHook(TFFmpeg& task) {
  task.HookCallback = [this](TCustomFFmpeg* t, media::TBitmap& bitmap, int frameNumber,
                             int64_t pts, bool& update, bool& stopHook) {
    DoCustomHook(t, bitmap, frameNumber, pts, update, stopHook);
  };
  task.HookAreaCallback = [this](TCustomFFmpeg* t, int width, int height,
                                 media::TPictureArea& area, THookRows& rows) {
    return DoCustomHookArea(t, width, height, area, rows);
  };
}

std::shared_ptr<TFFmpeg> TCustomZUzezaVIV::MadeTask(TTaskEntry& entry) {
  if (entry.task || !entry.setUp) return entry.task;
  std::shared_ptr<TFFmpeg> task = NewTask();
  task->RestoreSetUp(std::move(*entry.setUp));
  entry.setUp.reset();
  if (task->WantsCustomHook()) WireCustomHook(*task);
  entry.task = task;
  return task;
}

std::shared_ptr<TFFmpeg> TCustomZUzezaVIV::TaskAt(int index) {
  std::lock_guard lock(lock_);
  if (index < 0 || index >= static_cast<int>(tasks_.size()))
    throw std::out_of_range("Task index " + std::to_string(index) + " out of range");
  std::shared_ptr<TFFmpeg> task = MadeTask(tasks_[index]);
  if (!task) throw std::out_of_range("Task " + std::to_string(index) + " has ended");
  return task;
}

int TCustomZUzezaVIV::IndexOf(const TCustomFFmpeg* task) const {
  std::lock_guard lock(lock_);
  for (size_t i = 0; i < tasks_.size(); ++i)
    if (tasks_[i].task.get() == task) return static_cast<int>(i);
  return -1;
}

int TCustomZUzezaVIV::TaskCount() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(tasks_.size());
}

namespace {

// Ended, its notice delivered and its run's thread done with it: nothing asks for the task
// again, and it can be let go.
bool Over(const TFFmpeg& task) { return task.Terminated() && task.RunOver(); }

// Probing a file and running a task allocate buffers of every size and free them again, file
// after file, among small blocks that live as long as the task list (records, names, the list's
// rows). Buffers taken from the heap leave it in pieces: a small block placed in the gap one left
// keeps the next one of that size from fitting there, so that a batch grew with its length (by
// several kilobytes a file, more under load). Every block of 32 KiB or more (a demuxer's read
// buffer, a small picture's planes) is therefore mapped on its own and given back when freed, and
// the threshold stays fixed instead of rising after the first such block is freed. Small blocks
// freed go back into the free space around them at once rather than into the allocator's
// fast lists, where they were kept apart from it until a later large request merged them (a
// long batch peaked 4 MB higher with them; speed is the same, the per-thread caches in front
// serve the quick reuse).
void KeepTheHeapInOnePiece() {
  static std::once_flag once;
  std::call_once(once, [] {
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024);
    ::mallopt(M_MXFAST, 0);
  });
}

}  // namespace

bool TCustomZUzezaVIV::LoadAVLib(const std::string& libraryFolder) {
  KeepTheHeapInOnePiece();
  media::FFLoader().LibraryPath = libraryFolder;
  if (media::FFLoader().Load(media::EngineLibraries)) return true;
  LastErrMsg = media::FFLoader().LastErrMsg();
  media::GetLogger().LogMessage(this, media::llError, LastErrMsg);
  return false;
}

bool TCustomZUzezaVIV::AVLibLoaded() const {
  return media::FFLoader().Loaded(media::EngineLibraries);
}

int TCustomZUzezaVIV::AddTask(const std::string& fileName, const TInputOptions* options) {
  RefuseWhileWorking("AddTask");
  const auto fail = [this](const std::string& text) {
    LastErrMsg = text;
    media::GetLogger().LogMessage(this, media::llError, text);
    return -1;
  };
  if (!AVLibLoaded())
    return fail("Cannot add a task: the media libraries are not loaded (LoadAVLib).");
  try {
    std::shared_ptr<TFFmpeg> task = NewTask();
    if (!task->SetUpInput(fileName, options)) return fail(task->LastErrMsg);
    std::lock_guard lock(lock_);
    tasks_.push_back({task, nullptr});
    ParkWaitingTasks(task.get());
    return static_cast<int>(tasks_.size()) - 1;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

bool TCustomZUzezaVIV::SetOutputFile(int taskIndex, const std::string& fileName,
                                     const TOutputOptions* options) {
  RefuseWhileWorking("SetOutputFile");
  const auto fail = [this](const std::string& text) {
    LastErrMsg = text;
    media::GetLogger().LogMessage(this, media::llError, text);
    return false;
  };
  try {
    const std::shared_ptr<TFFmpeg> task = TaskAt(taskIndex);
    task->Unpark();
    {
      std::lock_guard lock(lock_);
      ParkWaitingTasks(task.get());
    }
    const int slot = task->OutputCount();
    if (slot >= MAX_FILES) {
      char text[64];
      std::snprintf(text, sizeof text, "max output files %d reached", MAX_FILES);
      return fail(text);
    }
    if (!task->SetUpOutput(fileName, options)) return fail(task->LastErrMsg);
    if (options && options->CustomHook) WireCustomHook(*task);
    return true;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}

void TCustomZUzezaVIV::RemoveTask(int taskIndex) {
  RefuseWhileWorking("RemoveTask");
  TTaskEntry removed;  // freed after the lock is let go
  std::lock_guard lock(lock_);
  if (taskIndex < 0 || taskIndex >= static_cast<int>(tasks_.size()))
    throw std::out_of_range("Task index " + std::to_string(taskIndex) + " out of range");
  removed = std::move(tasks_[taskIndex]);
  tasks_.erase(tasks_.begin() + taskIndex);
}

void TCustomZUzezaVIV::ClearTasks() {
  std::vector<TTaskEntry> old;  // freed after the lock is let go
  {
    std::lock_guard lock(lock_);
    if (working_ && !allDone_) throw std::runtime_error("Cannot ClearTasks while working.");
    old.swap(tasks_);
    firstMade_ = 0;
    terminatedCount_ = 0;
    nextIndex_ = -1;
    stillToStart_ = 0;
    allDone_ = false;
    threaded_ = false;
    working_ = false;
  }
  LastErrMsg.clear();
}

media::TAVProbe* TCustomZUzezaVIV::InputProbe(int taskIndex, int inputIndex) {
  std::shared_ptr<TFFmpeg> task;
  {
    std::lock_guard lock(lock_);
    if (taskIndex < 0 || taskIndex >= static_cast<int>(tasks_.size())) return nullptr;
    task = MadeTask(tasks_[taskIndex]);
  }
  return task ? task->InputProbe(inputIndex) : nullptr;
}

// ---- The run ---------------------------------------------------------------------------------

void TCustomZUzezaVIV::StartTask(int maxRunning) {
  // Held while starting, as DoTerminate holds it while it starts the next task: the counters
  // change for one termination or start at a time.
  std::lock_guard terminateLock(terminateEventLock_);
  bool empty;
  {
    std::lock_guard lock(lock_);
    if (working_) throw std::runtime_error("Cannot StartTask while working.");
    terminatedCount_ = 0;
    nextIndex_ = 0;
    firstMade_ = 0;
    stillToStart_ = static_cast<int>(tasks_.size());
    allDone_ = false;
    threaded_ = maxRunning > 0;
    working_ = true;
    empty = tasks_.empty();
    ParkWaitingTasks(nullptr);
  }
  // Setting up a long list freed the blocks of every file it opened among the blocks the list
  // keeps: the free pages go back before the runs begin, as they do after each run.
  ::malloc_trim(0);
  if (empty) {  // nothing will end, so nothing would ever announce the end: do it now
    FinalNotice();
    return;
  }
  for (;;) {
    {
      std::lock_guard lock(lock_);
      if (stillToStart_ <= 0) break;
    }
    StartNextTask();
    if (maxRunning > 0 && --maxRunning == 0) break;
  }
}

void TCustomZUzezaVIV::ParkWaitingTasks(const TFFmpeg* keep) {
  for (size_t i = kTasksKeptOpen; i < tasks_.size(); ++i) {
    TTaskEntry& entry = tasks_[i];
    if (!entry.task || entry.task.get() == keep || entry.task->Working() ||
        entry.task->Terminated())
      continue;
    entry.task->Park();
    if (!entry.task->Parked()) continue;  // nothing set up to keep
    entry.setUp = std::make_unique<TFFmpeg::TSetUp>(entry.task->TakeSetUp());
    entry.task.reset();
  }
}

void TCustomZUzezaVIV::LetEndedTasksGo(std::vector<std::shared_ptr<TFFmpeg>>& gone) {
  for (size_t i = firstMade_; i < static_cast<size_t>(nextIndex_) && i < tasks_.size(); ++i) {
    TTaskEntry& entry = tasks_[i];
    if (entry.task && Over(*entry.task))
      gone.push_back(std::move(entry.task));
    if (i == firstMade_ && !entry.task) ++firstMade_;
  }
}

void TCustomZUzezaVIV::StartNextTask() {
  std::shared_ptr<TFFmpeg> task;  // also keeps an inline run's task alive if a handler clears
  std::vector<std::shared_ptr<TFFmpeg>> gone;  // freed after the lock is let go
  bool threaded;
  {
    std::lock_guard lock(lock_);
    if (stillToStart_ <= 0 || nextIndex_ < 0 || nextIndex_ >= static_cast<int>(tasks_.size()))
      return;
    --stillToStart_;
    LetEndedTasksGo(gone);
    // Taken before the start: a threaded task may end, and start the next one, at once.
    task = MadeTask(tasks_[nextIndex_++]);
    threaded = threaded_;
  }
  gone.clear();
  task->SetVerbose(verbose_);
  task->SetProgressInterval(static_cast<int64_t>(progressInterval_) * 1000);
  task->Start(threaded, threadPriority_);
}

void TCustomZUzezaVIV::PauseTask() {
  {
    std::lock_guard lock(lock_);
    if (!working_) return;
  }
  for (const auto& task : Snapshot()) task->Pause();
}

void TCustomZUzezaVIV::ResumeTask() {
  for (const auto& task : Snapshot()) task->Resume();
}

void TCustomZUzezaVIV::StopTask(bool wait) {
  {
    std::lock_guard lock(lock_);
    if (!working_) return;
    stillToStart_ = 0;
  }
  const bool waitForEach = wait && !InsideOwnHandler();
  // In list order, one task at a time. A task waiting as its set-up is made to be stopped, so
  // that it gets its notice; when the stop is waited for, a task whose notice is out is let go
  // at once: stopping a long list never holds more than one of its waiting tasks made.
  for (size_t i = 0;; ++i) {
    std::shared_ptr<TFFmpeg> task;
    {
      std::lock_guard lock(lock_);
      if (i >= tasks_.size()) break;
      task = MadeTask(tasks_[i]);
    }
    if (!task) continue;
    task->Stop(waitForEach);
    if (!waitForEach) continue;
    std::shared_ptr<TFFmpeg> gone;  // freed after the lock is let go
    std::lock_guard lock(lock_);
    if (i < tasks_.size() && tasks_[i].task == task && Over(*task))
      gone = std::move(tasks_[i].task);
  }
}

void TCustomZUzezaVIV::FinalNotice() {
  {
    std::lock_guard lock(lock_);
    allDone_ = true;  // before the delivery: the handler may call ClearTasks
  }
  if (!OnTerminate) return;
  terminateInfo_ = TTerminateInfo{-1, true, false, ""};
  DeliverTerminate(terminateInfo_);
}

// ---- Events ----------------------------------------------------------------------------------

template <typename Fn>
void TCustomZUzezaVIV::CallHandler(const Fn& fn) {
  tHandlerOwners.push_back(this);
  struct Leave {
    ~Leave() { tHandlerOwners.pop_back(); }
  } leave;
  fn();
}

bool TCustomZUzezaVIV::InsideOwnHandler() const {
  return std::find(tHandlerOwners.begin(), tHandlerOwners.end(), this) != tHandlerOwners.end();
}

void TCustomZUzezaVIV::DoCustomHook(TCustomFFmpeg* task, media::TBitmap& bitmap, int frameNumber,
                                    int64_t pts, bool& update, bool& stopHook) {
  if (!OnCustomHook) return;
  std::lock_guard eventLock(hookEventLock_);
  hookInfo_.TaskIndex = IndexOf(task);
  hookInfo_.Bitmap = &bitmap;
  hookInfo_.FrameNumber = frameNumber;
  hookInfo_.PTS = pts;
  hookInfo_.Update = update;
  hookInfo_.StopHook = stopHook;
  {
    std::lock_guard canvas(bitmap);
    CallHandler([this] { OnCustomHook(this, &hookInfo_); });
  }
  update = hookInfo_.Update;
  stopHook = hookInfo_.StopHook;
}

bool TCustomZUzezaVIV::DoCustomHookArea(TCustomFFmpeg* task, int width, int height,
                                        media::TPictureArea& area, THookRows& rows) {
  if (!OnCustomHookArea) return false;
  THookAreaInfo info;
  info.TaskIndex = IndexOf(task);
  info.Width = width;
  info.Height = height;
  CallHandler([&] { OnCustomHookArea(this, &info); });
  rows = std::move(info.Rows);
  if (info.Whole) return false;
  area = info.Area;
  return true;
}

void TCustomZUzezaVIV::DoPreviewBitmap(TCustomFFmpeg* task, const media::TBitmap& bitmap,
                                       int64_t pts, int frameNumber) {
  if (!OnPreviewBitmap) return;
  std::lock_guard eventLock(previewEventLock_);
  previewInfo_ = TPreviewInfo{IndexOf(task), &bitmap, frameNumber, pts};
  const auto call = [this] { CallHandler([this] { OnPreviewBitmap(this, previewInfo_); }); };
  if (triggerEventInMainThread_)
    platform::MainThreadCall(call);
  else
    call();
}

void TCustomZUzezaVIV::DoProgress(TCustomFFmpeg* task, int fileIndex, int frameNumber, int fps,
                                  float quality, float bitRate, int64_t size, int64_t time,
                                  int64_t total) {
  if (!OnProgress) return;
  std::lock_guard eventLock(progressEventLock_);
  progressInfo_ = TProgressInfo{IndexOf(task), fileIndex, frameNumber, fps, quality,
                                bitRate,       size,      time,        total};
  const auto call = [this] { CallHandler([this] { OnProgress(this, &progressInfo_); }); };
  if (triggerEventInMainThread_)
    platform::MainThreadCall(call);
  else
    call();
}

void TCustomZUzezaVIV::DoTerminate(TCustomFFmpeg* task) {
  std::lock_guard terminateLock(terminateEventLock_);
  if (OnTerminate) {
    terminateInfo_ =
        TTerminateInfo{IndexOf(task), task->Finished(), task->Failed(), task->ErrorMessage()};
    // From here on the task may be gone (a handler of an inline run may clear the list).
    DeliverTerminate(terminateInfo_);
  }
  bool final = false, startNext = false;
  {
    std::lock_guard lock(lock_);
    ++terminatedCount_;
    if (stillToStart_ < 1)
      final = terminatedCount_ >= static_cast<int>(tasks_.size());
    else
      startNext = threaded_;
  }
  if (final)
    FinalNotice();
  else if (startNext)
    StartNextTask();
}

void TCustomZUzezaVIV::DeliverTerminate(const TTerminateInfo& info) {
  bool threaded;
  {
    std::lock_guard lock(lock_);
    threaded = threaded_;
  }
  if (threaded) {
    // The ending worker never waits for the handler. One delivery thread at a time keeps the
    // notices in the order the tasks ended; it ends when the queue is empty.
    std::lock_guard lock(deliveryLock_);
    deliveryQueue_.push_back(info);
    if (!deliveryRunning_) {
      if (deliveryThread_.joinable()) deliveryThread_.join();  // finished its last notice
      deliveryRunning_ = true;
      deliveryThread_ = std::thread([this] { DeliveryLoop(); });
    }
    return;
  }
  // In sequence: called here, and a failing handler does not stop the batch.
  CallOnTerminate(info);
}

void TCustomZUzezaVIV::CallOnTerminate(const TTerminateInfo& info) {
  try {
    CallHandler([this, &info] { OnTerminate(this, info); });
  } catch (const std::exception& e) {
    media::GetLogger().LogMessage(this, media::llError,
                                  std::string("Error occurs OnTerminate: ") + e.what());
  } catch (...) {
    media::GetLogger().LogMessage(this, media::llError, "Error occurs OnTerminate");
  }
}

void TCustomZUzezaVIV::DeliveryLoop() {
  for (;;) {
    TTerminateInfo info;
    {
      std::lock_guard lock(deliveryLock_);
      if (deliveryQueue_.empty()) {
        deliveryRunning_ = false;
        return;
      }
      info = std::move(deliveryQueue_.front());
      deliveryQueue_.pop_front();
    }
    if (!OnTerminate) continue;
    CallOnTerminate(info);  // an exception ends this notice only: logged and dropped
  }
}

}  // namespace engine
