// Run set-up and teardown: the stream tables, stream maps, copy and encode set-up (scaler, crop,
// filter graph, two-pass log), opening the encoders and decoders, metadata maps, chapters, output
// headers and the stream mapping printout; closing it all again.
#include <climits>
#include <cmath>
#include <cstring>

#include "engine/transcoder.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "media/ffutils.h"

namespace engine {

namespace {

std::string TypeName(const AVStream* st) { return media::MediaTypeName(st->codecpar->codec_type); }

template <typename T>
T* CopyArray(const T* source, size_t count) {
  if (!source || count == 0) return nullptr;
  auto* copy = static_cast<T*>(ff::av_malloc(sizeof(T) * count));
  if (copy) std::memcpy(copy, source, sizeof(T) * count);
  return copy;
}

}  // namespace

int64_t RunClock() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TTranscoder::TTranscoder(TCustomFFmpeg& task) : task_(task), s_(*task.state_) {}

TTranscoder::~TTranscoder() {
  // Encoders first, then decoders, each closed under the codec lock.
  for (TOutputStreamRun& ost : ostreams_) {
    if (!ost.enc) continue;
    std::lock_guard lock(media::CodecLock());
    ff::av_freep(&ost.enc->stats_in);
    ff::avcodec_free_context(&ost.enc);
  }
  for (TInputStream& ist : istreams_) {
    if (!ist.dec) continue;
    std::lock_guard lock(media::CodecLock());
    ff::avcodec_free_context(&ist.dec);
  }
  for (TOutputStreamRun& ost : ostreams_) {
    if (ost.logFile) std::fclose(ost.logFile);
    ff::sws_freeContext(ost.sws);
    for (AVFrame** frame : {&ost.scaled, &ost.cropped, &ost.filtered, &ost.converted,
                            &ost.encFrame})
      ff::av_frame_free(frame);
    ff::avfilter_graph_free(&ost.graph);
    ff::swr_free(&ost.swr);
    if (ost.fifo) ff::av_audio_fifo_free(ost.fifo);
    for (AVBSFContext*& bsf : ost.bsfs) ff::av_bsf_free(&bsf);
    for (AVPacket*& pkt : ost.bsfInputs) ff::av_packet_free(&pkt);
  }
  for (TInputStream& ist : istreams_) {
    ff::av_frame_free(&ist.frame);
    FreePictureFilter(ist.deinterlacer);
    FreePictureFilter(ist.turner);
    ff::swr_free(&ist.toS16);
    ff::av_freep(&ist.s16);
    ff::av_channel_layout_uninit(&ist.s16Layout);
  }
  ff::av_frame_free(&hookPicture_);
  ff::av_frame_free(&hookSwap_);
  ff::av_packet_free(&pkt_);
  ff::av_packet_free(&outPkt_);
  ff::av_freep(&subtitleBuffer_);
  if (vstats_) std::fclose(vstats_);
  ClosePreviewer();
}

void TTranscoder::SetUp() {
  pkt_ = ff::av_packet_alloc();
  outPkt_ = ff::av_packet_alloc();
  if (!pkt_ || !outPkt_) throw FFmpegException("av_mallocz fail");
  BuildInputStreams();
  CheckOutputs();
  MapStreams();
  // Packets of streams no output takes are not even read.
  for (TInputStream& ist : istreams_)
    if (ist.unused) ist.st->discard = AVDISCARD_ALL;
  for (TOutputStreamRun& ost : ostreams_) {
    TInputStream& ist = istreams_[ost.source];
    ff::av_dict_copy(&ost.st->metadata, ist.st->metadata, AV_DICT_DONT_OVERWRITE);
    ost.st->disposition = ist.st->disposition;
    if (ost.def->copy) {
      SetUpStreamCopy(ost, ist);
    } else {
      if (ost.def->enc) {
        ost.def->enc->bits_per_raw_sample = ist.st->codecpar->bits_per_raw_sample;
        ost.def->enc->chroma_sample_location = ist.st->codecpar->chroma_location;
      }
      SetUpEncoding(ost, ist);
      // The source's encoder name does not describe the new stream, nor does a rotation tag the
      // upright picture (muxers would write it as a display rotation).
      ff::av_dict_set(&ost.st->metadata, "encoder", nullptr, 0);
      ff::av_dict_set(&ost.st->metadata, "rotate", nullptr, 0);
    }
  }
  // Decoders first: a subtitle encoder starts from its decoder's header.
  OpenDecoders();
  OpenEncoders();
  for (TInputStream& ist : istreams_) {
    const AVRational rate = ist.st->avg_frame_rate;
    const int delay = ist.dec ? ist.dec->has_b_frames : ist.st->codecpar->video_delay;
    ist.pts = rate.num && rate.den
                  ? -static_cast<int64_t>(delay * 1000000.0 / av_q2d(rate))
                  : 0;
    ist.nextPts = AV_NOPTS_VALUE;
    ist.isStart = true;
  }
  for (TOutputStreamRun& ost : ostreams_) SetUpBitstreamFilters(ost);
  MapMetadata();
  CopyChapters();
  WriteHeaders();
  PrintMapping();
}

void TTranscoder::BuildInputStreams() {
  const int64_t now = RunClock();
  for (int f = 0; f < task_.InputCount(); ++f) {
    AVFormatContext* ic = task_.Input(f);
    files_.push_back({static_cast<int>(istreams_.size()), static_cast<int>(ic->nb_streams)});
    for (unsigned k = 0; k < ic->nb_streams; ++k) {
      TInputStream& ist = istreams_.emplace_back();
      ist.file = f;
      ist.index = static_cast<int>(k);
      ist.st = ic->streams[k];
      if (ist.st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        ist.shape = media::StreamPictureShape(ist.st);
      if (s_.rateEmu) ist.readStart = now;
    }
  }
}

void TTranscoder::CheckOutputs() {
  size_t total = 0;
  for (int i = 0; i < task_.OutputCount(); ++i) {
    AVFormatContext* oc = task_.Output(i);
    if (oc->nb_streams == 0) {
      ff::av_dump_format(oc, i, oc->url, 1);
      throw FFmpegException(media::FormatText("Output file #%d does not contain any stream", i));
    }
    total += oc->nb_streams;
  }
  if (s_.streamMaps.empty()) return;
  if (s_.streamMaps.size() != total)
    throw FFmpegException("Number of stream maps must match number of output streams");
  const auto exists = [this](int file, int stream) {
    return file >= 0 && file < task_.InputCount() && stream >= 0 &&
           stream < static_cast<int>(task_.Input(file)->nb_streams);
  };
  for (const TStreamMap& map : s_.streamMaps) {
    if (!exists(map.file, map.stream))
      throw FFmpegException(
          media::FormatText("Could not find input stream #%d.%d", map.file, map.stream));
    if (!exists(map.syncFile, map.syncStream))
      throw FFmpegException(
          media::FormatText("Could not find sync stream #%d.%d", map.syncFile, map.syncStream));
  }
}

// The unused input stream of the type that the demuxer ranks best (the first of its file that is
// usable when the best one is taken), searching the inputs in order; in join mode only the input
// of the slot. When every stream of the type is taken, the last one that is not discarded.
int TTranscoder::FindSource(int slot, int mediaType) const {
  const auto usable = [&](int i) {
    const TInputStream& ist = istreams_[i];
    return ist.st->codecpar->codec_type == mediaType && ist.st->discard != AVDISCARD_ALL;
  };
  for (size_t f = 0; f < files_.size(); ++f) {
    if (task_.joining_ && static_cast<int>(f) != slot) continue;
    const int best = ff::av_find_best_stream(task_.Input(static_cast<int>(f)),
                                             static_cast<AVMediaType>(mediaType), -1, -1,
                                             nullptr, 0);
    if (best >= 0) {
      const int i = files_[f].first + best;
      if (usable(i) && istreams_[i].unused) return i;
    }
    for (int i = files_[f].first; i < files_[f].first + files_[f].count; ++i)
      if (usable(i) && istreams_[i].unused) return i;
  }
  if (task_.joining_) return -1;
  int last = -1;
  for (int i = 0; i < static_cast<int>(istreams_.size()); ++i)
    if (usable(i)) last = i;
  return last;
}

void TTranscoder::MapStreams() {
  size_t mapIndex = 0;
  for (int slot = 0; slot < task_.OutputCount(); ++slot) {
    TCustomFFmpeg::TOutputFile& output = *task_.outputSlots_[slot];
    for (size_t j = 0; j < output.streams.size(); ++j) {
      TOutputStreamRun& ost = ostreams_.emplace_back();
      ost.file = slot;
      ost.index = static_cast<int>(j);
      ost.def = &output.streams[j];
      ost.st = ost.def->st;
      ost.codec = ost.def->codec;
      ost.encoderOwner = task_.joining_ && slot > 0 ? static_cast<int>(j)
                                                    : static_cast<int>(ostreams_.size() - 1);
      const int type = ost.st->codecpar->codec_type;
      if (!s_.streamMaps.empty()) {
        const TStreamMap& map = s_.streamMaps[mapIndex++];
        ost.source = files_[map.file].first + map.stream;
        ost.sync = files_[map.syncFile].first + map.syncStream;
        const AVStream* in = istreams_[ost.source].st;
        if (in->codecpar->codec_type != type) {
          ff::av_dump_format(output.ctx, slot, output.ctx->url, 1);
          throw FFmpegException(media::FormatText(
              "Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.file, map.stream,
              TypeName(in).c_str(), slot, ost.index, TypeName(ost.st).c_str()));
        }
      } else {
        ost.source = ost.sync = FindSource(slot, type);
        if (ost.source < 0) {
          ff::av_dump_format(output.ctx, slot, output.ctx->url, 1);
          throw FFmpegException(
              media::FormatText("Could not find input stream matching output stream #%d.%d (%s)",
                                slot, ost.index, TypeName(ost.st).c_str()));
        }
      }
      istreams_[ost.source].unused = false;
    }
  }
}

void TTranscoder::SetUpStreamCopy(TOutputStreamRun& ost, TInputStream& ist) {
  const AVCodecParameters* in = ist.st->codecpar;
  AVCodecParameters* out = ost.st->codecpar;
  if (static_cast<int64_t>(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");
  switch (in->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (task_.HookCallback)
        throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
      if (s_.usingVhook)
        throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      if (task_.PreviewFlags() != 0)
        throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (s_.audioVolume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  const uint32_t requestedTag = out->codec_tag;
  const AVRational sar = ost.st->sample_aspect_ratio;
  if (ff::avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");
  // The input's tag stays when the muxer knows no tags, maps it to the same codec, or has no tag
  // of its own for the codec.
  const AVCodecTag* const* tags = task_.Output(ost.file)->oformat->codec_tag;
  if (requestedTag) {
    out->codec_tag = requestedTag;
  } else if (tags && ff::av_codec_get_id(tags, in->codec_tag) != in->codec_id &&
             ff::av_codec_get_tag(tags, in->codec_id)) {
    out->codec_tag = 0;
  }
  if (in->codec_type == AVMEDIA_TYPE_VIDEO) {
    // A copied picture is never turned: the sample aspect made for the upright picture goes back
    // to the stored one, and the display rotation goes with the picture, so that it is seen as
    // the source is.
    if (sar.num)
      out->sample_aspect_ratio = ist.shape.SidesSwapped() ? AVRational{sar.den, sar.num} : sar;
    ost.st->sample_aspect_ratio = out->sample_aspect_ratio;
    size_t size = 0;
    if (const uint8_t* matrix =
            ff::av_stream_get_side_data(ist.st, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
      uint8_t* copy = ff::av_stream_new_side_data(ost.st, AV_PKT_DATA_DISPLAYMATRIX, size);
      if (!copy) throw FFmpegException("av_mallocz fail");
      std::memcpy(copy, matrix, size);
    }
  }
  if (in->codec_type == AVMEDIA_TYPE_AUDIO &&
      ((in->codec_id == AV_CODEC_ID_MP3 && in->block_align == 1) ||
       in->codec_id == AV_CODEC_ID_AC3))
    out->block_align = 0;
  ost.st->time_base = ist.st->time_base;
}

void TTranscoder::SetUpEncoding(TOutputStreamRun& ost, TInputStream& ist) {
  const AVCodecParameters* in = ist.st->codecpar;
  AVCodecContext* enc = ost.def->enc;
  switch (ost.st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      ost.audioResample = in->sample_rate != enc->sample_rate || s_.audioSyncMethod > 1;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    case AVMEDIA_TYPE_VIDEO: {
      if (in->format < 0) throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
      ost.topBand = s_.frameTopBand;
      ost.bottomBand = s_.frameBottomBand;
      ost.leftBand = s_.frameLeftBand;
      ost.rightBand = s_.frameRightBand;
      ost.cropping = ost.topBand || ost.bottomBand || ost.leftBand || ost.rightBand;
      // The pictures arrive turned upright (PreProcessFrame).
      const int inWidth = ist.shape.UprightWidth(), inHeight = ist.shape.UprightHeight();
      ost.resampleWidth = inWidth - ost.leftBand - ost.rightBand;
      ost.resampleHeight = inHeight - ost.topBand - ost.bottomBand;
      ost.resamplePixFmt = in->format;
      ost.rescaling = ost.resampleWidth != enc->width || ost.resampleHeight != enc->height ||
                      ost.resamplePixFmt != enc->pix_fmt;
      const bool filters = !task_.outputSlots_[ost.file]->videoFilters.empty();
      if (!filters) {
        ost.initialWidth = inWidth;
        ost.initialHeight = inHeight;
        ost.initialBands[0] = ost.topBand;
        ost.initialBands[1] = ost.bottomBand;
        ost.initialBands[2] = ost.leftBand;
        ost.initialBands[3] = ost.rightBand;
        if (ost.rescaling) {  // the picture it scales into comes with the first frame
          ost.sws = ff::sws_getContext(ost.resampleWidth, ost.resampleHeight,
                                       static_cast<AVPixelFormat>(in->format), enc->width,
                                       enc->height, enc->pix_fmt,
                                       task_.genericOptions_->ScalerFlags(), nullptr, nullptr,
                                       nullptr);
          if (!ost.sws) throw FFmpegException("Cannot get resampling context");
        }
      } else {
        BuildFilterGraph(ost, ist);
      }
      break;
    }
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  ost.encodingNeeded = true;
  ist.decodingNeeded = true;
}

void TTranscoder::BuildFilterGraph(TOutputStreamRun& ost, TInputStream& ist) {
  const AVCodecParameters* in = ist.st->codecpar;
  AVCodecContext* enc = ost.def->enc;
  std::string detail;
  const auto check = [&](int ret, const char* what) {
    if (ret >= 0) return;
    detail = media::TakeLibraryError();
    if (detail.empty()) detail = media::AVErrorToStr(what, ret);
    throw FFmpegException(detail);
  };
  try {
    media::TakeLibraryError();
    ost.graph = ff::avfilter_graph_alloc();
    if (!ost.graph) throw FFmpegException("Cannot allocate filter graph");
    // The pictures arrive turned upright, with the upright picture's sample aspect, so that the
    // chain's scaling keeps the shape they are seen in.
    const int inWidth = ist.shape.UprightWidth(), inHeight = ist.shape.UprightHeight();
    const AVRational sar = ist.shape.UprightSampleAspect();
    const std::string sourceArgs = media::FormatText(
        "video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", inWidth, inHeight,
        in->format, AV_TIME_BASE, sar.num, sar.den);
    check(ff::avfilter_graph_create_filter(&ost.filterSource, ff::avfilter_get_by_name("buffer"),
                                           "src", sourceArgs.c_str(), nullptr, ost.graph),
          "buffer");
    check(ff::avfilter_graph_create_filter(&ost.filterSink,
                                           ff::avfilter_get_by_name("buffersink"), "out",
                                           nullptr, nullptr, ost.graph),
          "buffersink");
    // The sink hands out only the encoder's pixel format.
    AVFilterContext* format = nullptr;
    check(ff::avfilter_graph_create_filter(
              &format, ff::avfilter_get_by_name("format"), "format",
              media::FormatText("pix_fmts=%s", ff::av_get_pix_fmt_name(enc->pix_fmt)).c_str(),
              nullptr, ost.graph),
          "format");
    check(ff::avfilter_link(format, 0, ost.filterSink, 0), "avfilter_link");

    AVFilterContext* last = ost.filterSource;
    const int croppedWidth = inWidth - ost.leftBand - ost.rightBand;
    const int croppedHeight = inHeight - ost.topBand - ost.bottomBand;
    const int flags = task_.genericOptions_->ScalerFlags();
    if (ost.cropping) {
      AVFilterContext* crop = nullptr;
      check(ff::avfilter_graph_create_filter(
                &crop, ff::avfilter_get_by_name("crop"), "crop",
                media::FormatText("x=%d:y=%d:w=%d:h=%d", ost.leftBand, ost.topBand, croppedWidth,
                                  croppedHeight)
                    .c_str(),
                nullptr, ost.graph),
            "crop");
      check(ff::avfilter_link(last, 0, crop, 0), "avfilter_link");
      last = crop;
    }
    if (croppedWidth != enc->width || croppedHeight != enc->height) {
      AVFilterContext* scale = nullptr;
      check(ff::avfilter_graph_create_filter(
                &scale, ff::avfilter_get_by_name("scale"), "scale",
                media::FormatText("w=%d:h=%d:flags=0x%X", enc->width, enc->height, flags).c_str(),
                nullptr, ost.graph),
            "scale");
      check(ff::avfilter_link(last, 0, scale, 0), "avfilter_link");
      last = scale;
    }
    ost.graph->scale_sws_opts = ff::av_strdup(media::FormatText("flags=0x%X", flags).c_str());

    AVFilterInOut* outputs = ff::avfilter_inout_alloc();
    AVFilterInOut* inputs = ff::avfilter_inout_alloc();
    if (!outputs || !inputs) {
      ff::avfilter_inout_free(&outputs);
      ff::avfilter_inout_free(&inputs);
      throw FFmpegException("Cannot allocate filter graph");
    }
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = format;
    inputs->pad_idx = 0;
    const std::string& text = task_.outputSlots_[ost.file]->videoFilters;
    const int parsed = ff::avfilter_graph_parse_ptr(ost.graph, text.c_str(), &inputs, &outputs,
                                                    nullptr);
    ff::avfilter_inout_free(&inputs);
    ff::avfilter_inout_free(&outputs);
    check(parsed, "avfilter_graph_parse");
    check(ff::avfilter_graph_config(ost.graph, nullptr), "avfilter_graph_config");
  } catch (const FFmpegException& e) {
    task_.LastErrMsg = e.what();
    throw FFmpegException(task_.LastErrMsg.empty() ? "Error opening filters!"
                                                   : "Error opening filters: " + task_.LastErrMsg);
  }
  enc->width = ff::av_buffersink_get_w(ost.filterSink);
  enc->height = ff::av_buffersink_get_h(ost.filterSink);
  const AVRational sar = ff::av_buffersink_get_sample_aspect_ratio(ost.filterSink);
  if (sar.num > 0 && sar.den > 0) {
    enc->sample_aspect_ratio = sar;
    ost.st->sample_aspect_ratio = sar;
  }
  ost.filtered = ff::av_frame_alloc();
  if (!ost.filtered) throw FFmpegException("Cannot allocate filter graph");
}

// A new encoder context with the settings the output stream was given (the stream's own settings
// context is never opened, so that join mode can make a fresh encoder for every input).
AVCodecContext* TTranscoder::NewEncoder(TOutputStreamRun& ost) const {
  const AVCodecContext* t = ost.def->enc;
  AVCodecContext* c = ff::avcodec_alloc_context3(ost.codec);
  if (!c) return nullptr;
  ff::av_opt_copy(c, t);
  if (ost.codec && ost.codec->priv_class && c->priv_data && t->priv_data)
    ff::av_opt_copy(c->priv_data, t->priv_data);
  c->codec_type = t->codec_type;
  c->codec_tag = t->codec_tag;
  c->time_base = t->time_base;
  c->framerate = t->framerate;
  c->sample_aspect_ratio = t->sample_aspect_ratio;
  c->width = t->width;
  c->height = t->height;
  c->pix_fmt = t->pix_fmt;
  c->sample_fmt = t->sample_fmt;
  c->sample_rate = t->sample_rate;
  ff::av_channel_layout_uninit(&c->ch_layout);
  ff::av_channel_layout_copy(&c->ch_layout, &t->ch_layout);
  c->flags = t->flags;
  c->flags2 = t->flags2;
  c->global_quality = t->global_quality;
  c->gop_size = t->gop_size;
  c->thread_count = t->thread_count;
  c->rc_initial_buffer_occupancy = t->rc_initial_buffer_occupancy;
  c->intra_dc_precision = t->intra_dc_precision;
  c->bits_per_raw_sample = t->bits_per_raw_sample;
  c->chroma_sample_location = t->chroma_sample_location;
  ff::av_freep(&c->intra_matrix);
  ff::av_freep(&c->inter_matrix);
  ff::av_freep(&c->rc_override);
  c->intra_matrix = CopyArray(t->intra_matrix, t->intra_matrix ? 64 : 0);
  c->inter_matrix = CopyArray(t->inter_matrix, t->inter_matrix ? 64 : 0);
  c->rc_override = CopyArray(t->rc_override, static_cast<size_t>(t->rc_override_count));
  c->rc_override_count = c->rc_override ? t->rc_override_count : 0;
  return c;
}

void TTranscoder::SetUpPassLog(TOutputStreamRun& ost, int tableIndex) {
  AVCodecContext* enc = ost.enc;
  if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
  std::string name = (s_.passLogFileName.empty() ? std::string("ffmpeg2pass") : s_.passLogFileName) +
                     "-" + std::to_string(tableIndex) + ".log";
  if (name.size() > 1023) name.resize(1023);
  // This encoder keeps its statistics in a file of its own, under the same name.
  const bool ownStatistics = std::strcmp(ost.codec->name, "libx264") == 0;
  if (enc->flags & AV_CODEC_FLAG_PASS1) {
    if (ownStatistics) {
      ff::av_opt_set(enc->priv_data, "stats", name.c_str(), 0);
      return;
    }
    if (!ost.logFile) ost.logFile = std::fopen(name.c_str(), "wb");
    if (!ost.logFile)
      throw FFmpegException(
          media::FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
    return;
  }
  std::vector<uint8_t> content;
  const int err = media::ReadWholeFile(name, content);
  if (err == -ENOMEM)
    throw FFmpegException(media::FormatText(
        "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
        name.c_str()));
  if (err < 0)
    throw FFmpegException(media::FormatText(
        "Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
  if (ownStatistics) {
    ff::av_opt_set(enc->priv_data, "stats", name.c_str(), 0);
    return;
  }
  enc->stats_in = static_cast<char*>(ff::av_malloc(content.size() + 1));
  if (!enc->stats_in)
    throw FFmpegException(media::FormatText(
        "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
        name.c_str()));
  std::memcpy(enc->stats_in, content.data(), content.size());
  enc->stats_in[content.size()] = 0;
}

void TTranscoder::OpenEncoder(TOutputStreamRun& ost, bool reopen) {
  const int tableIndex = static_cast<int>(&ost - ostreams_.data());
  const std::string name = media::FormatText("output stream #%d.%d (%s)", ost.file, ost.index,
                                             TypeName(ost.st).c_str());
  if (!ost.codec) {
    const AVCodecID id = reopen ? ost.savedCodecId : ost.def->enc->codec_id;
    ost.codec = id != AV_CODEC_ID_NONE ? ff::avcodec_find_encoder(id) : nullptr;
  }
  if (!ost.codec) {
    if (reopen) throw FFmpegException("Unsupported codec for " + name);
    RaiseAfterMapping(media::FormatText("Encoder (codec id %d) not found for ",
                                        ost.def->enc->codec_id) +
                          name,
                      true);
  }
  ost.enc = NewEncoder(ost);
  if (!ost.enc) throw FFmpegException("av_mallocz fail");
  const AVCodecContext* dec = istreams_[ost.source].dec;
  if (ost.enc->codec_type == AVMEDIA_TYPE_SUBTITLE && dec && dec->subtitle_header) {
    ost.enc->subtitle_header = static_cast<uint8_t*>(ff::av_mallocz(dec->subtitle_header_size + 1));
    if (!ost.enc->subtitle_header) throw FFmpegException("av_mallocz fail");
    std::memcpy(ost.enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
    ost.enc->subtitle_header_size = dec->subtitle_header_size;
  }
  SetUpPassLog(ost, tableIndex);
  int ret;
  {
    std::lock_guard lock(media::CodecLock());
    ost.savedCodecId = ost.codec->id;
    ret = ff::avcodec_open2(ost.enc, ost.codec, nullptr);
  }
  if (ret < 0) {
    if (reopen)
      throw FFmpegException("Error while opening codec for " + name +
                            " - maybe incorrect parameters such as bit_rate, rate, width or height");
    RaiseAfterMapping("Error while opening encoder for " + name +
                          " - maybe incorrect parameters such as bit_rate, rate, width or height. "
                          "Please check error log message to find out more detail information.",
                      true);
  }
  if (reopen) return;
  if (ff::avcodec_parameters_from_context(ost.st->codecpar, ost.enc) < 0)
    throw FFmpegException("av_mallocz fail");
  ost.st->time_base = ost.enc->time_base;
  // Muxers of disc formats read the encoder's buffer properties from the stream.
  for (int i = 0; i < ost.enc->nb_coded_side_data; ++i) {
    const AVPacketSideData& sd = ost.enc->coded_side_data[i];
    if (uint8_t* data = ff::av_stream_new_side_data(ost.st, sd.type, sd.size))
      std::memcpy(data, sd.data, sd.size);
  }
  headerBytes_ += ost.enc->extradata_size;
}

void TTranscoder::OpenEncoders() {
  for (TOutputStreamRun& ost : ostreams_)
    if (ost.encodingNeeded && ost.encoderOwner == &ost - ostreams_.data()) OpenEncoder(ost, false);
  // Per output stream: the frames handed to the encoder and the audio FIFO of its frame size.
  for (TOutputStreamRun& ost : ostreams_) {
    if (!ost.encodingNeeded) continue;
    ost.encFrame = ff::av_frame_alloc();
    if (!ost.encFrame) throw FFmpegException("av_mallocz fail");
    if (ost.st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && ost.cropping)
      ost.cropped = ff::av_frame_alloc();
    if (ost.st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const AVCodecContext* enc = Enc(ost);
    ost.fifo = ff::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels,
                                       std::max(enc->frame_size, 1024));
    if (!ost.fifo) throw FFmpegException("av_fifo_alloc fail");
  }
}

void TTranscoder::ReopenEncoders() {
  for (TOutputStreamRun& ost : ostreams_) {
    if (ost.file != 0 || !ost.encodingNeeded) continue;
    {
      std::lock_guard lock(media::CodecLock());
      ff::av_freep(&ost.enc->stats_in);
      ff::avcodec_free_context(&ost.enc);
    }
    OpenEncoder(ost, true);
  }
}

void TTranscoder::OpenDecoders() {
  for (size_t i = 0; i < istreams_.size(); ++i) {
    TInputStream& ist = istreams_[i];
    if (!ist.decodingNeeded) continue;
    const AVCodecParameters* par = ist.st->codecpar;
    const std::string name = media::FormatText("input stream #%d.%d (%s)", ist.file, ist.index,
                                               TypeName(ist.st).c_str());
    const AVCodec* codec =
        task_.inputCodecs_[i] ? task_.inputCodecs_[i] : ff::avcodec_find_decoder(par->codec_id);
    if (!codec)
      RaiseAfterMapping(
          media::FormatText("Decoder (codec id %d) not found for ", par->codec_id) + name, true);
    ist.dec = ff::avcodec_alloc_context3(codec);
    if (!ist.dec || ff::avcodec_parameters_to_context(ist.dec, par) < 0)
      throw FFmpegException("av_mallocz fail");
    ist.dec->pkt_timebase = ist.st->time_base;
    ist.dec->thread_count = s_.threadCount;
    task_.genericOptions_->CopyTo(ist.dec, AV_OPT_FLAG_DECODING_PARAM |
                                               media::TOptionStore::MediaOptionFlags(par->codec_type));
    int ret;
    {
      std::lock_guard lock(media::CodecLock());
      ret = ff::avcodec_open2(ist.dec, codec, nullptr);
    }
    if (ret < 0) RaiseAfterMapping("Error while opening decoder for " + name, true);
    ist.frame = ff::av_frame_alloc();
    if (!ist.frame) throw FFmpegException("av_mallocz fail");
  }
}

void TTranscoder::SetUpBitstreamFilters(TOutputStreamRun& ost) {
  for (const TBitstreamFilterEntry& wanted : ost.def->bitstreamFilters) {
    const AVBitStreamFilter* filter = ff::av_bsf_get_by_name(wanted.name.c_str());
    AVBSFContext* bsf = nullptr;
    if (!filter || ff::av_bsf_alloc(filter, &bsf) < 0)
      throw FFmpegException(media::FormatText("Unknown bitstream filter %s", wanted.name.c_str()));
    ost.bsfs.push_back(bsf);
    ost.bsfInputs.push_back(ff::av_packet_alloc());
    if (!ost.bsfInputs.back()) throw FFmpegException("av_mallocz fail");
    const AVCodecParameters* in =
        ost.bsfs.size() > 1 ? ost.bsfs[ost.bsfs.size() - 2]->par_out : ost.st->codecpar;
    ff::avcodec_parameters_copy(bsf->par_in, in);
    bsf->time_base_in = ost.st->time_base;
    if (!wanted.args.empty() && bsf->priv_data) {
      // The text sets the filter's options; a bare value sets its first option.
      const AVOption* first = ff::av_opt_next(bsf->priv_data, nullptr);
      const char* shorthand[] = {first ? first->name : nullptr, nullptr};
      if (ff::av_opt_set_from_string(bsf->priv_data, wanted.args.c_str(), shorthand, "=", ":") < 0)
        throw FFmpegException(media::FormatText("Invalid options for bitstream filter %s: %s",
                                                wanted.name.c_str(), wanted.args.c_str()));
    }
    const int ret = ff::av_bsf_init(bsf);
    if (ret < 0)
      throw FFmpegException(media::AVErrorToStr(
          media::FormatText("Error initializing bitstream filter %s", wanted.name.c_str()), ret));
  }
  if (!ost.bsfs.empty()) ff::avcodec_parameters_copy(ost.st->codecpar, ost.bsfs.back()->par_out);
}

void TTranscoder::MapMetadata() {
  for (const TMetaDataMap& map : s_.metaDataMaps) {
    if (map.outFile < 0 || map.outFile >= task_.OutputCount()) {
      PrintMapping();
      throw FFmpegException(media::FormatText("Invalid output file index %d map_meta_data(%d,%d)",
                                              map.outFile, map.outFile, map.inFile));
    }
    if (map.inFile < 0 || map.inFile >= task_.InputCount()) {
      PrintMapping();
      throw FFmpegException(media::FormatText("Invalid input file index %d map_meta_data(%d,%d)",
                                              map.inFile, map.outFile, map.inFile));
    }
    ff::av_dict_copy(&task_.Output(map.outFile)->metadata, task_.Input(map.inFile)->metadata,
                     AV_DICT_DONT_OVERWRITE);
  }
}

void TTranscoder::CopyChapters() {
  for (int f = 0; f < task_.InputCount(); ++f) {
    const AVFormatContext* ic = task_.Input(f);
    if (ic->nb_chapters == 0) continue;
    const int outputs = task_.joining_ ? 1 : task_.OutputCount();
    for (int o = 0; o < outputs; ++o) {
      AVFormatContext* oc = task_.Output(o);
      for (unsigned c = 0; c < ic->nb_chapters; ++c) {
        const AVChapter* in = ic->chapters[c];
        const int64_t offset = ff::av_rescale_q(s_.startTime - task_.inputFiles_[f].tsOffset,
                                                AV_TIME_BASE_Q, in->time_base);
        const int64_t limit = s_.recordingTime == INT64_MAX
                                  ? INT64_MAX
                                  : ff::av_rescale_q(s_.recordingTime, AV_TIME_BASE_Q,
                                                     in->time_base);
        if (in->end < offset) continue;
        if (limit != INT64_MAX && in->start > offset + limit) break;
        auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
        auto** list = static_cast<AVChapter**>(
            ff::av_realloc_array(oc->chapters, oc->nb_chapters + 1, sizeof(AVChapter*)));
        if (!out || !list) {
          ff::av_free(out);
          throw FFmpegException("av_mallocz fail");
        }
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min(limit, in->end - offset);
        ff::av_dict_copy(&out->metadata, in->metadata, 0);
        oc->chapters = list;
        oc->chapters[oc->nb_chapters++] = out;
      }
    }
  }
}

void TTranscoder::WriteHeaders() {
  const int outputs = task_.joining_ ? 1 : task_.OutputCount();
  for (int i = 0; i < outputs; ++i) {
    if (ff::avformat_write_header(task_.Output(i), nullptr) < 0)
      RaiseAfterMapping(
          media::FormatText("Could not write header for output file #%d (incorrect codec "
                            "parameters ?)",
                            i),
          true);
    headersWritten_ = i + 1;
  }
}

void TTranscoder::PrintMapping() {
  if (s_.verbose < 0) return;
  const int outputs = task_.joining_ ? 1 : task_.OutputCount();
  for (int i = 0; i < outputs; ++i) ff::av_dump_format(task_.Output(i), i, task_.Output(i)->url, 1);
  task_.Log(media::llVerbose, "Stream mapping:");
  for (const TOutputStreamRun& ost : ostreams_) {
    const TInputStream& ist = istreams_[ost.source];
    task_.LogFormat(media::llVerbose, "  Stream #%d.%d -> #%d.%d (%s)", ist.file, ist.index,
                    task_.joining_ ? 0 : ost.file, ost.index, TypeName(ost.st).c_str());
    if (ost.sync != ost.source) {
      const TInputStream& sync = istreams_[ost.sync];
      task_.LogFormat(media::llVerbose, " [sync #%d.%d (%s)]", sync.file, sync.index,
                      TypeName(sync.st).c_str());
    }
  }
}

void TTranscoder::RaiseAfterMapping(const std::string& text, bool log) {
  PrintMapping();
  if (log) task_.Log(media::llError, text);
  throw FFmpegException(text);
}

}  // namespace engine
