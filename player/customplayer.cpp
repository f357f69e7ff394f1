#include "player/customplayer.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <system_error>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/ffutils.h"
#include "platform/mainthread.h"
#include "player/audiodevice.h"
#include "player/playback.h"

namespace player {
namespace {

using namespace std::chrono_literals;

// The player that plays now; only one plays in the process.
std::mutex playingLock;  // protects playingPlayer
TCustomPlayer* playingPlayer = nullptr;

constexpr int64_t kPositionStep = 10000;  // microseconds a position must move to be posted

}  // namespace

TCustomPlayer::TCustomPlayer() : probe_(std::make_unique<media::TAVProbe>()) {}

TCustomPlayer::~TCustomPlayer() {
  OnPosition = nullptr;
  OnState = nullptr;
  OnHook = nullptr;
  Stop(true);
  JoinThreads();
  std::lock_guard guard(playingLock);
  if (playingPlayer == this) playingPlayer = nullptr;
}

bool TCustomPlayer::AVLibLoaded() const { return media::FFLoader().Loaded(media::PlayerLibraries); }

bool TCustomPlayer::LoadAVLib(const std::string& libraryFolder) {
  media::FFLoader().LibraryPath = libraryFolder;
  if (media::FFLoader().Load(media::PlayerLibraries)) return true;
  lastErrMsg_ = media::FFLoader().LastErrMsg();
  return false;
}

void TCustomPlayer::SetAspectRatio(float value) {
  if (aspectRatio_.exchange(value) != value && Playing()) PushDisplayEvent({deReopen});
}

bool TCustomPlayer::Playing() const { return CurrentPlayback() != nullptr; }

std::shared_ptr<TPlayback> TCustomPlayer::CurrentPlayback() const {
  std::lock_guard guard(playbackLock_);
  return playback_;
}

void TCustomPlayer::Log(media::TLogLevel level, const std::string& text) {
  media::GetLogger().LogMessage(this, level, text);
}

void TCustomPlayer::ReportPlayerError(const std::string& text, bool keep) {
  Log(media::llError, text);
  if (keep) lastErrMsg_ = text;
}

// ---- Events ------------------------------------------------------------------------------------

void TCustomPlayer::PostEvent(const PlayerEvent& event) { ring_.Post(event); }

void TCustomPlayer::SetState(TPlayState state) {
  state_ = state;
  if (OnState)
    PostEvent({PlayerEvent::State, state, 0});
  else if (state == psStop)
    PostEvent({PlayerEvent::Quit, 0, 0});
}

void TCustomPlayer::Deliver(const std::function<void()>& fn) {
  try {
    if (TriggerEventInMainThread)
      platform::MainThreadCall(fn);
    else
      fn();
  } catch (const std::exception& e) {
    Log(media::llError, std::string("Event handler failed: ") + e.what());
  }
}

void TCustomPlayer::EventThread() {
  for (;;) {
    PlayerEvent event;
    bool quit = false;
    while (!quit && ring_.Take(event)) {
      if (event.kind == PlayerEvent::Position) {
        const int64_t time = event.time;
        Deliver([&] { if (OnPosition) OnPosition(this, time); });
      } else if (event.kind == PlayerEvent::State) {
        const auto state = static_cast<TPlayState>(event.state);
        Deliver([&] { if (OnState) OnState(this, state); });
        quit = state == psStop;
      } else {
        quit = true;
      }
    }
    if (quit) break;
    ring_.WaitSignal();
  }
  eventThreadDone_ = true;
}

void TCustomPlayer::UpdatePosition(TPlayback& playback) {
  if (playback.ImageSequence()) return;
  const double clock = playback.HasVideo() ? playback.VideoClock() : playback.AudioClock();
  int64_t position = std::llround(clock * 1e6) - playback.StartTime();
  const int64_t duration = playback.Duration();
  if (!playback.HasVideo() && playback.AudioDuration() > 0 &&
      position >= playback.AudioDuration() && position < duration)
    position = duration;
  // Sound only: once the last samples were played, the position is the end of the file, also
  // when the stream's duration counts a little more than its samples.
  const bool soundEnded = !playback.HasVideo() && playback.EndOfInputDrained() && playback.AudioRanDry();
  if (soundEnded && duration > 0) position = duration;
  currentPosition_ = position;
  {
    std::lock_guard guard(positionLock_);
    if (duration > 0 && position >= duration) {
      position = duration;
      // The end is posted once, also when the last posted position was within a step of it.
      if (lastPostedPosition_ < duration) lastPostedPosition_ = 0;
    }
    if (!positionPosted_ || std::llabs(position - lastPostedPosition_) > kPositionStep) {
      lastPostedPosition_ = position;
      positionPosted_ = true;
      if (OnPosition) PostEvent({PlayerEvent::Position, 0, position});
    }
  }
  if (!playback.CaptureDevice() && !playback.endPosted && playback.EndOfInputDrained() &&
      (playback.HasVideo() || soundEnded)) {
    playback.endPosted = true;
    SetState(psEnd);
  }
}

// ---- Play thread -------------------------------------------------------------------------------

void TCustomPlayer::PushDisplayEvent(DisplayEvent event) {
  {
    std::lock_guard guard(displayLock_);
    displayEvents_.push_back(event);
  }
  displayCond_.notify_one();
}

bool TCustomPlayer::WaitDisplayEvent(DisplayEvent& event) {
  std::unique_lock guard(displayLock_);
  displayCond_.wait(guard, [this] { return !displayEvents_.empty(); });
  event = displayEvents_.front();
  displayEvents_.pop_front();
  return true;
}

void TCustomPlayer::SurfaceNotice(int width, int height) {
  if (width >= 0)
    PushDisplayEvent({deResize, width, height});
  else
    PushDisplayEvent({deExpose});
}

void TCustomPlayer::ClosePlayback() {
  std::shared_ptr<TPlayback> playback;
  {
    std::lock_guard guard(playbackLock_);
    playback = std::move(playback_);
  }
  if (!playback) return;
  playback->Close();
  std::lock_guard guard(playingLock);
  if (playingPlayer == this) playingPlayer = nullptr;
}

void TCustomPlayer::PlayThread() {
  SetState(psPlay);
  try {
    for (;;) {
      DisplayEvent event;
      WaitDisplayEvent(event);
      std::lock_guard lock(playerLock_);
      std::shared_ptr<TPlayback> playback = CurrentPlayback();
      if (!playback) break;
      bool leave = false;
      switch (event.code) {
        case deQuitApp:
        case deQuit:
          ClosePlayback();
          leave = true;
          break;
        case deResize:
          ScreenWidth = event.width;
          ScreenHeight = event.height;
          playback->Resized(event.width, event.height);
          if (playback->Paused()) playback->Refresh(false);
          break;
        case deExpose:
          if (playback->Paused())
            playback->Refresh(false);
          else
            playback->Display();
          break;
        case deAllocate:
          playback->OpenSurface(false);
          playback->AllocatePicture();
          break;
        case deRefresh:
          playback->Refresh(true);
          playback->ClearRefreshPending();
          break;
        case deReopen:
          playback->OpenSurface(true);
          playback->Display();
          break;
      }
      if (leave) break;
    }
  } catch (const std::exception& e) {
    media::GetLogger().LogMessage(this, media::llFatal, std::string("PlayThread Exception: ") + e.what());
    ClosePlayback();
  }
  // The surface is the host's again: nothing of this player reaches it after the playback.
  if (surface_) surface_->SetNoticeSink(nullptr);
  surface_ = nullptr;
  SetState(psStop);
  playThreadDoneEvent_.Set();
}

// ---- Operations --------------------------------------------------------------------------------

void TCustomPlayer::JoinThreads() {
  if (playThread_.joinable()) {
    if (platform::IsMainThread())
      platform::WaitServing([this] { return playThreadDoneEvent_.IsSet(); });
    playThread_.join();
  }
  if (eventThread_.joinable()) {
    if (platform::IsMainThread())
      platform::WaitServing([this] { return eventThreadDone_.load(); });
    eventThread_.join();
  }
}

bool TCustomPlayer::Open(const std::string& fileName, TDisplaySurface* surface, bool paused) {
  if (!AVLibLoaded()) {
    ReportPlayerError("libav or libsdl not loaded.", true);
    return false;
  }
  Stop(true);
  JoinThreads();
  {
    TCustomPlayer* other = nullptr;
    {
      std::lock_guard guard(playingLock);
      if (playingPlayer != this) other = playingPlayer;
    }
    if (other) other->Stop(true);
  }
  TAudioDevice::SelectDriver(AudioDriver);
  if (ff::SDL_Init(0) != 0) {
    ReportPlayerError(media::FormatText("Could not initialize SDL with ScreenHandle(%u): %s", 0u,
                                        ff::SDL_GetError()),
                      true);
    return false;
  }
  if (DisableDisplay) DisableVideo = true;

  surface_ = DisableDisplay ? nullptr : surface;
  ring_.Clear();
  {
    std::lock_guard guard(displayLock_);
    displayEvents_.clear();
  }
  {
    std::lock_guard guard(positionLock_);
    positionPosted_ = false;
    lastPostedPosition_ = 0;
  }
  currentPosition_ = -1;
  seekDoneEvent_.Set();
  frameReadyEvent_.Set();
  seeking_ = false;
  picturesDecoded_ = 0;
  picturesShown_ = 0;
  lastErrMsg_.clear();

  auto playback = std::make_shared<TPlayback>(*this, fileName, paused);
  {
    std::lock_guard guard(playbackLock_);
    playback_ = playback;
  }
  if (!playback->Open()) {
    std::lock_guard guard(playbackLock_);
    playback_.reset();
    surface_ = nullptr;
    return false;
  }
  {
    std::lock_guard guard(playingLock);
    playingPlayer = this;
  }
  fileName_ = fileName;
  snapshotConverter_.Reset();
  hookConverter_.Reset();

  int64_t duration = playback->ImageSequence() ? 0 : playback->Duration();
  int frameWidth = playback->HasVideo() && playback->VideoWidth() > 0 ? playback->VideoWidth() : -1;
  int frameHeight = frameWidth > 0 ? playback->VideoHeight() : -1;
  if (OnFileOpen) {
    int screenWidth = ScreenWidth, screenHeight = ScreenHeight;
    Deliver([&] {
      if (OnFileOpen) OnFileOpen(this, duration, frameWidth, frameHeight, screenWidth, screenHeight);
    });
    ScreenWidth = screenWidth;
    ScreenHeight = screenHeight;
  }
  if (surface_ && (ScreenWidth == 0 || ScreenHeight == 0)) {
    int w = 0, h = 0;
    surface_->ClientSize(w, h);
    ScreenWidth = w;
    ScreenHeight = h;
  }
  if (surface_) surface_->SetNoticeSink([this](int w, int h) { SurfaceNotice(w, h); });

  playThreadDoneEvent_.Reset();
  eventThreadDone_ = false;
  try {
    eventThread_ = std::thread(&TCustomPlayer::EventThread, this);
    playThread_ = std::thread(&TCustomPlayer::PlayThread, this);
  } catch (const std::system_error&) {
    ReportPlayerError("SDL_CreateThread() failed.", true);
    ClosePlayback();
    if (eventThread_.joinable()) {
      PostEvent({PlayerEvent::Quit, 0, 0});
      eventThread_.join();
    }
    eventThreadDone_ = true;
    playThreadDoneEvent_.Set();
    return false;
  }
  return true;
}

void TCustomPlayer::Stop(bool wait) {
  if (std::shared_ptr<TPlayback> playback = CurrentPlayback()) {
    if (playback->Paused()) playback->TogglePause();
    PushDisplayEvent({deQuit});
    if (wait) WaitForPlayThread();
  }
  // SDL is shut down with a waiting stop, unless another player plays meanwhile.
  if (wait && AVLibLoaded()) {
    std::lock_guard guard(playingLock);
    if (!playingPlayer && ff::SDL_WasInit(0) != 0) ff::SDL_Quit();
  }
}

void TCustomPlayer::WaitForPlayThread() {
  for (int attempt = 1;; ++attempt) {
    if (platform::IsMainThread()) {
      if (platform::WaitServing([this] { return playThreadDoneEvent_.IsSet(); }, 100ms)) return;
    } else if (playThreadDoneEvent_.Wait(100ms)) {
      return;
    }
    std::shared_ptr<TPlayback> playback = CurrentPlayback();
    if (!playback) return;
    if (!playerLock_.try_lock_for(100ms)) continue;
    const bool blockedInRead = playback->ReadingInProgress();
    if (attempt <= 10 || (attempt <= 20 && blockedInRead)) {
      PushDisplayEvent({deQuit});
      playerLock_.unlock();
      continue;
    }
    // The play thread does not end: close the playback from here. The quit request left behind
    // lets the play thread end as soon as it takes its next event.
    ClosePlayback();
    playerLock_.unlock();
    PushDisplayEvent({deQuit});
    return;
  }
}

void TCustomPlayer::Pause() {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  if (!playback || playback->Paused()) return;
  playback->TogglePause();
  SetState(psPause);
}

void TCustomPlayer::Resume() {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  if (!playback || !playback->Paused()) return;
  playback->TogglePause();
  SetState(psResume);
}

void TCustomPlayer::Seek(uint8_t flags, bool wait, int64_t position) {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  if (!playback) return;
  flags &= 0x0f;
  if (flags & AVSEEK_FLAG_BYTE) {
    playback->RequestSeek(flags, wait, position, 0);
    return;
  }
  const int64_t requested = position;
  if (playback->Duration() >= 0 && position > playback->Duration()) position = playback->Duration();
  position += playback->StartTime();
  playback->RequestSeek(flags, wait, position, requested <= 0 ? 1 : 0);
}

void TCustomPlayer::SeekRelative(uint8_t flags, bool wait, double seconds) {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  if (!playback) return;
  flags &= 0x0f;
  if (flags & AVSEEK_FLAG_BYTE) {
    const int64_t bitRate = playback->BitRate();
    const double increment = bitRate > 0 ? seconds * (bitRate / 8.0) : seconds * 180000.0;
    playback->RequestSeek(flags, wait, playback->BytePosition() + std::llround(increment),
                          std::llround(increment));
    return;
  }
  const double target = playback->MasterClock() + seconds;
  playback->RequestSeek(flags, wait, std::llround(target * 1e6), std::llround(seconds * 1e6));
}

const media::TBitmap& TCustomPlayer::GetCurrentFrame(int64_t& time) {
  time = -1;
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  if (!playback || !playback->HasVideo()) {
    currentFrame_.SetSize(0, 0);
    return currentFrame_;
  }
  currentFrame_.SetSize(playback->VideoWidth(), playback->VideoHeight());
  std::fill(currentFrame_.Bits(), currentFrame_.Bits() + currentFrame_.ByteSize(), uint8_t(0));
  playback->WithShownPicture([&](const AVFrame* frame, int width, int height, double pts) {
    time = std::llround(pts * 1e6) - playback->StartTime();
    if (media::PictureToBitmap(snapshotConverter_, frame->data, frame->linesize,
                               AV_PIX_FMT_YUV420P, height, width))
      currentFrame_ = *snapshotConverter_.Bitmap();
    else
      currentFrame_.SetSize(0, 0);
  });
  return currentFrame_;
}

const media::TBitmap& TCustomPlayer::CurrentFrame() {
  int64_t time;
  return GetCurrentFrame(time);
}

double TCustomPlayer::VideoClock() const {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  return playback ? playback->VideoClock() : std::numeric_limits<double>::quiet_NaN();
}

double TCustomPlayer::AudioClock() const {
  std::shared_ptr<TPlayback> playback = CurrentPlayback();
  return playback && playback->HasAudio() ? playback->AudioClock()
                                          : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace player
