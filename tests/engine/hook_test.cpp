// Frame hooks of a run, checked on the converted files: the custom hook's bitmap round trip, its
// Update and StopHook answers and a failing handler, preview bitmaps and the previewer window,
// frame hook plug-ins and deinterlacing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>

#include "engine/customffmpeg.h"
#include "engine/zuzezaviv.h"
#include "media/ffloader.h"
#include "media/previewer.h"
#include "platform/mainthread.h"
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using engine::TCustomFFmpeg;
using testsupport::Fixture;
using testsupport::TOptions;

namespace {

// The frames of a file's video decoded by the ffmpeg tool, as raw pictures of the format.
std::string DecodeFrames(const std::string& file, const std::string& pixelFormat) {
  std::string frames;
  EXPECT_EQ(testsupport::RunTool({"ffmpeg", "-v", "error", "-i", file, "-map", "0:v:0", "-f",
                                  "rawvideo", "-pix_fmt", pixelFormat, "-"},
                                 &frames),
            0);
  return frames;
}

// Prepares a task converting the input losslessly (ffv1 keeps every decoded value), video only.
void Prepare(TCustomFFmpeg& task, const std::string& input, const std::string& output,
             TOptions extra = {}) {
  TOptions options = {{"vcodec", "ffv1"}, {"an", "1"}};
  options.insert(options.end(), extra.begin(), extra.end());
  ASSERT_EQ(testsupport::PrepareTask(task, {input}, {}, options, output), "");
}

void RunToEnd(TCustomFFmpeg& task) {
  task.Start(false, platform::TThreadPriority::Normal);
  EXPECT_TRUE(task.Finished()) << task.ErrorMessage();
}

// Paints the top-left 32x32 pixels white.
void PaintCorner(media::TBitmap& bitmap) {
  for (int y = 0; y < 32; ++y) std::fill_n(bitmap.ScanLine(y), 32 * 3, uint8_t{255});
}

constexpr int kWidth = 320, kHeight = 240, kFrames = 50;  // av.mp4
constexpr size_t kRgbFrame = size_t(kWidth) * kHeight * 3;

}  // namespace

TEST(Hook, ThePaintedPatternIsInTheOutput) {
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  Prepare(task, Fixture("av.mp4"), dir.File("out.mkv"));
  std::vector<int> numbers;
  std::vector<int64_t> times;
  task.HookCallback = [&](TCustomFFmpeg*, media::TBitmap& bitmap, int frameNumber, int64_t pts,
                          bool& update, bool&) {
    EXPECT_TRUE(update);
    EXPECT_EQ(bitmap.Width(), kWidth);
    EXPECT_EQ(bitmap.Height(), kHeight);
    numbers.push_back(frameNumber);
    times.push_back(pts);
    PaintCorner(bitmap);
  };
  RunToEnd(task);
  ASSERT_EQ(numbers.size(), size_t(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(numbers[i], i + 1);
    EXPECT_NEAR(double(times[i]), i * 40000.0, 1000.0);  // µs at 25 fps
  }
  const std::string original = DecodeFrames(Fixture("av.mp4"), "rgb24");
  const std::string converted = DecodeFrames(dir.File("out.mkv"), "rgb24");
  ASSERT_EQ(converted.size(), kFrames * kRgbFrame);
  for (int f = 0; f < kFrames; ++f) {
    const auto pixel = [&](const std::string& frames, int x, int y, int c) {
      return int(uint8_t(frames[f * kRgbFrame + (size_t(y) * kWidth + x) * 3 + c]));
    };
    for (int c = 0; c < 3; ++c) {
      EXPECT_GE(pixel(converted, 8, 8, c), 250) << "frame " << f;
      // Away from the corner the picture is the decoded one, up to the colour round trip.
      EXPECT_NEAR(pixel(converted, 200, 150, c), pixel(original, 200, 150, c), 6) << "frame " << f;
    }
  }
}

TEST(Hook, ARotatedSourceReachesTheHookAndThePreviewsUpright) {
  // phone90.mp4: stored 640x360, seen 360x640 with the red quarter at the top right.
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  Prepare(task, Fixture("phone90.mp4"), dir.File("out.mkv"));
  int hooked = 0, previews = 0;
  task.HookCallback = [&](TCustomFFmpeg*, media::TBitmap& bitmap, int, int64_t, bool&, bool&) {
    ASSERT_EQ(bitmap.Width(), 360);
    ASSERT_EQ(bitmap.Height(), 640);
    const uint8_t* marker = bitmap.ScanLine(160) + 270 * 3;  // B, G, R
    EXPECT_GT(marker[2], 200);
    EXPECT_LT(marker[1], 60);
    ++hooked;
    PaintCorner(bitmap);
  };
  task.PreviewCallback = [&](TCustomFFmpeg*, const media::TBitmap& bitmap, int64_t, int) {
    EXPECT_EQ(bitmap.Width(), 360);
    EXPECT_EQ(bitmap.Height(), 640);
    ++previews;
  };
  task.SetPreviewFlags(false, true);
  RunToEnd(task);
  EXPECT_EQ(hooked, 25);
  EXPECT_GE(previews, 1);
  // The corner painted on the upright picture is the output's top left: the output is stored
  // upright and carries no rotation.
  const testsupport::FFprobe probe(dir.File("out.mkv"));
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.Width(0), 360);
  EXPECT_EQ(probe.Height(0), 640);
  EXPECT_FALSE(probe.HasDisplayMatrix(0));
  const std::string frames = DecodeFrames(dir.File("out.mkv"), "rgb24");
  ASSERT_EQ(frames.size(), 25u * 360 * 640 * 3);
  const auto pixel = [&](int x, int y, int c) {
    return int(uint8_t(frames[(size_t(y) * 360 + x) * 3 + c]));
  };
  for (int c = 0; c < 3; ++c) EXPECT_GE(pixel(8, 8, c), 250);
  EXPECT_GT(pixel(270, 160, 0), 200);
  EXPECT_LT(pixel(270, 160, 1), 60);
}

