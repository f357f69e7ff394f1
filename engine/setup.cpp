// Opening a task's inputs and outputs and creating the output streams from the option state.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/customffmpeg.h"
#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/ffutils.h"
#include "media/pictureshape.h"
#include "media/unicodeprotocol.h"

namespace engine {
namespace {


// Encoders of names this build does not have, replaced by the encoder that took their place.
// The native vorbis encoder is experimental; its non-experimental counterpart takes its name.
const char* EncoderSuccessor(const std::string& name) {
  static const struct {
    const char* name;
    const char* successor;
  } kSuccessors[] = {{"libfaac", "aac"}, {"libflac", "flac"}, {"vorbis", "libvorbis"}};
  for (const auto& s : kSuccessors)
    if (name == s.name) return s.successor;
  return nullptr;
}

// The sample aspect ratio for a display aspect, in terms of at most 255.
AVRational SampleAspect(float aspect, int width, int height) {
  const double sar = width * height != 0 ? double(aspect) * height / width : double(aspect) * 3 / 4;
  return ff::av_d2q(sar, 255);
}

// "start,end,q" groups separated by "/" into the encoder's rate-control overrides.
void ParseRcOverride(AVCodecContext* enc, const std::string& text) {
  std::vector<RcOverride> overrides;
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t slash = text.find('/', pos);
    const std::string group = text.substr(pos, slash == std::string::npos ? std::string::npos
                                                                          : slash - pos);
    int start, end, q;
    char tail;
    if (std::sscanf(group.c_str(), "%d,%d,%d%c", &start, &end, &q, &tail) != 3)
      throw FFmpegException("error parsing rc_override");
    RcOverride o{};
    o.start_frame = start;
    o.end_frame = end;
    if (q > 0) {
      o.qscale = q;
      o.quality_factor = 1.0f;
    } else {
      o.qscale = 0;
      o.quality_factor = -q / 100.0f;
    }
    overrides.push_back(o);
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  enc->rc_override =
      static_cast<RcOverride*>(ff::av_malloc(sizeof(RcOverride) * overrides.size()));
  if (!enc->rc_override) throw FFmpegException("error parsing rc_override");
  std::memcpy(enc->rc_override, overrides.data(), sizeof(RcOverride) * overrides.size());
  enc->rc_override_count = static_cast<int>(overrides.size());
}

// The pixel format an encoder gets for the requested one: the requested format when the encoder
// takes it, else the encoder's first. Today's encoders list more formats than they play well
// with devices, so some are narrowed first:
// - Motion JPEG takes full-range pictures only (the limited-range 4:2:0 and 4:2:2 formats just
//   at the unofficial strictness);
// - DV keeps 4:2:2 (its 50 Mbit/s form), else takes 4:1:1 for 480-line (NTSC) and 4:2:0 for
//   576-line (PAL) pictures, the only forms those sizes have;
// - H.264 is made 4:2:0 (a 4:2:2 or 4:4:4 source would raise the profile beyond devices).
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, AVPixelFormat requested, int strictness,
                                int height) {
  if (!codec || !codec->pix_fmts) return requested;
  if (codec->id == AV_CODEC_ID_MJPEG) {
    const bool loose = strictness <= FF_COMPLIANCE_UNOFFICIAL &&
                       (requested == AV_PIX_FMT_YUV420P || requested == AV_PIX_FMT_YUV422P);
    if (loose) return requested;
    switch (requested) {
      case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUVJ422P;
      case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUVJ444P;
      default: return AV_PIX_FMT_YUVJ420P;
    }
  }
  if (codec->id == AV_CODEC_ID_DVVIDEO && requested != AV_PIX_FMT_YUV422P)
    return height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
  if (std::strcmp(codec->name, "libx264") == 0 && requested != AV_PIX_FMT_YUVJ420P)
    return AV_PIX_FMT_YUV420P;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == requested) return requested;
  return codec->pix_fmts[0];
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix) {
  auto* m = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
  if (m) std::memcpy(m, matrix.data(), 64 * sizeof(uint16_t));
  return m;
}

