// The video side of TPlayback: decoding, the filter chain to YUV 4:2:0, frame skipping, the
// picture queue and its display times, the hook, and the subtitle thread.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "media/ffapi.h"
#include "media/ffutils.h"
#include "media/pictureconverter.h"
#include "media/pictureshape.h"
#include "player/customplayer.h"
#include "player/playback.h"

namespace player {
namespace {

using namespace std::chrono_literals;

constexpr double kMaxFrameDelay = 10.0;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

bool TPlayback::ConfigureFilters(const AVFrame* frame) {
  if (graph_) ff::avfilter_graph_free(&graph_);
  bufferSrc_ = bufferSink_ = nullptr;
  graph_ = ff::avfilter_graph_alloc();
  if (!graph_) return false;
  graph_->scale_sws_opts = ff::av_strdup("flags=4");
  graph_->nb_threads = 1;
  const AVRational tb = videoSt_->time_base;
  AVRational sar = frame->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{0, 1};
  const std::string args = media::FormatText(
      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width,
      frame->height, frame->format, tb.num, tb.den, sar.num, sar.den ? sar.den : 1);
  if (ff::avfilter_graph_create_filter(&bufferSrc_, ff::avfilter_get_by_name("buffer"), "src",
                                       args.c_str(), nullptr, graph_) < 0)
    return false;
  if (ff::avfilter_graph_create_filter(&bufferSink_, ff::avfilter_get_by_name("buffersink"), "out",
                                       nullptr, nullptr, graph_) < 0)
    return false;
  const int formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  if (ff::av_opt_set_bin(bufferSink_, "pix_fmts", reinterpret_cast<const uint8_t*>(formats),
                         sizeof formats[0], AV_OPT_SEARCH_CHILDREN) < 0)
    return false;
  // A picture stored turned (a phone's portrait clip) is shown upright: the turn comes first, so
  // the hook, the current frame and the display rectangle all see the upright picture.
  std::vector<std::pair<const char*, const char*>> turn;
  switch (media::StreamPictureShape(videoSt_).Rotation) {
    case 90: turn = {{"transpose", "clock"}}; break;
    case 180: turn = {{"hflip", nullptr}, {"vflip", nullptr}}; break;
    case 270: turn = {{"transpose", "cclock"}}; break;
    default: break;
  }
  AVFilterContext* last = bufferSrc_;
  for (const auto& [name, filterArgs] : turn) {
    AVFilterContext* next = nullptr;
    if (ff::avfilter_graph_create_filter(&next, ff::avfilter_get_by_name(name), name, filterArgs,
                                         nullptr, graph_) < 0 ||
        ff::avfilter_link(last, 0, next, 0) < 0)
      return false;
    last = next;
  }
  if (ff::avfilter_link(last, 0, bufferSink_, 0) < 0) return false;
  if (ff::avfilter_graph_config(graph_, nullptr) < 0) return false;
  graphWidth_ = frame->width;
  graphHeight_ = frame->height;
  graphFormat_ = frame->format;
  outWidth_ = ff::av_buffersink_get_w(bufferSink_);
  outHeight_ = ff::av_buffersink_get_h(bufferSink_);
  return true;
}

void TPlayback::VideoThread() {
  AVPacket* packet = ff::av_packet_alloc();
  AVFrame* frame = ff::av_frame_alloc();
  AVFrame* filtered = ff::av_frame_alloc();
  bool draining = false;
  bool failed = !packet || !frame || !filtered;
  while (!failed && !abortRequest_) {
    while (paused_ && !abortRequest_ && !pausedWhenSeek_ && openPausedStep_ == 0)
      std::this_thread::sleep_for(10ms);
    const auto got = videoQueue_.Get(packet, true);
    if (got != TPacketQueue::Got) break;
    if (IsFlushPacket(packet)) {
      ff::avcodec_flush_buffers(videoCtx_);
      draining = false;
      std::unique_lock guard(pictLock_);
      for (PictureSlot& slot : slots_) slot.target = 0;
      pictCond_.wait(guard, [this] { return pictSize_ == 0 || abortRequest_; });
      currentPos_ = -1;
      frameLastPts_ = -1;
      frameLastDelay_ = 0;
      frameTimer_ = Now();
      skipRatio_ = 1;
      skipIndex_ = 0;
      shownSinceFlush_ = false;
      pictureAfterFlush_ = true;
      continue;
    }
    const bool endPacket = packet->data == nullptr && packet->size == 0;
    if (endPacket) {
      if (!draining) {
        draining = true;
        ff::avcodec_send_packet(videoCtx_, nullptr);
      } else {
        if (!endPosted) owner_.UpdatePosition(*this);
        continue;
      }
    } else if (ff::avcodec_send_packet(videoCtx_, packet) < 0) {
      ff::av_packet_unref(packet);
      continue;
    }
    ff::av_packet_unref(packet);
    for (;;) {
      const int r = ff::avcodec_receive_frame(videoCtx_, frame);
      if (r < 0) break;
      ++owner_.picturesDecoded_;
      // The decoder side's skipping, steered by lateness (up) and a full queue (down).
      skipIndex_ += 1;
      if (skipIndex_ < skipRatio_) {
        ff::av_frame_unref(frame);
        continue;
      }
      skipIndex_ -= std::max(skipRatio_, 1.0f);
      if (!graph_ || frame->width != graphWidth_ || frame->height != graphHeight_ ||
          frame->format != graphFormat_) {
        if (!ConfigureFilters(frame)) {
          failed = true;
          ff::av_frame_unref(frame);
          break;
        }
      }
      if (ff::av_buffersrc_add_frame_flags(bufferSrc_, frame, 0) < 0) {
        ff::av_frame_unref(frame);
        continue;
      }
      while (ff::av_buffersink_get_frame(bufferSink_, filtered) >= 0) {
        HandleDecodedFrame(filtered);
        ff::av_frame_unref(filtered);
      }
    }
    if (endPacket && !endPosted) owner_.UpdatePosition(*this);
  }
  if (packet) ff::av_packet_free(&packet);
  if (frame) ff::av_frame_free(&frame);
  if (filtered) ff::av_frame_free(&filtered);
}

void TPlayback::HandleDecodedFrame(AVFrame* frame) {
  // Pictures decoded from before a seek's flush marker are from the old position.
  if (seekRequest_ || (seekDone_ && !pictureAfterFlush_)) return;
  if (seekDone_ && pictureAfterFlush_) {
    seekDone_ = false;
    pausedWhenSeek_ = false;
  }
  const int64_t ts = frame->best_effort_timestamp;
  // An unknown time is NaN: 0 is a real time (the first picture, or a seek to the start).
  const double pts = ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(videoSt_->time_base);
  if (!QueuePicture(frame, pts, frame->pkt_pos)) return;
  owner_.frameReadyEvent_.Set();
  endPosted = false;
  if (!seekRequest_) owner_.seeking_ = false;
  int step = openPausedStep_.load();
  if (step == 1) {
    openPausedStep_ = 2;
  } else if (step == 2) {
    openPausedStep_ = 0;
    owner_.SetState(psPause);
  }
}

double TPlayback::TargetTime(double pts) {
  // Under pictLock_.
  double delay = frameLastPts_ < 0 ? 0 : pts - frameLastPts_;
  if (delay <= 0 || delay >= kMaxFrameDelay)
    delay = frameLastDelay_;
  else
    frameLastDelay_ = delay;
  frameLastPts_ = pts;
  if (audioStream_ >= 0 && audioClockKnown_ && !audioRanDry_ && !paused_) {
    // Audio is the master. The picture is compared with where the audio clock will be when the
    // picture is due (not with the clock now: the picture waits in the queue meanwhile), and
    // its delay is corrected by the difference, within 0 (late: at once) and twice the delay
    // (early: held back one more frame at most).
    const double now = std::chrono::duration<double>(
                           std::chrono::steady_clock::now().time_since_epoch()).count();
    const double audioWhenDue = MasterClock() + (frameTimer_ + delay - now);
    const double diff = pts - audioWhenDue;
    if (std::fabs(diff) < kMaxFrameDelay) delay = std::clamp(delay + diff, 0.0, 2 * delay);
  }
  frameTimer_ += delay;
  return frameTimer_;
}

bool TPlayback::QueuePicture(AVFrame* frame, double pts, int64_t pos) {
  if (!std::isnan(pts))
    videoClock_ = pts;
  else
    pts = videoClock_;
  AVRational rate = ff::av_guess_frame_rate(ic_, videoSt_, frame);
  double frameDelay = rate.num > 0 && rate.den > 0 ? double(rate.den) / rate.num : 0.04;
  frameDelay += frame->repeat_pict * (frameDelay * 0.5);
  videoClock_ += frameDelay;

  const int width = frame->width & ~1;
  const int height = frame->height & ~1;
  std::unique_lock guard(pictLock_);
  if (pictSize_ >= kPictureQueueSize && !refreshPending_)
    skipRatio_ = std::max(0.95f, skipRatio_ * 0.95f);
  pictCond_.wait(guard, [this] { return pictSize_ < kPictureQueueSize || abortRequest_; });
  if (abortRequest_) return false;
  PictureSlot& slot = slots_[pictWrite_];
  if (!slot.frame || slot.width != width || slot.height != height) {
    slot.allocated = false;
    outWidth_ = frame->width;
    outHeight_ = frame->height;
    guard.unlock();
    owner_.PushDisplayEvent({deAllocate});
    guard.lock();
    pictCond_.wait(guard, [&] { return slot.allocated || abortRequest_; });
    if (abortRequest_ || !slot.frame) return false;
  }
  slot.sar = frame->sample_aspect_ratio;
  slot.subtitled = false;
  if (!ff::av_frame_is_writable(slot.frame)) {
    // The surface still shows these pixels: the slot gets new ones.
    ff::av_frame_unref(slot.frame);
    slot.frame->format = AV_PIX_FMT_YUV420P;
    slot.frame->width = slot.width;
    slot.frame->height = slot.height;
    if (ff::av_frame_get_buffer(slot.frame, 32) < 0) return false;
  }
  guard.unlock();
  // The slot is not in the queue and not shown: only this thread touches its pixels now.
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? height : height / 2;
    const int bytes = plane == 0 ? width : width / 2;
    for (int y = 0; y < rows; ++y)
      std::memcpy(slot.frame->data[plane] + static_cast<ptrdiff_t>(y) * slot.frame->linesize[plane],
                  frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane], bytes);
  }
  Hook(slot, pts);
  guard.lock();
  slot.pts = pts;
  slot.pos = pos;
  slot.target = TargetTime(pts);
  pictWrite_ = (pictWrite_ + 1) % kPictureSlots;
  ++pictSize_;
  return true;
}

