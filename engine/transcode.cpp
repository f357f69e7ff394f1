// The packet loop of a run: input choice, timestamp correction, decoding or passing through,
// join switches, drain and trailers, and the status report with its progress event.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>

#include "engine/transcoder.h"
#include "media/ffutils.h"
#include "media/unicodeprotocol.h"

namespace engine {

namespace {

AVMediaType TypeOf(const AVStream* st) { return st->codecpar->codec_type; }

// Waits until the stream's time is due on the run clock (rate emulation).
void EmulateRate(int64_t pts, int64_t readStart) {
  const int64_t elapsed = RunClock() - readStart;
  if (pts > elapsed + 1000)
    std::this_thread::sleep_for(std::chrono::milliseconds((pts - elapsed) / 1000));
}

}  // namespace

int64_t TTranscoder::RecordingLimit() const {
  return s_.recordingTime == INT64_MAX ? INT64_MAX : s_.startTime + s_.recordingTime;
}

double TTranscoder::SyncTime(const TInputStream& ist) const {
  return static_cast<double>(ist.pts - s_.startTime) / AV_TIME_BASE;
}

void TTranscoder::DecodeProblem(const std::string& text) {
  if (s_.exitOnError) throw FFmpegException(text);
  task_.Log(media::llError, text);
}

void TTranscoder::Execute() {
  SetUp();
  loopStart_ = lastReport_ = RunClock();
  noPacketCount_ = 0;
  currentFile_ = 0;
  const int64_t interval = task_.ProgressInterval();
  bool endLoop = false;
  while (!endLoop) {
    task_.CheckPause();
    if (task_.StopRequested()) break;
    const int file = ChooseInput();
    if (file < 0) {
      if (!task_.joining_ && noPacketCount_ > 0) {
        for (TFileRange& f : files_) f.noPacket = false;
        noPacketCount_ = 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      break;
    }
    if (s_.limitFileSize > 0) {
      AVIOContext* pb = task_.Output(0)->pb;
      if (pb && ff::avio_seek(pb, 0, SEEK_CUR) > s_.limitFileSize) break;
    }
    AVFormatContext* ic = task_.Input(file);
    const int ret = ff::av_read_frame(ic, pkt_);
    if (ret == AVERROR(EAGAIN)) {
      files_[file].noPacket = true;
      ++noPacketCount_;
      continue;
    }
    if (ret < 0) {
      files_[file].eof = true;
      if (s_.optShortest && !task_.joining_) break;
      if (task_.joining_) JoinSwitch(file, endLoop);
      continue;
    }
    for (TFileRange& f : files_) f.noPacket = false;
    noPacketCount_ = 0;
    const int index = pkt_->stream_index;
    if (s_.doPktDump && index < static_cast<int>(ic->nb_streams))
      ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt_, s_.doHexDump, ic->streams[index]);
    if (index >= files_[file].count || istreams_[files_[file].first + index].unused) {
      ff::av_packet_unref(pkt_);
      continue;
    }
    TInputStream& ist = istreams_[files_[file].first + index];
    AdjustTimestamps(ist, pkt_);
    const AVRational tb = ist.st->time_base;
    const int64_t limit = RecordingLimit();
    if (limit != INT64_MAX && pkt_->pts != AV_NOPTS_VALUE &&
        ff::av_compare_ts(pkt_->pts, tb, limit, AV_TIME_BASE_Q) >= 0) {
      ist.pastRecordingTime = true;
      ff::av_packet_unref(pkt_);
      continue;
    }
    if (OutputPacket(ist, pkt_) < 0) {
      const std::string text = media::FormatText("Error while decoding stream #%d.%d (%s)",
                                                 ist.file, ist.index,
                                                 media::MediaTypeName(TypeOf(ist.st)).c_str());
      ff::av_packet_unref(pkt_);
      if (s_.exitOnError) throw FFmpegException(text);
      if (s_.verbose >= 0) task_.Log(media::llVerbose, text);
      continue;
    }
    ff::av_packet_unref(pkt_);
    const int64_t now = RunClock();
    if (now - lastReport_ > interval) {
      lastReport_ = now;
      PrintReport(false, file);
    }
  }

  for (TInputStream& ist : istreams_)
    if (ist.decodingNeeded && !ist.flushed) OutputPacket(ist, nullptr);

  for (int i = 0; i < headersWritten_; ++i) {
    const int ret = ff::av_write_trailer(task_.Output(i));
    if (ret < 0) throw FFmpegException(media::AVErrorToStr("av_write_trailer()", ret));
  }
  PrintReport(true, -1);
  task_.CheckPause();  // a pause during the last report holds the task before it ends
  if (!task_.StopRequested()) CheckSomethingWritten();
  task_.finished_ = !task_.StopRequested();
}

void TTranscoder::CheckSomethingWritten() {
  // Joined inputs write through several slots into one file: packets count per file.
  std::map<const TCustomFFmpeg::TOutputFile*, int64_t> packets;
  for (const auto& slot : task_.outputSlots_) packets[slot.get()];
  for (const TOutputStreamRun& ost : ostreams_)
    packets[task_.outputSlots_[ost.file].get()] += ost.packets;
  bool empty = false;
  for (const auto& slot : task_.outputSlots_) {
    if (packets[slot.get()] > 0) continue;
    slot->discard = true;
    empty = true;
  }
  if (!empty) return;
  for (const TCustomFFmpeg::TInputFile& input : task_.inputFiles_) {
    const AVFormatContext* ic = input.ctx;
    if (input.skipped > 0 && ic->duration != AV_NOPTS_VALUE && input.skipped >= ic->duration)
      throw FFmpegException(media::FormatText(
          "nothing to convert: the start %s lies past the end of %s (%s)",
          media::DurationToStr(input.skipped).c_str(),
          media::URLToFileName(ic->url ? ic->url : "").c_str(),
          media::DurationToStr(ic->duration).c_str()));
  }
  throw FFmpegException("nothing to convert: no picture or sound of the source reached the output");
}

// The input's offset and the stream's scale applied to a packet's times; a timestamp jump in an
// input that may have them moves the input's offset so that the output stays continuous.
void TTranscoder::AdjustTimestamps(TInputStream& ist, AVPacket* pkt) {
  const AVRational tb = ist.st->time_base;
  TCustomFFmpeg::TInputFile& input = task_.inputFiles_[ist.file];
  const AVFormatContext* ic = task_.Input(ist.file);
  const int index = ist.index;
  const int64_t offset = ff::av_rescale_q(input.tsOffset, AV_TIME_BASE_Q, tb);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
  if (index < MAX_STREAMS && input.tsScale[index] != 0) {
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(pkt->pts * input.tsScale[index]);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(pkt->dts * input.tsScale[index]);
  }
  if (pkt->dts != AV_NOPTS_VALUE && ist.nextPts != AV_NOPTS_VALUE &&
      (ic->iformat->flags & AVFMT_TS_DISCONT)) {
    const int64_t dtsUs = ff::av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
    const int64_t delta = dtsUs - ist.nextPts;
    if ((std::llabs(delta) > static_cast<int64_t>(s_.dtsDeltaThreshold * AV_TIME_BASE) ||
         dtsUs + 1 < ist.pts) &&
        !s_.copyTs) {
      input.tsOffset -= delta;
      if (s_.verbose > 2)
        task_.LogFormat(media::llVerbose, "timestamp discontinuity %lld, new offset= %lld",
                        static_cast<long long>(delta), static_cast<long long>(input.tsOffset));
      const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
      pkt->dts -= shift;
      if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
    }
  }
}

// The input to read next: the one whose streams lag most (by input time with input sync, else by
// output time); -1 when none is due or a stream has all the frames it may have.
int TTranscoder::ChooseInput() {
  if (task_.joining_) {
    for (const TOutputStreamRun& ost : ostreams_)
      if (ost.file == currentFile_ && ost.frameNumber >= s_.maxFrames[TypeOf(ost.st)]) return -1;
    return currentFile_;
  }
  double ipMin = 1e100, opMin = 1e100;
  int chosen = -1;
  for (const TOutputStreamRun& ost : ostreams_) {
    const TInputStream& ist = istreams_[ost.source];
    const TFileRange& file = files_[ist.file];
    if (ist.pastRecordingTime || file.noPacket) continue;
    const double ipts = static_cast<double>(ist.pts);
    const double opts = ost.written;
    if (!file.eof) {
      if (s_.inputSync ? ipts < ipMin : opts < opMin) {
        ipMin = ipts;
        opMin = opts;
        chosen = ist.file;
      }
    }
    if (ost.frameNumber >= s_.maxFrames[TypeOf(ost.st)]) return -1;
  }
  return chosen;
}

void TTranscoder::JoinSwitch(int file, bool& endLoop) {
  const TFileRange& range = files_[file];
  for (int i = range.first; i < range.first + range.count; ++i) {
    TInputStream& ist = istreams_[i];
    if (!ist.decodingNeeded) continue;
    OutputPacket(ist, nullptr);
    ff::avcodec_flush_buffers(ist.dec);
    ist.flushed = true;
  }
  const bool lastInput = file + 1 >= task_.InputCount();
  // The encoders were drained with the input; the next input gets fresh ones.
  if (!lastInput) ReopenEncoders();
  double joined = 0;
  for (const TOutputStreamRun& ost : ostreams_) {
    if (ost.file != file) continue;
    for (TOutputStreamRun& next : ostreams_) {
      if (next.file > file && next.index == ost.index) {
        next.syncOpts = ost.syncOpts;
        next.frameNumber = ost.frameNumber;
        next.written = ost.written;
        next.lastDts = ost.lastDts;
      }
    }
    joined = std::max(joined, ost.written);
  }
  if (lastInput) {  // the last slot stays active for the last report
    endLoop = true;
    return;
  }
  for (TOutputStreamRun& ost : ostreams_)
    if (ost.file == file) ost.active = false;
  task_.inputFiles_[file + 1].tsOffset += std::llround(joined * AV_TIME_BASE);
  currentFile_ = file + 1;
}

int TTranscoder::OutputPacket(TInputStream& ist, AVPacket* pkt) {
  if (ist.nextPts == AV_NOPTS_VALUE) ist.nextPts = ist.pts;
  if (pkt && pkt->dts != AV_NOPTS_VALUE)
    ist.nextPts = ist.pts = ff::av_rescale_q(pkt->dts, ist.st->time_base, AV_TIME_BASE_Q);
  const AVMediaType type = TypeOf(ist.st);

  if (ist.decodingNeeded) {
    if (type == AVMEDIA_TYPE_SUBTITLE) {
      if (pkt) {
        AVSubtitle subtitle{};
        int got = 0;
        if (ff::avcodec_decode_subtitle2(ist.dec, &subtitle, &got, pkt) < 0) return -1;
        if (got) {
          HandleDecodedSubtitle(ist, subtitle, pkt);
          ff::avsubtitle_free(&subtitle);
        }
      }
    } else if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) {
      int ret = ff::avcodec_send_packet(ist.dec, pkt);
      if (ret < 0 && ret != AVERROR_EOF && pkt) return -1;
      int frames = 0;
      while ((ret = ff::avcodec_receive_frame(ist.dec, ist.frame)) >= 0) {
        if (pkt && ++frames > 1 &&
            ((!ist.multiFrameWarned && s_.verbose > 0) || s_.verbose > 1)) {
          task_.LogFormat(media::llError, "Multiple frames in a packet from stream %d", ist.index);
          ist.multiFrameWarned = true;
        }
        if (type == AVMEDIA_TYPE_AUDIO)
          HandleDecodedAudio(ist);
        else
          HandleDecodedVideo(ist);
        ff::av_frame_unref(ist.frame);
      }
      if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) return -1;
    } else {
      return -1;
    }
  } else if (pkt) {
    ist.pts = ist.nextPts;
    const AVCodecParameters* par = ist.st->codecpar;
    if (pkt->duration > 0) {
      ist.nextPts += ff::av_rescale_q(pkt->duration, ist.st->time_base, AV_TIME_BASE_Q);
    } else if (type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
      ist.nextPts += static_cast<int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      const AVRational rate = ff::av_guess_frame_rate(task_.Input(ist.file), ist.st, nullptr);
      if (rate.num && rate.den) ist.nextPts += ff::av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
    }
    if (s_.rateEmu) EmulateRate(ist.pts, ist.readStart);
  }

  if (pkt && (s_.startTime == 0 || ist.pts >= s_.startTime))
    for (TOutputStreamRun& ost : ostreams_)
      if (ost.source == &ist - istreams_.data() && !ost.encodingNeeded) CopyPacket(ost, ist, *pkt);
  if (!pkt) FlushEncoders(ist);
  return 0;
}

