// The output side of TPlayback: the refresh that shows due pictures, the surface, the aspect
// rules, the waveform for files without video, and the audio decoding and device callback with
// Mute and AudioVolume.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "media/ffapi.h"
#include "media/ffutils.h"
#include "player/customplayer.h"
#include "player/displayrect.h"
#include "player/playback.h"

namespace player {
namespace {

constexpr double kDropLateness = 0.5;
constexpr int kSilenceChunk = 1024;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- Display (play thread) ---------------------------------------------------------------------

int TPlayback::OpenSurface(bool forced) {
  int width = 640, height = 480;
  if (owner_.ScreenWidth > 0) {
    width = owner_.ScreenWidth;
    height = owner_.ScreenHeight;
  } else if (outWidth_ > 0 && outHeight_ > 0) {
    width = outWidth_ & ~1;
    height = outHeight_ & ~1;
  }
  if (!forced && surfaceOpen_ && surfaceWidth_ == width && surfaceHeight_ == height) return 0;
  if (owner_.surface_ && !owner_.surface_->OpenSurface(width, height)) {
    owner_.ReportPlayerError("SDL: could not set video mode.", false);
    return -1;
  }
  surfaceOpen_ = true;
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  return 0;
}

void TPlayback::Resized(int width, int height) {
  surfaceWidth_ = width;
  surfaceHeight_ = height;
  surfaceOpen_ = true;
}

void TPlayback::Display() {
  if (!surfaceOpen_ && OpenSurface(false) < 0) return;
  if (audioStream_ >= 0 && displayMode_ != 0) {
    DisplayWaveform();
  } else if (videoStream_ >= 0) {
    std::lock_guard guard(pictLock_);
    if (shown_.frame && shown_.frame->buf[0]) DisplayPicture(shown_);
  }
}

void TPlayback::DisplayPicture(PictureSlot& slot) {
  // Under pictLock_.
  if (!slot.frame) return;
  const double aspect = DisplayAspect(owner_.AspectRatio(), surfaceWidth_, surfaceHeight_,
                                      slot.width, slot.height, slot.sar);
  if (subtitleStream_ >= 0) BlendSubtitles(slot);
  TRect rect = DisplayRect(surfaceWidth_, surfaceHeight_, aspect);
  if (!owner_.surface_ || rect.width <= 0 || rect.height <= 0) return;
  TSurfacePicture picture;
  picture.format = AV_PIX_FMT_YUV420P;
  picture.width = slot.width;
  picture.height = slot.height;
  for (int i = 0; i < 3; ++i) {
    picture.data[i] = slot.frame->data[i];
    picture.linesize[i] = slot.frame->linesize[i];
  }
  picture.pts = std::llround(slot.pts * 1e6) - startTime_;
  owner_.surface_->Present(picture, rect);
}

void TPlayback::DisplayWaveform() {
  const int width = surfaceWidth_, height = surfaceHeight_;
  if (width <= 0 || height <= 0) return;
  int start = lastWaveformStart_;
  if (!paused_) {
    int unread;
    double sinceCallback;
    {
      std::lock_guard guard(audioClockLock_);
      unread = audioChunkSilent_ ? 0 : audioBufSize_ - audioBufIndex_;
      sinceCallback = Now() - callbackTime_;
    }
    int delay = unread / (2 * audioChannels_);
    delay -= static_cast<int>(sinceCallback * audioRate_);
    start = WaveformStart(sampleRing_.data(), sampleRingIndex_.load(), delay, audioChannels_, width);
    lastWaveformStart_ = start;
  }
  const int stride = width * 3;
  waveform_.resize(static_cast<size_t>(stride) * height);
  DrawWaveform(sampleRing_.data(), start, audioChannels_, waveform_.data(), stride, width, height);
  if (!owner_.surface_) return;
  TSurfacePicture picture;
  picture.format = AV_PIX_FMT_BGR24;
  picture.width = width;
  picture.height = height;
  picture.data[0] = waveform_.data();
  picture.linesize[0] = stride;
  owner_.surface_->Present(picture, TRect{0, 0, width, height});
}

void TPlayback::Refresh(bool advance) {
  bool updatePosition = true;
  if (videoStream_ >= 0) {
    std::unique_lock guard(pictLock_);
    for (;;) {
      if (!advance || pictSize_ == 0) {
        if (!advance && shown_.frame && shown_.frame->buf[0]) DisplayPicture(shown_);
        return;
      }
      PictureSlot& slot = slots_[pictRead_];
      const double now = Now();
      if (now < slot.target) return;
      const double nextTarget = pictSize_ > 1
                                    ? slots_[(pictRead_ + 1) % kPictureSlots].target
                                    : slot.target + videoClock_ - slot.pts;
      // Lateness drops only while playing: a paused picture is never late.
      if ((!captureDevice_ && !paused_ && now > nextTarget) || seekDone_) {
        if (!seekDone_ && slot.target != 0) skipRatio_ *= 1.05f;
        if (pictSize_ > 1 || now > nextTarget + kDropLateness || seekDone_) {
          pictRead_ = (pictRead_ + 1) % kPictureSlots;
          --pictSize_;
          pictCond_.notify_all();
          updatePosition = false;
          continue;
        }
      }
      // While paused, the picture shown since the last open or seek stays.
      if (paused_ && shownSinceFlush_) return;
      currentPts_ = slot.pts;
      currentPtsDrift_ = slot.pts - now;
      currentPos_ = slot.pos;
      if (subtitleStream_ >= 0) {
        std::lock_guard sguard(subpictLock_);
        if (subtitleStreamChanged_) {
          while (subpictSize_ > 0) {
            Subpicture& sp = subpictures_[subpictRead_];
            ff::avsubtitle_free(sp.sub);
            delete sp.sub;
            sp.sub = nullptr;
            subpictRead_ = (subpictRead_ + 1) % kSubpictureQueueSize;
            --subpictSize_;
          }
          subtitleStreamChanged_ = false;
        } else if (subpictSize_ > 0) {
          Subpicture& sp = subpictures_[subpictRead_];
          const bool ended = slot.pts > sp.pts + sp.sub->end_display_time / 1000.0;
          const bool superseded =
              subpictSize_ > 1 && slot.pts > subpictures_[(subpictRead_ + 1) %
                                                           kSubpictureQueueSize].pts;
          if (ended || superseded) {
            ff::avsubtitle_free(sp.sub);
            delete sp.sub;
            sp.sub = nullptr;
            subpictRead_ = (subpictRead_ + 1) % kSubpictureQueueSize;
            --subpictSize_;
            subpictCond_.notify_all();
          }
        }
      }
      if (!surfaceOpen_) {
        guard.unlock();
        OpenSurface(false);
        guard.lock();
      }
      DisplayPicture(slot);
      ++owner_.picturesShown_;
      shownSinceFlush_ = true;
      if (!shown_.frame) shown_.frame = ff::av_frame_alloc();
      if (shown_.frame) {
        ff::av_frame_unref(shown_.frame);
        ff::av_frame_ref(shown_.frame, slot.frame);
        AVFrame* keep = shown_.frame;
        shown_ = slot;
        shown_.frame = keep;
      }
      pictRead_ = (pictRead_ + 1) % kPictureSlots;
      --pictSize_;
      pictCond_.notify_all();
      break;
    }
  } else if (audioStream_ >= 0) {
    Display();
  }
  if (updatePosition) owner_.UpdatePosition(*this);
}

// ---- Audio (SDL's audio thread) ----------------------------------------------------------------

int TPlayback::DecodeAudio() {
  for (;;) {
    if (paused_ || abortRequest_) return -1;
    if (!audioNeedsPacket_) {
      const int r = ff::avcodec_receive_frame(audioCtx_, audioFrame_);
      if (r == 0) {
        AVFrame* f = audioFrame_;
        uint64_t layoutMask =
            f->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? f->ch_layout.u.mask : 0;
        if (!swr_ || swrFormat_ != f->format || swrRate_ != f->sample_rate ||
            swrChannels_ != f->ch_layout.nb_channels || swrLayout_ != layoutMask) {
          if (swr_) ff::swr_free(&swr_);
          AVChannelLayout out{};
          ff::av_channel_layout_default(&out, audioChannels_);
          const int ok = ff::swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, audioRate_,
                                                 &f->ch_layout, AVSampleFormat(f->format),
                                                 f->sample_rate, 0, nullptr);
          ff::av_channel_layout_uninit(&out);
          if (ok < 0 || !swr_ || ff::swr_init(swr_) < 0) {
            if (swr_) ff::swr_free(&swr_);
            const char* from = ff::av_get_sample_fmt_name(AVSampleFormat(f->format));
            owner_.ReportPlayerError(
                media::FormatText("Cannot convert %s sample format to %s sample format",
                                  from ? from : "none", "s16"),
                false);
            ff::av_frame_unref(f);
            continue;
          }
          swrFormat_ = f->format;
          swrRate_ = f->sample_rate;
          swrChannels_ = f->ch_layout.nb_channels;
          swrLayout_ = layoutMask;
        }
        const int bytesPerSample = 2 * audioChannels_;
        const int maxOut = ff::swr_get_out_samples(swr_, f->nb_samples);
        if (maxOut * bytesPerSample > static_cast<int>(audioBuf_.size()))
          audioBuf_.resize(static_cast<size_t>(maxOut) * bytesPerSample);
        uint8_t* out[1] = {audioBuf_.data()};
        const int samples = ff::swr_convert(swr_, out, maxOut,
                                            const_cast<const uint8_t**>(f->extended_data),
                                            f->nb_samples);
        const int64_t ts = f->best_effort_timestamp;
        ff::av_frame_unref(f);
        if (samples <= 0) {
          if (samples < 0) owner_.Log(media::llInfo, "av_audio_convert() failed");
          continue;
        }
        const int bytes = samples * bytesPerSample;
        std::lock_guard guard(audioClockLock_);
        if (ts != AV_NOPTS_VALUE) audioClock_ = ts * av_q2d(audioSt_->time_base);
        audioClock_ += double(samples) / audioRate_;
        audioClockKnown_ = true;
        return bytes;
      }
      if (r != AVERROR(EAGAIN)) {
        // The decoder was drained; it takes packets again after a flush.
        ff::avcodec_flush_buffers(audioCtx_);
      }
      audioNeedsPacket_ = true;
    }
    if (audioQueue_.Get(audioPacket_, false) != TPacketQueue::Got) return -1;
    if (IsFlushPacket(audioPacket_)) {
      ff::avcodec_flush_buffers(audioCtx_);
      audioNeedsPacket_ = true;
      continue;
    }
    if (ff::avcodec_send_packet(audioCtx_, audioPacket_) < 0)
      owner_.Log(media::llInfo, "avcodec_decode_audio2() failed");
    ff::av_packet_unref(audioPacket_);
    audioNeedsPacket_ = false;
  }
}

void TPlayback::AudioCallback(uint8_t* stream, int len) {
  const double callbackStart = Now();
  std::memset(stream, 0, static_cast<size_t>(len));
  const int volume = std::clamp(owner_.AudioVolume.load(), 0, kMaxAudioVolume);
  const int bytesPerSecond = audioRate_ * 2 * audioChannels_;
  int realBytes = 0;
  while (len > 0) {
    if (audioBufIndex_ >= audioBufSize_) {
      const int size = DecodeAudio();
      if (abortRequest_) return;
      std::lock_guard guard(audioClockLock_);
      if (size < 0) {
        if (!paused_ && inputEnded_ && audioQueue_.Count() == 0) audioRanDry_ = true;
        audioBufSize_ = std::min<int>(kSilenceChunk, static_cast<int>(audioBuf_.size()));
        audioChunkSilent_ = true;
      } else {
        audioBufSize_ = size;
        audioChunkSilent_ = false;
        if (displayMode_) {
          const auto* samples = reinterpret_cast<const int16_t*>(audioBuf_.data());
          int index = sampleRingIndex_.load();
          for (int i = 0; i < size / 2; ++i) {
            sampleRing_[index] = samples[i];
            index = (index + 1) % kSampleRingSize;
          }
          sampleRingIndex_ = index;
        }
      }
      audioBufIndex_ = 0;
    }
    const int take = std::min(len, audioBufSize_ - audioBufIndex_);
    if (!audioChunkSilent_) {
      if (!owner_.Mute && volume > 0)
        ff::SDL_MixAudioFormat(stream, audioBuf_.data() + audioBufIndex_, AUDIO_S16SYS,
                               static_cast<uint32_t>(take), volume);
      realBytes += take;
    }
    len -= take;
    stream += take;
    audioBufIndex_ += take;
  }
  std::lock_guard guard(audioClockLock_);
  const int unread = audioChunkSilent_ ? 0 : audioBufSize_ - audioBufIndex_;
  const double end = audioClock_ - double(unread) / bytesPerSecond;
  callbackSpan_ = double(realBytes) / bytesPerSecond;
  callbackClock_ = end - callbackSpan_;
  callbackTime_ = callbackStart;
}

}  // namespace player