// Sets a private option of a muxer when it has it.
void SetMuxerOption(AVFormatContext* oc, const char* name, int64_t value) {
  if (ff::av_opt_find(oc, name, nullptr, 0, AV_OPT_SEARCH_CHILDREN))
    ff::av_opt_set_int(oc, name, value, AV_OPT_SEARCH_CHILDREN);
}


}  // namespace

TCustomFFmpeg::TOutputFile::~TOutputFile() {
  for (TOutputStream& s : streams) ff::avcodec_free_context(&s.enc);
  if (!ctx) return;
  media::CloseOutputFile(ctx);
  ff::avformat_free_context(ctx);
  // Nothing was written: leave no empty file that looks like a result.
  if (!fileName.empty() && (discard || media::GetFileSize(fileName) == 0))
    ::unlink(fileName.c_str());
}

const AVCodec* TCustomFFmpeg::FindCodecByName(const std::string& name, int mediaType,
                                              bool encoder) {
  if (name.empty()) return nullptr;
  const char* kind = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                 : ff::avcodec_find_decoder_by_name(name.c_str());
  int64_t strict = 0;
  genericOptions_->CodecDefaultInt("strict", static_cast<AVMediaType>(mediaType), strict);
  const bool experimentalAllowed = strict <= FF_COMPLIANCE_EXPERIMENTAL;
  if (encoder) {
    const char* successor = EncoderSuccessor(name);
    const bool unusable =
        !codec || ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && !experimentalAllowed);
    if (successor && unusable) {
      if (const AVCodec* next = ff::avcodec_find_encoder_by_name(successor)) {
        LogFormat(media::llInfo, "Encoder '%s' is not available, using '%s'", name.c_str(),
                  successor);
        codec = next;
      }
    }
  }
  if (!codec) throw FFmpegException(media::FormatText("Unknown %s '%s'", kind, name.c_str()));
  if (codec->type != mediaType)
    throw FFmpegException(media::FormatText("Invalid %s type '%s'", kind, name.c_str()));
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && !experimentalAllowed) {
    std::string message = media::FormatText(
        "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if "
        "you want to use it.",
        kind, codec->name);
    const AVCodec* usual =
        encoder ? ff::avcodec_find_encoder(codec->id) : ff::avcodec_find_decoder(codec->id);
    if (usual && !(usual->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      message += media::FormatText("\r\nOr use the non experimental %s '%s'.", kind, usual->name);
    throw FFmpegException(message);
  }
  return codec;
}

bool TCustomFFmpeg::OpenInput(const std::string& fileName) {
  TOptionState& s = *state_;
  // Whatever happens, the codec names and video channel were meant for this input only.
  struct ClearInputOnly {
    TOptionState& s;
    ~ClearInputOnly() {
      s.videoCodecName.clear();
      s.audioCodecName.clear();
      s.subtitleCodecName.clear();
      s.videoChannel = 0;
    }
  } clearInputOnly{s};

  if (InputCount() >= MAX_FILES)
    throw FFmpegException(media::FormatText("Too many input files (at most %d)", MAX_FILES));

  const AVInputFormat* fmt = nullptr;
  if (!s.formatName.empty()) {
    fmt = ff::av_find_input_format(s.formatName.c_str());
    if (!fmt) throw FFmpegException(media::FormatText("Unknown input format: \"%s\"", s.formatName.c_str()));
    s.formatName.clear();
  }

  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) throw FFmpegException("avformat_alloc_context failed");

  // Parameters for demuxers of raw data, which cannot learn them from the file.
  AVDictionary* options = nullptr;
  ff::av_dict_set(&options, "sample_rate", std::to_string(s.audioSampleRate).c_str(), 0);
  ff::av_dict_set(&options, "channels", std::to_string(s.audioChannels).c_str(), 0);
  if (s.frameRate.num > 0 && s.frameRate.den > 0)
    ff::av_dict_set(&options, "framerate",
                    media::FormatText("%d/%d", s.frameRate.num, s.frameRate.den).c_str(), 0);
  if (s.frameWidth > 0 && s.frameHeight > 0)
    ff::av_dict_set(&options, "video_size", media::FormatText("%dx%d", s.frameWidth, s.frameHeight).c_str(),
                    0);
  if (s.framePixFmt >= 0)
    ff::av_dict_set(&options, "pixel_format",
                    ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(s.framePixFmt)), 0);
  if (s.loopInput) ff::av_dict_set(&options, "loop", "1", 0);
  genericOptions_->CopyTo(ic, AV_OPT_FLAG_DECODING_PARAM);

  const AVCodec* videoDecoder = nullptr;
  const AVCodec* audioDecoder = nullptr;
  const AVCodec* subtitleDecoder = nullptr;
  try {
    videoDecoder = FindCodecByName(s.videoCodecName, AVMEDIA_TYPE_VIDEO, false);
    audioDecoder = FindCodecByName(s.audioCodecName, AVMEDIA_TYPE_AUDIO, false);
    subtitleDecoder = FindCodecByName(s.subtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false);
  } catch (const FFmpegException& e) {
    LastErrMsg = e.what();
    ff::av_dict_free(&options);
    ff::avformat_free_context(ic);
    return false;
  }
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  if (videoDecoder) {
    ic->video_codec_id = videoDecoder->id;
    ic->video_codec = videoDecoder;
  }
  if (audioDecoder) {
    ic->audio_codec_id = audioDecoder->id;
    ic->audio_codec = audioDecoder;
  }
  if (subtitleDecoder) {
    ic->subtitle_codec_id = subtitleDecoder->id;
    ic->subtitle_codec = subtitleDecoder;
  }
  if (s.pgmyuvCompatibility) ic->video_codec_id = AV_CODEC_ID_PGMYUV;

  const int err = media::OpenInputFile(&ic, fileName, fmt, &options);  // frees ic on failure
  ff::av_dict_free(&options);
  if (err < 0) {
    LastErrMsg = media::AVErrorToStr(fileName, err);
    return false;
  }
  auto fail = [&](const std::string& message) {
    LastErrMsg = message;
    media::CloseInputFile(&ic);
    return false;
  };

  if (s.optProgramID != 0) {
    bool found = false;
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      AVProgram* program = ic->programs[p];
      if (program->id == s.optProgramID) {
        found = true;
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
          ic->streams[program->stream_index[k]]->discard = AVDISCARD_DEFAULT;
      } else {
        program->discard = AVDISCARD_ALL;
      }
    }
    if (!found) return fail("Specified program id not found");
    s.optProgramID = 0;
  }
  // A kind of stream the task leaves out is not probed: finding its parameters would decode its
  // first frames for nothing (a whole picture or more for video, the costliest part of opening).
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVMediaType type = ic->streams[i]->codecpar->codec_type;
    if ((type == AVMEDIA_TYPE_VIDEO && s.videoDisable) ||
        (type == AVMEDIA_TYPE_AUDIO && s.audioDisable) ||
        (type == AVMEDIA_TYPE_SUBTITLE && s.subtitleDisable))
      ic->streams[i]->discard = AVDISCARD_ALL;
  }

  int infoResult;
  {
    std::lock_guard lock(media::CodecLock());
    infoResult = ff::avformat_find_stream_info(ic, nullptr);
  }
  if (infoResult < 0 && s.verbose >= 0) {
    const std::string message = media::FormatText("%s: could not find codec parameters", fileName.c_str());
    Log(media::llVerbose, message);
    return fail(message);
  }

  // The part before the start time is skipped, so the output is expected that much shorter.
  const int64_t skipped = std::max<int64_t>(s.startTime, 0);
  int64_t timestamp = s.startTime;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (s.startTime != 0) {
    if (ff::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 && s.verbose > 0)
      LogFormat(media::llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
                timestamp / 1000000.0);
  }
  s.startTime = 0;

  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    const AVCodecParameters* par = st->codecpar;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        // The run turns a rotated picture upright before anything else sees it: the frame size
        // (which crop bands are checked against) and the display aspect are the upright
        // picture's.
        const media::TPictureShape shape = media::StreamPictureShape(st);
        s.frameWidth = shape.UprightWidth();
        s.frameHeight = shape.UprightHeight();
        s.frameAspectRatio = static_cast<float>(shape.DisplayAspect());
        if (par->width * par->height == 0 && s.frameAspectRatio == 0) s.frameAspectRatio = 4.0f / 3;
        s.framePixFmt = par->format < 0 ? 0 : par->format;
        const AVRational codecRate = st->avg_frame_rate;
        const AVRational realRate = st->r_frame_rate;
        if (codecRate.num && codecRate.den && realRate.num && realRate.den &&
            av_cmp_q(codecRate, realRate) != 0 && s.verbose >= 0)
          LogFormat(media::llInfo,
                    "Seems stream %d codec frame rate differs from container frame rate: %2.2f "
                    "(%d/%d) -> %2.2f (%d/%d)",
                    i, av_q2d(codecRate), codecRate.num, codecRate.den, av_q2d(realRate),
                    realRate.num, realRate.den);
        s.frameRate = realRate;
        inputCodecs_.push_back(videoDecoder);
        if (s.videoDisable)
          st->discard = AVDISCARD_ALL;
        else if (s.videoDiscard)
          st->discard = static_cast<AVDiscard>(s.videoDiscard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        s.channelLayout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
        s.audioChannels = par->ch_layout.nb_channels;
        s.audioSampleRate = par->sample_rate;
        s.audioSampleFmt = par->format;
        inputCodecs_.push_back(audioDecoder);
        if (s.audioDisable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        inputCodecs_.push_back(subtitleDecoder);
        if (s.subtitleDisable) st->discard = AVDISCARD_ALL;
        break;
      default:
        // Data and attachment streams keep their place so entries line up with stream indexes.
        inputCodecs_.push_back(nullptr);
        break;
    }
  }

  if (ic->duration != AV_NOPTS_VALUE && ic->duration - skipped > expectedDuration_)
    expectedDuration_ = std::max<int64_t>(ic->duration - skipped, 0);

  TInputFile input;
  input.ctx = ic;
  input.skipped = skipped;
  input.tsOffset = s.copyTs ? s.inputTsOffset : s.inputTsOffset - timestamp;
  if (InputCount() < static_cast<int>(s.inputFilesTsScale.size()))
    std::memcpy(input.tsScale, s.inputFilesTsScale[InputCount()].data(), sizeof input.tsScale);
  inputFiles_.push_back(input);
  if (s.verbose >= 0) ff::av_dump_format(ic, InputCount() - 1, ic->url, 0);
  return true;
}

