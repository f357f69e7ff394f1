// TPlayback: one playing file of a player, from the file to the pictures on the display surface
// and the samples in the audio device. It owns the read thread (demultiplexing into packet
// queues, seeking, end of input), the video, subtitle and refresh threads, the picture queue (2
// pictures) and subpicture queue (4), the clocks with audio as master, and the audio decoding the
// device's callback pulls. Created and closed by TCustomPlayer; the play thread runs its display
// work (Refresh, AllocatePicture, OpenSurface) one event at a time under the player's lock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include "player/audiodevice.h"
#include "player/displaysurface.h"
#include "player/packetqueue.h"
#include "player/waveform.h"

struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVSubtitle;
struct SwrContext;

namespace player {

class TCustomPlayer;

class TPlayback {
 public:
  // Number of picture slots and how many of them the queue holds at most.
  static constexpr int kPictureSlots = 3;
  static constexpr int kPictureQueueSize = 2;
  static constexpr int kSubpictureQueueSize = 4;

  TPlayback(TCustomPlayer& owner, const std::string& fileName, bool paused);
  ~TPlayback();
  TPlayback(const TPlayback&) = delete;
  TPlayback& operator=(const TPlayback&) = delete;

  // Starts the read thread and waits (serving the hand-off on the user-interface thread) until
  // the file is open. False with the player's LastErrMsg set; the playback is then cleaned up.
  bool Open();
  // Stops and joins every thread, closes the streams and the input. Any thread but the
  // playback's own; idempotent.
  void Close();

  // ---- Requests from the component ------------------------------------------------------
  // Ignored while another seek is pending. With wait, returns once the seek was carried out and,
  // with video, a picture after it was decoded (serving the hand-off meanwhile).
  void RequestSeek(int flags, bool wait, int64_t position, int64_t relativeHint);
  void TogglePause();
  bool Paused() const { return paused_.load(); }
  bool SeekPending() const { return seekRequest_.load(); }

  // ---- Display work, play thread only ----------------------------------------------------
  // Shows the next due picture (advance) or draws the shown one again (no advance).
  void Refresh(bool advance);
  // Prepares the picture slot the video thread asked for.
  void AllocatePicture();
  // Opens the surface at the size the rules give (forced: even when the size is unchanged).
  int OpenSurface(bool forced);
  // Draws the current picture (or the waveform).
  void Display();
  // The surface got a new size.
  void Resized(int width, int height);
  void ClearRefreshPending() { refreshPending_ = false; }

  // ---- Clocks, seconds ---------------------------------------------------------------------
  double AudioClock() const;
  double VideoClock() const;
  double MasterClock() const;

  // ---- Facts for the component -------------------------------------------------------------
  AVFormatContext* FormatContext() const { return ic_; }
  bool HasVideo() const { return videoStream_ >= 0; }
  bool HasAudio() const { return audioStream_ >= 0; }
  int64_t StartTime() const { return startTime_; }
  int64_t Duration() const { return duration_; }
  int64_t AudioDuration() const { return audioDuration_; }
  bool ImageSequence() const { return imageSequence_; }
  bool CaptureDevice() const { return captureDevice_; }
  int VideoWidth() const;
  int VideoHeight() const;
  bool ReadingInProgress() const { return readingInProgress_.load(); }
  bool EndOfInputDrained() const { return endOfInput_.load(); }
  // The sound device asked for samples after the input ended and its last ones were handed over.
  bool AudioRanDry() const { return audioRanDry_.load(); }
  int64_t BytePosition() const;
  int64_t BitRate() const;
  // Whether the end was posted for the current picture; the component sets it.
  std::atomic<bool> endPosted{false};
  // Copies the shown picture under the queue lock; false when none is shown.
  template <typename Fn>
  bool WithShownPicture(Fn&& fn);

 private:
  struct PictureSlot {
    AVFrame* frame = nullptr;  // the slot's own YUV 4:2:0 picture, made by the play thread
    double pts = 0;
    double target = 0;
    int64_t pos = -1;
    int width = 0;
    int height = 0;
    AVRational sar{0, 1};
    bool allocated = false;
    bool subtitled = false;
  };
  struct Subpicture {
    double pts = 0;
    AVSubtitle* sub = nullptr;
  };

  void ReadThread();
  bool OpenInput();
  void ReadLoop();
  void CloseInput();
  bool OpenStream(int index);
  void CloseStream(int index);
  void DoSeek();
  bool QueuesFull() const;

  void VideoThread();
  bool ConfigureFilters(const AVFrame* frame);
  void HandleDecodedFrame(AVFrame* frame);
  bool QueuePicture(AVFrame* frame, double pts, int64_t pos);
  double TargetTime(double pts);
  void Hook(PictureSlot& slot, double pts);
  void SubtitleThread();
  void RefreshThread();
  void BlendSubtitles(PictureSlot& slot);

  int DecodeAudio();
  void AudioCallback(uint8_t* stream, int len);
  void DisplayPicture(PictureSlot& slot);
  void DisplayWaveform();

  TCustomPlayer& owner_;
  std::string fileName_;

