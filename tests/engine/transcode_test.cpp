// End-to-end conversions through the engine, each output checked with ffprobe: streams, codecs,
// frame size and rate, sample rate, channels and duration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using testsupport::Fixture;
using testsupport::TOptions;

namespace {

struct StreamWant {
  std::string type, codec;
  int width = 0, height = 0;
  std::string rate;  // video frame rate as ffprobe writes it, e.g. "25/1"
  int sampleRate = 0, channels = 0;
};

StreamWant Video(std::string codec, int width, int height, std::string rate) {
  return {"video", std::move(codec), width, height, std::move(rate), 0, 0};
}
StreamWant Audio(std::string codec, int sampleRate, int channels) {
  return {"audio", std::move(codec), 0, 0, "", sampleRate, channels};
}

struct Conversion {
  std::string name;  // also the output file's name
  std::string input;
  TOptions options;
  std::vector<StreamWant> streams;
};

std::ostream& operator<<(std::ostream& os, const Conversion& c) { return os << c.name; }

class Convert : public ::testing::TestWithParam<Conversion> {};

TEST_P(Convert, OutputHasTheStreamsAsked) {
  const Conversion& c = GetParam();
  testsupport::TempDir dir;
  const std::string output = dir.File(c.name);
  const testsupport::TRunResult run = testsupport::RunTask(Fixture(c.input), c.options, output);
  ASSERT_TRUE(run.finished) << run.error;
  ASSERT_FALSE(run.failed) << run.error;

  const testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  // Audio and video streams in the order asked (containers may store them in another order; disc
  // formats add navigation data).
  std::vector<size_t> found;
  for (size_t i = 0; i < probe.StreamCount(); ++i)
    if (probe.CodecType(i) == "video") found.push_back(i);
  for (size_t i = 0; i < probe.StreamCount(); ++i)
    if (probe.CodecType(i) == "audio") found.push_back(i);
  ASSERT_EQ(found.size(), c.streams.size());
  // The clips last 2 s. Audio encoders add priming and padding of up to two of their frames (as
  // with the ffmpeg tool on the same jobs); the video frame count is checked exactly below.
  double frameTime = 0.1;
  for (size_t k = 0; k < c.streams.size(); ++k) {
    const StreamWant& want = c.streams[k];
    const size_t i = found[k];
    SCOPED_TRACE("stream " + std::to_string(i));
    EXPECT_EQ(probe.CodecType(i), want.type);
    EXPECT_EQ(probe.CodecName(i), want.codec);
    const nlohmann::json& st = probe.Stream(i);
    if (want.type == "video") {
      EXPECT_EQ(probe.Width(i), want.width);
      EXPECT_EQ(probe.Height(i), want.height);
      EXPECT_EQ(st.value("avg_frame_rate", ""), want.rate);
      int num = 0, den = 1;
      std::sscanf(want.rate.c_str(), "%d/%d", &num, &den);
      frameTime = std::max(frameTime, double(den) / num);
      // Every frame of the 2 s input is there, at the output's rate (one frame's rounding).
      EXPECT_NEAR(double(probe.NbReadFrames(i)), 2.0 * num / den, 1.0);
    } else {
      EXPECT_EQ(std::stoi(st.value("sample_rate", "0")), want.sampleRate);
      EXPECT_EQ(st.value("channels", 0), want.channels);
    }
  }
  EXPECT_NEAR(probe.Duration(), 2.0, frameTime);
  // An image sequence is numbered from 1, one file per picture and no more.
  if (const size_t pattern = c.name.find("%03d"); pattern != std::string::npos) {
    const auto numbered = [&](int64_t n) {
      char number[32];
      std::snprintf(number, sizeof number, "%03d", static_cast<int>(n));
      return std::filesystem::exists(
          dir.File(c.name.substr(0, pattern) + number + c.name.substr(pattern + 4)));
    };
    const int64_t frames = probe.NbReadFrames(0);
    EXPECT_TRUE(numbered(1));
    EXPECT_TRUE(numbered(frames));
    EXPECT_FALSE(numbered(frames + 1));
  }
}

const std::vector<Conversion> kConversions = {
    // Video containers.
    {"mpeg4.mp4", "av.mp4", {{"vcodec", "mpeg4"}, {"acodec", "aac"}},
     {Video("mpeg4", 320, 240, "25/1"), Audio("aac", 44100, 2)}},
    {"h264.mp4", "av.mp4", {{"vcodec", "libx264"}, {"s", "160x120"}, {"acodec", "aac"}},
     {Video("h264", 160, 120, "25/1"), Audio("aac", 44100, 2)}},
    {"xvid.avi", "av.mp4", {{"vcodec", "libxvid"}, {"acodec", "libmp3lame"}},
     {Video("mpeg4", 320, 240, "25/1"), Audio("mp3", 44100, 2)}},
    {"wmv2.wmv", "av.mp4", {{"vcodec", "wmv2"}, {"acodec", "wmav2"}},
     {Video("wmv2", 320, 240, "25/1"), Audio("wmav2", 44100, 2)}},
    {"sorenson.flv", "av.mp4", {{"ar", "22050"}},
     {Video("flv1", 320, 240, "25/1"), Audio("mp3", 22050, 2)}},
    {"h263.3gp", "av.mp4",
     {{"s", "176x144"}, {"vcodec", "h263"}, {"acodec", "aac"}, {"ar", "8000"}, {"ac", "1"}},
     {Video("h263", 176, 144, "25/1"), Audio("aac", 8000, 1)}},
    {"dvd.vob", "av.mp4", {{"target", "pal-dvd"}},
     {Video("mpeg2video", 720, 576, "25/1"), Audio("ac3", 48000, 2)}},
    {"vcd.mpg", "av.mp4", {{"target", "pal-vcd"}},
     {Video("mpeg1video", 352, 288, "25/1"), Audio("mp2", 44100, 2)}},
    {"mpeg2.ts", "av.mp4", {{"vcodec", "mpeg2video"}, {"acodec", "mp2"}},
     {Video("mpeg2video", 320, 240, "25/1"), Audio("mp2", 44100, 2)}},
    {"default.mkv", "av.mp4", {},
     {Video("h264", 320, 240, "25/1"), Audio("vorbis", 44100, 2)}},
    {"copy.mkv", "av.mp4", {{"vcodec", "copy"}, {"acodec", "copy"}},
     {Video("h264", 320, 240, "25/1"), Audio("aac", 44100, 2)}},
    {"default.mov", "av.mp4", {},
     {Video("h264", 320, 240, "25/1"), Audio("aac", 44100, 2)}},
    {"pal.dv", "av.mp4", {{"target", "pal-dv"}},
     {Video("dvvideo", 720, 576, "25/1"), Audio("pcm_s16le", 48000, 2)}},
    {"rate30.mp4", "av.mp4", {{"vcodec", "mpeg4"}, {"r", "30"}, {"an", "1"}},
     {Video("mpeg4", 320, 240, "30/1")}},
    // Image sequences: the muxer writes one numbered file per picture from the name's pattern
    // (read back through the same pattern); the container keeps no audio.
    {"img%03d.png", "av.mp4", {}, {Video("png", 320, 240, "25/1")}},
    // A name outside the system code page reaches the muxer in the prefixed form.
    {"Кадр %03d.jpg", "av.mp4", {{"f", "image2"}}, {Video("mjpeg", 320, 240, "25/1")}},
    // Audio only.
    {"audio.mp3", "audio.mp3", {{"acodec", "libmp3lame"}, {"ab", "128000"}},
     {Audio("mp3", 44100, 2)}},
    {"audio.aac", "audio.mp3", {}, {Audio("aac", 44100, 2)}},
    {"audio.m4a", "audio.mp3", {}, {Audio("aac", 44100, 2)}},
    {"audio.wma", "audio.mp3", {}, {Audio("wmav2", 44100, 2)}},
    {"audio.wav", "audio.mp3", {}, {Audio("pcm_s16le", 44100, 2)}},
    {"audio.ogg", "audio.mp3", {}, {Audio("vorbis", 44100, 2)}},
    {"audio.ac3", "audio.mp3", {}, {Audio("ac3", 44100, 2)}},
    {"mono22k.mp3", "av.mp4", {{"vn", "1"}, {"ar", "22050"}, {"ac", "1"}},
     {Audio("mp3", 22050, 1)}},
};

INSTANTIATE_TEST_SUITE_P(Engine, Convert, ::testing::ValuesIn(kConversions),
                         [](const ::testing::TestParamInfo<Conversion>& param) {
                           std::string name = param.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
