#include "player/playback.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/ffutils.h"
#include "media/unicodeprotocol.h"
#include "platform/mainthread.h"
#include "player/customplayer.h"

namespace player {
namespace {

using namespace std::chrono_literals;

// Back-pressure limits of the read thread.
constexpr int64_t kMaxQueueBytes = 15 * 1024 * 1024;
constexpr int64_t kMinAudioQueueBytes = 327680;
constexpr int kMinFramePackets = 5;
constexpr int kAudioBufferBytes = 288000;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Sleep(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

// The wait of the user-interface thread serves the hand-off and window messages.
void WaitUntil(const std::function<bool()>& done) {
  if (platform::IsMainThread())
    platform::WaitServing(done);
  else
    while (!done()) Sleep(10ms);
}

int InterruptCallback(void* opaque) {
  return static_cast<const std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

void FreeFrame(AVFrame*& frame) {
  if (frame) ff::av_frame_free(&frame);
}

}  // namespace

TPlayback::TPlayback(TCustomPlayer& owner, const std::string& fileName, bool paused)
    : owner_(owner), fileName_(fileName) {
  if (paused) {
    paused_ = true;
    openPausedStep_ = 1;
  }
  sampleRing_.assign(kSampleRingSize, 0);
  audioBuf_.resize(kAudioBufferBytes);
}

TPlayback::~TPlayback() {
  Close();
  for (PictureSlot& slot : slots_) FreeFrame(slot.frame);
  FreeFrame(shown_.frame);
}

bool TPlayback::Open() {
  try {
    readThread_ = std::thread(&TPlayback::ReadThread, this);
  } catch (const std::system_error&) {
    owner_.ReportPlayerError("SDL_CreateThread() failed.", true);
    return false;
  }
  WaitUntil([this] { return status_.load() != 0; });
  if (status_.load() == 1) {
    if (videoStream_ < 0 && !owner_.DisableDisplay) displayMode_ = 1;
    try {
      refreshThread_ = std::thread(&TPlayback::RefreshThread, this);
    } catch (const std::system_error&) {
      owner_.ReportPlayerError("SDL_CreateThread() failed.", true);
      Close();
      return false;
    }
    return true;
  }
  WaitUntil([this] { return status_.load() != -1; });
  Close();
  return false;
}

void TPlayback::Close() {
  if (closed_) return;
  closed_ = true;
  abortRequest_ = true;
  videoQueue_.Abort();
  audioQueue_.Abort();
  subtitleQueue_.Abort();
  pictCond_.notify_all();
  subpictCond_.notify_all();
  if (readThread_.joinable()) readThread_.join();
  if (refreshThread_.joinable()) refreshThread_.join();
}

// ---- Read thread -----------------------------------------------------------------------------

void TPlayback::ReadThread() {
  if (OpenInput()) {
    status_ = 1;
    ReadLoop();
  } else {
    status_ = -1;
  }
  CloseInput();
  // SDL keeps per-thread data for the threads that call it (the audio device is opened here).
  ff::SDL_TLSCleanup();
  if (status_.load() == -1) {
    owner_.PushDisplayEvent({deQuit});
    status_ = -2;
  }
}

bool TPlayback::OpenInput() {
  ic_ = ff::avformat_alloc_context();
  if (!ic_) {
    owner_.lastErrMsg_ = "av_mallocz() failed.";
    return false;
  }
  ic_->interrupt_callback.callback = InterruptCallback;
  ic_->interrupt_callback.opaque = &abortRequest_;
  AVDictionary* options = nullptr;
  if (owner_.FrameWidth > 0 && owner_.FrameHeight > 0)
    ff::av_dict_set(&options, "video_size",
                    media::FormatText("%dx%d", owner_.FrameWidth, owner_.FrameHeight).c_str(), 0);
  const int err = media::OpenInputFile(&ic_, fileName_, nullptr, &options);
  ff::av_dict_free(&options);
  if (err < 0) {
    owner_.lastErrMsg_ = media::AVErrorToStr(fileName_, err);
    return false;
  }
  int found;
  {
    std::lock_guard codecs(media::CodecLock());
    found = ff::avformat_find_stream_info(ic_, nullptr);
  }
  if (found < 0) {
    owner_.lastErrMsg_ = media::FormatText("%s: could not find codec parameters", fileName_.c_str());
    return false;
  }
  if (ic_->pb) ic_->pb->eof_reached = 0;
  if (seekByBytes_ < 0) seekByBytes_ = (ic_->iformat->flags & AVFMT_TS_DISCONT) ? 1 : 0;
  const std::string formatName = ic_->iformat->name ? ic_->iformat->name : "";
  imageSequence_ = formatName == "image2";
  captureDevice_ = formatName == "vfwcap" || formatName == "vfwcapture" || formatName == "video4linux2,v4l2";
  startTime_ = ic_->start_time != AV_NOPTS_VALUE ? ic_->start_time : 0;
  duration_ = ic_->duration != AV_NOPTS_VALUE ? ic_->duration : -1;

  // Stream choice: the library's best stream of each kind; a cover picture is not video.
  for (unsigned i = 0; i < ic_->nb_streams; ++i) ic_->streams[i]->discard = AVDISCARD_ALL;
  int video = -1, audio = -1, subtitle = -1;
  if (!owner_.DisableVideo) {
    video = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0 && (ic_->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      video = -1;
      for (unsigned i = 0; i < ic_->nb_streams && video < 0; ++i)
        if (ic_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(ic_->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
          video = static_cast<int>(i);
    }
  }
  if (!owner_.DisableAudio)
    audio = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
  if (!owner_.DisableVideo)
    subtitle = ff::av_find_best_stream(ic_, AVMEDIA_TYPE_SUBTITLE, -1,
                                       audio >= 0 ? audio : video, nullptr, 0);
  if (audio >= 0) OpenStream(audio);
  if (video >= 0) OpenStream(video);
  if (subtitle >= 0) OpenStream(subtitle);
  // The component attaches its probe here, before the first packet is read.
  try {
    owner_.probe_->AttachFormatContext(ic_);
  } catch (const std::exception&) {
  }
  if (audioStream_ < 0 && videoStream_ < 0) {
    owner_.lastErrMsg_ =
        media::FormatText("%s: could not open codecs, no stream to play.", fileName_.c_str());
    return false;
  }
  return true;
}

bool TPlayback::OpenStream(int index) {
  AVStream* st = ic_->streams[index];
  const AVCodec* codec = ff::avcodec_find_decoder(st->codecpar->codec_id);
  AVCodecContext* ctx = codec ? ff::avcodec_alloc_context3(codec) : nullptr;
  bool opened = false;
  if (ctx && ff::avcodec_parameters_to_context(ctx, st->codecpar) >= 0) {
    ctx->pkt_timebase = st->time_base;
    ctx->workaround_bugs = 1;
    ctx->err_recognition = 1;
    ctx->error_concealment = 3;
    ctx->thread_count = 0;  // automatic
    std::lock_guard codecs(media::CodecLock());
    opened = ff::avcodec_open2(ctx, codec, nullptr) >= 0;
  }
  if (!opened) {
    owner_.ReportPlayerError("avcodec_open() failed.", false);
    if (ctx) ff::avcodec_free_context(&ctx);
    return false;
  }
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      audioRate_ = ctx->sample_rate;
      audioChannels_ = std::min(2, std::max(1, ctx->ch_layout.nb_channels));
      std::string error;
      if (audioRate_ <= 0 ||
          !audioDevice_.Open(audioRate_, audioChannels_,
                             [this](uint8_t* stream, int len) { AudioCallback(stream, len); },
                             error)) {
        owner_.ReportPlayerError("SDL_OpenAudio() failed: " + error, false);
        std::lock_guard codecs(media::CodecLock());
        ff::avcodec_free_context(&ctx);
        return false;
      }
      st->discard = AVDISCARD_DEFAULT;
      audioStream_ = index;
      audioSt_ = st;
      audioCtx_ = ctx;
      audioDuration_ = st->duration != AV_NOPTS_VALUE
                           ? ff::av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000})
                           : -1;
      audioPacket_ = ff::av_packet_alloc();
      audioFrame_ = ff::av_frame_alloc();
      audioBufSize_ = audioBufIndex_ = 0;
      audioNeedsPacket_ = true;
      audioQueue_.Start();
      audioDevice_.Start();
      return true;
    }
    case AVMEDIA_TYPE_VIDEO:
      st->discard = AVDISCARD_DEFAULT;
      videoStream_ = index;
      videoSt_ = st;
      videoCtx_ = ctx;
      videoQueue_.Start();
      try {
        videoThread_ = std::thread(&TPlayback::VideoThread, this);
      } catch (const std::system_error&) {
        owner_.ReportPlayerError("SDL_CreateThread() failed.", false);
        CloseStream(index);
        return false;
      }
      return true;
    case AVMEDIA_TYPE_SUBTITLE:
      st->discard = AVDISCARD_DEFAULT;
      subtitleStream_ = index;
      subtitleSt_ = st;
      subtitleCtx_ = ctx;
      subtitleQueue_.Start();
      try {
        subtitleThread_ = std::thread(&TPlayback::SubtitleThread, this);
      } catch (const std::system_error&) {
        CloseStream(index);
        return false;
      }
      return true;
    default: {
      std::lock_guard codecs(media::CodecLock());
      ff::avcodec_free_context(&ctx);
      return false;
    }
  }
}

void TPlayback::CloseStream(int index) {
  AVCodecContext** ctx = nullptr;
  if (index == videoStream_) {
    videoQueue_.Abort();
    pictCond_.notify_all();
    if (videoThread_.joinable()) videoThread_.join();
    videoQueue_.Flush();
    ctx = &videoCtx_;
    videoStream_ = -1;
    videoSt_ = nullptr;
  } else if (index == audioStream_) {
    audioQueue_.Abort();
    audioDevice_.Close();
    audioQueue_.Flush();
    if (swr_) ff::swr_free(&swr_);
    if (audioPacket_) ff::av_packet_free(&audioPacket_);
    FreeFrame(audioFrame_);
    ctx = &audioCtx_;
    audioStream_ = -1;
    audioSt_ = nullptr;
    audioDuration_ = -1;
  } else if (index == subtitleStream_) {
    subtitleQueue_.Abort();
    subtitleStreamChanged_ = true;
    subpictCond_.notify_all();
    if (subtitleThread_.joinable()) subtitleThread_.join();
    subtitleQueue_.Flush();
    {
      std::lock_guard guard(subpictLock_);
      for (Subpicture& sp : subpictures_)
        if (sp.sub) {
          ff::avsubtitle_free(sp.sub);
          delete sp.sub;
          sp.sub = nullptr;
        }
      subpictSize_ = 0;
    }
    ctx = &subtitleCtx_;
    subtitleStream_ = -1;
    subtitleSt_ = nullptr;
  } else {
    return;
  }
  ic_->streams[index]->discard = AVDISCARD_ALL;
  std::lock_guard codecs(media::CodecLock());
  if (*ctx) ff::avcodec_free_context(ctx);
}

void TPlayback::CloseInput() {
  if (ic_) {
    if (audioStream_ >= 0) CloseStream(audioStream_);
    if (videoStream_ >= 0) CloseStream(videoStream_);
    if (subtitleStream_ >= 0) CloseStream(subtitleStream_);
  }
  if (graph_) ff::avfilter_graph_free(&graph_);
  try {
    if (owner_.probe_->FormatContext() == ic_) owner_.probe_->CloseFile();
  } catch (const std::exception&) {
  }
  if (ic_) {
    if (ic_->pb)
      media::CloseInputFile(&ic_);
    else
      ff::avformat_free_context(ic_);
    ic_ = nullptr;
  }
}

bool TPlayback::QueuesFull() const {
  const int64_t total = audioQueue_.Size() + videoQueue_.Size() + subtitleQueue_.Size();
  if (total > kMaxQueueBytes) return true;
  return (audioStream_ < 0 || audioQueue_.Size() > kMinAudioQueueBytes) &&
         (videoStream_ < 0 || videoQueue_.Count() > kMinFramePackets) &&
         (subtitleStream_ < 0 || subtitleQueue_.Count() > kMinFramePackets);
}

void TPlayback::DoSeek() {
  const int64_t target = seekPosition_;
  const int64_t minTs = seekRelative_ > 0 ? target - seekRelative_ + 2
                                          : std::numeric_limits<int64_t>::min();
  const int64_t maxTs = seekRelative_ < 0 ? target - seekRelative_ - 2
                                          : std::numeric_limits<int64_t>::max();
  int r = ff::avformat_seek_file(ic_, -1, minTs, target, maxTs, seekFlags_);
  if (r < 0) r = ff::av_seek_frame(ic_, -1, target, seekFlags_);
  if (r < 0) r = ff::av_seek_frame(ic_, -1, target, seekFlags_ ^ AVSEEK_FLAG_BACKWARD);
  if (r < 0) {
    owner_.ReportPlayerError(media::FormatText("%s: error while seeking", fileName_.c_str()), false);
    if (videoStream_ >= 0) owner_.frameReadyEvent_.Set();
  } else {
    if (audioStream_ >= 0) {
      audioQueue_.Flush();
      audioQueue_.Put(FlushPacket());
    }
    if (subtitleStream_ >= 0) {
      subtitleQueue_.Flush();
      subtitleQueue_.Put(FlushPacket());
    }
    if (videoStream_ >= 0) {
      videoQueue_.Flush();
      videoQueue_.Put(FlushPacket());
      pictureAfterFlush_ = false;
      owner_.frameReadyEvent_.Reset();
    }
  }
  endReported_ = false;
  endOfInput_ = false;
  audioRanDry_ = false;
  inputEnded_ = false;
  endPosted = false;
  seekRequest_ = false;
  seekDone_ = true;
  owner_.seekDoneEvent_.Set();
  if (videoStream_ < 0) owner_.seeking_ = false;
  eofNote_ = false;
  if (ic_->pb) ic_->pb->eof_reached = 0;
}

void TPlayback::ReadLoop() {
  AVPacket* packet = ff::av_packet_alloc();
  if (!packet) return;
  while (!abortRequest_) {
    if (paused_ != lastPaused_) {
      lastPaused_ = paused_;
      if (lastPaused_)
        readPauseResult_ = ff::av_read_pause(ic_);
      else
        ff::av_read_play(ic_);
    }
    if (seekRequest_) {
      DoSeek();
      continue;
    }
    if (QueuesFull()) {
      Sleep(10ms);
      continue;
    }
    if (eofNote_ || (ic_->pb && ic_->pb->eof_reached)) {
      inputEnded_ = true;
      if (!imageSequence_ && !endReported_) {
        endReported_ = true;
        owner_.Log(media::llInfo, media::FormatText("reach end of file: %s", fileName_.c_str()));
      }
      if (videoStream_ >= 0) {
        videoQueue_.PutEnd();
        owner_.frameReadyEvent_.Set();
      }
      Sleep(10ms);
      if (audioQueue_.Count() == 0 && videoQueue_.Count() == 0 && subtitleQueue_.Count() == 0)
        endOfInput_ = true;
      continue;
    }
    readingInProgress_ = true;
    const int r = ff::av_read_frame(ic_, packet);
    readingInProgress_ = false;
    if (abortRequest_) {
      ff::av_packet_unref(packet);
      break;
    }
    if (r < 0) {
      if (r == AVERROR(EAGAIN)) {
        Sleep(10ms);
        continue;
      }
      if (videoStream_ >= 0) owner_.frameReadyEvent_.Set();
      inputEnded_ = true;
      if (!imageSequence_ && !endReported_) {
        endReported_ = true;
        if (r == AVERROR_EOF)
          owner_.Log(media::llInfo, media::FormatText("reach end of file: %s", fileName_.c_str()));
        else
          owner_.ReportPlayerError(
              media::FormatText("error #%d while reading file: %s", r, fileName_.c_str()), false);
      }
      // Every failed read ends the input: what was read so far plays to its end.
      eofNote_ = true;
      if (r != AVERROR_EOF && ic_->pb && ic_->pb->error) break;
      if (r != AVERROR_EOF) Sleep(100ms);
      continue;
    }
    if (packet->stream_index == audioStream_)
      audioQueue_.Put(packet);
    else if (packet->stream_index == videoStream_)
      videoQueue_.Put(packet);
    else if (packet->stream_index == subtitleStream_)
      subtitleQueue_.Put(packet);
    ff::av_packet_unref(packet);
  }
  ff::av_packet_free(&packet);
  // Reading has stopped for good: a seek asked for now completes at once, so that no one waits
  // for it in vain.
  while (!abortRequest_) {
    if (seekRequest_) {
      seekRequest_ = false;
      owner_.frameReadyEvent_.Set();
      owner_.seekDoneEvent_.Set();
      owner_.seeking_ = false;
    }
    Sleep(100ms);
  }
}

// ---- Requests ----------------------------------------------------------------------------------

void TPlayback::RequestSeek(int flags, bool wait, int64_t position, int64_t relativeHint) {
  if (seekRequest_) return;
  owner_.seeking_ = true;
  pausedWhenSeek_ = paused_.load();
  seekPosition_ = position;
  seekRelative_ = relativeHint;
  seekFlags_ = flags & 0x0f;
  owner_.seekDoneEvent_.Reset();
  seekRequest_ = true;
  if (!wait) return;
  auto done = [this] { return abortRequest_.load() || owner_.seekDoneEvent_.IsSet(); };
  WaitUntil(done);
  if (videoStream_ >= 0)
    WaitUntil([this] { return abortRequest_.load() || owner_.frameReadyEvent_.IsSet(); });
}

void TPlayback::TogglePause() {
  if (!owner_.seekDoneEvent_.Wait(250ms)) owner_.seekDoneEvent_.Set();
  if (abortRequest_) return;
  if (paused_) {
    const double now = Now();
    {
      std::lock_guard guard(pictLock_);
      const double shift = now - pauseStarted_;
      frameTimer_ += now + currentPtsDrift_.load() - currentPts_.load();
      for (int i = 0, k = pictRead_; i < pictSize_; ++i, k = (k + 1) % kPictureSlots)
        slots_[k].target += shift;
    }
    if (readPauseResult_ != AVERROR(ENOSYS)) currentPts_ = currentPtsDrift_.load() + now;
    currentPtsDrift_ = currentPts_.load() - now;
    paused_ = false;
  } else {
    if (videoStream_ >= 0) {
      if (!owner_.frameReadyEvent_.Wait(250ms)) owner_.frameReadyEvent_.Set();
      if (abortRequest_) return;
    }
    pauseStarted_ = Now();
    paused_ = true;
  }
}

// ---- Clocks ------------------------------------------------------------------------------------

double TPlayback::AudioClock() const {
  std::lock_guard guard(audioClockLock_);
  const double elapsed = std::min(std::max(0.0, Now() - callbackTime_), callbackSpan_);
  return callbackClock_ + elapsed;
}

double TPlayback::VideoClock() const {
  if (paused_) return currentPts_.load();
  const double drift = currentPtsDrift_.load();
  if (drift != 0) return drift + Now();
  return startTime_ / 1e6;
}

// Audio is the master while it plays; before its first samples and after its last ones (a
// sound track shorter than the picture) the pictures keep their own pace.
double TPlayback::MasterClock() const {
  return audioStream_ >= 0 && audioClockKnown_ && !audioRanDry_ ? AudioClock() : VideoClock();
}

int TPlayback::VideoWidth() const { return videoSt_ ? videoSt_->codecpar->width : -1; }
int TPlayback::VideoHeight() const { return videoSt_ ? videoSt_->codecpar->height : -1; }

int64_t TPlayback::BytePosition() const {
  const int64_t pos = currentPos_.load();
  if (pos >= 0) return pos;
  return ic_ && ic_->pb ? ic_->pb->pos : 0;
}

int64_t TPlayback::BitRate() const { return ic_ ? ic_->bit_rate : 0; }

// ---- Refresh thread ----------------------------------------------------------------------------

void TPlayback::RefreshThread() {
  while (!abortRequest_) {
    if (!refreshPending_.exchange(true)) owner_.PushDisplayEvent({deRefresh});
    Sleep(displayMode_ ? 20ms : 5ms);
  }
}

}  // namespace player