TEST(Hook, UpdateFalseOrAFailingHandlerLeavesTheDecodedFrame) {
  // Odd frames: the handler paints but answers Update = false; even frames: it paints and throws.
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  Prepare(task, Fixture("av.mp4"), dir.File("out.mkv"));
  int calls = 0;
  task.HookCallback = [&](TCustomFFmpeg*, media::TBitmap& bitmap, int frameNumber, int64_t,
                          bool& update, bool&) {
    ++calls;
    PaintCorner(bitmap);
    if (frameNumber % 2) {
      update = false;
      return;
    }
    throw std::runtime_error("boom");
  };
  std::vector<std::string> log;
  media::TFFLogger& logger = media::GetLogger();
  logger.TriggerEventInMainThread = false;
  logger.OnLog = [&](media::TFFBaseComponent* sender, uint32_t, media::TLogLevel,
                     const std::string& text) {
    if (sender == &task) log.push_back(text);
  };
  RunToEnd(task);
  logger.OnLog = nullptr;
  EXPECT_EQ(calls, kFrames);  // called again after every failure
  EXPECT_EQ(std::count(log.begin(), log.end(), "Error occurs OnCustomHook: boom"), kFrames / 2);
  // Lossless output, so the frames must equal the decoded input exactly.
  EXPECT_TRUE(DecodeFrames(dir.File("out.mkv"), "yuv420p") ==
              DecodeFrames(Fixture("av.mp4"), "yuv420p"));
}

