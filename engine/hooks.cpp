// Frame hooks of a run: pre-processing of every decoded picture (deinterlacing, the custom hook
// that hands the picture to the component as a bitmap, the frame hook plug-ins) and the post hook
// that shows encoded pictures (preview bitmaps and the previewer window), rate-limited.
#include <exception>

#include "engine/framehooks.h"
#include "engine/transcoder.h"
#include "media/ffutils.h"
#include "media/previewer.h"
#include "platform/mainthread.h"

namespace engine {

namespace {

const uint8_t* const* ConstPlanes(const AVFrame* frame) { return frame->data; }

}  // namespace

void TTranscoder::PreProcessFrame(TInputStream& ist) {
  ++frameCounter_;
  const bool hook = static_cast<bool>(task_.HookCallback);
  const bool plugins = s_.usingVhook && !task_.frameHooks_.Empty();
  if (!s_.doDeinterlace && !hook && !plugins) return;
  if (s_.doDeinterlace && !Deinterlace(ist)) task_.Log(media::llError, "Deinterlacing failed.");
  // The decoder may still use the picture's memory: the hooks work on a picture of the run's own
  // (a deinterlaced one already is, and then nothing is copied).
  if (ff::av_frame_make_writable(ist.frame) < 0) {
    task_.Log(media::llError, "hook buf malloc error.");
    return;
  }
  AVFrame* frame = ist.frame;
  if (hook) {
    CustomHook(ist);
  } else if (plugins) {
    VCFrameHookPicture picture{};
    for (int i = 0; i < 4; ++i) {
      picture.data[i] = frame->data[i];
      picture.linesize[i] = frame->linesize[i];
    }
    task_.frameHooks_.Process(picture, frame->format, frame->width, frame->height, ist.pts);
  }
}

// The picture through a one-filter graph of the media library's deinterlacer (made anew when the
// picture's size or format changes). False leaves the picture as it was.
bool TTranscoder::Deinterlace(TInputStream& ist) {
  AVFrame* frame = ist.frame;
  if (ist.deinterlacer && (ist.deinterlaceWidth != frame->width ||
                           ist.deinterlaceHeight != frame->height ||
                           ist.deinterlaceFormat != frame->format))
    ff::avfilter_graph_free(&ist.deinterlacer);
  if (!ist.deinterlacer) {
    AVFilterGraph* graph = ff::avfilter_graph_alloc();
    AVFilterContext* source = nullptr;
    AVFilterContext* filter = nullptr;
    AVFilterContext* sink = nullptr;
    const std::string args =
        media::FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=1/1",
                          frame->width, frame->height, frame->format, AV_TIME_BASE);
    if (!graph ||
        ff::avfilter_graph_create_filter(&source, ff::avfilter_get_by_name("buffer"), "src",
                                         args.c_str(), nullptr, graph) < 0 ||
        ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name("pp"), "deinterlace",
                                         "fd", nullptr, graph) < 0 ||
        ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                         nullptr, nullptr, graph) < 0 ||
        ff::avfilter_link(source, 0, filter, 0) < 0 || ff::avfilter_link(filter, 0, sink, 0) < 0 ||
        ff::avfilter_graph_config(graph, nullptr) < 0) {
      ff::avfilter_graph_free(&graph);
      return false;
    }
    ist.deinterlacer = graph;
    ist.deinterlaceSource = source;
    ist.deinterlaceSink = sink;
    ist.deinterlaceWidth = frame->width;
    ist.deinterlaceHeight = frame->height;
    ist.deinterlaceFormat = frame->format;
  }
  if (!ist.deinterlaced) ist.deinterlaced = ff::av_frame_alloc();
  if (!ist.deinterlaced ||
      ff::av_buffersrc_add_frame_flags(ist.deinterlaceSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
      ff::av_buffersink_get_frame(ist.deinterlaceSink, ist.deinterlaced) < 0)
    return false;
  // The deinterlaced picture takes the decoded one's place; its own times and flags stay.
  const int64_t pts = frame->pts, bestEffort = frame->best_effort_timestamp;
  const int64_t duration = frame->pkt_duration;
  const int quality = frame->quality;
  ff::av_frame_unref(frame);
  ff::av_frame_move_ref(frame, ist.deinterlaced);
  frame->pts = pts;
  frame->best_effort_timestamp = bestEffort;
  frame->pkt_duration = duration;
  frame->quality = quality;
  frame->interlaced_frame = 0;
  return true;
}

