// Runs that meet bad input, write failures, stops, and what their progress events carry.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/customffmpeg.h"
#include "engine/zuzezaviv.h"
#include "media/ffutils.h"
#include "platform/event.h"
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/testdirs.h"

using namespace std::chrono_literals;
using testsupport::FileSizeLimit;
using testsupport::Fixture;
using testsupport::RunTask;
using testsupport::TOptions;
using testsupport::TRunResult;
namespace fs = std::filesystem;

namespace {

// Long enough for any run here to end; only reached when something hangs.
constexpr auto kPatience = 30s;

// A task run on its worker thread and watched from the test thread: its reports and its end.
class WatchedRun {
 public:
  // Prepares the task and starts it; "" when it runs, else the failure.
  std::string Start(const std::string& input, const TOptions& inputOptions,
                    const TOptions& outputOptions, const std::string& output) {
    const std::string error =
        testsupport::PrepareTask(task, {input}, inputOptions, outputOptions, output);
    if (!error.empty()) return error;
    task.SetProgressInterval(100000);
    // Both callbacks run on the worker; they only signal this thread.
    task.ProgressCallback = [this](engine::TCustomFFmpeg*, int, int, int, float, float, int64_t,
                                   int64_t, int64_t) { firstReport.Set(); };
    task.TerminateCallback = [this](engine::TCustomFFmpeg*) { ended.Set(); };
    if (!task.Start(true, platform::TThreadPriority::Normal)) return "the run did not start";
    return "";
  }
  // Waits for the termination notice. A run still going after kPatience is stopped and fails the
  // test, so that a hang shows as a failure of its own rather than as the test's time-out.
  bool WaitEnd() {
    const bool inTime = ended.Wait(kPatience);
    task.Stop(true);  // also waits until the worker is done with the task
    EXPECT_TRUE(inTime) << "the run did not end";
    return inTime;
  }

  engine::TCustomFFmpeg task;
  platform::TEvent firstReport, ended;
};

// Where the output's shortest audio or video stream ends, s.
double ShortestStreamEnd(const testsupport::FFprobe& probe) {
  double end = 1e100;
  for (size_t i = 0; i < probe.StreamCount(); ++i) {
    if (probe.CodecType(i) != "audio" && probe.CodecType(i) != "video") continue;
    const double start = std::stod(probe.Stream(i).value("start_time", "nan"));
    end = std::min(end, start + probe.StreamDuration(i));
  }
  return end;
}

size_t StreamOf(const testsupport::FFprobe& probe, const std::string& type) {
  for (size_t i = 0; i < probe.StreamCount(); ++i)
    if (probe.CodecType(i) == type) return i;
  ADD_FAILURE() << "no " << type << " stream";
  return 0;
}

}  // namespace

TEST(RunFailure, InputCutInTheMiddleConvertsWhatItHolds) {
  // cut.ts ends inside a packet, about 2.4 s into its 4 s. The run reads what is there, drains,
  // and writes a complete file; the broken last packet is no reason to fail.
  testsupport::TempDir dir;
  const std::string output = dir.File("out.mp4");
  WatchedRun run;
  ASSERT_EQ(run.Start(Fixture("cut.ts"), {}, {{"vcodec", "mpeg4"}, {"acodec", "aac"}}, output), "");
  ASSERT_TRUE(run.WaitEnd());
  EXPECT_TRUE(run.task.Finished());
  EXPECT_FALSE(run.task.Failed()) << run.task.ErrorMessage();

  // The output holds as many pictures as the input still has (the last, cut one may be lost), and
  // ffprobe decodes it to its end without a complaint.
  const testsupport::FFprobe input(Fixture("cut.ts"), true);
  ASSERT_TRUE(input.Ok()) << input.Errors();
  const int64_t inputFrames = input.NbReadFrames(StreamOf(input, "video"));
  EXPECT_NEAR(double(inputFrames), 60, 10) << "cut.ts is not what this test expects";
  const testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.Errors(), "");
  EXPECT_NEAR(double(probe.NbReadFrames(StreamOf(probe, "video"))), double(inputFrames), 1);
  EXPECT_NEAR(probe.Duration(), inputFrames / 25.0, 0.15);
  EXPECT_GT(probe.NbReadFrames(StreamOf(probe, "audio")), 0);
}

