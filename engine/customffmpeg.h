// TCustomFFmpeg: the core of one transcoding task. It owns the task's option state and applies
// options to it one at a time (SetOption and the typed setters), opens the task's inputs and
// outputs and creates the output streams from that state, and runs the task (on a worker thread or
// in the caller's) with its stop, pause and termination contract. Set-up calls are made on the
// user-interface thread; the run happens on the worker. Library calls go through ff:: (ffapi.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/enginerecords.h"
#include "engine/framehooks.h"
#include "engine/optionstate.h"
#include "media/ffbasecomponent.h"
#include "media/fflogger.h"
#include "media/optionstore.h"
#include "platform/event.h"
#include "platform/threadpriority.h"

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVStream;

namespace engine {

class TTranscoder;

class TCustomFFmpeg : public media::TFFBaseComponent {
  friend class TTranscoder;  // the run works on the task's inputs, outputs and state

 public:
  TCustomFFmpeg();
  ~TCustomFFmpeg() override;
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // ---- Option state and options (optionparser.cpp) ----------------------------------------

  // The option state exists except while a waiting task is parked and once a run has ended
  // (ReleaseState); Verbose and SetVerbose work either way.
  TOptionState& State() { return *state_; }
  const TOptionState& State() const { return *state_; }
  media::TOptionStore& GenericOptions() { return *genericOptions_; }

  // Back to a new task's state: option state at its defaults, a fresh generic option store with
  // the current scaler flags, state flags cleared, expected output length -1. Releases inputs and
  // outputs first (ReleaseAll). Needs the engine's libraries loaded.
  void ResetState();
  // Frees the option state and the generic option store of a task that waits with nothing open
  // or has run, so that a long list of tasks stays small; ResetState makes them again.
  void ReleaseState();

  // Applies one option by name (no leading "-"). Throws FFmpegException for refused values (and
  // std::invalid_argument for malformed numbers); the state keeps what was set before.
  void SetOption(const std::string& name, const std::string& value);

  // Typed setters used by the component, each with the effect of the option named.
  void SetFormat(const std::string& name);            // f
  void SetVerbose(int verbose);                        // v
  int Verbose() const;
  void SetFrameRate(const std::string& rate);          // r
  void SetFrameSize(const std::string& size);          // s
  void SetAspect(const std::string& aspect);           // aspect
  void SetCropTop(int value);                          // croptop
  void SetCropBottom(int value);                       // cropbottom
  void SetCropLeft(int value);                         // cropleft
  void SetCropRight(int value);                        // cropright
  void SetAudioChannels(int channels);                 // ac, only when > 0
  void SetAudioSampleRate(int rate);                   // ar, only when > 0
  void SetAudioVolume(int volume);                     // vol, only when >= 0
  void SetAudioSync(int method);                       // async
  void SetVideoSync(int method);                       // vsync
  void SetMuxDelay(float seconds);                     // muxdelay, only when > 0
  void SetMuxPreload(float seconds);                   // muxpreload, only when > 0
  void SetVideoCodec(const std::string& name);         // vcodec
  void SetAudioCodec(const std::string& name);         // acodec
  void SetSubtitleCodec(const std::string& name);      // scodec
  void SetVideoTag(const std::string& tag);            // vtag
  void SetAudioTag(const std::string& tag);            // atag
  void SetVideoFilters(const std::string& filters);    // vf
  // A preset for "apre", "vpre", "spre" or "fpre".
  void ApplyPreset(const std::string& option, const std::string& name);
  // The disc target: kind "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or
  // anything else for automatic; fallback norm for automatic.
  void SetTarget(const std::string& kind, const std::string& norm, const std::string& fallback);
  void SetStartTime(int64_t microseconds);             // ss, only when not AV_NOPTS_VALUE
  void SetRecordingTime(int64_t microseconds);         // t, only when not AV_NOPTS_VALUE
  void SetProgramID(int id);                           // programid, only when >= 0
  void SetRecordingTimestamp(int64_t seconds);         // timestamp
  void AddMetadata(const std::string& key, const std::string& value);  // metadata
  // A generic option with an integer value (decimal text). True when the store accepted it.
  bool SetGenericOption(const std::string& name, int64_t value);
  // vhook: frame hook plug-ins from a command text (defined with the frame hooks).
  void SetVideoHook(const std::string& command);

  // ---- Inputs, outputs and streams (setup.cpp) ---------------------------------------------

  // Opens one more input from the option state (forced format, start time, program id, ...).
  // False with LastErrMsg on failure; the state's input-only settings are consumed either way.
  bool OpenInput(const std::string& fileName);
  // Adds an output (join: all inputs are joined into it). Returns the number of output slots, or
  // -1 with LastErrMsg. The file is created (an existing file is replaced).
  int AddOutput(const std::string& fileName, bool join);
  // Add one stream to the last output from the option state; throw FFmpegException on failure
  // ("At least one output file must be specified" when there is no output).
  void AddVideoStream();
  void AddAudioStream();
  void AddSubtitleStream();
  // Closes and frees every input and output; an output file still empty on disk is deleted.
  void ReleaseAll();

