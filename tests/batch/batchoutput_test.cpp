// What a batch writes, checked against the ffmpeg tool as an independent renderer: the zoom
// geometries (and a row crop) against the tool's own turn, crop, scale and pad filters, for
// square, rotated and anamorphic sources, and a mixed batch whose third file carries picture
// effects and a text watermark.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "effects/frameeffects.h"
#include "tests/batch/batchtesting.h"
#include "tests/support/ffprobe.h"

namespace {

using batchtest::TBatchRig;

constexpr int kFrame = 10;  // the frame compared (0.4 s into the 25 frame/s sample clip)

// Profile values with nearly lossless H.264, so that the picture, not the coding, decides a match.
batchtest::Para NearlyLossless() {
  batchtest::Para para = batchtest::DefaultPara();
  para["paraVideoEncoder"] = "libx264";
  para["paraQscale"] = "1";
  return para;
}

struct TGeometryCase {
  const char* zoom;
  int width, height;     // the profile's frame size
  int cropTop, cropBottom;  // the row's crop
  const char* reference;    // the same geometry in the tool's filters, from the stored picture
  const char* source = "av.mp4";
  // The marker pictures (tests/fixtures/make_media.sh) have a red top-left quarter; where it is
  // seen in the picture area: "top left", "top right", "bottom left" or "bottom right".
  const char* marker = nullptr;
  int sideBars = 0, topBars = 0;  // black bands around the picture area, each side
};

bool IsRed(const std::vector<uint8_t>& rgb, int width, int x, int y) {
  const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
  return p[0] > 180 && p[1] < 80 && p[2] < 80;
}

bool IsBlack(const std::vector<uint8_t>& rgb, int width, int x, int y) {
  const uint8_t* p = rgb.data() + (size_t(y) * width + x) * 3;
  return p[0] < 24 && p[1] < 24 && p[2] < 24;
}

TEST(BatchOutput, ZoomGeometriesMatchTheToolsOwnFilters) {
  // av.mp4 is 320x240 (4:3). phone90.mp4 is stored 640x360 and seen turned 90 degrees clockwise
  // (360x640), phone180.mp4 turned 180 degrees; pal_wide.mp4 is 720x576 seen 16:9 (1024x576),
  // hdv.mp4 1440x1080 seen 1920x1080. Every output is upright, with square pixels.
  const TGeometryCase cases[] = {
      {"full", 256, 144, 0, 0, "scale=256:144"},
      {"lbox", 320, 180, 0, 0, "scale=240:180,pad=320:180:40:0"},
      {"lbox", 320, 180, 40, 40, "crop=x=0:y=40:w=320:h=160,scale=320:160,pad=320:180:0:10"},
      {"pan", 320, 180, 0, 0, "crop=x=0:y=30:w=320:h=180,scale=320:180"},
      {"pan", 240, 240, 0, 0, "crop=x=40:y=0:w=240:h=240,scale=240:240"},
      {"full", 320, 240, 0, 0, "transpose=clock,scale=320:240", "phone90.mp4", "top right"},
      // A portrait picture is pillar-boxed.
      {"lbox", 320, 240, 0, 0, "transpose=clock,scale=136:240,pad=320:240:92:0", "phone90.mp4",
       "top right", 92},
      // The row's crop is in the upright picture's pixels.
      {"lbox", 320, 240, 40, 40,
       "transpose=clock,crop=x=0:y=40:w=360:h=560,scale=156:240,pad=320:240:82:0",
       "phone90.mp4", "top right", 82},
      {"pan", 320, 240, 0, 0, "transpose=clock,crop=x=0:y=184:w=360:h=272,scale=320:240",
       "phone90.mp4", "top right"},
      {"center", 320, 240, 0, 0, "transpose=clock,scale=136:240,pad=320:240:92:0",
       "phone90.mp4", "top right", 92},
      {"lbox", 320, 240, 0, 0, "hflip,vflip,scale=320:180,pad=320:240:0:30", "phone180.mp4",
       "bottom right", 0, 30},
      // A 16:9 picture of non-square pixels: a 320x180 area between equal bands.
      {"lbox", 320, 240, 0, 0, "scale=320:180,pad=320:240:0:30", "pal_wide.mp4", "top left", 0,
       30},
      {"pan", 320, 240, 0, 0, "crop=x=90:y=0:w=540:h=576,scale=320:240", "pal_wide.mp4",
       "top left"},
      {"lbox", 320, 240, 0, 0, "scale=320:180,pad=320:240:0:30", "hdv.mp4", "top left", 0, 30},
  };
  for (const TGeometryCase& c : cases) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(std::string(c.source) + " " + c.zoom + " " + size + " crop " +
                 std::to_string(c.cropTop));
    batchtest::Para para = NearlyLossless();
    para["parazoom"] = c.zoom;
    para["paraVideoSize"] = size;
    TBatchRig rig(para);
    const std::string source = testsupport::Fixture(c.source);
    ASSERT_EQ(rig.list->AddFiles({source}), 1);
    rig.list->Row(0).Record->CropTop = c.cropTop;
    rig.list->Row(0).Record->CropBottom = c.cropBottom;
    ASSERT_TRUE(rig.RunBatch());
    ASSERT_EQ(rig.view.outcomes[0], batch::TRowOutcome::Finished) << rig.view.messages[0];

    const std::string stem = std::string(c.source).substr(0, std::string(c.source).rfind('.'));
    const std::string output = rig.outDir + "/" + stem + "_(new).mp4";
    const testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.Width(0), c.width);
    EXPECT_EQ(probe.Height(0), c.height);
    EXPECT_EQ(probe.SampleAspect(0), "1:1");
    EXPECT_FALSE(probe.HasDisplayMatrix(0));