void TPlayback::AllocatePicture() {
  std::lock_guard guard(pictLock_);
  PictureSlot& slot = slots_[pictWrite_];
  if (slot.frame) ff::av_frame_free(&slot.frame);
  slot.width = outWidth_ & ~1;
  slot.height = outHeight_ & ~1;
  AVFrame* frame = ff::av_frame_alloc();
  if (frame) {
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = slot.width;
    frame->height = slot.height;
    if (slot.width <= 0 || slot.height <= 0 || ff::av_frame_get_buffer(frame, 32) < 0)
      ff::av_frame_free(&frame);
  }
  slot.frame = frame;
  slot.allocated = true;
  pictCond_.notify_all();
}

void TPlayback::Hook(PictureSlot& slot, double pts) {
  if (!owner_.Hook || !owner_.OnHook) return;
  media::TPictureConverter& converter = owner_.hookConverter_;
  if (!media::PictureToBitmap(converter, slot.frame->data, slot.frame->linesize,
                              AV_PIX_FMT_YUV420P, slot.height, slot.width)) {
    owner_.Log(media::llError, "Cannot initialize the toRGB conversion context");
    return;
  }
  media::TBitmap& bitmap = *converter.Bitmap();
  const int64_t time = std::llround(pts * 1e6) - startTime_;
  bool handled = true;
  bitmap.Lock();
  try {
    owner_.OnHook(&owner_, bitmap, time);
  } catch (const std::exception& e) {
    owner_.Log(media::llError, std::string("Error occurs OnHook: ") + e.what());
    handled = false;
  } catch (...) {
    owner_.Log(media::llError, "Error occurs OnHook: unknown error");
    handled = false;
  }
  bitmap.Unlock();
  if (!handled) return;
  if (!media::BitmapToPicture(converter, slot.frame->data, slot.frame->linesize,
                              AV_PIX_FMT_YUV420P, slot.height, slot.width))
    owner_.Log(media::llError, "Cannot initialize the fromRGB conversion context");
}