int TCustomFFmpeg::AddOutput(const std::string& fileName, bool join) {
  TOptionState& s = *state_;
  if (joining_) {
    LastErrMsg = "Cannot join more than one output file.";
    return -1;
  }
  if (OutputCount() >= MAX_FILES)
    throw FFmpegException(media::FormatText("Too many output files (at most %d)", MAX_FILES));

  const AVOutputFormat* ofmt;
  if (!s.formatName.empty()) {
    ofmt = ff::av_guess_format(s.formatName.c_str(), nullptr, nullptr);
    if (!ofmt) {
      LastErrMsg = media::FormatText("Requested output format '%s' is not a suitable output format",
                          s.formatName.c_str());
      return -1;
    }
    s.formatName.clear();
  } else {
    ofmt = ff::av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!ofmt) {
      LastErrMsg = media::FormatText("Unable to find a suitable output format for '%s'", fileName.c_str());
      return -1;
    }
  }
  auto output = std::make_shared<TOutputFile>();
  if (ff::avformat_alloc_output_context2(&output->ctx, ofmt, nullptr, nullptr) < 0 || !output->ctx)
    throw FFmpegException("avformat_alloc_context failed");
  AVFormatContext* oc = output->ctx;

  // Which kinds of stream the output gets. An album-art picture is not a video default.
  const bool muxerVideo = ofmt->video_codec != AV_CODEC_ID_NONE &&
                          ofmt->video_codec != AV_CODEC_ID_PNG;
  bool useVideo = s.videoStreamCopy || muxerVideo || !s.videoCodecName.empty();
  bool useAudio = s.audioStreamCopy || ofmt->audio_codec != AV_CODEC_ID_NONE ||
                  !s.audioCodecName.empty();
  bool useSubtitle = s.subtitleStreamCopy || ofmt->subtitle_codec != AV_CODEC_ID_NONE ||
                     !s.subtitleCodecName.empty();
  if (!inputFiles_.empty()) {
    bool hasVideo = false, hasAudio = false, hasSubtitle = false;
    const size_t looked = join ? 1 : inputFiles_.size();
    for (size_t i = 0; i < looked; ++i) {
      const AVFormatContext* ic = inputFiles_[i].ctx;
      for (unsigned k = 0; k < ic->nb_streams; ++k) {
        switch (ic->streams[k]->codecpar->codec_type) {
          case AVMEDIA_TYPE_VIDEO: hasVideo = true; break;
          case AVMEDIA_TYPE_AUDIO: hasAudio = true; break;
          case AVMEDIA_TYPE_SUBTITLE: hasSubtitle = true; break;
          default: break;
        }
      }
    }
    useVideo = useVideo && hasVideo;
    useAudio = useAudio && hasAudio;
    useSubtitle = useSubtitle && hasSubtitle;
  }
  if (s.audioDisable) useAudio = false;
  if (s.videoDisable) useVideo = false;

  output->fileName = media::URLToFileName(fileName);
  output->videoFilters = s.vfilters;
  try {
    if (useVideo) {
      try {
        AddVideoStream(*output);
      } catch (const std::exception& e) {
        throw FFmpegException(media::FormatText("new_video_stream fail: %s", e.what()));
      }
    }
    if (useAudio) {
      try {
        AddAudioStream(*output);
      } catch (const std::exception& e) {
        throw FFmpegException(media::FormatText("new_audio_stream fail: %s", e.what()));
      }
    }
    if (useSubtitle && !s.subtitleDisable) {
      try {
        AddSubtitleStream(*output);
      } catch (const std::exception& e) {
        throw FFmpegException(media::FormatText("new_subtitle_stream fail: %s", e.what()));
      }
    }
  } catch (const FFmpegException& e) {
    output->fileName.clear();  // nothing was created on disk
    LastErrMsg = e.what();
    // The stream settings were meant for this output; a refused name must not fail the next one.
    s.videoCodecName.clear();
    s.audioCodecName.clear();
    s.subtitleCodecName.clear();
    s.videoStreamCopy = s.audioStreamCopy = s.subtitleStreamCopy = false;
    return -1;
  }

  if (s.recTimestamp != 0) {
    const time_t seconds = static_cast<time_t>(s.recTimestamp);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    ff::av_dict_set(&oc->metadata, "creation_time", text, 0);
  }
  // The pairs are set from the last to the first, so the first of two equal keys stays.
  for (auto it = s.metadata.rbegin(); it != s.metadata.rend(); ++it)
    ff::av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
  s.metadata.clear();

  if ((ofmt->flags & AVFMT_NEEDNUMBER) &&
      ff::av_filename_number_test(output->fileName.c_str()) == 0) {
    output->fileName.clear();
    LastErrMsg = media::AVErrorToStr(fileName, -33);
    return -1;
  }
  // A muxer of a single file gets that file, created here. A muxer that writes its own files
  // (an image sequence) gets the name, a pattern it numbers, and opens each file itself through
  // the same local-file access.
  const int err = media::OpenOutputFile(oc, fileName);
  if (err < 0) {
    output->fileName.clear();
    LastErrMsg = media::AVErrorToStr(fileName, err);
    return -1;
  }
  if (ofmt->flags & AVFMT_NOFILE) output->fileName.clear();  // nothing of ours to remove

  SetMuxerOption(oc, "preload", static_cast<int64_t>(s.muxPreload * 1000000));
  oc->max_delay = static_cast<int>(s.muxMaxDelay * 1000000);
  SetMuxerOption(oc, "loop", s.loopOutput);
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  for (const std::string& name : genericOptions_->CopyTo(oc, AV_OPT_FLAG_ENCODING_PARAM))
    LogFormat(media::llWarning, "Option \"%s\" was refused by the %s muxer", name.c_str(),
              ofmt->name);
  std::memset(s.streamidMap, 0, sizeof s.streamidMap);

  outputSlots_.push_back(output);
  if (join && InputCount() > 1) {
    joining_ = true;
    int64_t total = 0;
    for (const TInputFile& input : inputFiles_)
      if (input.ctx->duration != AV_NOPTS_VALUE && input.ctx->duration > 0)
        total += input.ctx->duration;
    expectedDuration_ = total > 0 ? total : -1;
    for (int i = 1; i < InputCount(); ++i) outputSlots_.push_back(output);
  }
  return OutputCount();
}

