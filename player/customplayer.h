// TCustomPlayer / TVIVudero: the preview player component. It plays one media file at a time into
// a display surface with sound, and reports through OnFileOpen, OnPosition, OnState and OnHook.
// Operations are called on the user-interface thread; the play thread runs the display events,
// the event thread delivers positions and states (on the user-interface thread by default, so a
// slow handler never holds up decoding). Only one player plays in the process at a time.
// The handlers may call Stop, Pause, Resume and Seek; Open and destroying the player wait for the
// event thread, so they must not be called from inside OnPosition or OnState. The display surface
// given to Open must outlive the playback (Stop(true) before destroying it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/avprobe.h"
#include "media/bitmap.h"
#include "media/ffbasecomponent.h"
#include "media/fflogger.h"
#include "media/pictureconverter.h"
#include "platform/event.h"
#include "player/displaysurface.h"
#include "player/eventring.h"
#include "player/playertypes.h"

namespace player {

class TPlayback;

// ADuration (microseconds, -1 unknown, 0 for image sequences); the video stream's coded size
// (-1 x -1 without video); the surface size, which the handler may change.
using TFileOpenEvent =
    std::function<void(media::TFFBaseComponent* sender, int64_t duration, int frameWidth,
                       int frameHeight, int& screenWidth, int& screenHeight)>;
// On the video thread, with the bitmap's canvas locked: what the handler leaves in the bitmap is
// shown. pts in microseconds from the file start.
using THookEvent =
    std::function<void(media::TFFBaseComponent* sender, media::TBitmap& bitmap, int64_t pts)>;
using TPositionEvent = std::function<void(media::TFFBaseComponent* sender, int64_t pts)>;
using TStateEvent = std::function<void(media::TFFBaseComponent* sender, TPlayState state)>;

class TCustomPlayer : public media::TFFBaseComponent {
 public:
  TCustomPlayer();
  // Clears the events, stops (waiting) and waits for the event thread.
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  std::string About;
  std::string Version() const { return "2.3"; }

  // ---- Properties (set them while nothing plays unless said otherwise) ----------------------
  // > 0 forces that display aspect ratio, 0 uses the picture's own, < 0 fills the surface. While
  // playing, a change reopens the surface and draws again.
  float AspectRatio() const { return aspectRatio_.load(); }
  void SetAspectRatio(float value);
  TAudioDriver AudioDriver = adDefault;
  // Read by the audio thread at every buffer: changes apply at once.
  std::atomic<int> AudioVolume{kMaxAudioVolume};
  std::atomic<bool> Mute{false};
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;  // no picture output at all; implies DisableVideo at Open
  int FrameWidth = 0;           // picture size for raw inputs
  int FrameHeight = 0;
  std::atomic<bool> Hook{false};
  // The surface size; 0 lets the player choose (the surface's own size after OnFileOpen).
  std::atomic<int> ScreenWidth{0};
  std::atomic<int> ScreenHeight{0};
  bool TriggerEventInMainThread = true;
  TVideoDriver VideoDriver = vdDefault;

  // ---- Events (assign them while nothing plays) ---------------------------------------------
  TFileOpenEvent OnFileOpen;
  THookEvent OnHook;
  TPositionEvent OnPosition;
  TStateEvent OnState;

  // ---- Operations ------------------------------------------------------------------------------
  bool AVLibLoaded() const;
  // Loads the player's libraries (the media libraries and SDL) from the folder ("" = system).
  bool LoadAVLib(const std::string& libraryFolder);
  // Plays the file into the surface (may be null: nothing is drawn). Stops what played before,
  // here or in another player. False with LastErrMsg when the file cannot be played.
  bool Open(const std::string& fileName, TDisplaySurface* surface, bool paused);
  // Ends the playback; with wait, returns once it ended (serving the hand-off meanwhile).
  void Stop(bool wait);
  void Pause();
  void Resume();
  // flags: 1 backward, 2 byte position, 4 any frame, 8 frame number. position in microseconds
  // from the file start (bytes with flag 2).
  void Seek(uint8_t flags, bool wait, int64_t position);
  void SeekRelative(uint8_t flags, bool wait, double seconds);
  // The picture on the surface as a bitmap of the video's coded size, owned by the player and
  // valid until the next call; 0 x 0 with time -1 when no video plays.
  const media::TBitmap& GetCurrentFrame(int64_t& time);
  const media::TBitmap& CurrentFrame();

  const std::string& LastErrMsg() const { return lastErrMsg_; }
  const std::string& FileName() const { return fileName_; }
  media::TAVProbe& Probe() { return *probe_; }
  TPlayState State() const { return state_.load(); }
  int64_t CurrentPosition() const { return currentPosition_.load(); }
  bool Playing() const;
  // Pictures decoded and shown by the current or last playback (for the bench's figures).
  int64_t PicturesDecoded() const { return picturesDecoded_.load(); }
  int64_t PicturesShown() const { return picturesShown_.load(); }
  // Clocks of the current playback in seconds (NaN when nothing plays).
  double VideoClock() const;
  double AudioClock() const;

 private:
  friend class TPlayback;
  struct DisplayEvent {
    TDisplayEvent code;
    int width = 0;
    int height = 0;
  };

  void ReportPlayerError(const std::string& text, bool keep);
  void Log(media::TLogLevel level, const std::string& text);
  void PostEvent(const PlayerEvent& event);
  void SetState(TPlayState state);
  // Position and end updates, after each shown picture and on the end of input.
  void UpdatePosition(TPlayback& playback);
  void PushDisplayEvent(DisplayEvent event);
  bool WaitDisplayEvent(DisplayEvent& event);
  void PlayThread();
  void EventThread();
  void Deliver(const std::function<void()>& fn);
  void WaitForPlayThread();
  void ClosePlayback();  // under PlayerLock or on forced close
  std::shared_ptr<TPlayback> CurrentPlayback() const;
  void JoinThreads();
  void SurfaceNotice(int width, int height);

  std::unique_ptr<media::TAVProbe> probe_;
  std::string lastErrMsg_;
  std::string fileName_;
  TDisplaySurface* surface_ = nullptr;
  std::atomic<TPlayState> state_{psStop};
  std::atomic<int64_t> currentPosition_{-1};
  std::atomic<float> aspectRatio_{0};

  mutable std::mutex playbackLock_;  // protects playback_ (the pointer)
  std::shared_ptr<TPlayback> playback_;
  std::timed_mutex playerLock_;      // held by the play thread while it handles one event
  platform::TEvent seekDoneEvent_{true};
  platform::TEvent frameReadyEvent_{true};
  platform::TEvent playThreadDoneEvent_{true};
  std::atomic<bool> seeking_{false};

  TPlayerEventRing ring_;
  std::mutex displayLock_;  // protects displayEvents_
  std::condition_variable displayCond_;
  std::deque<DisplayEvent> displayEvents_;

  std::thread playThread_;
  std::thread eventThread_;
  std::atomic<bool> eventThreadDone_{true};

  std::mutex positionLock_;  // protects the three fields below
  int64_t lastPostedPosition_ = 0;
  bool positionPosted_ = false;

  media::TPictureConverter snapshotConverter_;
  media::TPictureConverter hookConverter_;
  media::TBitmap currentFrame_;

  std::atomic<int64_t> picturesDecoded_{0};
  std::atomic<int64_t> picturesShown_{0};
};

class TVIVudero final : public TCustomPlayer {};

}  // namespace player
