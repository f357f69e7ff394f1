// Jobs built from stored profile values converting the sample clip, applied to an engine task
// the way the engine component applies option records: the zoom geometries' filter chains, the
// row crop inside the chain, the H.264 settings and the trimmed end must all be accepted by the
// media libraries and give the promised picture.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "platform/prompt.h"
#include "profiles/jobbuilder.h"
#include "profiles/settings.h"
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

using Para = std::map<std::string, std::string>;

constexpr int kCode = 1;
// The sample clip: 2 s of 320x240 video at 25 frame/s with stereo sound.
constexpr char kClip[] = "av.mp4";
constexpr int kClipWidth = 320, kClipHeight = 240;

struct TConversionCase {
  const char* name;
  Para para;
  const char* zoom;
  int cropTop, cropBottom;  // the row's crop
  int64_t trim;             // µs, 0 = whole clip
  const char* videoCodec;   // as the probe names it
  int width, height;
  double seconds;
  int level = 0;  // the H.264 level the stream must carry; 0 = not checked
};

TEST(JobBuilderConversion, BuiltJobsConvert) {
  const Para base = {{"paraVideoEncoder", "mpeg4"},  {"paraVideoBitRate", "512"},
                     {"paraFrameRate", "25"},         {"paraAudioEncoder", "libfaac"},
                     {"paraChannel", "2"},            {"paraSampleRate", "44100"},
                     {"paraAudioBitRate", "96"},      {"paraVolume", "256"}};
  const TConversionCase cases[] = {
      {"letterbox into a wider picture with the H.264 settings",
       {{"paraVideoEncoder", "libx264"}, {"paraVideoSize", "640x360"},
        {"paraMaxBitrate", "1500000"}, {"paraBufferSize", "2000000"}, {"paraLevel", "30"},
        {"paraGop", "250"}, {"paraCoder", "0"}, {"paraBitExact", "true"}},
       "lbox", 0, 0, 0, "h264", 640, 360, 2.0, 30},
      {"letterbox with the row crop in the chain", {{"paraVideoSize", "320x240"}}, "lbox", 20, 20,
       0, "mpeg4", 320, 240, 2.0},
      {"centre a larger source", {{"paraVideoSize", "160x90"}}, "center", 0, 0, 0, "mpeg4", 160,
       90, 2.0},
      {"pan and scan into a wider shape", {{"paraVideoSize", "320x180"}}, "pan", 0, 0, 0, "mpeg4",
       320, 180, 2.0},
      {"trimmed row", {{"paraVideoSize", "320x240"}}, "full", 0, 0, 1'000'000, "mpeg4", 320, 240,
       1.0},
  };
  for (const TConversionCase& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string settings = dir.File(profiles::kSettingsFileName);
    const std::string format = dir.File(profiles::kFormatFileName);
    testsupport::WriteText(format, "[formatInfo1]\nFormat=mp4\n");
    std::string text = "[formatInfo1]\n";
    Para para = base;
    for (const auto& [key, value] : c.para) para[key] = value;
    for (const auto& [key, value] : para) text += key + "=" + value + "\n";
    testsupport::WriteText(settings, text);

    profiles::TJobSource source;
    source.HasVideo = true;
    source.Width = kClipWidth;
    source.Height = kClipHeight;
    source.Zoom = c.zoom;
    source.CropTop = c.cropTop;
    source.CropBottom = c.cropBottom;
    source.TrimDuration = c.trim;
    engine::TInputOptions input;
    engine::TOutputOptions output;
    output.FileName = dir.File("out.mp4");
    platform::TScriptedPrompt prompt;
    platform::TPromptScope scope(prompt);
    profiles::BuildJobOptions(settings, format, kCode, source, output, input);
    SCOPED_TRACE("vf=" + output.VideoFilters + " s=" + output.FrameSize + " ext=" +
                 output.ExtOptions);

    const testsupport::TRunResult run = testsupport::RunJob(testsupport::Fixture(kClip), input, output);
    ASSERT_TRUE(run.finished && !run.failed) << run.error;
    const testsupport::FFprobe probe(output.FileName);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    ASSERT_EQ(probe.StreamCount("video"), 1u);
    ASSERT_EQ(probe.StreamCount("audio"), 1u);
    for (size_t i = 0; i < probe.StreamCount(); ++i) {
      if (probe.CodecType(i) != "video") continue;
      EXPECT_EQ(probe.CodecName(i), c.videoCodec);
      EXPECT_EQ(probe.Width(i), c.width);
      EXPECT_EQ(probe.Height(i), c.height);
      if (c.level) {
        EXPECT_EQ(probe.Stream(i).value("level", 0), c.level);
      }
    }
    EXPECT_NEAR(probe.Duration(), c.seconds, 0.3);
  }
}

}  // namespace