TEST(Hook, EveryWrittenFrameHoldsItsOwnPictureAndTheOthersTheDecodedOne) {
  // The handler fills whole frames with a grey of their own, two frames in three; the third it
  // leaves with Update = false. A written frame must not show another frame's grey (buffers
  // reused while still in use), and the decoder's pictures must stay as decoded (frames written
  // into memory the decoder still predicts from would spoil the frames after them).
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  Prepare(task, Fixture("av.mp4"), dir.File("out.mkv"));
  const auto grey = [](int frameNumber) { return 20 + frameNumber * 37 % 200; };
  task.HookCallback = [&](TCustomFFmpeg*, media::TBitmap& bitmap, int frameNumber, int64_t,
                          bool& update, bool&) {
    if (frameNumber % 3 == 0) {
      PaintCorner(bitmap);
      update = false;
      return;
    }
    for (int y = 0; y < bitmap.Height(); ++y)
      std::fill_n(bitmap.ScanLine(y), bitmap.Width() * 3, uint8_t(grey(frameNumber)));
  };
  RunToEnd(task);
  constexpr size_t kLuma = size_t(kWidth) * kHeight, kFrame = kLuma * 3 / 2;
  const std::string original = DecodeFrames(Fixture("av.mp4"), "yuv420p");
  const std::string converted = DecodeFrames(dir.File("out.mkv"), "yuv420p");
  ASSERT_EQ(converted.size(), kFrames * kFrame);
  ASSERT_EQ(original.size(), converted.size());
  for (int f = 0; f < kFrames; ++f) {
    const int number = f + 1;
    const std::string frame = converted.substr(f * kFrame, kFrame);
    if (number % 3 == 0) {
      EXPECT_TRUE(frame == original.substr(f * kFrame, kFrame)) << "frame " << number;
    } else {
      // Grey g at video levels: luma ((220 g + 128) >> 8) + 16, both chroma planes 128.
      const char luma = char(((220 * grey(number) + 128) >> 8) + 16);
      EXPECT_TRUE(frame == std::string(kLuma, luma) + std::string(kFrame - kLuma, char(128)))
          << "frame " << number;
    }
  }
}

TEST(Hook, StopHookEndsTheCallsOfThatTaskOnly) {
  platform::SetMainThread();
  testsupport::TempDir dir;
  engine::TZUzezaVIV c;
  ASSERT_TRUE(c.LoadAVLib("")) << c.LastErrMsg;
  std::mutex lock;
  std::map<int, int> calls;
  c.OnCustomHook = [&](media::TFFBaseComponent*, engine::THookInfo* info) {
    std::lock_guard guard(lock);
    if (++calls[info->TaskIndex] == 5 && info->TaskIndex == 0) info->StopHook = true;
  };
  std::atomic<bool> done{false};
  c.OnTerminate = [&](media::TFFBaseComponent*, const engine::TTerminateInfo& info) {
    if (info.TaskIndex == -1) done = true;
  };
  engine::TOutputOptions options;
  engine::InitOutputOptions(options);
  options.CustomHook = true;
  options.DisableAudio = true;
  options.VideoCodec = "mpeg4";
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(c.AddTask(Fixture("av.mp4")), i) << c.LastErrMsg;
    ASSERT_TRUE(c.SetOutputFile(i, dir.File("out" + std::to_string(i) + ".mp4"), &options))
        << c.LastErrMsg;
  }
  c.StartTask(2);
  ASSERT_TRUE(platform::WaitServing([&] { return done.load(); }, std::chrono::seconds(60)));
  EXPECT_EQ(calls[0], 5);
  EXPECT_EQ(calls[1], kFrames);
}

TEST(Hook, PreviewBitmapsComeAtMostEveryTenthOfASecond) {
  // Rate emulation makes the 2 s clip take 2 s.
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  ASSERT_EQ(testsupport::PrepareTask(task, {Fixture("av.mp4")}, {{"re", "1"}},
                                     {{"vcodec", "mpeg4"}, {"an", "1"}}, dir.File("out.mp4")),
            "");
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> arrivals;
  std::vector<int> numbers;
  std::vector<int64_t> times;
  task.PreviewCallback = [&](TCustomFFmpeg*, const media::TBitmap& bitmap, int64_t time,
                             int frameNumber) {
    EXPECT_EQ(bitmap.Width(), kWidth);
    arrivals.push_back(Clock::now());
    numbers.push_back(frameNumber);
    times.push_back(time);
  };
  task.SetPreviewFlags(false, true);
  RunToEnd(task);
  ASSERT_GE(arrivals.size(), 5u);
  EXPECT_LE(arrivals.size(), 21u);
  EXPECT_EQ(numbers.front(), 1);
  for (size_t i = 1; i < arrivals.size(); ++i) {
    EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(90));
    EXPECT_GT(numbers[i], numbers[i - 1]);
    EXPECT_GT(times[i], times[i - 1]);
  }
}