    // Decoded as stored: a rotation the output wrongly carried would not be applied here.
    const auto converted = batchtest::DecodeFrame(output, "", kFrame, c.width, c.height);
    // The reference is made in the output's own picture form (4:2:0) before it becomes RGB, as
    // the converted file is.
    const auto expected = batchtest::DecodeFrame(
        source, std::string(c.reference) + ",format=yuv420p", kFrame, c.width, c.height);
    ASSERT_FALSE(converted.empty());
    ASSERT_FALSE(expected.empty());
    const double psnr = batchtest::Psnr(converted, expected);
    EXPECT_GT(psnr, 35.0);
    // A plain stretch is told apart from the geometry asked for.
    if (std::string(c.zoom) != "full") {
      const auto stretched = batchtest::DecodeFrame(
          source, "scale=" + std::to_string(c.width) + ":" + std::to_string(c.height) +
                      ",format=yuv420p",
          kFrame, c.width, c.height);
      EXPECT_LT(batchtest::Psnr(converted, stretched), psnr - 10.0);
    }
    if (!c.marker) continue;
    // The red quarter in its corner of the picture area and in no other; the bands are black.
    const int left = c.sideBars, top = c.topBars;
    const int w = c.width - 2 * c.sideBars, h = c.height - 2 * c.topBars;
    for (const char* corner : {"top left", "top right", "bottom left", "bottom right"}) {
      const std::string name = corner;
      const int x = left + (name.ends_with("right") ? w * 3 / 4 : w / 4);
      const int y = top + (name.starts_with("bottom") ? h * 3 / 4 : h / 4);
      EXPECT_EQ(IsRed(converted, c.width, x, y), name == c.marker) << corner;
    }
    if (c.sideBars > 0) {
      EXPECT_TRUE(IsBlack(converted, c.width, c.sideBars / 2, c.height / 2));
      EXPECT_TRUE(IsBlack(converted, c.width, c.width - c.sideBars / 2, c.height / 2));
    }
    if (c.topBars > 0) {
      EXPECT_TRUE(IsBlack(converted, c.width, c.width / 2, c.topBars / 2));
      EXPECT_TRUE(IsBlack(converted, c.width, c.width / 2, c.height - c.topBars / 2));
    }
  }
}