void TTranscoder::CustomHook(TInputStream& ist) {
  AVFrame* frame = ist.frame;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (!media::PictureToBitmap(hookConverter_, ConstPlanes(frame), frame->linesize, format,
                              frame->height, frame->width)) {
    task_.Log(media::llError, "Cannot initialize the toRGB conversion context");
    SwitchHookOff();
    return;
  }
  bool update = true, stopHook = false;
  try {
    task_.HookCallback(&task_, *hookConverter_.Bitmap(), frameCounter_, ist.pts, update, stopHook);
  } catch (const std::exception& e) {
    task_.Log(media::llError, std::string("Error occurs OnCustomHook: ") + e.what());
    update = false;
  } catch (...) {
    task_.Log(media::llError, "Error occurs OnCustomHook: unknown error");
    update = false;
  }
  if (update && !media::BitmapToPicture(hookConverter_, frame->data, frame->linesize, format,
                                        frame->height, frame->width)) {
    task_.Log(media::llError, "Cannot initialize the fromRGB conversion context");
    SwitchHookOff();
  }
  if (stopHook) SwitchHookOff();
}

// For the rest of the task: no custom hook and no frame hook plug-ins.
void TTranscoder::SwitchHookOff() {
  task_.HookCallback = nullptr;
  s_.usingVhook = false;
}

// At most once per preview interval: the encoder's picture as a preview bitmap through the
// preview callback, or else in the previewer window. The flags are read and cleared under the
// preview lock; the picture is delivered outside it, so that a handler on the user-interface
// thread may change the flags while the worker waits for it.
void TTranscoder::PostHook(const AVFrame* picture, int64_t timeUs) {
  if (task_.PreviewFlags() == 0) return;
  int flags;
  {
    std::lock_guard lock(TCustomFFmpeg::PreviewGlobalLock());
    flags = task_.previewFlags_;
  }
  const bool bitmap = (flags & TCustomFFmpeg::pfPreviewBitmap) && task_.PreviewCallback;
  const bool window = !bitmap && (flags & TCustomFFmpeg::pfPreview);
  if (!bitmap && !window) return;
  const int64_t now = RunClock();
  if (now - lastPostHook_ <= task_.PreviewInterval()) return;
  lastPostHook_ = now;

  int switchOff = 0;
  if (!media::PictureToBitmap(postConverter_, ConstPlanes(picture), picture->linesize,
                              static_cast<AVPixelFormat>(picture->format), picture->height,
                              picture->width)) {
    task_.Log(media::llError, "Cannot initialize the toRGB conversion context");
    switchOff = bitmap ? TCustomFFmpeg::pfPreviewBitmap : TCustomFFmpeg::pfPreview;
  } else if (bitmap) {
    task_.PreviewCallback(&task_, *postConverter_.Bitmap(), timeUs, frameCounter_);
  } else {
    bool shown = false;
    platform::MainThreadCall([&] {
      if (!previewer_) previewer_ = media::CreatePreviewer();
      shown = previewer_ && previewer_->ShowPreviewFrame(*postConverter_.Bitmap(), frameCounter_, timeUs);
    });
    if (!shown) switchOff = TCustomFFmpeg::pfPreview;  // closed, or no window to show it in
  }
  if (switchOff) {
    if (switchOff == TCustomFFmpeg::pfPreview) ClosePreviewer();
    std::lock_guard lock(TCustomFFmpeg::PreviewGlobalLock());
    task_.previewFlags_ &= ~switchOff;
  }
}

void TTranscoder::ClosePreviewer() {
  if (previewer_) platform::MainThreadCall([this] { previewer_.reset(); });
}

}  // namespace engine