const AVCodec* TCustomFFmpeg::ChooseEncoder(const TOutputFile& output, const std::string& name,
                                            int mediaType) {
  if (const AVCodec* codec = FindCodecByName(name, mediaType, true)) return codec;
  return ff::avcodec_find_encoder(ff::av_guess_codec(output.ctx->oformat, nullptr,
                                                     output.fileName.c_str(), nullptr,
                                                     static_cast<AVMediaType>(mediaType)));
}

TCustomFFmpeg::TOutputStream& TCustomFFmpeg::NewOutputStream(TOutputFile& output, int mediaType) {
  AVFormatContext* oc = output.ctx;
  const unsigned index = oc->nb_streams;
  AVStream* st = ff::avformat_new_stream(oc, nullptr);
  if (!st) throw FFmpegException("Could not alloc stream");
  st->id = index < unsigned(MAX_STREAMS) ? state_->streamidMap[index] : 0;
  st->codecpar->codec_type = static_cast<AVMediaType>(mediaType);
  TOutputStream& stream = output.streams.emplace_back();
  stream.st = st;
  return stream;
}

void TCustomFFmpeg::AddVideoStream(TOutputFile& output) {
  TOptionState& s = *state_;
  AVFormatContext* oc = output.ctx;
  TOutputStream& stream = NewOutputStream(output, AVMEDIA_TYPE_VIDEO);
  stream.bitstreamFilters = std::move(s.videoBitstreamFilters);
  s.videoBitstreamFilters.clear();
  if (s.videoCodecTag) stream.st->codecpar->codec_tag = s.videoCodecTag;
  const AVRational sar = SampleAspect(s.frameAspectRatio, s.frameWidth, s.frameHeight);

  if (s.videoStreamCopy) {
    stream.copy = true;
    stream.st->sample_aspect_ratio = sar;
  } else {
    AVRational fps = s.frameRate.num && s.frameRate.den ? s.frameRate : AVRational{25, 1};
    const AVCodec* codec = ChooseEncoder(output, s.videoCodecName, AVMEDIA_TYPE_VIDEO);
    stream.codec = codec;
    AVCodecContext* enc = stream.enc = ff::avcodec_alloc_context3(codec);
    if (!enc) throw FFmpegException("Could not alloc stream");
    enc->codec_type = AVMEDIA_TYPE_VIDEO;
    if (s.videoCodecTag) enc->codec_tag = s.videoCodecTag;
    if ((s.videoGlobalHeader & 1) ||
        (s.videoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER)))
      enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.videoGlobalHeader & 2) enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    for (const std::string& name :
         genericOptions_->CopyTo(enc, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM))
      LogFormat(media::llWarning, "Option \"%s\" was refused by the %s encoder", name.c_str(),
                codec ? codec->name : "video");
    enc->thread_count = s.threadCount;

    if (codec && codec->supported_framerates && !s.forceFps) {
      // The MPEG-1 encoder lists extra low rates after its eight standard ones that it refuses
      // to open with at normal strictness; never pick those.
      const AVRational* rates = codec->supported_framerates;
      std::vector<AVRational> usable;
      for (const AVRational* r = rates; r->num || r->den; ++r) usable.push_back(*r);
      if (codec->id == AV_CODEC_ID_MPEG1VIDEO && enc->strict_std_compliance > FF_COMPLIANCE_UNOFFICIAL &&
          usable.size() > 8)
        usable.resize(8);
      usable.push_back(AVRational{0, 0});
      fps = usable[ff::av_find_nearest_q_idx(fps, usable.data())];
    }
    enc->time_base = AVRational{fps.den, fps.num};
    enc->framerate = fps;
    enc->width = s.frameWidth;
    enc->height = s.frameHeight;
    enc->sample_aspect_ratio = sar;
    stream.st->sample_aspect_ratio = sar;
    enc->pix_fmt = ChoosePixelFormat(codec, static_cast<AVPixelFormat>(s.framePixFmt),
                                     enc->strict_std_compliance, s.frameHeight);

    if (s.intraOnly) enc->gop_size = 0;
    if (s.videoQScale != 0 || s.sameQuality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * s.videoQScale);
    }
    if (!s.intraMatrix.empty()) enc->intra_matrix = CopyMatrix(s.intraMatrix);
    if (!s.interMatrix.empty()) enc->inter_matrix = CopyMatrix(s.interMatrix);
    if (!s.videoRcOverride.empty()) ParseRcOverride(enc, s.videoRcOverride);
    if (!enc->rc_initial_buffer_occupancy)
      enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = s.intraDcPrecision - 8;
    if (s.doPSNR) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (s.doPass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (s.doPass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
  }
  if (!s.videoLanguage.empty())
    ff::av_dict_set(&stream.st->metadata, "language", s.videoLanguage.c_str(), 0);
  s.videoLanguage.clear();
  s.videoDisable = false;
  s.videoCodecName.clear();
  s.videoStreamCopy = false;
  s.framePixFmt = -1;
}