TEST(RunFailure, AWriteFailureFailsItsTaskAndTheNextTaskRuns) {
  // Task 0 writes far more than the file size limit allows; task 1 writes a small audio file.
  constexpr rlim_t kLimit = 100 * 1024;
  testsupport::TempDir dir;
  const std::string big = dir.File("big.mp4"), small = dir.File("small.mp3");
  engine::TZUzezaVIV c;
  ASSERT_TRUE(c.LoadAVLib("")) << c.LastErrMsg;
  engine::TOutputOptions bigOptions, smallOptions;
  engine::InitOutputOptions(bigOptions);
  bigOptions.VideoCodec = "mpeg4";
  bigOptions.ExtOptions = "qscale=1";  // finest quantizer: several MB for the 2 s clip
  engine::InitOutputOptions(smallOptions);
  smallOptions.DisableVideo = true;
  smallOptions.AudioCodec = "libmp3lame";
  smallOptions.AudioBitrate = 64000;  // about 16 kB
  ASSERT_EQ(c.AddTask(Fixture("av.mp4")), 0) << c.LastErrMsg;
  ASSERT_TRUE(c.SetOutputFile(0, big, &bigOptions)) << c.LastErrMsg;
  ASSERT_EQ(c.AddTask(Fixture("av.mp4")), 1) << c.LastErrMsg;
  ASSERT_TRUE(c.SetOutputFile(1, small, &smallOptions)) << c.LastErrMsg;
  std::vector<engine::TTerminateInfo> notices;
  c.OnTerminate = [&](media::TFFBaseComponent*, const engine::TTerminateInfo& info) {
    notices.push_back(info);
  };
  {
    FileSizeLimit limit(kLimit);
    ASSERT_TRUE(limit.Set());
    c.StartTask(0);  // both tasks, one after the other, in this thread
  }

  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].TaskIndex, 0);
  EXPECT_FALSE(notices[0].Finished);
  EXPECT_TRUE(notices[0].Failed);
  EXPECT_EQ(notices[0].ErrorMessage, "av_interleaved_write_frame(): File too large");
  // The task really wrote up to the limit before its write was refused.
  EXPECT_EQ(media::GetFileSize(big), static_cast<int64_t>(kLimit));

  EXPECT_EQ(notices[1].TaskIndex, 1);
  EXPECT_TRUE(notices[1].Finished);
  EXPECT_FALSE(notices[1].Failed) << notices[1].ErrorMessage;
  EXPECT_EQ(notices[2].TaskIndex, -1);
  const testsupport::FFprobe probe(small, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.Errors(), "");
  ASSERT_EQ(probe.StreamCount(), 1u);
  EXPECT_EQ(probe.CodecName(0), "mp3");
  EXPECT_NEAR(probe.Duration(), 2.0, 0.1);
}

TEST(RunFailure, AStoppedRunLeavesACompleteFile) {
  // Rate emulation holds the 2 s clip to real time, so the stop after the first report (0.1 s
  // into the run) lands well before its end. An MP4's index is written by the trailer only: a
  // file ffprobe reads shows that the stopped run was finalised.
  testsupport::TempDir dir;
  const std::string output = dir.File("out.mp4");
  WatchedRun run;
  ASSERT_EQ(run.Start(Fixture("av.mp4"), {{"re", "1"}}, {{"vcodec", "mpeg4"}, {"acodec", "aac"}},
                      output),
            "");
  ASSERT_TRUE(run.firstReport.Wait(kPatience));
  run.task.Stop(true);
  ASSERT_TRUE(run.WaitEnd());
  EXPECT_FALSE(run.task.Finished());
  EXPECT_FALSE(run.task.Failed()) << run.task.ErrorMessage();

  const testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.Errors(), "");
  EXPECT_GT(probe.Duration(), 0.0);
  EXPECT_LT(probe.Duration(), 1.5);
  const int64_t frames = probe.NbReadFrames(StreamOf(probe, "video"));
  EXPECT_GT(frames, 0);
  EXPECT_LT(frames, 50);
}

