// Frame hooks of a run: pre-processing of every decoded picture (deinterlacing, the turn upright
// of a rotated source, the custom hook that hands the picture to the component as a bitmap, the
// frame hook plug-ins) and the post hook that shows encoded pictures (preview bitmaps and the
// previewer window), rate-limited.
#include <exception>
#include <string>
#include <utility>
#include <vector>

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
  if (s_.doDeinterlace && !Deinterlace(ist)) task_.Log(media::llError, "Deinterlacing failed.");
  if (ist.shape.Rotation != 0) TurnUpright(ist);
  const bool hook = static_cast<bool>(task_.HookCallback);
  const bool plugins = s_.usingVhook && !task_.frameHooks_.Empty();
  if (!hook && !plugins) return;
  if (hook) {
    CustomHook(ist);  // makes the picture its own as it needs
    return;
  }
  // The decoder may still use the picture's memory: the plug-ins work on a picture of the run's
  // own (a deinterlaced or turned one already is, and then nothing is copied).
  if (ff::av_frame_make_writable(ist.frame) < 0) {
    task_.Log(media::llError, "hook buf malloc error.");
    return;
  }
  AVFrame* frame = ist.frame;
  VCFrameHookPicture picture{};
  for (int i = 0; i < 4; ++i) {
    picture.data[i] = frame->data[i];
    picture.linesize[i] = frame->linesize[i];
  }
  task_.frameHooks_.Process(picture, frame->format, frame->width, frame->height, ist.pts);
}

// The media library's deinterlacer; false leaves the picture as it was.
bool TTranscoder::Deinterlace(TInputStream& ist) {
  if (!FilterInPlace(ist.deinterlacer, ist.frame, {{"pp", "fd"}})) return false;
  ist.frame->interlaced_frame = 0;
  return true;
}

void TTranscoder::TurnUpright(TInputStream& ist) {
  bool turned = false;
  switch (ist.shape.Rotation) {
    case 90: turned = FilterInPlace(ist.turner, ist.frame, {{"transpose", "clock"}}); break;
    case 180: turned = FilterInPlace(ist.turner, ist.frame, {{"hflip", ""}, {"vflip", ""}}); break;
    case 270: turned = FilterInPlace(ist.turner, ist.frame, {{"transpose", "cclock"}}); break;
    default: return;
  }
  if (!turned) throw FFmpegException("Cannot turn the picture upright");
  // A display matrix the picture came with is done with.
  ff::av_frame_remove_side_data(ist.frame, AV_FRAME_DATA_DISPLAYMATRIX);
}

void TTranscoder::FreePictureFilter(TPictureFilter& filter) {
  ff::avfilter_graph_free(&filter.graph);
  ff::av_frame_free(&filter.result);
  filter = TPictureFilter{};
}

bool TTranscoder::FilterInPlace(TPictureFilter& filter, AVFrame* frame,
                                std::initializer_list<TFilterStep> chain) {
  if (filter.graph && (filter.width != frame->width || filter.height != frame->height ||
                       filter.format != frame->format))
    ff::avfilter_graph_free(&filter.graph);
  if (!filter.graph) {
    AVFilterGraph* graph = ff::avfilter_graph_alloc();
    if (!graph) return false;
    const auto fail = [&graph] {
      ff::avfilter_graph_free(&graph);
      return false;
    };
    const AVRational sar = frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0
                               ? frame->sample_aspect_ratio
                               : AVRational{1, 1};
    const std::string args = media::FormatText(
        "video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", frame->width,
        frame->height, frame->format, AV_TIME_BASE, sar.num, sar.den);
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    if (ff::avfilter_graph_create_filter(&source, ff::avfilter_get_by_name("buffer"), "src",
                                         args.c_str(), nullptr, graph) < 0)
      return fail();
    AVFilterContext* last = source;
    // The picture leaves in the format it came in, whatever the filters take.
    const char* formatName = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
    const std::string pixFmts = std::string("pix_fmts=") + (formatName ? formatName : "");
    std::vector<TFilterStep> steps(chain);
    steps.push_back({"format", pixFmts.c_str()});
    for (const TFilterStep& step : steps) {
      AVFilterContext* next = nullptr;
      if (ff::avfilter_graph_create_filter(&next, ff::avfilter_get_by_name(step.name), step.name,
                                           *step.args ? step.args : nullptr, nullptr, graph) < 0 ||
          ff::avfilter_link(last, 0, next, 0) < 0)
        return fail();
      last = next;
    }
    if (ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                         nullptr, nullptr, graph) < 0 ||
        ff::avfilter_link(last, 0, sink, 0) < 0 || ff::avfilter_graph_config(graph, nullptr) < 0)
      return fail();
    filter.graph = graph;
    filter.source = source;
    filter.sink = sink;
    filter.width = frame->width;
    filter.height = frame->height;
    filter.format = frame->format;
  }
  if (!filter.result) filter.result = ff::av_frame_alloc();
  if (!filter.result ||
      ff::av_buffersrc_add_frame_flags(filter.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
      ff::av_buffersink_get_frame(filter.sink, filter.result) < 0)
    return false;
  // The filtered picture takes the decoded one's place; its own times and quality stay.
  const int64_t pts = frame->pts, bestEffort = frame->best_effort_timestamp;
  const int64_t duration = frame->pkt_duration;
  const int quality = frame->quality;
  ff::av_frame_unref(frame);
  ff::av_frame_move_ref(frame, filter.result);
  frame->pts = pts;
  frame->best_effort_timestamp = bestEffort;
  frame->pkt_duration = duration;
  frame->quality = quality;
  return true;
}

