#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/customffmpeg.h"
#include "media/ffapi.h"
#include "media/ffloader.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using namespace engine;
using testsupport::Fixture;
namespace fs = std::filesystem;

namespace {

// The task core with its protected tables visible to the tests.
class Task : public TCustomFFmpeg {
 public:
  using TCustomFFmpeg::outputSlots_;
  using TCustomFFmpeg::TOutputStream;
  const std::vector<TOutputStream>& Streams(int slot) const { return outputSlots_[slot]->streams; }
};

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(media::FFLoader().Load(media::EngineLibraries)) << media::FFLoader().LastErrMsg();
    task.ResetState();
    task.State().verbose = -1;
  }
  Task task;
  testsupport::TempDir dir;
};

}  // namespace

TEST_F(Setup, OpenInputTakesTheInputsPropertiesIntoTheState) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  const TOptionState& s = task.State();
  EXPECT_EQ(s.frameWidth, 320);
  EXPECT_EQ(s.frameHeight, 240);
  EXPECT_EQ(s.frameRate.num, 25);
  EXPECT_EQ(s.frameRate.den, 1);
  EXPECT_NEAR(s.frameAspectRatio, 4.0 / 3, 1e-6);
  EXPECT_EQ(s.framePixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(s.audioSampleRate, 44100);
  EXPECT_EQ(s.audioChannels, 2);
  EXPECT_NEAR(task.ExpectedDuration() / 1e6, 2.0, 0.1);
  EXPECT_EQ(task.InputCount(), 1);
}

