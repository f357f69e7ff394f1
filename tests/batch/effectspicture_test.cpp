// The pictures of a conversion with frame effects and watermarks, against the same work done the
// plain way: the ffmpeg tool turns each decoded frame into a 24-bit bitmap, the effects run on it
// here, and the tool turns it back. The engine's output (lossless, so nothing but the hook path
// differs) must match that at 45 dB or better. A watermark alone reaches only its own part of the
// frame: there the output matches the plain way, and everywhere else it is the decoded picture
// itself (the plain way's colour round trip is not made there at all). Colour steps that come
// first run on the rows as each bitmap is made, as the batch sets it up; the output is the same
// to the byte as when the handler runs every step on the finished bitmap.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <optional>

#include "effects/frameeffects.h"
#include "engine/customffmpeg.h"
#include "tests/engine/taskrunner.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kFrames = 50;  // av.mp4
constexpr size_t kBgrFrame = size_t(kWidth) * kHeight * 3;
constexpr size_t kYuvFrame = size_t(kWidth) * kHeight * 3 / 2;

std::string RunOk(std::vector<std::string> args) {
  std::string out, errors;
  EXPECT_EQ(testsupport::RunTool(std::move(args), &out, &errors), 0) << errors;
  return out;
}

// The reference: decoded to BGR by the tool, effects applied here, back to 4:2:0 by the tool.
std::string Reference(const std::string& input, const effects::FrameEffectSettings& settings,
                      const testsupport::TempDir& dir) {
  std::string frames = RunOk({"ffmpeg", "-v", "error", "-i", input, "-map", "0:v:0", "-f",
                            "rawvideo", "-pix_fmt", "bgr24", "-"});
  EXPECT_EQ(frames.size(), kFrames * kBgrFrame);
  media::TBitmap bitmap(kWidth, kHeight);  // rows of 960 bytes: no padding
  for (size_t f = 0; f * kBgrFrame < frames.size(); ++f) {
    std::copy_n(frames.data() + f * kBgrFrame, kBgrFrame, bitmap.Bits());
    effects::ApplyFrameEffects(bitmap, settings);
    std::copy_n(bitmap.Bits(), kBgrFrame, frames.data() + f * kBgrFrame);
  }
  const std::string raw = dir.File("reference.bgr");
  std::ofstream(raw, std::ios::binary).write(frames.data(), std::streamsize(frames.size()));
  return RunOk({"ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", "320x240",
              "-i", raw, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

// The engine's conversion with the hook as the batch sets it up (or, without rowsPass, with the
// handler running every step), decoded to 4:2:0.
std::string Converted(const std::string& input, const effects::FrameEffectSettings& settings,
                      const testsupport::TempDir& dir, int* areaCalls, bool rowsPass = true) {
  engine::TCustomFFmpeg task;
  const std::string output = dir.File("out.mkv");
  EXPECT_EQ(testsupport::PrepareTask(task, {input}, {}, {{"vcodec", "ffv1"}, {"an", "1"}}, output),
            "");
  const bool stepsOnRows = rowsPass && effects::ColourStepsComeFirst(settings);
  task.HookCallback = [&](engine::TCustomFFmpeg*, media::TBitmap& bitmap, int, int64_t, bool&,
                          bool&) { effects::ApplyFrameEffects(bitmap, settings, stepsOnRows); };
  task.HookAreaCallback = [&](engine::TCustomFFmpeg*, int width, int height,
                              media::TPictureArea& area, engine::THookRows& rows) {
    ++*areaCalls;
    if (stepsOnRows) {
      auto steps = std::make_shared<const effects::TColourSteps>(settings);
      rows.Pass = [steps](media::TBitmap& bitmap, int first, int count) {
        steps->ApplyToRows(bitmap, first, count);
      };
      rows.AfterPass = effects::MarksArea(settings, width, height);
    }
    const std::optional<media::TPictureArea> part = effects::MarkArea(settings, width, height);
    if (part) area = *part;
    return part.has_value();
  };
  task.Start(false, platform::TThreadPriority::Normal);
  EXPECT_TRUE(task.Finished()) << task.ErrorMessage();
  return RunOk({"ffmpeg", "-v", "error", "-i", output, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

double Psnr(const std::string& a, const std::string& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
    sum += d * d;
  }
  const double mse = sum / double(a.size());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The frames of `inside` within the area (grown to even edges, as the converter does) and of
// `outside` elsewhere, all three planes.
std::string Combined(const std::string& inside, const std::string& outside,
                     const media::TPictureArea& area) {
  std::string frames = outside;
  const int left = area.x & ~1, top = area.y & ~1;
  const int right = (area.x + area.width + 1) & ~1, bottom = (area.y + area.height + 1) & ~1;
  for (size_t f = 0; f * kYuvFrame < frames.size(); ++f) {
    size_t plane = f * kYuvFrame;
    for (int p = 0; p < 3; ++p) {
      const int shift = p ? 1 : 0, width = kWidth >> shift;
      for (int y = top >> shift; y < bottom >> shift; ++y) {
        const size_t row = plane + size_t(y) * width;
        for (int x = left >> shift; x < right >> shift; ++x) frames[row + x] = inside[row + x];
      }
      plane += size_t(width) * (kHeight >> shift);
    }
  }
  return frames;
}

}  // namespace

TEST(EffectsPicture, TheConvertedFramesMatchThePlainWayOfApplyingTheEffects) {
  effects::FrameEffectSettings colourAndText;
  colourAndText.Brightness = 300;
  colourAndText.Contrast = 20;
  colourAndText.MarkText = "Hello";
  colourAndText.MarkFont.Size = 16;
  colourAndText.MarkFont.Color = effects::ColorFromRGB(255, 255, 0);
  colourAndText.TextX = 20;
  colourAndText.TextY = 30;
  effects::FrameEffectSettings textOnly = colourAndText;
  textOnly.Brightness = 255;
  textOnly.Contrast = 0;
  // Saturation and exposure as well: the mixing pass and the composed tables.
  effects::FrameEffectSettings allSteps = colourAndText;
  allSteps.Saturation = 380;
  allSteps.Exposure = 90;
  // The text drawn first and changed by the colour steps: they cannot run on the rows early.
  effects::FrameEffectSettings textFirst = allSteps;
  textFirst.ProcessText = true;
  const struct {
    const char* name;
    effects::FrameEffectSettings settings;
  } cases[] = {{"colour steps and a text mark", colourAndText},
               {"a text mark only", textOnly},
               {"every colour step and a text mark", allSteps},
               {"a text mark changed by the colour steps", textFirst}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string input = testsupport::Fixture("av.mp4");
    int areaCalls = 0;
    const std::string ours = Converted(input, c.settings, dir, &areaCalls);
    const std::string reference = Reference(input, c.settings, dir);
    ASSERT_EQ(ours.size(), kFrames * kYuvFrame);
    ASSERT_EQ(reference.size(), ours.size());
    EXPECT_EQ(areaCalls, 1);  // once for the one picture size
    const std::string source = RunOk({"ffmpeg", "-v", "error", "-i", input, "-map", "0:v:0",
                                      "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const std::optional<media::TPictureArea> area =
        effects::MarkArea(c.settings, kWidth, kHeight);
    if (area) {
      EXPECT_EQ(ours, Combined(ours, source, *area));  // untouched outside the mark
      EXPECT_GE(Psnr(ours, Combined(reference, source, *area)), 45.0);
    } else {
      EXPECT_GE(Psnr(ours, reference), 45.0);
    }
    // The effects are there: the output is not the untouched source.
    EXPECT_LT(Psnr(ours, source), 40.0);
    // Colour steps run on the rows as the bitmaps are made change nothing in the output.
    if (effects::ColourStepsComeFirst(c.settings)) {
      int calls = 0;
      EXPECT_TRUE(Converted(input, c.settings, dir, &calls, false) == ours);
    }
  }
}