  // threads
  std::thread readThread_, videoThread_, subtitleThread_, refreshThread_;
  std::atomic<bool> abortRequest_{false};
  std::atomic<bool> paused_{false};
  bool lastPaused_ = false;
  int readPauseResult_ = 0;
  std::atomic<bool> seekRequest_{false};
  int seekFlags_ = 0;
  int64_t seekPosition_ = 0;
  int64_t seekRelative_ = 0;
  std::atomic<int> status_{0};  // 0 pending, 1 opened, -1 failed, -2 failed and cleaned up
  std::atomic<bool> refreshPending_{false};
  bool closed_ = false;

  // input
  AVFormatContext* ic_ = nullptr;
  bool imageSequence_ = false;
  bool captureDevice_ = false;
  int seekByBytes_ = -1;
  int64_t startTime_ = 0;
  int64_t duration_ = -1;
  int64_t audioDuration_ = -1;
  std::atomic<bool> readingInProgress_{false};
  std::atomic<bool> endReported_{false};
  std::atomic<bool> endOfInput_{false};
  bool eofNote_ = false;
  std::atomic<bool> seekDone_{false};
  std::atomic<bool> pictureAfterFlush_{false};
  std::atomic<bool> pausedWhenSeek_{false};
  std::atomic<int> openPausedStep_{0};
  std::atomic<bool> shownSinceFlush_{false};

  // audio
  int audioStream_ = -1;
  AVStream* audioSt_ = nullptr;
  AVCodecContext* audioCtx_ = nullptr;
  TPacketQueue audioQueue_;
  TAudioDevice audioDevice_;
  AVPacket* audioPacket_ = nullptr;
  AVFrame* audioFrame_ = nullptr;
  SwrContext* swr_ = nullptr;
  int swrFormat_ = -1;
  int swrRate_ = 0;
  int swrChannels_ = 0;
  uint64_t swrLayout_ = 0;
  int audioChannels_ = 0;
  int audioRate_ = 0;
  std::vector<uint8_t> audioBuf_;
  int audioBufSize_ = 0;
  int audioBufIndex_ = 0;
  bool audioChunkSilent_ = true;
  bool audioNeedsPacket_ = true;
  mutable std::mutex audioClockLock_;  // protects the four clock fields below
  double audioClock_ = 0;         // time at the end of the decoded data
  double callbackClock_ = 0;      // time of the first sample handed to the device last
  double callbackTime_ = 0;       // when that happened
  double callbackSpan_ = 0;       // how long those samples play
  std::atomic<bool> audioClockKnown_{false};
  std::atomic<bool> audioRanDry_{false};
  std::atomic<bool> inputEnded_{false};  // the read thread met the end of the input
  int displayMode_ = 0;  // 0 none, 1 waveform
  std::vector<int16_t> sampleRing_;
  std::atomic<int> sampleRingIndex_{0};
  int lastWaveformStart_ = 0;
  std::vector<uint8_t> waveform_;

  // subtitles
  int subtitleStream_ = -1;
  AVStream* subtitleSt_ = nullptr;
  AVCodecContext* subtitleCtx_ = nullptr;
  TPacketQueue subtitleQueue_;
  std::mutex subpictLock_;  // protects subpictures_, subpictSize_, subpictRead_, subpictWrite_
  std::condition_variable subpictCond_;
  std::array<Subpicture, kSubpictureQueueSize> subpictures_{};
  int subpictSize_ = 0, subpictRead_ = 0, subpictWrite_ = 0;
  std::atomic<bool> subtitleStreamChanged_{false};

  // video
  int videoStream_ = -1;
  AVStream* videoSt_ = nullptr;
  AVCodecContext* videoCtx_ = nullptr;
  TPacketQueue videoQueue_;
  std::mutex pictLock_;  // protects the slots and the indexes, size and shown index below
  std::condition_variable pictCond_;
  std::array<PictureSlot, kPictureSlots> slots_{};
  int pictSize_ = 0, pictRead_ = 0, pictWrite_ = 0;
  // The picture on the surface: a reference to the shown slot's pixels (a slot written while
  // still referenced here gets new pixels first).
  PictureSlot shown_;
  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* bufferSrc_ = nullptr;
  AVFilterContext* bufferSink_ = nullptr;
  int graphWidth_ = 0, graphHeight_ = 0, graphFormat_ = -1;
  int outWidth_ = 0, outHeight_ = 0;
  double frameTimer_ = 0;
  double frameLastPts_ = -1;
  double frameLastDelay_ = 0;
  double videoClock_ = 0;  // time of the next picture the decoder gives
  std::atomic<double> currentPts_{0};
  std::atomic<double> currentPtsDrift_{0};
  std::atomic<int64_t> currentPos_{-1};
  float skipRatio_ = 1;
  float skipIndex_ = 0;
  double pauseStarted_ = 0;

  // surface
  int surfaceWidth_ = 0, surfaceHeight_ = 0;
  bool surfaceOpen_ = false;
};

template <typename Fn>
bool TPlayback::WithShownPicture(Fn&& fn) {
  std::lock_guard guard(pictLock_);
  if (!shown_.frame || !shown_.frame->buf[0]) return false;
  fn(shown_.frame, shown_.width, shown_.height, shown_.pts);
  return true;
}

}  // namespace player
