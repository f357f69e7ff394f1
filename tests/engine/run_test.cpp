// Edge cases of a run: stream maps, stream copy refusals, two-pass logs, shortest, join,
// frame-rate and sample-rate conversion, audio drift, crop and video filters, subtitles.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "engine/customffmpeg.h"
#include "media/ffutils.h"
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using testsupport::Fixture;
using testsupport::RunTask;
using testsupport::TOptions;
using testsupport::TRunResult;
namespace fs = std::filesystem;

namespace {

double StreamStart(const testsupport::FFprobe& probe, size_t i) {
  return std::stod(probe.Stream(i).value("start_time", "nan"));
}

// The index of the first stream of the type; fails the test when there is none.
size_t StreamOf(const testsupport::FFprobe& probe, const std::string& type) {
  for (size_t i = 0; i < probe.StreamCount(); ++i)
    if (probe.CodecType(i) == type) return i;
  ADD_FAILURE() << "no " << type << " stream";
  return 0;
}

// "dup=N drop=M" of the run's last status line that has them; {-1, -1} when none.
std::pair<int, int> DupDrop(const TRunResult& run) {
  std::pair<int, int> counts{-1, -1};
  for (const std::string& line : run.log) {
    const size_t at = line.find(" dup=");
    if (at != std::string::npos)
      std::sscanf(line.c_str() + at, " dup=%d drop=%d", &counts.first, &counts.second);
  }
  return counts;
}

}  // namespace

TEST(Run, SetUpFailuresEndTheRunBeforeAnythingIsWritten) {
  const struct {
    TOptions options;
    std::string output;
    std::string message;
  } cases[] = {
      {{{"map", "0:0"}}, "out.mp4", "Number of stream maps must match number of output streams"},
      {{{"map", "0:1"}, {"map", "0:0"}}, "out.mp4",
       "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)"},
      {{{"map", "0:0"}, {"map", "0:5"}}, "out.mp4", "Could not find input stream #0.5"},
      {{{"map", "0:0:1:0"}, {"map", "0:1"}}, "out.mp4", "Could not find sync stream #1.0"},
      // The container cannot hold the stream.
      {{{"vcodec", "mpeg2video"}}, "out.flv",
       "Could not write header for output file #0 (incorrect codec parameters ?)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    testsupport::TempDir dir;
    TOptions options = {{"vcodec", "mpeg4"}};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const std::string output = dir.File(c.output);
    const TRunResult run = RunTask(Fixture("av.mp4"), options, output);
    EXPECT_TRUE(run.failed);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.error, c.message);
    EXPECT_FALSE(fs::exists(output)) << "a run that failed before its header leaves no file";
  }
}

TEST(Run, MapsChooseTheSourcesAndTheMappingIsLogged) {
  // The second audio stream of multi.mkv (880 Hz, "rus") instead of the first.
  testsupport::TempDir dir;
  const std::string output = dir.File("out.mkv");
  const TRunResult run = RunTask(Fixture("multi.mkv"),
                                 {{"map", "0:0"}, {"map", "0:2"}, {"sn", "1"}, {"vcodec", "mpeg4"}},
                                 output);
  ASSERT_TRUE(run.finished) << run.error;
  EXPECT_NE(run.LogLine("Stream mapping:"), "");
  EXPECT_NE(run.LogLine("  Stream #0.2 -> #0.1 (Audio)"), "");
  const testsupport::FFprobe probe(output);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.StreamTag(StreamOf(probe, "audio"), "language"), "rus");
}