TEST(RunFailure, ProgressReportsDescribeTheRun) {
  // RunTask reports after every packet, so a report the engine should hold back would show.
  const struct {
    std::string name;  // also the output file's name
    std::string input;
    TOptions options;
    int64_t total;      // TotalDuration of every report, µs
    int64_t tolerance;  // on total
    int frames;         // FrameNumber of the last report; -1: no video output
    double duration;    // of the run's output, s
  } cases[] = {
      {"audio.m4a", "audio.mp3", {}, 2000000, 100000, -1, 2.0},
      // The encoder holds back about 40 pictures for its lookahead: no report before its first
      // packet. One thread, so that packets come out before the end of the input (frame threads
      // add to the delay until the whole clip is held back).
      {"lookahead.mp4", "av.mp4", {{"vcodec", "libx264"}, {"threads", "1"}, {"an", "1"}}, 2000000,
       100000, 50, 2.0},
      // A recording time is the expected length.
      {"onesecond.mp4", "av.mp4", {{"t", "1"}, {"vcodec", "mpeg4"}, {"acodec", "aac"}}, 1000000, 0,
       25, 1.0},
      // The part before an output start time is not expected in the output.
      {"laterstart.mp4", "av.mp4", {{"ss", "1.2"}, {"vcodec", "mpeg4"}, {"an", "1"}}, 800000,
       0, 20, 0.8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string output = dir.File(c.name);
    const TRunResult run = RunTask(Fixture(c.input), c.options, output);
    ASSERT_TRUE(run.finished) << run.error;
    ASSERT_FALSE(run.progress.empty());
    for (size_t i = 0; i < run.progress.size(); ++i) {
      const testsupport::TProgress& p = run.progress[i];
      SCOPED_TRACE("report " + std::to_string(i));
      // Only the last report carries file index -1.
      EXPECT_EQ(p.fileIndex, i + 1 == run.progress.size() ? -1 : 0);
      EXPECT_NEAR(double(p.total), double(c.total), double(c.tolerance));
      if (c.frames < 0) {
        EXPECT_EQ(p.frameNumber, -1);
        EXPECT_EQ(p.fps, -1);
        EXPECT_EQ(p.quality, -1.0f);
      } else {
        // Every report comes after the first encoded picture was written, so the output has
        // a length.
        EXPECT_GT(p.time, 0);
        // A report made before the encoder's first packet would show the quantizer as 0, which
        // neither encoder here ever chooses.
        EXPECT_GE(p.frameNumber, 1);
        EXPECT_GE(p.fps, 0);
        EXPECT_GT(p.quality, 0.0f);
      }
    }
    const testsupport::TProgress& last = run.progress.back();
    if (c.frames >= 0) {
      EXPECT_EQ(last.frameNumber, c.frames);
    }
    EXPECT_GT(last.size, 0);
    EXPECT_EQ(last.size, media::GetFileSize(output));

    const testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    // One frame, or the audio encoder's priming and padding, past the length asked.
    EXPECT_NEAR(probe.Duration(), c.duration, 0.1);
    // The last report's time is where the output ends: the end of its shortest stream.
    EXPECT_NEAR(double(last.time) / 1e6, ShortestStreamEnd(probe), 0.02);
  }
}

TEST(RunFailure, AnEncoderThatRefusesItsSettingsLeavesNoFile) {
  // H.263 knows a few picture sizes only; 320x240 is not one of them. The encoder refuses it when
  // it is opened, before any header is written, and the still-empty output is deleted.
  testsupport::TempDir dir;
  const std::string output = dir.File("out.3gp");
  const TRunResult run = RunTask(Fixture("av.mp4"), {{"vcodec", "h263"}, {"s", "320x240"}}, output);
  EXPECT_TRUE(run.failed);
  EXPECT_FALSE(run.finished);
  const std::string prefix = "Error while opening encoder for output stream #0.0 (Video)";
  EXPECT_EQ(run.error.substr(0, prefix.size()), prefix) << run.error;
  EXPECT_FALSE(fs::exists(output));
}

TEST(RunFailure, ARunThatWritesNoPacketFailsAndLeavesNoFile) {
  // Both outputs would be valid files holding a header and nothing else: a converted file that
  // is not what anybody asked for.
  const struct {
    const char* name;
    TOptions inputOptions;
    TOptions outputOptions;
    const char* error;
  } cases[] = {
      {"start past the end", {{"ss", "20"}}, {{"vcodec", "mpeg4"}, {"acodec", "aac"}},
       "nothing to convert: the start 00:00:20.000 lies past the end of "},
      {"no frame allowed", {}, {{"vcodec", "mpeg4"}, {"an", "1"}, {"vframes", "0"}},
       "nothing to convert: no picture or sound of the source reached the output"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string output = dir.File("out.mp4");
    const TRunResult run =
        RunTask({Fixture("av.mp4")}, c.inputOptions, c.outputOptions, output);
    EXPECT_TRUE(run.failed);
    EXPECT_FALSE(run.finished);
    EXPECT_EQ(run.error.rfind(c.error, 0), 0u) << run.error;
    EXPECT_FALSE(fs::exists(output));
  }
}
