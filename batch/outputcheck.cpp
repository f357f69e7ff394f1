#include "batch/outputcheck.h"

#include <algorithm>
#include <cstdio>

#include "batch/sourcefacts.h"
#include "media/avprobe.h"
#include "media/ffapi.h"

namespace batch {

namespace {

constexpr int64_t kSecond = 1'000'000;

// The part of a stream lasting `length` from `offset` (both µs from the file's start) that lies
// inside [from, to).
int64_t Inside(int64_t offset, int64_t length, int64_t from, int64_t to) {
  return std::max<int64_t>(0, std::min(offset + length, to) - std::max(offset, from));
}

// A stream's own length, else the file's (µs; -1 unknown).
int64_t Length(int64_t streamLength, const media::TFileStreamInfo& file) {
  return streamLength >= 0 ? streamLength : file.Duration;
}

// How much shorter than expected a stream may come out through rounding to whole frames: three
// pictures or two blocks of sound (the length rounds to whole frames, a change of frame rate
// may drop the last one, and some containers measure a stream from its first frame's start to
// its last frame's start or estimate it from the ends of the file), and a little for the
// containers' time bases.
int64_t Rounding(media::TAVProbe& probe, bool video) {
  const AVFormatContext* ic = probe.FormatContext();
  int64_t rounding = 20'000;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (video && par->codec_type == AVMEDIA_TYPE_VIDEO && st->r_frame_rate.num > 0)
      rounding += 3 * kSecond * st->r_frame_rate.den / st->r_frame_rate.num;
    if (!video && par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
      rounding += 2 * kSecond * std::max(par->frame_size, 1152) / par->sample_rate;
  }
  return rounding;
}

std::string Seconds(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(us) / kSecond);
  return text;
}

// The problem with one kind of stream, "" when there is none.
std::string CheckStream(media::TAVProbe& probe, bool video, bool expected, int64_t length) {
  const char* kind = video ? "video" : "audio";
  if (!expected) return "";
  const int count = video ? probe.VideoStreamCount() : probe.AudioStreamCount();
  if (count <= 0) return std::string("output check: ") + kind + " stream missing";
  if (length <= 0) return "";
  media::TFileStreamInfo file;
  probe.GetFileStreamInfo(file);
  int64_t actual;
  if (video) {
    media::TVideoStreamInfo info;
    probe.GetVideoStreamInfo(-1, info);
    actual = Length(info.DurationUS, file);
  } else {
    media::TAudioStreamInfo info;
    probe.GetAudioStreamInfo(-1, info);
    actual = Length(info.DurationUS, file);
  }
  if (actual < 0) return "";
  const int64_t shortfall = length - actual;
  if (shortfall <= Rounding(probe, video)) return "";
  if (shortfall <= kSecond && shortfall * 50 <= length) return "";  // within 1 s and 2 %
  return std::string("output check: ") + kind + " lasts " + Seconds(actual) + " of " +
         Seconds(length);
}

}  // namespace

TOutputExpectation ExpectedOutput(const TSourceFacts& source, bool videoWritten, bool audioWritten,
                                  int64_t trimStart, int64_t trimDuration) {
  TOutputExpectation expected;
  expected.Video = videoWritten && source.VideoStreams > 0;
  expected.Audio = audioWritten && source.AudioStreams > 0;
  // A container whose times may jump (transport and program streams) tells its length only from
  // the times at its two ends, and one guessed from the bit rate is no better: neither says how
  // much the file really holds, so only the streams are checked.
  if (source.LengthUnreliable) return expected;
  const int64_t fileStart = std::max<int64_t>(source.FileStart, 0);
  const int64_t from = std::max<int64_t>(trimStart, 0);
  const int64_t to = trimDuration > 0 ? from + trimDuration : INT64_MAX / 2;
  // Where a stream lies in the file, from its own start and length; a stream that does not tell
  // its length runs to the end of the file.
  const auto part = [&](int64_t streamStart, int64_t streamLength) -> int64_t {
    const int64_t offset = streamStart >= 0 ? std::max<int64_t>(streamStart - fileStart, 0) : 0;
    const int64_t length = streamLength >= 0 ? streamLength
                           : (source.FileDuration >= 0
                                  ? std::max<int64_t>(source.FileDuration - offset, 0)
                                  : -1);
    if (length < 0) return -1;
    return Inside(offset, length, from, to);
  };
  if (expected.Video) expected.VideoLength = part(source.VideoStart, source.VideoDuration);
  if (expected.Audio) expected.AudioLength = part(source.AudioStart, source.AudioDuration);
  return expected;
}

TOutputCheck CheckOutput(const std::string& file, const TOutputExpectation& expected,
                         bool readabilityOnly) {
  TOutputCheck check;
  media::TAVProbe probe;
  if (!probe.LoadFile(file)) {
    check.Problem = "output check: the file cannot be read (" + probe.LastErrMsg() + ")";
    return check;
  }
  check.Readable = true;
  check.HasStreams = probe.VideoStreamCount() > 0 || probe.AudioStreamCount() > 0;
  if (readabilityOnly) return check;
  check.Problem = CheckStream(probe, true, expected.Video, expected.VideoLength);
  if (check.Problem.empty())
    check.Problem = CheckStream(probe, false, expected.Audio, expected.AudioLength);
  return check;
}

}  // namespace batch