TEST(Run, StreamCopyRefusesWhatNeedsDecodedFrames) {
  testsupport::TempDir dir;
  const struct {
    TOptions options;
    bool hook, preview;
    std::string message;
  } cases[] = {
      {{{"acodec", "copy"}, {"vol", "512"}}, false, false,
       "-acodec copy and -vol are incompatible (frames are not decoded)"},
      {{{"vcodec", "copy"}}, true, false,
       "-vcodec copy and CustomHook are incompatible (frames are not decoded)"},
      {{{"vcodec", "copy"}}, false, true,
       "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    engine::TCustomFFmpeg task;
    ASSERT_EQ(testsupport::PrepareTask(task, {Fixture("av.mp4")}, {}, c.options,
                                       dir.File("out.mp4")),
              "");
    if (c.hook) task.HookCallback = [](auto*, auto&, int, int64_t, bool&, bool&) {};
    task.SetPreviewFlags(false, c.preview);
    task.Start(false, platform::TThreadPriority::Normal);
    EXPECT_TRUE(task.Failed());
    EXPECT_EQ(task.ErrorMessage(), c.message);
  }
}

TEST(Run, TwoPassEncodingWritesThenReadsItsLog) {
  for (const std::string codec : {"mpeg4", "libx264"}) {
    SCOPED_TRACE(codec);
    testsupport::TempDir dir;
    const std::string prefix = dir.File("stats");
    const TOptions base = {{"vcodec", codec}, {"b", "200000"}, {"passlogfile", prefix}, {"an", "1"}};
    TOptions pass1 = base, pass2 = base;
    pass1.push_back({"pass", "1"});
    pass2.push_back({"pass", "2"});
    const TRunResult first = RunTask(Fixture("av.mp4"), pass1, dir.File("pass1.mp4"));
    ASSERT_TRUE(first.finished) << first.error;
    ASSERT_GT(media::GetFileSize(prefix + "-0.log"), 0);
    const TRunResult second = RunTask(Fixture("av.mp4"), pass2, dir.File("pass2.mp4"));
    ASSERT_TRUE(second.finished) << second.error;
    const testsupport::FFprobe probe(dir.File("pass2.mp4"), true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.NbReadFrames(0), 50);
  }
}

TEST(Run, TwoPassLogNamesAndAMissingLog) {
  // Without a prefix the log is ffmpeg2pass-<output stream>.log in the working folder.
  testsupport::TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.Path());
  const TRunResult first = RunTask(Fixture("av.mp4"), {{"vcodec", "mpeg4"}, {"pass", "1"}},
                                   dir.File("pass1.mp4"));
  const TRunResult missing =
      RunTask(Fixture("av.mp4"), {{"vcodec", "mpeg4"}, {"pass", "2"}, {"passlogfile", "none"}},
              dir.File("pass2.mp4"));
  fs::current_path(previous);
  ASSERT_TRUE(first.finished) << first.error;
  EXPECT_GT(media::GetFileSize(dir.File("ffmpeg2pass-0.log")), 0);
  EXPECT_TRUE(missing.failed);
  EXPECT_EQ(missing.error,
            "Cannot read file: Error reading log file \"none-0.log\" for pass-2 encoding");
}

