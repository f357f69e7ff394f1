// The output paths of a run: audio (drift correction, resampling, frame-size FIFO), video
// (frame-rate sync with duplicates and drops, crop, scale), subtitles, the packet write through
// the bitstream filters, and the per-frame statistics file.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/transcoder.h"
#include "media/ffutils.h"

namespace engine {

namespace {

// Makes the frame a writable audio frame of the encoder's format with room for the samples (its
// buffer is reused while large enough) and sets its sample count.
void PrepareAudioFrame(AVFrame*& frame, int& capacity, const AVCodecContext* enc, int samples) {
  if (frame && capacity >= samples && frame->format == enc->sample_fmt) {
    frame->nb_samples = capacity;  // a copy made for writing keeps the whole buffer
    if (ff::av_frame_make_writable(frame) >= 0) {
      frame->nb_samples = samples;
      return;
    }
  }
  ff::av_frame_free(&frame);
  frame = ff::av_frame_alloc();
  if (!frame) throw FFmpegException("Out of memory in do_audio_out");
  frame->format = enc->sample_fmt;
  frame->sample_rate = enc->sample_rate;
  ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
  frame->nb_samples = samples;
  if (ff::av_frame_get_buffer(frame, 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
  capacity = samples;
}

}  // namespace

void TTranscoder::DoAudioOut(TOutputStreamRun& ost, TInputStream& ist, uint8_t* buf, int size) {
  AVCodecContext* enc = Enc(ost);
  const int isize = 2;  // decoded audio arrives as 16-bit interleaved samples
  const int decChannels = ist.s16Layout.nb_channels;
  const int decRate = ist.s16Rate;
  const int encChannels = enc->ch_layout.nb_channels;
  const int encRate = enc->sample_rate;
  if (decChannels != encChannels) ost.audioResample = true;

  if (ost.swr && (ost.swrInRate != decRate || ost.swrInChannels != decChannels))
    ff::swr_free(&ost.swr);
  if (!ost.swr) {
    // Planar or packed, 16-bit samples need no wider or narrower intermediate.
    if (ost.audioResample && ff::av_get_bytes_per_sample(ist.dec->sample_fmt) != 2 &&
        s_.verbose > 0)
      task_.Log(media::llVerbose, "Warning, using s16 intermediate sample format for resampling");
    const int ret = ff::swr_alloc_set_opts2(&ost.swr, &enc->ch_layout, enc->sample_fmt, encRate,
                                            &ist.s16Layout, AV_SAMPLE_FMT_S16, decRate, 0,
                                            nullptr);
    if (ret >= 0) task_.genericOptions_->CopyTo(ost.swr);
    if (ret < 0 || ff::swr_init(ost.swr) < 0) {
      ff::swr_free(&ost.swr);
      if (ost.audioResample)
        throw FFmpegException(media::FormatText(
            "Can not resample %d channels @ %d Hz to %d channels @ %d Hz", decChannels, decRate,
            encChannels, encRate));
      throw FFmpegException(media::FormatText(
          "Cannot convert %s sample format to %s sample format",
          ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16), ff::av_get_sample_fmt_name(enc->sample_fmt)));
    }
    ost.swrInRate = decRate;
    ost.swrInChannels = decChannels;
  }

  const int frameBytes = isize * decChannels;
  // Samples taken in but not yet encoded: those in the FIFO and those the resampler holds back.
  const int64_t fifoSamples =
      ff::av_audio_fifo_size(ost.fifo) + ff::swr_get_delay(ost.swr, encRate);
  if (s_.audioSyncMethod) {
    const double delta =
        SyncTime(ist) * encRate - static_cast<double>(ost.syncOpts) - static_cast<double>(fifoSamples);
    int64_t byteDelta = static_cast<int64_t>(delta * decRate / encRate) * frameBytes;
    if (std::fabs(delta) > 50) {
      if (ist.isStart || std::fabs(delta) > s_.audioDriftThreshold * encRate) {
        if (byteDelta < 0) {
          byteDelta = std::max<int64_t>(byteDelta, -size);
          buf += -byteDelta;
          size += static_cast<int>(byteDelta);
          if (s_.verbose > 2)
            task_.LogFormat(media::llVerbose, "discarding %d audio samples",
                            static_cast<int>(-delta));
          if (size == 0) return;
          ist.isStart = false;
        } else {
          silence_.assign(static_cast<size_t>(byteDelta), 0);
          silence_.insert(silence_.end(), buf, buf + size);
          buf = silence_.data();
          size += static_cast<int>(byteDelta);
          ist.isStart = false;
          if (s_.verbose > 2)
            task_.LogFormat(media::llVerbose, "adding %d audio samples of silence",
                            static_cast<int>(delta));
        }
      } else if (s_.audioSyncMethod > 1) {
        const int comp = std::clamp(static_cast<int>(delta), -s_.audioSyncMethod, s_.audioSyncMethod);
        if (s_.verbose > 2)
          task_.LogFormat(media::llVerbose,
                          "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                          comp, encRate);
        ff::swr_set_compensation(ost.swr, comp, encRate);
      }
    }
  } else {
    ost.syncOpts = std::llround(SyncTime(ist) * encRate) - fifoSamples;
  }

  const int inSamples = size / frameBytes;
  const int outMax = ff::swr_get_out_samples(ost.swr, inSamples);
  if (outMax < 0) throw FFmpegException("Buffer sizes too large in do_audio_out");
  PrepareAudioFrame(ost.converted, ost.convertedCapacity, enc, std::max(outMax, 1));
  const uint8_t* in[] = {buf};
  const int converted = ff::swr_convert(ost.swr, ost.converted->data, outMax, in, inSamples);
  if (converted < 0) {
    DecodeProblem("av_audio_convert() failed");
    return;
  }
  QueueConverted(ost, converted);
}

// The samples the resampler still holds, at the end of the stream.
void TTranscoder::DrainResampler(TOutputStreamRun& ost) {
  if (!ost.swr) return;
  const int pending = ff::swr_get_out_samples(ost.swr, 0);
  if (pending <= 0) return;
  PrepareAudioFrame(ost.converted, ost.convertedCapacity, Enc(ost), pending);
  const int converted = ff::swr_convert(ost.swr, ost.converted->data, pending, nullptr, 0);
  if (converted > 0) QueueConverted(ost, converted);
}

// Hands converted samples to the encoder: whole blocks to sample-wise encoders, else through
// the FIFO in frames of the encoder's frame size.
void TTranscoder::QueueConverted(TOutputStreamRun& ost, int samples) {
  AVCodecContext* enc = Enc(ost);
  if (samples <= 0) return;
  const bool fixedFrames =
      enc->frame_size > 1 && !(ost.codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  if (!fixedFrames) {
    ost.converted->nb_samples = samples;
    ost.converted->pts = ost.syncOpts;
    ost.syncOpts += samples;
    EncodeAudioFrame(ost, ost.converted);
    return;
  }
  if (ff::av_audio_fifo_write(ost.fifo, reinterpret_cast<void**>(ost.converted->data), samples) <
      samples)
    throw FFmpegException("av_fifo_realloc2() failed");
  while (ff::av_audio_fifo_size(ost.fifo) >= enc->frame_size) {
    PrepareAudioFrame(ost.encFrame, ost.encFrameCapacity, enc, enc->frame_size);
    ff::av_audio_fifo_read(ost.fifo, reinterpret_cast<void**>(ost.encFrame->data), enc->frame_size);
    ost.encFrame->pts = ost.syncOpts;
    EncodeAudioFrame(ost, ost.encFrame);
    ost.syncOpts += enc->frame_size;
  }
}

// The FIFO's remainder as the last, short frame (the library pads it for encoders that need
// whole frames), then everything the encoder still holds.
void TTranscoder::FlushAudio(TOutputStreamRun& ost) {
  DrainResampler(ost);
  const int left = ost.fifo ? ff::av_audio_fifo_size(ost.fifo) : 0;
  if (left > 0) {
    PrepareAudioFrame(ost.encFrame, ost.encFrameCapacity, Enc(ost), left);
    ff::av_audio_fifo_read(ost.fifo, reinterpret_cast<void**>(ost.encFrame->data), left);
    ost.encFrame->pts = ost.syncOpts;
    ost.syncOpts += left;
    EncodeAudioFrame(ost, ost.encFrame);
  }
  EncodeAudioFrame(ost, nullptr);
}

void TTranscoder::EncodeAudioFrame(TOutputStreamRun& ost, AVFrame* frame) {
  const int ret = ff::avcodec_send_frame(Enc(ost), frame);
  if (ret < 0 && !(ret == AVERROR_EOF && !frame)) throw FFmpegException("Audio encoding failed");
  ReceivePackets(ost, false);
}

void TTranscoder::DoVideoOut(TOutputStreamRun& ost, TInputStream& ist, AVFrame* picture,
                             double syncTime) {
  AVCodecContext* enc = Enc(ost);
  const double syncIpts = syncTime / av_q2d(enc->time_base);
  int frames = 1;
  if (s_.videoSyncMethod != 0) {
    const double vdelta = syncIpts - static_cast<double>(ost.syncOpts);
    const bool variableRate =
        task_.Output(ost.file)->oformat->flags & AVFMT_VARIABLE_FPS;
    if (vdelta < -1.1) {
      frames = 0;
    } else if (s_.videoSyncMethod == 2 || (s_.videoSyncMethod < 0 && variableRate)) {
      if (vdelta <= -0.6)
        frames = 0;
      else if (vdelta > 0.6)
        ost.syncOpts = std::llround(syncIpts);
    } else if (vdelta > 1.1) {
      frames = static_cast<int>(std::llround(vdelta));
    }
    if (frames == 0) {
      ++dropFrames_;
      dupDropHappened_ = true;
      if (s_.verbose > 2) task_.Log(media::llVerbose, "*** drop!");
    } else if (frames > 1) {
      dupFrames_ += frames - 1;
      dupDropHappened_ = true;
      if (s_.verbose > 2) task_.LogFormat(media::llVerbose, "*** %d dup!", frames - 1);
    }
  } else {
    ost.syncOpts = std::llround(syncIpts);
  }
  frames = std::min(frames, s_.maxFrames[AVMEDIA_TYPE_VIDEO] - ost.frameNumber);
  if (frames <= 0) return;

  AVFrame* pic = picture;
  if (!ost.graph) {
    // A new picture size or format: crop bands in proportion, and a scaler for the new input.
    if (picture->width - ost.leftBand - ost.rightBand != ost.resampleWidth ||
        picture->height - ost.topBand - ost.bottomBand != ost.resampleHeight ||
        picture->format != ost.resamplePixFmt) {
      task_.LogFormat(media::llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s",
                      ist.file, ist.index, picture->width, picture->height,
                      ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)));
      const auto band = [](int size, int initialBand, int initialSize) {
        return initialSize > 0 ? (size * initialBand / initialSize) & ~1 : 0;
      };
      ost.topBand = band(picture->height, ost.initialBands[0], ost.initialHeight);
      ost.bottomBand = band(picture->height, ost.initialBands[1], ost.initialHeight);
      ost.leftBand = band(picture->width, ost.initialBands[2], ost.initialWidth);
      ost.rightBand = band(picture->width, ost.initialBands[3], ost.initialWidth);
      ost.resampleWidth = picture->width - ost.leftBand - ost.rightBand;
      ost.resampleHeight = picture->height - ost.topBand - ost.bottomBand;
      ost.resamplePixFmt = picture->format;
      ost.rescaling = true;
    }
    if (ost.cropping) {
      ff::av_frame_unref(ost.cropped);
      if (ff::av_frame_ref(ost.cropped, picture) < 0) throw FFmpegException("av_mallocz fail");
      ost.cropped->crop_top = ost.topBand;
      ost.cropped->crop_bottom = ost.bottomBand;
      ost.cropped->crop_left = ost.leftBand;
      ost.cropped->crop_right = ost.rightBand;
      if (ff::av_frame_apply_cropping(ost.cropped, AV_FRAME_CROP_UNALIGNED) < 0) {
        DecodeProblem("error cropping picture");
        return;
      }
      pic = ost.cropped;
    }
    if (ost.rescaling) {
      ost.sws = ff::sws_getCachedContext(
          ost.sws, pic->width, pic->height, static_cast<AVPixelFormat>(pic->format), enc->width,
          enc->height, enc->pix_fmt, task_.genericOptions_->ScalerFlags(), nullptr, nullptr,
          nullptr);
      if (!ost.sws) throw FFmpegException("Cannot get resampling context");
      if (!ost.scaled) {
        ost.scaled = ff::av_frame_alloc();
        if (!ost.scaled) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        ost.scaled->format = enc->pix_fmt;
        ost.scaled->width = enc->width;
        ost.scaled->height = enc->height;
        if (ff::av_frame_get_buffer(ost.scaled, 0) < 0)
          throw FFmpegException("Cannot allocate temp picture, check pix fmt");
      } else if (ff::av_frame_make_writable(ost.scaled) < 0) {
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
      }
      ff::sws_scale(ost.sws, pic->data, pic->linesize, 0, pic->height, ost.scaled->data,
                    ost.scaled->linesize);
      ost.scaled->interlaced_frame = picture->interlaced_frame;
      ost.scaled->top_field_first = picture->top_field_first;
      pic = ost.scaled;
    }
  }

  for (int i = 0; i < frames && !task_.StopRequested(); ++i) {
    AVFrame* frame = ost.encFrame;
    if (ff::av_frame_ref(frame, pic) < 0) throw FFmpegException("av_mallocz fail");
    frame->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      frame->top_field_first = s_.topFieldFirst == -1 ? picture->top_field_first : s_.topFieldFirst;
    frame->quality = s_.sameQuality ? static_cast<int>(ist.quality) : enc->global_quality;
    if (!s_.meThreshold) frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->pts = ost.syncOpts;
    frame->sample_aspect_ratio = enc->sample_aspect_ratio;
    PostHook(frame, ff::av_rescale_q(ost.syncOpts, enc->time_base, AV_TIME_BASE_Q));
    if (!s_.vstatsFileName.empty())
      Owner(ost).statistics.push_back({.pts = frame->pts, .frame = ost.frameNumber + 1});
    EncodeVideoFrame(ost, frame);
    ff::av_frame_unref(frame);
    ++ost.syncOpts;
    ++ost.frameNumber;
  }
  if (pic == ost.cropped) ff::av_frame_unref(ost.cropped);
}

int TTranscoder::EncodeVideoFrame(TOutputStreamRun& ost, AVFrame* frame) {
  const int ret = ff::avcodec_send_frame(Enc(ost), frame);
  if (ret < 0 && !(ret == AVERROR_EOF && !frame)) throw FFmpegException("Video encoding failed");
  return ReceivePackets(ost, true);
}

int TTranscoder::ReceivePackets(TOutputStreamRun& ost, bool video) {
  AVCodecContext* enc = Enc(ost);
  TOutputStreamRun& owner = Owner(ost);
  int bytes = 0;
  for (;;) {
    const int ret = ff::avcodec_receive_packet(enc, outPkt_);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) throw FFmpegException(video ? "Video encoding failed" : "Audio encoding failed");
    owner.gotPacket = true;
    size_t sideSize = 0;
    if (const uint8_t* sd =
            ff::av_packet_get_side_data(outPkt_, AV_PKT_DATA_QUALITY_STATS, &sideSize);
        sd && sideSize >= 5) {
      // Frames flushed at the end may carry no quantizer (negative); the last known one stays.
      const int quality = static_cast<int>(AV_RL32(sd));
      if (quality >= 0) owner.quality = quality;
      owner.pictType = sd[4];
      const int errors = sideSize >= 6 ? sd[5] : 0;
      for (int i = 0; i < 3; ++i)
        owner.error[i] = i < errors && sideSize >= 8 + 8 * size_t(i + 1)
                             ? static_cast<int64_t>(AV_RL64(sd + 8 + 8 * i))
                             : 0;
    }
    const int size = outPkt_->size;
    const int64_t pts = outPkt_->pts;  // encoder time base
    if (owner.logFile && enc->stats_out) std::fputs(enc->stats_out, owner.logFile);
    // Each encoded picture lasts one tick of the encoder's time base (one frame); containers
    // that store durations need it for the last frame.
    if (video && outPkt_->duration == 0) outPkt_->duration = 1;
    ff::av_packet_rescale_ts(outPkt_, enc->time_base, ost.st->time_base);
    outPkt_->stream_index = ost.index;
    WritePacket(ost, outPkt_);
    bytes += size;
    if (video) {
      videoBytes_ += size;
      if (!s_.vstatsFileName.empty()) NoteStatistics(owner, pts, size);
    } else {
      audioBytes_ += size;
    }
  }
  return bytes;
}

void TTranscoder::DoSubtitleOut(TOutputStreamRun& ost, TInputStream& ist, AVSubtitle& subtitle,
                                int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    DecodeProblem("Subtitle packets must have a pts");
    return;
  }
  constexpr int kBufferSize = 1024 * 1024;
  if (!subtitleBuffer_) {
    subtitleBuffer_ = static_cast<uint8_t*>(ff::av_malloc(kBufferSize));
    if (!subtitleBuffer_) throw FFmpegException("Subtitle encoding failed");
  }
  AVCodecContext* enc = Enc(ost);
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int packets = dvb ? 2 : 1;
  for (int i = 0; i < packets; ++i) {
    subtitle.pts = ff::av_rescale_q(pts, ist.st->time_base, AV_TIME_BASE_Q) +
                   ff::av_rescale_q(subtitle.start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    const int size = ff::avcodec_encode_subtitle(enc, subtitleBuffer_, kBufferSize, &subtitle);
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    ff::av_packet_unref(outPkt_);
    outPkt_->data = subtitleBuffer_;
    outPkt_->size = size;
    outPkt_->stream_index = ost.index;
    outPkt_->pts = ff::av_rescale_q(subtitle.pts, AV_TIME_BASE_Q, ost.st->time_base);
    // Text subtitles need their display time as the packet's duration.
    outPkt_->duration = ff::av_rescale_q(subtitle.end_display_time, AVRational{1, 1000},
                                         ost.st->time_base);
    if (dvb)
      outPkt_->pts += 90 * (i == 0 ? subtitle.start_display_time : subtitle.end_display_time);
    outPkt_->dts = outPkt_->pts;
    WritePacket(ost, outPkt_);
  }
}

void TTranscoder::WritePacket(TOutputStreamRun& ost, AVPacket* pkt) { FilterPacket(ost, 0, pkt); }

// Through the stream's bitstream filters from the one at level on, then to the muxer. A filter
// that refuses the packet lets it go on as it was (or ends the run with stop-on-decode-error).
void TTranscoder::FilterPacket(TOutputStreamRun& ost, size_t level, AVPacket* pkt) {
  if (level == ost.bsfs.size()) {
    MuxPacket(ost, pkt);
    return;
  }
  AVBSFContext* bsf = ost.bsfs[level];
  // The filter takes the packet over even when it then refuses it; a reference stays here.
  AVPacket* given = ost.bsfInputs[level];
  if (ff::av_packet_ref(given, pkt) < 0) throw FFmpegException("av_mallocz fail");
  int ret = ff::av_bsf_send_packet(bsf, pkt);
  int delivered = 0;
  if (ret >= 0) {
    // Each packet the filter gives goes on; the next level takes it over, leaving pkt blank.
    while ((ret = ff::av_bsf_receive_packet(bsf, pkt)) >= 0) {
      ++delivered;
      FilterPacket(ost, level + 1, pkt);
    }
  }
  if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
    ff::av_packet_unref(given);
    return;
  }
  const std::string text = media::AVErrorToStr(
      media::FormatText("%s failed for stream %d, codec %s", bsf->filter->name, ost.index,
                        ost.encodingNeeded ? Enc(ost)->codec->name : "copy"),
      ret);
  if (s_.exitOnError) {
    ff::av_packet_unref(given);
    throw FFmpegException(text);
  }
  task_.Log(media::llError, text);
  // Nothing of it went on yet: the packet goes on unchanged. (A filter that failed part-way
  // through a packet has passed on what it could; repeating the whole would duplicate that.)
  ff::av_packet_unref(pkt);
  if (delivered == 0) {
    ff::av_packet_move_ref(pkt, given);
    FilterPacket(ost, level + 1, pkt);
  }
  ff::av_packet_unref(given);
}