const media::TPictureArea* TTranscoder::HookArea(int width, int height) {
  if (width != hookAreaWidth_ || height != hookAreaHeight_) {
    hookAreaWidth_ = width;
    hookAreaHeight_ = height;
    media::TPictureArea area;
    hookRows_ = {};
    if (task_.HookAreaCallback && task_.HookAreaCallback(&task_, width, height, area, hookRows_))
      hookArea_ = area;
    else
      hookArea_.reset();
  }
  return hookArea_ ? &*hookArea_ : nullptr;
}

AVFrame* TTranscoder::HookPicture(const AVFrame* like) {
  if (!hookPicture_ && !(hookPicture_ = ff::av_frame_alloc())) return nullptr;
  if (!hookSwap_ && !(hookSwap_ = ff::av_frame_alloc())) return nullptr;
  AVFrame* picture = hookPicture_;
  if (picture->buf[0] && !(picture->format == like->format && picture->width == like->width &&
                           picture->height == like->height && ff::av_frame_is_writable(picture)))
    ff::av_frame_unref(picture);
  if (!picture->buf[0]) {
    picture->format = like->format;
    picture->width = like->width;
    picture->height = like->height;
    if (ff::av_frame_get_buffer(picture, 0) < 0) {
      ff::av_frame_unref(picture);
      return nullptr;
    }
  }
  return picture;
}

void TTranscoder::CustomHook(TInputStream& ist) {
  AVFrame* frame = ist.frame;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  // A hook that reaches only a part of the frame (a watermark) has only that part converted.
  const media::TPictureArea* area = HookArea(frame->width, frame->height);
  // The bitmap is written back into a picture of the run's own, which then takes the place of the
  // frame's, when it covers the whole picture and either the decoder may still use the frame's
  // memory (no copy of the picture is made) or rows are written back as soon as the rows pass has
  // run on them (the frame stays as it was should the hook decline the update); a part is written
  // into such a picture when the decoder still holds the frame. Otherwise the frame is written in
  // place: it is the run's own already (a deinterlaced or turned one).
  const bool early = hookRows_.AfterPass.has_value();
  const bool writable = ff::av_frame_is_writable(frame);
  const bool whole = media::BitmapWritesWholePicture(format, frame->height, frame->width, area);
  AVFrame* target = frame;
  if (frame->nb_extended_buf == 0 && (!writable || (early && whole))) {
    // The run's own picture, the same memory frame after frame; a part written over it needs the
    // rest of the picture copied first.
    AVFrame* own = HookPicture(frame);
    if (own && (whole || ff::av_frame_copy(own, frame) >= 0)) target = own;
  }
  if (target == frame && !writable && ff::av_frame_make_writable(frame) < 0) {
    task_.Log(media::llError, "hook buf malloc error.");
    return;
  }
  media::TEarlyWriteBack rowsBack;
  if (early && target != frame) {
    rowsBack.data = target->data;
    rowsBack.linesize = target->linesize;
    rowsBack.keepFirst = hookRows_.AfterPass->y;
    rowsBack.keepEnd = hookRows_.AfterPass->y + hookRows_.AfterPass->height;
  }
  if (!media::PictureToBitmap(hookConverter_, ConstPlanes(frame), frame->linesize, format,
                              frame->height, frame->width, area, &hookRows_.Pass,
                              rowsBack.data ? &rowsBack : nullptr)) {
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
  // Rows written early leave only the kept rows, across the whole width.
  const media::TPictureArea keptRows{0, rowsBack.keepFirst, frame->width,
                                     rowsBack.keepEnd - rowsBack.keepFirst};
  const media::TPictureArea* rest = rowsBack.Written ? &keptRows : area;
  if (update && !media::BitmapToPicture(hookConverter_, target->data, target->linesize, format,
                                        frame->height, frame->width, rest)) {
    task_.Log(media::llError, "Cannot initialize the fromRGB conversion context");
    SwitchHookOff();
  } else if (update && target != frame) {
    // The frame keeps its times and properties and takes a reference to the written buffers in
    // place of its own, which are released.
    if (ff::av_frame_ref(hookSwap_, target) < 0) {
      task_.Log(media::llError, "hook buf malloc error.");
    } else {
      for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
        std::swap(frame->buf[i], hookSwap_->buf[i]);
        std::swap(frame->data[i], hookSwap_->data[i]);
        std::swap(frame->linesize[i], hookSwap_->linesize[i]);
      }
      ff::av_frame_unref(hookSwap_);
    }
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