void TCustomFFmpeg::AddAudioStream(TOutputFile& output) {
  TOptionState& s = *state_;
  AVFormatContext* oc = output.ctx;
  TOutputStream& stream = NewOutputStream(output, AVMEDIA_TYPE_AUDIO);
  stream.bitstreamFilters = std::move(s.audioBitstreamFilters);
  s.audioBitstreamFilters.clear();
  if (s.audioCodecTag) stream.st->codecpar->codec_tag = s.audioCodecTag;

  if (s.audioStreamCopy) {
    stream.copy = true;
    ff::av_channel_layout_default(&stream.st->codecpar->ch_layout, s.audioChannels);
    stream.st->codecpar->sample_rate = s.audioSampleRate;
  } else {
    const AVCodec* codec = ChooseEncoder(output, s.audioCodecName, AVMEDIA_TYPE_AUDIO);
    stream.codec = codec;
    AVCodecContext* enc = stream.enc = ff::avcodec_alloc_context3(codec);
    if (!enc) throw FFmpegException("Could not alloc stream");
    enc->codec_type = AVMEDIA_TYPE_AUDIO;
    if (s.audioCodecTag) enc->codec_tag = s.audioCodecTag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    for (const std::string& name :
         genericOptions_->CopyTo(enc, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM))
      LogFormat(media::llWarning, "Option \"%s\" was refused by the %s encoder", name.c_str(),
                codec ? codec->name : "audio");
    enc->thread_count = s.threadCount;
    if (s.audioQScale > -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * s.audioQScale);
    }
    // Encoders refuse an unspecified layout, so a layout that does not match the channel count
    // becomes the usual layout of that count.
    ff::av_channel_layout_uninit(&enc->ch_layout);
    AVChannelLayout layout{};
    if (s.channelLayout != 0 && ff::av_channel_layout_from_mask(&layout, s.channelLayout) == 0 &&
        layout.nb_channels == s.audioChannels)
      enc->ch_layout = layout;
    else
      ff::av_channel_layout_default(&enc->ch_layout, s.audioChannels);

    AVSampleFormat sampleFmt = static_cast<AVSampleFormat>(s.audioSampleFmt);
    if (codec && codec->sample_fmts) {
      bool listed = false;
      for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        listed = listed || *f == sampleFmt;
      if (!listed) sampleFmt = codec->sample_fmts[0];
    }
    enc->sample_fmt = sampleFmt;
    int rate = s.audioSampleRate;
    if (codec && codec->supported_samplerates) {
      int best = codec->supported_samplerates[0];
      for (const int* r = codec->supported_samplerates; *r; ++r)
        if (std::abs(*r - rate) < std::abs(best - rate)) best = *r;
      if (best != rate)
        LogFormat(media::llWarning, "Requested sampling rate unsupported using closest supported (%d)",
                  best);
      rate = best;
    }
    enc->sample_rate = rate;
    enc->time_base = AVRational{1, rate > 0 ? rate : 1};
  }
  if (!s.audioLanguage.empty())
    ff::av_dict_set(&stream.st->metadata, "language", s.audioLanguage.c_str(), 0);
  s.audioLanguage.clear();
  s.audioDisable = false;
  s.audioCodecName.clear();
  s.audioStreamCopy = false;
}