void TTranscoder::MuxPacket(TOutputStreamRun& ost, AVPacket* pkt) {
  AVFormatContext* oc = task_.Output(ost.file);
  // Decoding times must rise; an encoder made anew for a joined input starts with its priming
  // delay before the end of the previous one's last packet.
  if (pkt->dts != AV_NOPTS_VALUE && ost.lastDts != AV_NOPTS_VALUE && pkt->dts <= ost.lastDts &&
      !(oc->oformat->flags & AVFMT_TS_NONSTRICT)) {
    pkt->dts = ost.lastDts + 1;
    if (pkt->pts != AV_NOPTS_VALUE && pkt->pts < pkt->dts) pkt->pts = pkt->dts;
  }
  if (pkt->dts != AV_NOPTS_VALUE) ost.lastDts = pkt->dts;
  const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
  if (ts != AV_NOPTS_VALUE)
    ost.written = std::max(ost.written,
                           static_cast<double>(ts + pkt->duration) * av_q2d(ost.st->time_base));
  const int ret = ff::av_interleaved_write_frame(oc, pkt);
  if (ret < 0) throw FFmpegException(media::AVErrorToStr("av_interleaved_write_frame()", ret));
  ++ost.packets;
}

void TTranscoder::NoteStatistics(TOutputStreamRun& owner, int64_t pts, int size) {
  auto& lines = owner.statistics;
  auto line = std::find_if(lines.begin(), lines.end(), [pts](const auto& l) {
    return !l.arrived && l.pts == pts;
  });
  if (line == lines.end())
    line = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return !l.arrived; });
  if (line == lines.end()) return;  // a packet for no picture handed in: no line of its own
  line->arrived = true;
  line->size = size;
  line->quality = owner.quality;
  line->pictType = owner.pictType;
  line->lumaError = owner.error[0];
  WriteStatistics(owner, false);
}