void TPlayback::SubtitleThread() {
  AVPacket* packet = ff::av_packet_alloc();
  while (packet && !abortRequest_) {
    while (paused_ && !abortRequest_ && !pausedWhenSeek_) std::this_thread::sleep_for(10ms);
    if (subtitleQueue_.Get(packet, true) != TPacketQueue::Got) break;
    if (IsFlushPacket(packet)) {
      ff::avcodec_flush_buffers(subtitleCtx_);
      continue;
    }
    {
      std::unique_lock guard(subpictLock_);
      subpictCond_.wait(guard, [this] {
        return subpictSize_ < kSubpictureQueueSize || abortRequest_ || subtitleStreamChanged_;
      });
    }
    if (abortRequest_) break;
    auto* sub = new AVSubtitle{};
    int got = 0;
    const int r = ff::avcodec_decode_subtitle2(subtitleCtx_, sub, &got, packet);
    const double pts =
        packet->pts != AV_NOPTS_VALUE ? packet->pts * av_q2d(subtitleSt_->time_base) : 0;
    ff::av_packet_unref(packet);
    if (r < 0 || !got) {
      delete sub;
      continue;
    }
    if (sub->format != 0) {  // only bitmap subtitles are drawn
      ff::avsubtitle_free(sub);
      delete sub;
      continue;
    }
    std::lock_guard guard(subpictLock_);
    Subpicture& sp = subpictures_[subpictWrite_];
    sp.pts = pts;
    sp.sub = sub;
    subpictWrite_ = (subpictWrite_ + 1) % kSubpictureQueueSize;
    ++subpictSize_;
  }
  if (packet) ff::av_packet_free(&packet);
}