TEST_F(Setup, OpenInputTakesTheUprightPictureIntoTheState) {
  // The run turns a rotated picture before anything else sees it; the state's frame and aspect,
  // which the crop bands and the encoder's sample aspect are made from, are the upright one's.
  const struct {
    const char* file;
    int width, height;
    double aspect;
  } cases[] = {{"phone90.mp4", 360, 640, 9.0 / 16},
               {"phone180.mp4", 640, 360, 16.0 / 9},
               {"pal_wide.mp4", 720, 576, 16.0 / 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    task.ResetState();
    task.State().verbose = -1;
    ASSERT_TRUE(task.OpenInput(Fixture(c.file))) << task.LastErrMsg;
    EXPECT_EQ(task.State().frameWidth, c.width);
    EXPECT_EQ(task.State().frameHeight, c.height);
    EXPECT_NEAR(task.State().frameAspectRatio, c.aspect, 1e-6);
    task.ReleaseAll();
  }
}

TEST_F(Setup, OpenInputFailures) {
  // Each case leaves the task able to open the next input.
  const struct {
    std::string format;
    std::string file;
    int programId;
    std::string message;
  } cases[] = {
      {"nosuchformat", Fixture("av.mp4"), 0, "Unknown input format: \"nosuchformat\""},
      {"", Fixture("missing.mp4"), 0, Fixture("missing.mp4") + ": No such file or directory"},
      {"", Fixture("notmedia.avi"), 0,
       Fixture("notmedia.avi") + ": Invalid data found when processing input"},
      {"", Fixture("av.mp4"), 7, "Specified program id not found"},
  };
  for (const auto& c : cases) {
    task.State().formatName = c.format;
    task.State().optProgramID = c.programId;
    std::string message;
    try {
      if (!task.OpenInput(c.file)) message = task.LastErrMsg;
    } catch (const FFmpegException& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(task.InputCount(), 0);
    task.State().optProgramID = 0;
  }
  EXPECT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
}

TEST_F(Setup, ProgramIdKeepsOnlyThatProgramsStreams) {
  const std::string ts = dir.File("two.ts");
  ASSERT_EQ(testsupport::RunTool({"ffmpeg", "-nostdin", "-v", "error", "-i", Fixture("av.mp4"),
                                  "-c", "copy", "-mpegts_service_id", "42", ts}),
            0);
  task.State().optProgramID = 42;
  ASSERT_TRUE(task.OpenInput(ts)) << task.LastErrMsg;
  EXPECT_EQ(task.State().optProgramID, 0);
  for (unsigned i = 0; i < task.Input(0)->nb_streams; ++i)
    EXPECT_NE(task.Input(0)->streams[i]->discard, AVDISCARD_ALL);
}

TEST_F(Setup, OutputStreamsFollowTheInputsAndTheMuxer) {
  const struct {
    const char* input;
    const char* output;
    bool disableVideo;
    std::vector<std::string> types;  // created streams, in order
  } cases[] = {
      {"av.mp4", "out.mkv", false, {"video", "audio"}},
      {"audio.mp3", "out.mp4", false, {"audio"}},  // no video although mp4 has a default
      {"av.mp4", "out.mp3", false, {"audio"}},     // the mp3 picture default is not video
      {"av.mp4", "out.avi", true, {"audio"}},
      {"tone.wav", "out.wav", false, {"audio"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
    task.ResetState();
    task.State().verbose = -1;
    ASSERT_TRUE(task.OpenInput(Fixture(c.input))) << task.LastErrMsg;
    task.State().videoDisable = c.disableVideo;
    ASSERT_EQ(task.AddOutput(dir.File(c.output), false), 1) << task.LastErrMsg;
    std::vector<std::string> types;
    for (const auto& s : task.Streams(0))
      types.push_back(ff::av_get_media_type_string(s.st->codecpar->codec_type));
    EXPECT_EQ(types, c.types);
    for (const auto& s : task.Streams(0)) {
      ASSERT_NE(s.enc, nullptr);
      EXPECT_NE(s.codec, nullptr);
    }
  }
}

TEST_F(Setup, EncodersAreConfiguredFromTheState) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  TOptionState& s = task.State();
  s.videoCodecName = "mpeg1video";
  s.frameRate = {15, 1};  // not a standard MPEG-1 rate: the nearest usable one is taken
  s.audioCodecName = "mp2";
  s.audioSampleRate = 8000;  // mp2 cannot: the closest supported rate is taken
  s.videoLanguage = "fin";
  ASSERT_EQ(task.AddOutput(dir.File("out.mpg"), false), 1) << task.LastErrMsg;
  const auto& streams = task.Streams(0);
  ASSERT_EQ(streams.size(), 2u);
  const AVCodecContext* video = streams[0].enc;
  EXPECT_STREQ(streams[0].codec->name, "mpeg1video");
  EXPECT_EQ(video->width, 320);
  EXPECT_EQ(video->height, 240);
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(av_q2d(video->framerate), 24000.0 / 1001);
  EXPECT_EQ(video->time_base.num, video->framerate.den);
  const AVCodecContext* audio = streams[1].enc;
  EXPECT_STREQ(streams[1].codec->name, "mp2");
  EXPECT_EQ(audio->sample_rate, 16000);
  EXPECT_EQ(audio->ch_layout.nb_channels, 2);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_S16);
  const AVDictionaryEntry* language =
      ff::av_dict_get(streams[0].st->metadata, "language", nullptr, 0);
  ASSERT_NE(language, nullptr);
  EXPECT_STREQ(language->value, "fin");
  // Per-stream settings were consumed by the stream.
  EXPECT_TRUE(s.videoCodecName.empty());
  EXPECT_TRUE(s.videoLanguage.empty());
  EXPECT_EQ(s.framePixFmt, -1);

  // The configured encoders open as they are.
  for (const auto& st : streams)
    EXPECT_GE(ff::avcodec_open2(st.enc, st.codec, nullptr), 0) << st.codec->name;
}

TEST_F(Setup, CodecChoiceByName) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  const struct {
    const char* video;
    const char* audio;
    std::string message;  // "" = accepted
    const char* audioEncoder;
  } cases[] = {
      {"nosuchcodec", "", "new_video_stream fail: Unknown encoder 'nosuchcodec'", nullptr},
      {"mp2", "", "new_video_stream fail: Invalid encoder type 'mp2'", nullptr},
      {"", "opus",
       "new_audio_stream fail: encoder 'opus' is experimental and might produce bad results.\r\n"
       "Add '-strict experimental' if you want to use it.\r\n"
       "Or use the non experimental encoder 'libopus'.",
       nullptr},
      {"", "libfaac", "", "aac"},     // the successor in this build
      {"", "vorbis", "", "libvorbis"},
      {"", "libflac", "", "flac"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.video) + "/" + c.audio);
    task.State().videoCodecName = c.video;
    task.State().audioCodecName = c.audio;
    const int result = task.AddOutput(dir.File("choice.mkv"), false);
    if (c.message.empty()) {
      ASSERT_GT(result, 0) << task.LastErrMsg;
      EXPECT_STREQ(task.Streams(result - 1)[1].codec->name, c.audioEncoder);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(task.LastErrMsg, c.message);
    }
  }
  // A refused name does not stay behind for the next output.
  task.State().videoCodecName = "nosuchcodec";
  EXPECT_EQ(task.AddOutput(dir.File("next.mkv"), false), -1);
  EXPECT_GT(task.AddOutput(dir.File("next.mkv"), false), 0) << task.LastErrMsg;
}