void TTranscoder::WriteStatistics(TOutputStreamRun& owner, bool end) {
  auto& lines = owner.statistics;
  while (!lines.empty() && (lines.front().arrived || end)) {
    const TOutputStreamRun::TStatisticsLine line = lines.front();
    lines.pop_front();
    // A line only for a picture that was written (a frame size that is not 0).
    if (!line.arrived || line.size == 0) continue;
    if (!vstats_) {
      vstats_ = std::fopen(s_.vstatsFileName.c_str(), "w");
      if (!vstats_) throw FFmpegException("fopen fail: " + s_.vstatsFileName);
    }
    const AVCodecContext* enc = owner.enc;
    std::fprintf(vstats_, "frame= %5d q= %2.1f ", line.frame,
                 static_cast<double>(line.quality) / FF_QP2LAMBDA);
    if (s_.doPSNR)
      std::fprintf(vstats_, "PSNR= %6.2f ",
                   -10.0 * std::log10(static_cast<double>(line.lumaError) /
                                      (static_cast<double>(enc->width) * enc->height * 255.0 * 255.0)));
    std::fprintf(vstats_, "f_size= %6d ", line.size);
    // The output time once the picture is shown to its end.
    double t = static_cast<double>(line.pts + 1) * av_q2d(enc->time_base);
    if (t < 0.01) t = 0.01;
    const double bitRate = line.size * 8 / av_q2d(enc->time_base) / 1000.0;
    const double average = static_cast<double>(videoBytes_) * 8 / t / 1000.0;
    std::fprintf(vstats_, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 static_cast<double>(videoBytes_) / 1024, t, bitRate, average);
    std::fprintf(vstats_, "type= %c\n",
                 ff::av_get_picture_type_char(static_cast<AVPictureType>(line.pictType)));
  }
}

}  // namespace engine