// The decoded frame's time: its own when the decoder knows it, else the stream's predicted one.
void TTranscoder::TakeFrameTime(TInputStream& ist) {
  const int64_t pts = ist.frame->best_effort_timestamp;
  ist.pts = pts != AV_NOPTS_VALUE ? ff::av_rescale_q(pts, ist.st->time_base, AV_TIME_BASE_Q)
                                  : ist.nextPts;
}

void TTranscoder::HandleDecodedAudio(TInputStream& ist) {
  AVFrame* frame = ist.frame;
  TakeFrameTime(ist);
  if (frame->sample_rate > 0)
    ist.nextPts = ist.pts + static_cast<int64_t>(frame->nb_samples) * AV_TIME_BASE / frame->sample_rate;

  // Every later step works on 16-bit interleaved samples at the decoder's rate and layout.
  AVChannelLayout layout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
  else
    ff::av_channel_layout_copy(&layout, &frame->ch_layout);
  if (!ist.toS16 || frame->format != ist.s16Format || frame->sample_rate != ist.s16Rate ||
      ff::av_channel_layout_compare(&layout, &ist.s16Layout) != 0) {
    ff::swr_free(&ist.toS16);
    if (ff::swr_alloc_set_opts2(&ist.toS16, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                &layout, static_cast<AVSampleFormat>(frame->format),
                                frame->sample_rate, 0, nullptr) < 0 ||
        ff::swr_init(ist.toS16) < 0) {
      ff::av_channel_layout_uninit(&layout);
      throw FFmpegException(media::FormatText(
          "Cannot convert %s sample format to %s sample format",
          ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format)), "s16"));
    }
    ist.s16Format = frame->format;
    ist.s16Rate = frame->sample_rate;
    ff::av_channel_layout_uninit(&ist.s16Layout);
    ff::av_channel_layout_copy(&ist.s16Layout, &layout);
  }
  ff::av_channel_layout_uninit(&layout);
  const int channels = ist.s16Layout.nb_channels;
  const int bytes = frame->nb_samples * channels * 2;
  ff::av_fast_malloc(&ist.s16, &ist.s16Size, std::max(bytes, 192000));
  if (!ist.s16) throw FFmpegException("Out of memory in do_audio_out");
  const int samples = ff::swr_convert(ist.toS16, &ist.s16, frame->nb_samples,
                                      const_cast<const uint8_t**>(frame->extended_data),
                                      frame->nb_samples);
  if (samples < 0) {
    DecodeProblem("av_audio_convert() failed");
    return;
  }
  // An input opened at a start time is read from the key frame at or before it: the sound
  // decoded from before the start (times below 0) is cut off, so the output begins at the start
  // and an input that holds nothing after it gives nothing.
  int skip = 0;
  if (task_.inputFiles_[ist.file].skipped > 0 && ist.pts < 0 && frame->sample_rate > 0) {
    const int64_t early = (-ist.pts * frame->sample_rate + AV_TIME_BASE - 1) / AV_TIME_BASE;
    if (early >= samples) return;
    skip = static_cast<int>(early);
    ist.pts += static_cast<int64_t>(skip) * AV_TIME_BASE / frame->sample_rate;
  }
  uint8_t* data = ist.s16 + static_cast<size_t>(skip) * channels * 2;
  const int size = (samples - skip) * channels * 2;
  if (s_.audioVolume != 256) {
    auto* sample = reinterpret_cast<int16_t*>(data);
    for (int i = 0; i < (samples - skip) * channels; ++i) {
      const int v = (sample[i] * s_.audioVolume + 128) >> 8;
      sample[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
    }
  }
  if (s_.rateEmu) EmulateRate(ist.pts, ist.readStart);
  if (s_.startTime != 0 && ist.pts < s_.startTime) return;
  for (TOutputStreamRun& ost : ostreams_)
    if (ost.source == &ist - istreams_.data() && ost.encodingNeeded)
      DoAudioOut(ost, ist, data, size);
}