TEST_F(Setup, OutputFormatFailures) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  task.State().formatName = "wmv";
  EXPECT_EQ(task.AddOutput(dir.File("a.wmv"), false), -1);
  EXPECT_EQ(task.LastErrMsg, "Requested output format 'wmv' is not a suitable output format");
  task.State().formatName.clear();  // a refused name stays set, as every option does
  EXPECT_EQ(task.AddOutput(dir.File("a.nosuchext"), false), -1);
  EXPECT_EQ(task.LastErrMsg,
            "Unable to find a suitable output format for '" + dir.File("a.nosuchext") + "'");
  EXPECT_EQ(task.AddOutput(dir.File("missing-folder/a.mkv"), false), -1);
  EXPECT_EQ(task.LastErrMsg, dir.File("missing-folder/a.mkv") + ": No such file or directory");
  EXPECT_FALSE(fs::exists(dir.File("a.wmv")));
  EXPECT_EQ(task.OutputCount(), 0);
  EXPECT_THROW(task.AddVideoStream(), FFmpegException);
}

TEST_F(Setup, JoinRepeatsTheSlotForEveryInput) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  EXPECT_EQ(task.AddOutput(dir.File("joined.mkv"), true), 2);
  EXPECT_TRUE(task.Joining());
  EXPECT_EQ(task.Output(0), task.Output(1));
  EXPECT_NEAR(task.ExpectedDuration() / 1e6, 4.0, 0.2);
  EXPECT_EQ(task.AddOutput(dir.File("second.mkv"), false), -1);
  EXPECT_EQ(task.LastErrMsg, "Cannot join more than one output file.");
}

TEST_F(Setup, ReleaseDeletesOutputsThatStayedEmpty) {
  ASSERT_TRUE(task.OpenInput(Fixture("av.mp4"))) << task.LastErrMsg;
  ASSERT_EQ(task.AddOutput(dir.File("empty.mkv"), false), 1);
  ASSERT_EQ(task.AddOutput(dir.File("written.avi"), false), 2);
  ASSERT_TRUE(fs::exists(dir.File("empty.mkv")));
  // The second output gets its header written, so it holds bytes.
  for (const auto& s : task.Streams(1)) {
    ASSERT_GE(ff::avcodec_open2(s.enc, s.codec, nullptr), 0);
    ASSERT_GE(ff::avcodec_parameters_from_context(s.st->codecpar, s.enc), 0);
    s.st->time_base = s.enc->time_base;
  }
  ASSERT_GE(ff::avformat_write_header(task.Output(1), nullptr), 0);
  ASSERT_GE(ff::av_write_trailer(task.Output(1)), 0);
  task.ReleaseAll();
  EXPECT_FALSE(fs::exists(dir.File("empty.mkv")));
  ASSERT_TRUE(fs::exists(dir.File("written.avi")));
  const testsupport::FFprobe probe(dir.File("written.avi"));
  EXPECT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamCount(), 2u);
  EXPECT_EQ(task.InputCount(), 0);
  EXPECT_EQ(task.OutputCount(), 0);
}