// RGB24 bytes <-> the frame effects' B, G, R bitmap.
media::TBitmap ToBitmap(const std::vector<uint8_t>& rgb, int width, int height) {
  media::TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* s = rgb.data() + (size_t(y) * width + x) * 3;
      uint8_t* d = bitmap.ScanLine(y) + x * 3;
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  return bitmap;
}

std::vector<uint8_t> ToRgb(const media::TBitmap& bitmap) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* s = bitmap.ScanLine(y) + x * 3;
      rgb.insert(rgb.end(), {s[2], s[1], s[0]});
    }
  return rgb;
}

// Mean absolute difference over a rectangle of two RGB24 pictures of the given width.
double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                      int left, int top, int right, int bottom) {
  double sum = 0;
  int count = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left * 3; x < right * 3; ++x) {
      const size_t i = size_t(y) * width * 3 + x;
      sum += std::abs(int(a[i]) - int(b[i]));
      ++count;
    }
  return sum / count;
}

TEST(BatchOutput, MixedBatchWithEffectsAndATextWatermark) {
  TBatchRig rig(NearlyLossless());
  const std::string marked = rig.CopyFixture("av.mp4", "in/marked.mp4");
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("audio.mp3"),
                                marked}),
            3);
  batch::TlvFilesRecord& record = *rig.list->Row(2).Record;
  record.Brightness = 320;
  record.Saturation = 100;
  record.MarkText = "MARK";
  record.MarkFont.Name = "DejaVu Sans";
  record.MarkFont.Size = 28;
  record.MarkFont.Bold = true;
  record.MarkFont.Color = effects::ColorFromRGB(255, 0, 255);
  record.TextX = 40;
  record.TextY = 150;
  ASSERT_TRUE(rig.RunBatch());
  for (int row = 0; row < 3; ++row)
    EXPECT_EQ(rig.view.outcomes[row], batch::TRowOutcome::Finished) << rig.view.messages[row];

  const testsupport::FFprobe plain(rig.outDir + "/av_(new).mp4");
  ASSERT_TRUE(plain.Ok()) << plain.Errors();
  EXPECT_EQ(plain.StreamCount("video"), 1u);
  EXPECT_EQ(plain.StreamCount("audio"), 1u);
  const testsupport::FFprobe sound(rig.outDir + "/audio_(new).mp4");
  ASSERT_TRUE(sound.Ok()) << sound.Errors();
  EXPECT_EQ(sound.StreamCount("video"), 0u);
  EXPECT_EQ(sound.StreamCount("audio"), 1u);
  EXPECT_NEAR(sound.Duration(), 2.0, 0.2);

  // The expected picture: the source frame with the row's effects applied by the same
  // functions the preview uses, on the tool's decoding of the source.
  const auto source = batchtest::DecodeFrame(marked, "", kFrame, 320, 240);
  const auto converted =
      batchtest::DecodeFrame(rig.outDir + "/marked_(new).mp4", "", kFrame, 320, 240);
  ASSERT_FALSE(source.empty());
  ASSERT_FALSE(converted.empty());
  media::TBitmap frame = ToBitmap(source, 320, 240);
  effects::FrameEffectSettings colourOnly = batch::EffectSettings(record);
  colourOnly.MarkText.clear();
  media::TBitmap colourFrame = frame;
  effects::ApplyFrameEffects(colourFrame, colourOnly);
  effects::ApplyFrameEffects(frame, batch::EffectSettings(record));
  const auto expected = ToRgb(frame);
  const auto withoutText = ToRgb(colourFrame);

  const double psnr = batchtest::Psnr(converted, expected);
  EXPECT_GT(psnr, 30.0);
  EXPECT_LT(batchtest::Psnr(converted, source), psnr - 8.0);  // the effects are visible
  // Around the text the output matches the picture with the text, not the one without it.
  const double toText = MeanDifference(converted, expected, 320, 40, 150, 140, 190);
  const double toPlain = MeanDifference(converted, withoutText, 320, 40, 150, 140, 190);
  EXPECT_LT(toText * 3, toPlain) << toText << " vs " << toPlain;

}

}  // namespace