void TPlayback::BlendSubtitles(PictureSlot& slot) {
  std::lock_guard guard(subpictLock_);
  if (subpictSize_ == 0 || slot.subtitled) return;
  const Subpicture& sp = subpictures_[subpictRead_];
  if (sp.pts + sp.sub->start_display_time / 1000.0 > slot.pts) return;
  slot.subtitled = true;
  AVFrame* f = slot.frame;
  for (unsigned i = 0; i < sp.sub->num_rects; ++i) {
    const AVSubtitleRect* rect = sp.sub->rects[i];
    if (rect->type != SUBTITLE_BITMAP || !rect->data[0] || !rect->data[1]) continue;
    const uint32_t* palette = reinterpret_cast<const uint32_t*>(rect->data[1]);
    for (int y = 0; y < rect->h; ++y) {
      const int py = rect->y + y;
      if (py < 0 || py >= slot.height) continue;
      for (int x = 0; x < rect->w; ++x) {
        const int px = rect->x + x;
        if (px < 0 || px >= slot.width) continue;
        const uint32_t argb = palette[rect->data[0][y * rect->linesize[0] + x]];
        const int a = argb >> 24, r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
        if (a == 0) continue;
        // CCIR 601 colour conversion.
        const int yy = ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
        const int u = ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
        const int v = ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
        uint8_t* lp = f->data[0] + py * f->linesize[0] + px;
        *lp = static_cast<uint8_t>((*lp * (255 - a) + yy * a) / 255);
        if (!(px & 1) && !(py & 1)) {
          uint8_t* up = f->data[1] + (py / 2) * f->linesize[1] + px / 2;
          uint8_t* vp = f->data[2] + (py / 2) * f->linesize[2] + px / 2;
          *up = static_cast<uint8_t>((*up * (255 - a) + u * a) / 255);
          *vp = static_cast<uint8_t>((*vp * (255 - a) + v * a) / 255);
        }
      }
    }
  }
}

}  // namespace player
