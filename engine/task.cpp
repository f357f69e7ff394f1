// The run of a task: starting it on a worker thread or inline, the pause at safe points, stopping
// and waiting, the guarded run steps and the termination notice. See "The run" in customffmpeg.h.
#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <exception>

#include "engine/customffmpeg.h"
#include "engine/transcoder.h"
#include "media/ffapi.h"
#include "platform/mainthread.h"

namespace engine {

namespace {

using namespace std::chrono_literals;

// Waits until the event is set, in 20 ms slices. On the user-interface thread each slice that
// times out runs the queued hand-off calls and the window messages: the thread being waited for
// may itself be waiting for one of them.
void WaitServing(const platform::TEvent& event) {
  while (!event.Wait(20ms)) {
    if (platform::IsMainThread()) {
      platform::CheckSynchronize();
      platform::ProcessMessages();
    }
  }
}

// Runs one step of the run; an exception becomes the task's failure and the next step runs.
template <typename Step>
void Guarded(const Step& step, const std::function<void(const std::string&)>& fail) {
  try {
    step();
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail("Unknown error");
  }
}

}  // namespace

TCustomFFmpeg::~TCustomFFmpeg() {
  StopRun();
  // A task whose last owner was one of its own threads is destroyed on that thread, after the
  // thread's last use of it; the thread then cannot join itself and is let go.
  for (std::thread* thread : {&worker_, &terminateThread_}) {
    if (!thread->joinable()) continue;
    if (thread->get_id() == std::this_thread::get_id())
      thread->detach();
    else
      thread->join();
  }
  ReleaseAll();
}

std::mutex& TCustomFFmpeg::PreviewGlobalLock() {
  static std::mutex lock;
  return lock;
}

void TCustomFFmpeg::SetPreviewFlags(bool preview, bool previewBitmap) {
  std::lock_guard lock(PreviewGlobalLock());
  previewFlags_ = (preview ? pfPreview : 0) | (previewBitmap ? pfPreviewBitmap : 0);
}

std::string TCustomFFmpeg::ErrorMessage() const {
  std::lock_guard lock(errorLock_);
  return errorMessage_;
}

void TCustomFFmpeg::Fail(const std::string& text) {
  Log(media::llQuiet, text);
  {
    std::lock_guard lock(errorLock_);
    errorMessage_ = text;
  }
  failed_ = true;
}

bool TCustomFFmpeg::Start(bool threaded, platform::TThreadPriority priority) {
  std::unique_lock lock(runLock_);
  if (working_ || terminated_) return false;
  try {
    if (OutputCount() == 0 && !SetUpDeferred()) {
      ReleaseAll();
      throw FFmpegException("At least one output file must be specified");
    }
    if (InputCount() == 0 && !SetUpDeferred()) {
      ReleaseAll();
      throw FFmpegException("At least one input file must be specified");
    }
  } catch (const std::exception& e) {
    Fail(e.what());
    terminated_ = true;  // a concurrent Stop must not deliver a second notice
    lock.unlock();
    TerminationNotice();
    return false;
  }
  working_ = true;
  stopRequested_ = false;
  finished_ = false;
  terminated_ = false;
  runEvent_->Reset();
  if (!threaded) {
    lock.unlock();
    Run();
    return false;
  }
  hasWorker_ = true;
  try {
    worker_ = std::thread([this, priority] {
      platform::SetCurrentThreadPriority(priority);  // a refused raise leaves it as it is
      Run();
    });
    ::pthread_setname_np(worker_.native_handle(), kWorkerThreadName);  // named before Start returns
    // Waits for the run go through the run event, which the worker sets as its last use of the
    // task; let go now, the worker's stack is given back as soon as it ends, instead of staying
    // with every finished task of a long list until the list is cleared.
    worker_.detach();
  } catch (const std::exception& e) {  // no thread could be made: the task fails here
    hasWorker_ = false;
    Fail(e.what());
    runEvent_->Set();
    lock.unlock();
    TerminationNotice();
    return false;
  }
  return true;
}

void TCustomFFmpeg::Stop(bool wait) {
  {
    std::lock_guard lock(runLock_);
    if (working_) {
      stopRequested_ = true;
      resumed_.Set();
    } else if (!terminated_) {
      // Never started: it ends here, with its notice from a thread of its own so that the caller
      // never runs the component's termination handling itself.
      terminated_ = true;
      terminateDoneEvent_->Reset();
      terminateThread_ = std::thread([this, done = terminateDoneEvent_] {
        terminateThreadId_ = std::this_thread::get_id();
        try {
          TerminationNotice();
        } catch (const std::exception& e) {
          media::GetLogger().LogMessage(nullptr, media::llQuiet, e.what());
        }
        // The notice may have ended with this task freed (its owner let it go in the handler):
        // from here on only the thread's own copy of the event is used.
        done->Set();
      });
    }
  }
  if (wait) WaitForEnd();
}

void TCustomFFmpeg::StopRun() {
  {
    std::lock_guard lock(runLock_);
    if (working_) {
      stopRequested_ = true;
      resumed_.Set();
    }
  }
  WaitForEnd();
}

void TCustomFFmpeg::WaitForEnd() {
  const std::thread::id self = std::this_thread::get_id();
  if (runThreadId_ != self) WaitServing(*runEvent_);
  if (terminateThreadId_ != self) WaitServing(*terminateDoneEvent_);
}

void TCustomFFmpeg::Pause() {
  std::lock_guard lock(runLock_);
  if (hasWorker_ && working_ && !stopRequested_) resumed_.Reset();
}

void TCustomFFmpeg::Resume() { resumed_.Set(); }

void TCustomFFmpeg::CheckPause() {
  if (!stopRequested_) resumed_.Wait();
}

void TCustomFFmpeg::Run() {
  // The run's own reference: whoever waits for the event may free the task as soon as it is set.
  const std::shared_ptr<platform::TEvent> runEvent = runEvent_;
  runThreadId_ = std::this_thread::get_id();
  const auto fail = [this](const std::string& text) { Fail(text); };
  finished_ = false;
  Guarded(
      [this] {
        BeforeRun();
        Transcode();
      },
      fail);
  Guarded([this] { CloseRunCodecs(); }, fail);
  Guarded([this] { ReleaseAll(); }, fail);
  // A task runs once: its option state is not needed again, and a long batch keeps every task
  // that has run until the list is cleared.
  Guarded([this] { ReleaseState(); }, fail);
  // A run frees many large buffers among small blocks that live on (the list's rows, the next
  // tasks' records): handing the free pages back keeps a long batch at the size of one run.
  ::malloc_trim(0);
  Guarded([this] { TerminationNotice(); }, fail);
  runThreadId_ = std::thread::id();
  runEvent->Set();
}

void TCustomFFmpeg::TerminationNotice() {
  working_ = false;
  terminated_ = true;
  hasWorker_ = false;
  // A copy: the handler behind the callback may let go of this task.
  const TTerminateCallback callback = TerminateCallback;
  if (callback) callback(this);
}

void TCustomFFmpeg::ReportProgress(int fileIndex, int frameNumber, int fps, float quality,
                                   float bitRate, int64_t size, int64_t time, int64_t total) {
  CheckPause();
  if (ProgressCallback)
    ProgressCallback(this, fileIndex, frameNumber, fps, quality, bitRate, size, time, total);
}

void TCustomFFmpeg::Transcode() {
  run_ = std::make_unique<TTranscoder>(*this);
  run_->Execute();
}

void TCustomFFmpeg::CloseRunCodecs() { run_.reset(); }

}  // namespace engine