  int InputCount() const { return static_cast<int>(inputFiles_.size()); }
  AVFormatContext* Input(int index) const { return inputFiles_[index].ctx; }
  // Output slots (in join mode one per input, all naming the same context).
  int OutputCount() const { return static_cast<int>(outputSlots_.size()); }
  AVFormatContext* Output(int index) const { return outputSlots_[index]->ctx; }
  // Expected output length in µs, -1 when unknown.
  int64_t ExpectedDuration() const { return expectedDuration_; }
  bool Joining() const { return joining_; }

  // Text of the last failed set-up call.
  std::string LastErrMsg;

  // ---- The run (task.cpp) -----------------------------------------------------------------
  // A task runs once. Start runs it on a worker thread or in the caller's thread; Stop asks it to
  // end, and gives a task that never started its termination notice from a short-lived thread;
  // Pause holds the worker at its next safe point (no packet read, no event raised) until Resume
  // or Stop. The state flags may be read from any thread.

  // The callbacks to the owning component, set while the task does not run. The hook callback is
  // also cleared by the run when the hook is switched off for the rest of the task.
  using THookCallback = std::function<void(TCustomFFmpeg* task, media::TBitmap& bitmap,
                                           int frameNumber, int64_t pts, bool& update,
                                           bool& stopHook)>;
  // True with the part of a width x height frame the hook reaches; false for the whole frame.
  // Rows work it sets runs on the converted rows of every such frame before the hook callback.
  using THookAreaCallback = std::function<bool(TCustomFFmpeg* task, int width, int height,
                                               media::TPictureArea& area, THookRows& rows)>;
  using TPreviewCallback = std::function<void(TCustomFFmpeg* task, const media::TBitmap& bitmap,
                                              int64_t pts, int frameNumber)>;
  using TProgressCallback =
      std::function<void(TCustomFFmpeg* task, int fileIndex, int frameNumber, int fps,
                         float quality, float bitRate, int64_t size, int64_t time, int64_t total)>;
  using TTerminateCallback = std::function<void(TCustomFFmpeg* task)>;
  THookCallback HookCallback;
  THookAreaCallback HookAreaCallback;
  TPreviewCallback PreviewCallback;
  TProgressCallback ProgressCallback;
  TTerminateCallback TerminateCallback;

  // Starts the run; does nothing for a task that is running or has terminated. Threaded: on a new
  // worker thread with the priority, returning true. Not threaded: runs the whole task in this
  // thread before returning false. A task without an output or an input fails at once (Failed,
  // ErrorMessage, logged) and gets its termination notice in this thread.
  bool Start(bool threaded, platform::TThreadPriority priority);
  // The name worker threads carry (shown by debuggers and the system's thread lists).
  static constexpr const char* kWorkerThreadName = "engine task";
  // A running task is asked to end (a paused one is released). A task that never started gets
  // its termination notice (not finished, not failed) from a short-lived thread. With wait,
  // returns once the run has ended and that notice has been delivered; while waiting on the
  // user-interface thread it keeps serving the hand-off and the window messages, so a worker
  // blocked in a hand-off can finish. A wait for the calling thread's own run is skipped.
  void Stop(bool wait);
  // Before a task is freed: a running task is asked to stop, then the run and a pending stop
  // notice are waited for as Stop does. A task that never started gets no notice.
  void StopRun();
  // Holds a task running on a worker at its next safe point; Resume lets it go on.
  void Pause();
  void Resume();
  bool Paused() const { return !resumed_.IsSet(); }
  // A worker thread runs this task (from Start until the termination notice).
  bool HasWorker() const { return hasWorker_; }

  bool Working() const { return working_; }
  // No run and no stop notice is in progress: none of the task's threads uses it any more.
  bool RunOver() const { return runEvent_->IsSet() && terminateDoneEvent_->IsSet(); }
  bool StopRequested() const { return stopRequested_; }
  bool Finished() const { return finished_; }
  bool Terminated() const { return terminated_; }
  bool Failed() const { return failed_; }
  // The failure that ended the run ("" when none).
  std::string ErrorMessage() const;

  // Minimum time between two progress reports, µs (default 500,000).
  int64_t ProgressInterval() const { return progressInterval_; }
  void SetProgressInterval(int64_t microseconds) { progressInterval_ = microseconds; }
  // Minimum time between two post hooks (previews), µs.
  int64_t PreviewInterval() const { return previewInterval_; }
  // Preview flags: bit 0 Preview (the previewer window), bit 1 PreviewBitmap (the preview
  // callback). Changed under PreviewGlobalLock, which post hooks of every task also hold.
  enum : int { pfPreview = 1, pfPreviewBitmap = 2 };
  void SetPreviewFlags(bool preview, bool previewBitmap);
  int PreviewFlags() const { return previewFlags_; }
  static std::mutex& PreviewGlobalLock();