void TTranscoder::HandleDecodedVideo(TInputStream& ist) {
  AVFrame* frame = ist.frame;
  TakeFrameTime(ist);
  int64_t duration = 0;
  if (frame->pkt_duration > 0) {
    duration = ff::av_rescale_q(frame->pkt_duration, ist.st->time_base, AV_TIME_BASE_Q);
  } else {
    const AVRational rate = ff::av_guess_frame_rate(task_.Input(ist.file), ist.st, frame);
    if (rate.num && rate.den) duration = ff::av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
  }
  ist.nextPts = ist.pts + duration;
  ist.quality = static_cast<float>(frame->quality);
  PreProcessFrame(ist);
  frame = ist.frame;

  if (s_.rateEmu) EmulateRate(ist.pts, ist.readStart);
  if (s_.startTime != 0 && ist.pts < s_.startTime) return;
  const int self = static_cast<int>(&ist - istreams_.data());
  for (TOutputStreamRun& ost : ostreams_) {
    if (ost.source != self || !ost.encodingNeeded) continue;
    if (!ost.graph) {
      DoVideoOut(ost, ist, frame, SyncTime(ist));
      continue;
    }
    frame->pts = ist.pts;  // the graph's source counts in µs
    if (ff::av_buffersrc_add_frame_flags(ost.filterSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
      throw FFmpegException("Error while filtering the picture");
    const AVRational sinkBase = ff::av_buffersink_get_time_base(ost.filterSink);
    while (ff::av_buffersink_get_frame(ost.filterSink, ost.filtered) >= 0) {
      const int64_t pts = ost.filtered->pts == AV_NOPTS_VALUE
                              ? ist.pts
                              : ff::av_rescale_q(ost.filtered->pts, sinkBase, AV_TIME_BASE_Q);
      DoVideoOut(ost, ist, ost.filtered, static_cast<double>(pts - s_.startTime) / AV_TIME_BASE);
      ff::av_frame_unref(ost.filtered);
    }
  }
}

void TTranscoder::HandleDecodedSubtitle(TInputStream& ist, AVSubtitle& subtitle,
                                        const AVPacket* pkt) {
  if (s_.rateEmu) EmulateRate(ist.pts, ist.readStart);
  if (s_.startTime != 0 && ist.pts < s_.startTime) return;
  const int self = static_cast<int>(&ist - istreams_.data());
  for (TOutputStreamRun& ost : ostreams_) {
    if (ost.source != self || !ost.encodingNeeded) continue;
    AVSubtitle copy = subtitle;  // the path changes the display times
    DoSubtitleOut(ost, ist, copy, pkt->pts);
  }
}

void TTranscoder::CopyPacket(TOutputStreamRun& ost, TInputStream& ist, const AVPacket& pkt) {
  if (ost.frameNumber == 0 && !(pkt.flags & AV_PKT_FLAG_KEY) && !s_.copyInitialNonKeyframes)
    return;
  const AVRational in = ist.st->time_base;
  const AVRational out = ost.st->time_base;
  const int64_t startOffset = ff::av_rescale_q(s_.startTime, AV_TIME_BASE_Q, out);
  if (ff::av_packet_ref(outPkt_, &pkt) < 0) throw FFmpegException("av_mallocz fail");
  outPkt_->stream_index = ost.index;
  outPkt_->pts = pkt.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                           : ff::av_rescale_q(pkt.pts, in, out) - startOffset;
  outPkt_->dts = (pkt.dts == AV_NOPTS_VALUE ? ff::av_rescale_q(ist.pts, AV_TIME_BASE_Q, out)
                                            : ff::av_rescale_q(pkt.dts, in, out)) -
                 startOffset;
  outPkt_->duration = ff::av_rescale_q(pkt.duration, in, out);
  const AVMediaType type = TypeOf(ost.st);
  if (type == AVMEDIA_TYPE_AUDIO) audioBytes_ += pkt.size;
  if (type == AVMEDIA_TYPE_VIDEO) {
    videoBytes_ += pkt.size;
    ++ost.syncOpts;
  }
  WritePacket(ost, outPkt_);
  ++ost.frameNumber;
}

// Drains the encoders fed by the stream.
void TTranscoder::FlushEncoders(TInputStream& ist) {
  const int self = static_cast<int>(&ist - istreams_.data());
  for (TOutputStreamRun& ost : ostreams_) {
    if (ost.source != self || !ost.encodingNeeded) continue;
    const AVMediaType type = TypeOf(ost.st);
    if (type == AVMEDIA_TYPE_AUDIO) {
      FlushAudio(ost);
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      EncodeVideoFrame(ost, nullptr);
      WriteStatistics(Owner(ost), true);
    }
  }
}

void TTranscoder::PrintReport(bool last, int fileIndex) {
  AVFormatContext* oc = task_.Output(0);
  int64_t total = 0;
  if (oc->pb) {
    total = ff::avio_size(oc->pb);
    if (total < 0) total = ff::avio_seek(oc->pb, 0, SEEK_CUR);
    if (total < 0) total = 0;
  }
  std::string text;
  int frames = -1, fps = -1;
  float q = -1.0f;
  bool firstVideo = true;
  const double elapsed = static_cast<double>(RunClock() - loopStart_) / AV_TIME_BASE;
  for (TOutputStreamRun& ost : ostreams_) {
    if (!ost.active || TypeOf(ost.st) != AVMEDIA_TYPE_VIDEO) continue;
    const TOutputStreamRun& owner = Owner(ost);
    const float quality = ost.encodingNeeded ? static_cast<float>(owner.quality) / FF_QP2LAMBDA : -1.0f;
    if (!firstVideo) {
      text += media::FormatText("q=%2.1f ", quality);
      continue;
    }
    firstVideo = false;
    frames = ost.frameNumber;
    // Nothing is shown until the encoder has delivered its first frame.
    if (frames < 1 || (ost.encodingNeeded && !owner.gotPacket)) return;
    fps = elapsed > 1 ? static_cast<int>(frames / elapsed + 0.5) : 0;
    q = quality;
    text += media::FormatText("frame=%5d fps=%3d q=%3.1f ", frames, fps, q);
    if (last) text += "L";
    if (s_.qpHist) {
      const int qp = static_cast<int>(std::lrint(q));
      if (qp >= 0 && qp < 52) ++qpHistogram_[qp];
      for (int j = 0; j < 32; ++j)
        text += media::FormatText("%X", static_cast<int>(std::lrint(std::log2(qpHistogram_[j] + 1))));
    }
    if (s_.doPSNR && ost.encodingNeeded) {
      const AVCodecContext* enc = Enc(ost);
      const double pixels = static_cast<double>(enc->width) * enc->height;
      double errorSum = 0, scaleSum = 0;
      text += "PSNR=";
      for (int j = 0; j < 3; ++j) {
        const double scale = (j == 0 ? pixels : pixels / 4) * 255.0 * 255.0;
        errorSum += static_cast<double>(owner.error[j]);
        scaleSum += scale;
        text += media::FormatText("%c:%2.2f ", "YUV"[j],
                                  -10.0 * std::log10(static_cast<double>(owner.error[j]) / scale));
      }
      text += media::FormatText("*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
    }
  }
  double t = 1e100;
  for (const TOutputStreamRun& ost : ostreams_)
    if (ost.written > 0 && ost.written < t) t = ost.written;
  if (t < 0.01) t = 0.01;
  const bool known = t < 1e99;
  const TCustomFFmpeg::TProgressCallback& progress = task_.ProgressCallback;
  if (progress || s_.verbose > 0 || last) {
    const double bitRate = known ? total * 8.0 / t / 1000.0 : 0.0;
    text += media::FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", total / 1024.0,
                              known ? t : 0.0, bitRate);
    if (dupFrames_ || dropFrames_) {
      text += media::FormatText(" dup=%d drop=%d", dupFrames_, dropFrames_);
      if (dupDropHappened_ && s_.verbose >= 0 && progress) {
        task_.Log(media::llVerbose, text);
        dupDropHappened_ = false;
      }
    }
    // Without a recording time the output is expected to last as long as the inputs, less the
    // part an output start time leaves out (an input start time was taken off at opening).
    int64_t expected = s_.recordingTime != INT64_MAX ? s_.recordingTime : task_.expectedDuration_;
    if (s_.recordingTime == INT64_MAX && expected > 0 && s_.startTime > 0)
      expected = std::max<int64_t>(expected - s_.startTime, 0);
    if (progress)
      task_.ReportProgress(fileIndex, frames, fps, q, static_cast<float>(bitRate), total,
                           known ? static_cast<int64_t>(t * AV_TIME_BASE) : 0, expected);
    else if (s_.verbose >= 0)
      task_.Log(media::llVerbose, text);
  }
  if (last && s_.verbose >= 0) {
    const double sum = static_cast<double>(videoBytes_ + audioBytes_ + headerBytes_);
    // Nothing encoded or copied: the overhead is given as 0 rather than divided by zero.
    const double overhead = sum > 0 ? (total - sum) * 100.0 / sum : 0.0;
    task_.LogFormat(media::llVerbose,
                    "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                    videoBytes_ / 1024.0, audioBytes_ / 1024.0, headerBytes_ / 1024.0, overhead);
  }
}

}  // namespace engine