void TCustomFFmpeg::AddSubtitleStream(TOutputFile& output) {
  TOptionState& s = *state_;
  TOutputStream& stream = NewOutputStream(output, AVMEDIA_TYPE_SUBTITLE);
  stream.bitstreamFilters = std::move(s.subtitleBitstreamFilters);
  s.subtitleBitstreamFilters.clear();
  if (s.subtitleCodecTag) stream.st->codecpar->codec_tag = s.subtitleCodecTag;
  if (s.subtitleStreamCopy) {
    stream.copy = true;
  } else {
    // Without a name the muxer's usual subtitle encoder is used, as for video and audio.
    const AVCodec* codec = ChooseEncoder(output, s.subtitleCodecName, AVMEDIA_TYPE_SUBTITLE);
    stream.codec = codec;
    stream.enc = ff::avcodec_alloc_context3(codec);
    if (!stream.enc) throw FFmpegException("Could not alloc stream");
    stream.enc->codec_type = AVMEDIA_TYPE_SUBTITLE;
    stream.enc->time_base = AVRational{1, AV_TIME_BASE};  // subtitle times are kept in µs
    if (s.subtitleCodecTag) stream.enc->codec_tag = s.subtitleCodecTag;
  }
  if (!s.subtitleLanguage.empty())
    ff::av_dict_set(&stream.st->metadata, "language", s.subtitleLanguage.c_str(), 0);
  s.subtitleLanguage.clear();
  s.subtitleDisable = false;
  s.subtitleCodecName.clear();
  s.subtitleStreamCopy = false;
}

void TCustomFFmpeg::AddVideoStream() {
  if (outputSlots_.empty()) throw FFmpegException("At least one output file must be specified");
  AddVideoStream(*outputSlots_.back());
}

void TCustomFFmpeg::AddAudioStream() {
  if (outputSlots_.empty()) throw FFmpegException("At least one output file must be specified");
  AddAudioStream(*outputSlots_.back());
}

void TCustomFFmpeg::AddSubtitleStream() {
  if (outputSlots_.empty()) throw FFmpegException("At least one output file must be specified");
  AddSubtitleStream(*outputSlots_.back());
}

void TCustomFFmpeg::ReleaseAll() {
  frameHooks_.Release();
  outputSlots_.clear();  // each output is closed once, when its last slot goes
  for (TInputFile& input : inputFiles_) media::CloseInputFile(&input.ctx);
  inputFiles_.clear();
  inputCodecs_.clear();
  joining_ = false;
}

}  // namespace engine