 private:
  // The run itself: transcode, close the run's codecs, release everything, termination notice;
  // each step guarded so that a failure is recorded and the next step still runs.
  void Run();
  void Transcode();
  // Closes the codecs the run still has open and frees its tables.
  void CloseRunCodecs();
  // Working and the worker end, Terminated is set, and the termination callback is called.
  void TerminationNotice();
  // Records a failure of the run: logged at llQuiet, Failed, ErrorMessage.
  void Fail(const std::string& text);
  // Waits for the run and a pending stop notice to be over (not for the calling thread's own).
  void WaitForEnd();
  // The worker's safe point: blocks while paused (returns at once after a stop request).
  void CheckPause();
  // One progress report through the progress callback (after the pause check).
  void ReportProgress(int fileIndex, int frameNumber, int fps, float quality, float bitRate,
                      int64_t size, int64_t time, int64_t total);

  std::atomic<bool> working_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> failed_{false};
  mutable std::mutex errorLock_;  // protects errorMessage_
  std::string errorMessage_;
  std::mutex runLock_;  // makes Start, Stop and Pause decide one at a time
  std::thread worker_;  // detached once started: the run event tells when it is over
  std::atomic<bool> hasWorker_{false};
  std::thread terminateThread_;  // delivers the notice of a task stopped before it started
  std::atomic<std::thread::id> runThreadId_{};
  std::atomic<std::thread::id> terminateThreadId_{};
  // Set while no run is in progress / while no stop notice is pending. Shared with the threads,
  // which set them as their last act.
  std::shared_ptr<platform::TEvent> runEvent_ = std::make_shared<platform::TEvent>(true);
  std::shared_ptr<platform::TEvent> terminateDoneEvent_ = std::make_shared<platform::TEvent>(true);
  platform::TEvent resumed_{true};  // reset while paused
  std::atomic<int64_t> progressInterval_{500000};
  const int64_t previewInterval_ = 100000;
  std::atomic<int> previewFlags_{0};
  std::unique_ptr<TTranscoder> run_;  // the run in progress, from set-up until its codecs close

 protected:
  // True while the task has released its inputs and outputs to wait for its run and will set
  // them up again in BeforeRun: Start then counts them as there.
  virtual bool SetUpDeferred() const { return false; }
  // Runs on the run's thread first thing; an exception fails the run with its message.
  virtual void BeforeRun() {}

  // An opened input.
  struct TInputFile {
    AVFormatContext* ctx = nullptr;
    int64_t tsOffset = 0;                 // µs
    int64_t skipped = 0;                  // µs of the input before the start time, not read
    double tsScale[MAX_STREAMS] = {};     // per stream, 0 = no scaling
  };
  // A stream created on an output. Encoded streams carry their encoder context, configured from
  // the option state and the generic options and opened when the run starts; copied streams
  // have none.
  struct TOutputStream {
    AVStream* st = nullptr;
    const AVCodec* codec = nullptr;    // encoder chosen by name or guessed from the muxer
    AVCodecContext* enc = nullptr;     // encoder settings (owned); nullptr when copied
    bool copy = false;
    std::vector<TBitstreamFilterEntry> bitstreamFilters;
  };
  struct TOutputFile {
    AVFormatContext* ctx = nullptr;
    std::string fileName;
    std::string videoFilters;  // the video filter text when the output was added
    std::vector<TOutputStream> streams;
    // The run wrote nothing worth keeping into it: the file is removed when it is closed.
    bool discard = false;
    ~TOutputFile();
  };

  void Log(media::TLogLevel level, const std::string& text);
  void LogFormat(media::TLogLevel level, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  std::unique_ptr<TOptionState> state_ = std::make_unique<TOptionState>();
  int releasedVerbose_ = 0;  // the verbosity while the state is released
  std::unique_ptr<media::TOptionStore> genericOptions_;

  std::vector<TInputFile> inputFiles_;
  std::vector<const AVCodec*> inputCodecs_;  // per input stream: forced decoder or nullptr
  std::vector<std::shared_ptr<TOutputFile>> outputSlots_;
  TFrameHookChain frameHooks_{this};  // plug-ins added by "vhook"
  int64_t expectedDuration_ = -1;
  bool joining_ = false;

 private:
  // Codec choice by name: nullptr for an empty name; throws FFmpegException with the message.
  const AVCodec* FindCodecByName(const std::string& name, int mediaType, bool encoder);
  // The encoder named, or (no name) the muxer's usual one for the output's file name; nullptr
  // when there is none. Throws for a refused name as FindCodecByName does.
  const AVCodec* ChooseEncoder(const TOutputFile& output, const std::string& name, int mediaType);
  TOutputStream& NewOutputStream(TOutputFile& output, int mediaType);
  void AddVideoStream(TOutputFile& output);
  void AddAudioStream(TOutputFile& output);
  void AddSubtitleStream(TOutputFile& output);
};

}  // namespace engine