TEST(Hook, APreviewHandlerMaySwitchPreviewsOff) {
  // The handler runs on the user-interface thread while the worker waits for it; switching the
  // previews off from there must neither deadlock nor let further previews through.
  platform::SetMainThread();
  testsupport::TempDir dir;
  engine::TZUzezaVIV c;
  ASSERT_TRUE(c.LoadAVLib("")) << c.LastErrMsg;
  int previews = 0;
  c.OnPreviewBitmap = [&](media::TFFBaseComponent*, const engine::TPreviewInfo&) {
    ++previews;
    c.SetPreviewBitmap(false);
  };
  std::atomic<bool> done{false};
  bool finished = false;
  c.OnTerminate = [&](media::TFFBaseComponent*, const engine::TTerminateInfo& info) {
    if (info.TaskIndex == 0) finished = info.Finished;
    if (info.TaskIndex == -1) done = true;
  };
  c.SetPreviewBitmap(true);
  engine::TInputOptions input;
  engine::InitInputOptions(input);
  input.ExtOptions = "re=1";
  ASSERT_EQ(c.AddTask(Fixture("av.mp4"), &input), 0) << c.LastErrMsg;
  ASSERT_TRUE(c.SetOutputFile(0, dir.File("out.mp4"))) << c.LastErrMsg;
  c.StartTask(1);
  ASSERT_TRUE(platform::WaitServing([&] { return done.load(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(finished);
  EXPECT_EQ(previews, 1);
}

namespace {

// A previewer window stand-in: shows frames until the user "closes" it after the second.
struct FakePreviewer : media::TPreviewer {
  static inline std::atomic<int> shown{0}, destroyed{0};
  bool ShowPreviewFrame(const media::TBitmap&, int64_t, int64_t) override {
    EXPECT_TRUE(platform::IsMainThread());
    return ++shown <= 2;
  }
  ~FakePreviewer() override {
    EXPECT_TRUE(platform::IsMainThread());
    ++destroyed;
  }
};

}  // namespace

TEST(Hook, ClosingThePreviewerEndsItsPreviewsAndTheConversionGoesOn) {
  platform::SetMainThread();
  media::SetPreviewerFactory([] { return std::make_unique<FakePreviewer>(); });
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  ASSERT_EQ(testsupport::PrepareTask(task, {Fixture("av.mp4")}, {{"re", "1"}},
                                     {{"vcodec", "mpeg4"}, {"an", "1"}}, dir.File("out.mp4")),
            "");
  task.SetPreviewFlags(true, false);
  std::atomic<bool> ended{false};
  task.TerminateCallback = [&](TCustomFFmpeg*) { ended = true; };
  task.Start(true, platform::TThreadPriority::Normal);
  ASSERT_TRUE(platform::WaitServing([&] { return ended.load(); }, std::chrono::seconds(60)));
  task.Stop(true);
  EXPECT_TRUE(task.Finished()) << task.ErrorMessage();
  EXPECT_EQ(FakePreviewer::shown, 3);  // two shown, then the window reported closed
  EXPECT_EQ(FakePreviewer::destroyed, 1);
  EXPECT_EQ(task.PreviewFlags(), 0);
  media::SetPreviewerFactory(nullptr);
}

TEST(Hook, OddSizedPicturesGoThroughTheConversion) {
  // odd_bgr.avi: raw bgr24 161x121. The hook whitens pixel (0, 0) and the last pixel of each row.
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  ASSERT_EQ(testsupport::PrepareTask(task, {Fixture("odd_bgr.avi")}, {},
                                     {{"vcodec", "rawvideo"}}, dir.File("out.avi")),
            "");
  task.HookCallback = [&](TCustomFFmpeg*, media::TBitmap& bitmap, int, int64_t, bool&, bool&) {
    EXPECT_EQ(bitmap.Width(), 161);
    for (int y = 0; y < bitmap.Height(); ++y) std::fill_n(bitmap.ScanLine(y) + 160 * 3, 3, uint8_t{255});
    std::fill_n(bitmap.ScanLine(0), 3, uint8_t{255});
  };
  RunToEnd(task);
  const std::string original = DecodeFrames(Fixture("odd_bgr.avi"), "bgr24");
  const std::string converted = DecodeFrames(dir.File("out.avi"), "bgr24");
  ASSERT_EQ(converted.size(), original.size());
  constexpr size_t kRow = 161 * 3, kFrame = kRow * 121;
  size_t changed = 0;
  for (size_t i = 0; i < converted.size(); ++i) {
    const size_t inFrame = i % kFrame, column = (inFrame % kRow) / 3;
    const bool painted = column == 160 || inFrame < 3;
    if (painted)
      EXPECT_EQ(uint8_t(converted[i]), 255) << i;
    else
      changed += converted[i] != original[i];
  }
  EXPECT_EQ(changed, 0u);  // the rest of every picture is untouched
}

TEST(Hook, PlugInsProcessEveryFrame) {
  testsupport::TempDir dir;
  TCustomFFmpeg task;
  Prepare(task, Fixture("av.mp4"), dir.File("out.mkv"), {{"vhook", std::string(VHOOK_LUMAINVERT) + " 16"}});
  RunToEnd(task);
  const std::string original = DecodeFrames(Fixture("av.mp4"), "yuv420p");
  const std::string converted = DecodeFrames(dir.File("out.mkv"), "yuv420p");
  constexpr size_t kFrame = size_t(kWidth) * kHeight * 3 / 2;
  ASSERT_EQ(converted.size(), kFrames * kFrame);
  for (int f = 0; f < kFrames; ++f) {
    const size_t base = f * kFrame;
    EXPECT_EQ(uint8_t(converted[base]), 255 - uint8_t(original[base]));                    // (0, 0)
    EXPECT_EQ(uint8_t(converted[base + 15 * kWidth + 15]), 255 - uint8_t(original[base + 15 * kWidth + 15]));
    EXPECT_EQ(converted[base + 16 * kWidth + 16], original[base + 16 * kWidth + 16]);       // outside
  }
}

TEST(Hook, PlugInsThatCannotBeAddedFailTheOption) {
  const std::string noProcess = VHOOK_NOPROCESS;
  const struct {
    std::string value, logged;
  } cases[] = {
      {noProcess, "Failed to find Process entrypoint in " + noProcess + "\n"},
      {std::string(VHOOK_LUMAINVERT) + "|fail", std::string("Failed to Configure ") + VHOOK_LUMAINVERT + "\n"},
      {"/no/such/plugin.so", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(media::FFLoader().Load(media::EngineLibraries));
    TCustomFFmpeg task;
    task.ResetState();
    std::vector<std::string> log;
    media::TFFLogger& logger = media::GetLogger();
    logger.TriggerEventInMainThread = false;
    logger.OnLog = [&](media::TFFBaseComponent*, uint32_t, media::TLogLevel, const std::string& text) {
      log.push_back(text);
    };
    try {
      task.SetOption("vhook", c.value);
      ADD_FAILURE() << "the option was taken";
    } catch (const engine::FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), "Failed to add video hook function: " + c.value);
    }
    logger.OnLog = nullptr;
    if (!c.logged.empty()) {
      EXPECT_NE(std::find(log.begin(), log.end(), c.logged), log.end());
    }
    EXPECT_FALSE(task.State().usingVhook);
  }
}

TEST(Hook, DeinterlacingBlendsTheFields) {
  // stripes.mkv: rows alternate 0 and 255.
  for (const bool deinterlace : {false, true}) {
    SCOPED_TRACE(deinterlace);
    testsupport::TempDir dir;
    TCustomFFmpeg task;
    Prepare(task, Fixture("stripes.mkv"), dir.File("out.mkv"),
            deinterlace ? TOptions{{"deinterlace", "1"}} : TOptions{});
    RunToEnd(task);
    const std::string luma = DecodeFrames(dir.File("out.mkv"), "gray");
    ASSERT_EQ(luma.size(), size_t(5 * 64 * 48));
    int largestStep = 0;
    for (int y = 8; y < 40; ++y)
      largestStep = std::max(largestStep, std::abs(int(uint8_t(luma[(y + 1) * 64 + 20])) -
                                                   int(uint8_t(luma[y * 64 + 20]))));
    if (deinterlace)
      EXPECT_LT(largestStep, 128);
    else
      EXPECT_GT(largestStep, 250);
  }
}