TEST(Run, ShortestEndsWithTheFirstInputToEnd) {
  // Video of the 2 s clip, audio of the 1 s tone.
  for (const bool shortest : {false, true}) {
    SCOPED_TRACE(shortest ? "shortest" : "longest");
    testsupport::TempDir dir;
    TOptions options = {{"map", "0:0"}, {"map", "1:0"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}};
    if (shortest) options.push_back({"shortest", "1"});
    const TRunResult run =
        RunTask({Fixture("av.mp4"), Fixture("tone.wav")}, {}, options, dir.File("out.mp4"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.mp4"));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    if (shortest)
      EXPECT_LT(probe.StreamDuration(StreamOf(probe, "video")), 1.3);
    else
      EXPECT_NEAR(probe.StreamDuration(StreamOf(probe, "video")), 2.0, 0.05);
  }
}

TEST(Run, JoinedInputsContinueOneAnother) {
  testsupport::TempDir dir;
  const std::string output = dir.File("joined.mp4");
  const TRunResult run = RunTask({Fixture("av.mp4"), Fixture("Видео тест.mp4")}, {},
                                 {{"vcodec", "mpeg4"}, {"acodec", "aac"}}, output, true);
  ASSERT_TRUE(run.finished) << run.error;
  const testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  ASSERT_EQ(probe.StreamCount(), 2u);
  const size_t video = StreamOf(probe, "video");
  EXPECT_EQ(probe.NbReadFrames(video), 100);
  EXPECT_NEAR(probe.StreamDuration(video), 4.0, 0.05);
  EXPECT_NEAR(probe.StreamDuration(StreamOf(probe, "audio")), 4.0, 0.1);
  // Reports name the input being read, first 0 then 1; the expected length is the sum.
  ASSERT_FALSE(run.progress.empty());
  int last = 0;
  bool sawSecond = false;
  for (const testsupport::TProgress& p : run.progress) {
    if (p.fileIndex == -1) continue;
    EXPECT_GE(p.fileIndex, last);
    last = p.fileIndex;
    sawSecond = sawSecond || p.fileIndex == 1;
    EXPECT_NEAR(p.total, 4000000, 100000);
  }
  EXPECT_TRUE(sawSecond);
  EXPECT_EQ(run.progress.back().fileIndex, -1);
  EXPECT_EQ(run.progress.back().frameNumber, 100);
}

TEST(Run, FrameRateChangeDuplicatesOrDropsFrames) {
  const struct {
    std::string rate;
    int frames, dup, drop;
  } cases[] = {{"30", 60, 10, 0}, {"20", 40, 0, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    testsupport::TempDir dir;
    const TRunResult run =
        RunTask(Fixture("av.mp4"), {{"vcodec", "mpeg4"}, {"r", c.rate}, {"an", "1"}}, dir.File("out.avi"));
    ASSERT_TRUE(run.finished) << run.error;
    const auto [dup, drop] = DupDrop(run);
    EXPECT_NEAR(dup, c.dup, 1);
    EXPECT_NEAR(drop, c.drop, 1);
    const testsupport::FFprobe probe(dir.File("out.avi"), true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_NEAR(double(probe.NbReadFrames(0)), c.frames, 1);
  }
}

TEST(Run, ResamplingWarnsAboutTheIntermediateFormatOnlyForOtherFormats) {
  const struct {
    std::string input;
    TOptions inputOptions;
    bool warned;
  } cases[] = {
      {"av.mp4", {}, true},     // float planar
      {"tone.wav", {}, false},  // 16-bit
      {"service.ts", {{"acodec", "mp2"}}, false},  // 16-bit planar, from the fixed-point decoder
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    testsupport::TempDir dir;
    const TRunResult run = RunTask({Fixture(c.input)}, c.inputOptions, {{"ar", "22050"}, {"ac", "1"}},
                                   dir.File("out.wav"));
    ASSERT_TRUE(run.finished) << run.error;
    EXPECT_EQ(run.LogLine("Warning, using s16 intermediate sample format for resampling") != "",
              c.warned);
    const testsupport::FFprobe probe(dir.File("out.wav"));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.Stream(0).value("sample_rate", ""), "22050");
    EXPECT_EQ(probe.Stream(0).value("channels", 0), 1);
  }
}

TEST(Run, AudioSyncFillsALateStartWithSilence) {
  // The audio of late_audio.mkv begins 2 s after its video.
  for (const int method : {0, 1}) {
    SCOPED_TRACE(method);
    testsupport::TempDir dir;
    const TRunResult run = RunTask(Fixture("late_audio.mkv"),
                                   {{"vcodec", "mpeg4"}, {"acodec", "aac"}, {"async", std::to_string(method)},
                                    {"v", "3"}},
                                   dir.File("out.mp4"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.mp4"));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    const size_t audio = StreamOf(probe, "audio");
    if (method == 0) {
      // The samples keep their times: the audio track starts late.
      EXPECT_NEAR(StreamStart(probe, audio), 2.0, 0.1);
      EXPECT_EQ(run.LogLine("audio samples of silence"), "");
    } else {
      EXPECT_NEAR(StreamStart(probe, audio), 0.0, 0.05);
      EXPECT_NEAR(probe.StreamDuration(audio), 3.0, 0.1);
      EXPECT_NE(run.LogLine("adding "), "");
    }
  }
}

TEST(Run, CropBandsAndVideoFilters) {
  // A rotated source (phone90.mp4: stored 640x360, seen 360x640) is cropped, scaled and filtered
  // upright, and its output carries no rotation.
  const struct {
    TOptions options;
    int width, height;
    const char* input = "av.mp4";
    int frames = 50;
  } cases[] = {
      {{{"croptop", "20"}, {"cropbottom", "20"}}, 320, 200},
      {{{"cropleft", "40"}, {"s", "160x120"}}, 160, 120},
      {{{"vf", "pad=iw+80:ih+60"}}, 400, 300},
      {{{"croptop", "40"}, {"vf", "pad=iw:ih+40"}}, 320, 240},
      {{}, 360, 640, "phone90.mp4", 25},
      {{{"croptop", "400"}}, 360, 240, "phone90.mp4", 25},
      {{{"cropleft", "40"}, {"s", "160x320"}}, 160, 320, "phone90.mp4", 25},
      {{{"vf", "pad=iw+40:ih"}}, 400, 640, "phone90.mp4", 25},
      {{}, 640, 360, "phone180.mp4", 25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + std::to_string(c.width));
    testsupport::TempDir dir;
    TOptions options = c.options;
    options.push_back({"vcodec", "mpeg4"});
    const TRunResult run = RunTask(Fixture(c.input), options, dir.File("out.mp4"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.mp4"), true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    const size_t video = StreamOf(probe, "video");
    EXPECT_EQ(probe.Width(video), c.width);
    EXPECT_EQ(probe.Height(video), c.height);
    EXPECT_EQ(probe.NbReadFrames(video), c.frames);
    EXPECT_FALSE(probe.HasDisplayMatrix(video));
    // Every picture arrives in the size the run was set up for.
    EXPECT_EQ(run.LogLine("frame size changed"), "");
  }
}

TEST(Run, AStreamCopyKeepsTheSourcesRotation) {
  // The copied picture is not turned, so it keeps the display matrix that shows it upright.
  for (const auto& [input, rotation] : {std::pair{"phone90.mp4", 90}, {"phone180.mp4", 180}}) {
    SCOPED_TRACE(input);
    testsupport::TempDir dir;
    const TRunResult run = RunTask(Fixture(input), {{"vcodec", "copy"}}, dir.File("out.mp4"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.mp4"));
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.Width(0), 640);
    EXPECT_EQ(probe.Height(0), 360);
    EXPECT_EQ(probe.Rotation(0), rotation);
    EXPECT_EQ(probe.SampleAspect(0), "1:1");
  }
}

TEST(Run, AFilterTheLibraryRejectsFailsAtSetUp) {
  testsupport::TempDir dir;
  const std::string output = dir.File("out.mp4");
  const TRunResult run = RunTask(Fixture("av.mp4"), {{"vf", "pad=100:100"}}, output);
  EXPECT_TRUE(run.failed);
  const std::string prefix = "Error opening filters: ";
  ASSERT_EQ(run.error.substr(0, prefix.size()), prefix) << run.error;
  EXPECT_GT(run.error.size(), prefix.size());  // the library's reason follows
  EXPECT_FALSE(fs::exists(output));
}

TEST(Run, SubtitlesAreEncodedWithTheirTimes) {
  testsupport::TempDir dir;
  const std::string output = dir.File("out.mkv");
  const TRunResult run = RunTask(Fixture("multi.mkv"), {{"vcodec", "mpeg4"}}, output);
  ASSERT_TRUE(run.finished) << run.error;
  std::string packets;
  ASSERT_EQ(testsupport::RunTool({"ffprobe", "-v", "error", "-select_streams", "s", "-show_entries",
                                  "packet=pts_time,duration_time", "-of", "csv=p=0", output},
                                 &packets),
            0);
  // The two cues, 0.2-0.9 s and 1.0-1.8 s, 0.8 s apart (the muxer may move the whole file to make
  // room for the audio encoder's priming).
  double start1, length1, start2, length2;
  ASSERT_EQ(std::sscanf(packets.c_str(), "%lf,%lf\n%lf,%lf", &start1, &length1, &start2, &length2), 4)
      << packets;
  EXPECT_NEAR(start1, 0.2, 0.05);
  EXPECT_DOUBLE_EQ(length1, 0.7);
  EXPECT_NEAR(start2 - start1, 0.8, 0.001);
  EXPECT_DOUBLE_EQ(length2, 0.8);
}

TEST(Run, ATimestampJumpIsClosedUnlessTimestampsAreCopied) {
  // jump.ts: 1 s, then 1 s more stamped 20 s later.
  for (const bool copyTs : {false, true}) {
    SCOPED_TRACE(copyTs ? "copyts" : "corrected");
    testsupport::TempDir dir;
    TOptions options = {{"vcodec", "mpeg4"}, {"acodec", "aac"}};
    if (copyTs) options.push_back({"copyts", "1"});
    const TRunResult run = RunTask(Fixture("jump.ts"), options, dir.File("out.mp4"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.mp4"), true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    if (copyTs) {
      EXPECT_GT(probe.Duration(), 20.0);  // the gap stays (filled by repeated frames)
    } else {
      EXPECT_EQ(probe.NbReadFrames(StreamOf(probe, "video")), 50);
      EXPECT_NEAR(probe.Duration(), 2.0, 0.1);
    }
  }
}

namespace {

// The largest sample magnitude of a file's first audio stream, decoded by the ffmpeg tool.
int PeakOf(const std::string& file) {
  std::string samples;
  if (testsupport::RunTool({"ffmpeg", "-v", "error", "-i", file, "-map", "0:a:0", "-f", "s16le",
                            "-ac", "1", "-"},
                           &samples) != 0)
    return -1;
  int peak = 0;
  for (size_t i = 0; i + 1 < samples.size(); i += 2) {
    const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(samples[i]) |
                                           (static_cast<uint8_t>(samples[i + 1]) << 8));
    peak = std::max(peak, std::abs(int(s)));
  }
  return peak;
}

}  // namespace

TEST(Run, VolumeScalesTheSamples) {
  const int original = PeakOf(Fixture("tone.wav"));
  ASSERT_GT(original, 1000);
  for (const int volume : {128, 512}) {
    SCOPED_TRACE(volume);
    testsupport::TempDir dir;
    const TRunResult run = RunTask(Fixture("tone.wav"), {{"vol", std::to_string(volume)}},
                                   dir.File("out.wav"));
    ASSERT_TRUE(run.finished) << run.error;
    EXPECT_NEAR(PeakOf(dir.File("out.wav")), original * volume / 256, 2);
  }
}

TEST(Run, LimitsEndTheRunEarly) {
  const struct {
    TOptions options;
    int frames;        // -1: not checked
    int64_t maxBytes;  // 0: not checked
  } cases[] = {
      {{{"vframes", "10"}}, 10, 0},
      {{{"fs", "20000"}, {"b", "800000"}}, -1, 40000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0].first);
    testsupport::TempDir dir;
    TOptions options = c.options;
    options.push_back({"vcodec", "mpeg4"});
    options.push_back({"an", "1"});
    const TRunResult run = RunTask(Fixture("av.mp4"), options, dir.File("out.avi"));
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(dir.File("out.avi"), true);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    if (c.frames >= 0) {
      EXPECT_EQ(probe.NbReadFrames(0), c.frames);
    }
    if (c.maxBytes > 0) {
      EXPECT_LT(media::GetFileSize(dir.File("out.avi")), c.maxBytes);
      EXPECT_LT(probe.NbReadFrames(0), 50);
    }
  }
}

namespace {

// Size and key flag of every packet of the file's first video stream, in presentation order.
std::vector<std::pair<int, bool>> VideoPacketsByTime(const std::string& file) {
  std::string text;
  if (testsupport::RunTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "packet=pts,size,flags", "-of", "json", "file:" + file},
                           &text) != 0)
    return {};
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.contains("packets")) return {};
  std::vector<std::tuple<int64_t, int, bool>> packets;
  for (const nlohmann::json& p : json["packets"])
    packets.emplace_back(p.value("pts", int64_t{-1}), std::stoi(p.value("size", "0")),
                         p.value("flags", "").find('K') != std::string::npos);
  std::sort(packets.begin(), packets.end());
  std::vector<std::pair<int, bool>> result;
  for (const auto& [pts, size, key] : packets) result.emplace_back(size, key);
  return result;
}

}  // namespace

TEST(Run, StatisticsFileHasALinePerEncodedFrame) {
  // A line per picture handed to the encoder, numbered in picture order, each with the size and
  // type of that picture's own packet, also from encoders that hand packets out later than the
  // pictures came in (B-frames, look-ahead). NUT keeps the packets as the encoder made them.
  const struct {
    const char* name;
    TOptions options;
    bool bFrames;
  } cases[] = {
      {"mpeg4", {{"vcodec", "mpeg4"}}, false},
      {"mpeg4 with B-frames", {{"vcodec", "mpeg4"}, {"bf", "2"}}, true},
      {"libx264", {{"vcodec", "libx264"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string stats = dir.File("vstats.log");
    const std::string output = dir.File("out.nut");
    TOptions options = c.options;
    options.insert(options.end(), {{"an", "1"}, {"vstats_file", stats}});
    const TRunResult run = RunTask(Fixture("av.mp4"), options, output);
    ASSERT_TRUE(run.finished) << run.error;
    const std::vector<std::pair<int, bool>> packets = VideoPacketsByTime(output);
    ASSERT_EQ(packets.size(), 50u);
    std::ifstream in(stats);
    std::string line;
    int lines = 0, bFrames = 0;
    while (std::getline(in, line)) {
      ++lines;
      SCOPED_TRACE(line);
      int frame = 0, size = 0;
      float q = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "frame= %d q= %f f_size= %d", &frame, &q, &size), 3);
      EXPECT_EQ(frame, lines);
      EXPECT_GT(q, 0);
      ASSERT_LE(lines, 50);
      EXPECT_EQ(size, packets[lines - 1].first);
      EXPECT_EQ(line.find("type= I") != std::string::npos, packets[lines - 1].second);
      bFrames += line.find("type= B") != std::string::npos;
    }
    EXPECT_EQ(lines, 50);
    EXPECT_EQ(bFrames > 0, c.bFrames);
  }
}

namespace {

// "size,MD5:hash" of every packet of the file's first video stream, in file order.
std::vector<std::string> VideoPackets(const std::string& file) {
  std::string text;
  if (testsupport::RunTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "packet=size,data_hash", "-show_data_hash", "MD5", "-of", "csv=p=0",
                            "file:" + file},
                           &text) != 0)
    return {};
  std::vector<std::string> packets;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) packets.push_back(line);
  return packets;
}

}  // namespace

TEST(Run, BitstreamFilterRewritesCopiedPackets) {
  // H.264 from MP4 has length-prefixed units; h264_mp4toannexb gives them start codes, so every
  // packet changes. NUT stores the packets as they come. A packet the filter refuses is logged and
  // written as it came.
  const struct {
    std::string input;
    int refused;  // the packet the filter refuses, -1 when none
  } cases[] = {{"av.mp4", -1}, {"bad_nal.mp4", 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    testsupport::TempDir dir;
    const std::string output = dir.File("out.nut");
    const TRunResult run = RunTask(
        Fixture(c.input), {{"vcodec", "copy"}, {"vbsf", "h264_mp4toannexb"}, {"an", "1"}}, output);
    ASSERT_TRUE(run.finished) << run.error;
    EXPECT_EQ(run.LogLine("h264_mp4toannexb failed for stream 0, codec copy") != "",
              c.refused >= 0);
    const std::vector<std::string> in = VideoPackets(Fixture(c.input));
    const std::vector<std::string> out = VideoPackets(output);
    ASSERT_EQ(in.size(), 50u);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      if (static_cast<int>(i) == c.refused)
        EXPECT_EQ(out[i], in[i]) << "packet " << i;
      else
        EXPECT_NE(out[i], in[i]) << "packet " << i;
    }
    if (c.refused < 0) {
      const testsupport::FFprobe probe(output, true);
      ASSERT_TRUE(probe.Ok()) << probe.Errors();
      EXPECT_EQ(probe.CodecName(0), "h264");
      EXPECT_EQ(probe.NbReadFrames(0), 50);
    }
  }
}

TEST(Run, MetadataMapsAndChaptersCarryOver) {
  for (const bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "not mapped");
    testsupport::TempDir dir;
    const std::string output = dir.File("out.mkv");
    TOptions options = {{"vcodec", "mpeg4"}};
    if (mapped) options.push_back({"map_meta_data", "0:0"});
    const TRunResult run = RunTask(Fixture("chapters.mkv"), options, output);
    ASSERT_TRUE(run.finished) << run.error;
    const testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.Tag("title"), mapped ? "Chaptered" : "");
    std::string chapters;
    ASSERT_EQ(testsupport::RunTool({"ffprobe", "-v", "error", "-show_chapters", "-of",
                                    "csv=p=0", "-show_entries", "chapter=start_time,end_time:chapter_tags=title", output},
                                   &chapters),
              0);
    EXPECT_EQ(chapters, "0.000000,1.000000,One\n1.000000,2.000000,Two\n");
  }
}
