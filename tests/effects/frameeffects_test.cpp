#include "effects/frameeffects.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/effects/pixels.h"
#include "tests/support/testdirs.h"

using effects::ApplyFrameEffects;
using effects::FrameEffectSettings;
using effectstest::Bytes;
using effectstest::Filled;
using effectstest::Get;
using effectstest::Grey;
using effectstest::Px;
using effectstest::Set;
using media::TBitmap;

namespace {

using PixelMap = std::vector<std::pair<Px, Px>>;  // pixel before -> pixel after

PixelMap Levels(std::initializer_list<std::pair<int, int>> levels) {
  PixelMap map;
  for (auto [from, to] : levels) map.push_back({Grey(from), Grey(to)});
  return map;
}

// Every grey level 0..255 with the level it must become.
PixelMap Ramp(const std::function<int(int)>& expected) {
  PixelMap map;
  for (int i = 0; i < 256; ++i) map.push_back({Grey(i), Grey(expected(i))});
  return map;
}

PixelMap operator+(PixelMap a, const PixelMap& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Px kColour{10, 100, 200};  // blue 10, green 100, red 200

struct LevelCase {
  const char* name;
  int brightness, contrast, saturation, exposure;
  PixelMap pixels;
};

}  // namespace

// Every case runs through ApplyFrameEffects on a frame 7 pixels wide (21 bytes, rows padded to
// 24), one pixel per mapping. The expected levels are worked from the formulas by hand:
//   brightness: L[j] = K[clamp((b * (j - 1) + 256) / 256)], K the contrast table;
//   contrast:   K[i] = round((i - 170) * f + 170), f = 1 / cos(c * pi / 200) for c > 0 (c = 100
//               counts as 99), cos(c * 0.015708) otherwise;
//   saturation: W[i] = ((i + 1) * s) >> 8, channel v -> m - W[m] + W[v], m = floor(sum / 3);
//   exposure:   X[i] = i + trunc(round(256 * (1 - e^(-i * E / 16384))) * (255 - i) / 256).
TEST(FrameEffects, LevelMappings) {
  const LevelCase cases[] = {
      // W[v] = v + 1 cancels, K is the identity: nothing moves, colours included.
      {"256/0/256 runs and changes nothing", 256, 0, 256, 0,
       Ramp([](int i) { return i; }) + PixelMap{{kColour, kColour}}},
      // A new job's values: the pass, which would darken by 1/256, is skipped.
      {"255/0/255 skips the pass", 255, 0, 255, 0,
       Ramp([](int i) { return i; }) + PixelMap{{kColour, kColour}}},
      // Saturation 255: W[v] = v, so m - W[m] = 0 and v' = v. Gain 255: (255 * 9 + 256) / 256
      // = 9, (255 * 99 + 256) / 256 = 99, (255 * 199 + 256) / 256 = 199, 254 * 255 + 256 ->
      // 254. Contrast 1 (f = 1.000123) keeps 9, 99, 199, 254 (e.g. -161.02 + 170 = 8.98).
      {"255 with contrast 1 runs the pass", 255, 1, 255, 0,
       PixelMap{{kColour, Px{9, 99, 199}}} + Levels({{255, 254}, {0, 0}})},
      // d = (0 + 256) / 256 = 1 for every level: K[1] = 1.
      {"brightness 0", 0, 0, 256, 0, Ramp([](int) { return 1; })},
      // d = 2j - 1 clamped; level 0 gives d = -1 -> K[0].
      {"brightness 512", 512, 0, 256, 0,
       Levels({{0, 0}, {1, 1}, {64, 127}, {127, 253}, {128, 255}, {255, 255}})},
      // f = 1 / cos(99 pi / 200) = 63.66: 167 -> -21 -> 0, 168 -> 42.67, 169 -> 106.34,
      // 171 -> 233.66.
      {"contrast 100 acts as 99", 256, 100, 256, 0,
       Levels({{0, 0}, {167, 0}, {168, 43}, {169, 106}, {170, 170}, {171, 234}, {172, 255},
               {255, 255}})},
      // Gain before contrast: 64 -> d = 127 -> -43 * 0.70711 + 170 = 139.59 -> 140; 128 ->
      // 255 -> 230.10; 0 -> 0 -> 49.79.
      {"brightness 512 with contrast -50", 512, -50, 256, 0,
       Levels({{0, 50}, {64, 140}, {128, 230}})},
      // f = cos(-1.5708) = -0.0000037: every level rounds to 170.
      {"contrast -100", 256, -100, 256, 0, Ramp([](int) { return 170; })},
      // f = cos(-0.7854) = 0.70711: 0 -> 49.79, 128 -> 140.30, 255 -> 230.10.
      {"contrast -50", 256, -50, 256, 0, Levels({{0, 50}, {128, 140}, {255, 230}})},
      // m = 310 / 3 = 103, W = 0: grey 103.
      {"saturation 0", 256, 0, 0, 0, PixelMap{{kColour, Grey(103)}}},
      // W[i] = (i + 1) * 128 >> 8: W[103] = 52, base = 51; 10 -> 51 + 5, 100 -> 51 + 50,
      // 200 -> 51 + 100.
      {"saturation 128", 256, 0, 128, 0, PixelMap{{kColour, Px{56, 101, 151}}}},
      // W[i] = 2i + 2: base = 103 - 208 = -105; 10 -> -83 -> 0, 100 -> 97, 200 -> 297 -> 255.
      {"saturation 512", 256, 0, 512, 0, PixelMap{{kColour, Px{0, 97, 255}}}},
      // With 255/0/255 only the exposure pass runs. 64: k = round(256 * (1 - e^-0.390625)) =
      // 83, 64 + 83 * 191 / 256 = 125; 128: k = 139, 128 + 68 = 196; 192: k = 177, 192 + 43.
      {"exposure 100", 255, 0, 255, 100,
       Levels({{0, 0}, {1, 2}, {64, 125}, {128, 196}, {192, 235}, {255, 255}})},
      // 128: k = round(256 * (1 - e^0.78125)) = -303, 128 - 150 -> 0;
      // 192: k = -570, 192 - 140 = 52; 254: k = -950, 254 - 3 = 251.
      {"exposure -100", 255, 0, 255, -100,
       Levels({{0, 0}, {128, 0}, {192, 52}, {254, 251}, {255, 255}})},
      // Gain first, then the curve: 64 -> 127, k = round(256 * (1 - e^-0.775146)) = 138,
      // 127 + 138 * 128 / 256 = 196; 1 -> 1 -> 2; 128 -> 255 stays.
      {"brightness 512 then exposure 100", 512, 0, 256, 100,
       Levels({{0, 0}, {1, 2}, {64, 196}, {128, 255}})},
      // W[i] = (i + 1) * 100000 >> 8: base = 103 - 40625; 10 -> -36226, 100 -> -1069,
      // 200 -> 37993: every channel clamps.
      {"saturation far out of range", 256, 0, 100000, 0, PixelMap{{kColour, Px{0, 0, 255}}}},
      {"exposure 1", 255, 0, 255, 1,
       Ramp([](int i) { return (i >= 97 && i <= 127) || (i >= 161 && i <= 169) ? i + 1 : i; })},
      {"exposure -1", 255, 0, 255, -1,
       Ramp([](int i) { return (i >= 96 && i <= 127) || (i >= 160 && i <= 169) ? i - 1 : i; })},
  };
  constexpr int kWidth = 7;
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.name);
    const int count = static_cast<int>(c.pixels.size());
    TBitmap frame(kWidth, (count + kWidth - 1) / kWidth);
    for (int i = 0; i < count; ++i) Set(frame, i % kWidth, i / kWidth, c.pixels[i].first);
    FrameEffectSettings settings;
    settings.Brightness = c.brightness;
    settings.Contrast = c.contrast;
    settings.Saturation = c.saturation;
    settings.Exposure = c.exposure;
    ApplyFrameEffects(frame, settings);
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(Get(frame, i % kWidth, i / kWidth), c.pixels[i].second) << "from "
                                                                         << c.pixels[i].first;
  }
}

// Placement and clipping, shown with the multiply style on a white frame, where every blended
// pixel becomes exactly the overlay's pixel (255 * s / 255 = s). Each overlay pixel is unique.
TEST(FrameEffects, ImageMarkIsPlacedAndCutAtTheEdges) {
  constexpr int kFrameW = 7, kFrameH = 5;  // 21-byte rows padded to 24
  const struct {
    const char* name;
    int overlayW, overlayH, x, y;
    int cols, rows;  // the part that must be blended
  } cases[] = {
      {"inside", 3, 2, 2, 1, 3, 2},
      {"larger than the frame", 10, 7, 0, 0, 7, 5},
      {"crossing the right edge", 4, 2, 5, 1, 2, 2},
      {"crossing the bottom edge", 2, 4, 1, 3, 2, 2},
      {"ending exactly at the corner", 2, 2, 5, 3, 2, 2},
      {"x equal to the frame width", 3, 2, 7, 0, 0, 0},
      {"y equal to the frame height", 3, 2, 0, 5, 0, 0},
  };
  const auto overlayPixel = [](int col, int row) {
    return Px{uint8_t(10 + col * 20), uint8_t(10 + row * 30), 77};
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap overlay(c.overlayW, c.overlayH);
    for (int row = 0; row < c.overlayH; ++row)
      for (int col = 0; col < c.overlayW; ++col) Set(overlay, col, row, overlayPixel(col, row));
    TBitmap frame = Filled(kFrameW, kFrameH, Grey(255));
    effects::BlendImageMark(frame, overlay, c.x, c.y, 168, 2);
    for (int fy = 0; fy < kFrameH; ++fy) {
      for (int fx = 0; fx < kFrameW; ++fx) {
        const bool inside = fx >= c.x && fx < c.x + c.cols && fy >= c.y && fy < c.y + c.rows;
        EXPECT_EQ(Get(frame, fx, fy), inside ? overlayPixel(fx - c.x, fy - c.y) : Grey(255))
            << "at " << fx << "," << fy;
      }
    }
  }
}

TEST(FrameEffects, ImageMarkBlendStyles) {
  const Px frame{100, 50, 200};
  const struct {
    const char* name;
    int style, alpha;
    Px overlay, expected;
  } cases[] = {
      {"style 1 alpha 0 keeps the frame", 1, 0, {0, 255, 30}, frame},
      // (88 * d + 168 * s) >> 8: 8800 -> 34, 4400 + 42840 -> 184, 17600 + 5040 -> 88.
      {"style 1 alpha 168", 1, 168, {0, 255, 30}, {34, 184, 88}},
      // (d + 255 * s) >> 8: 100 -> 0, 50 + 65025 -> 254, 200 + 7650 -> 30.
      {"style 1 alpha 255", 1, 255, {0, 255, 30}, {0, 254, 30}},
      // d * s / 255: 12800 / 255 -> 50, 50, 0; alpha and any style other than 1 alike.
      {"style 2 alpha 0", 2, 0, {128, 255, 0}, {50, 50, 0}},
      {"style 2 alpha 255", 2, 255, {128, 255, 0}, {50, 50, 0}},
      {"style 3 multiplies too", 3, 168, {128, 255, 0}, {50, 50, 0}},
      {"style 2 white keeps the frame", 2, 168, Grey(255), frame},
      {"style 2 black blacks out", 2, 168, Grey(0), Grey(0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap target = Filled(1, 1, frame);
    effects::BlendImageMark(target, Filled(1, 1, c.overlay), 0, 0, c.alpha, c.style);
    EXPECT_EQ(Get(target, 0, 0), c.expected);
  }
}

namespace {

// A grey-100 frame with a text mark (a solid red-brown "H") and an image mark (a 10x10 green
// square blended at full weight) apart from each other, and brightness 512, which turns a level
// v >= 1 into 2v - 1: whether each mark was drawn before or after the colour steps shows in its
// colours.
struct OrderFixture {
  static constexpr int kW = 120, kH = 40;
  static constexpr Px kBackground = Grey(100);
  static constexpr Px kText{20, 0, 90};
  testsupport::TempDir dir;
  FrameEffectSettings settings;

  OrderFixture() {
    settings.Brightness = 512;
    settings.Contrast = 0;
    settings.Saturation = 256;
    settings.MarkText = "H";
    settings.MarkFont.Size = 20;
    settings.MarkFont.Bold = true;
    settings.MarkFont.Color = effects::ColorFromRGB(kText.r, kText.g, kText.b);
    settings.TextX = 4;
    settings.TextY = 4;
    settings.MarkImageFile = dir.File("mark.bmp");
    EXPECT_TRUE(Filled(10, 10, Px{0, 200, 40}).SaveToBMP(settings.MarkImageFile));
    settings.ImageX = 80;
    settings.ImageY = 10;
    settings.ImageStyle = 1;
    settings.ImageAlpha = 255;
  }

  // The pixels the text covers completely (exactly its colour when drawn alone).
  std::vector<std::pair<int, int>> SolidTextPixels() const {
    TBitmap frame = Filled(kW, kH, kBackground);
    effects::DrawTextMark(frame, settings.MarkText, settings.MarkFont, settings.TextX,
                          settings.TextY);
    std::vector<std::pair<int, int>> solid;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (Get(frame, x, y) == kText) solid.push_back({x, y});
    return solid;
  }
};

}  // namespace

TEST(FrameEffects, ProcessFlagsChooseWhichMarksTheColourStepsChange) {
  OrderFixture fixture;
  const auto solidText = fixture.SolidTextPixels();
  ASSERT_GT(solidText.size(), 20u);
  // Text (20, 0, 90) brightened: (39, 0, 179).
  const Px textKept = OrderFixture::kText, textChanged{39, 0, 179};
  // Image blended onto 100: (100 >> 8, (100 + 255 * 200) >> 8, (100 + 255 * 40) >> 8) =
  // (0, 199, 40), then brightened: (0, 255, 79). Blended onto the brightened 199: (0, 199, 40).
  const Px imageKept{0, 199, 40}, imageChanged{0, 255, 79};
  const struct {
    bool processText, processImage;
  } cases[] = {{true, false}, {false, true}, {true, true}, {false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "ProcessText " << c.processText << ", ProcessImage "
                                    << c.processImage);
    FrameEffectSettings settings = fixture.settings;
    settings.ProcessText = c.processText;
    settings.ProcessImage = c.processImage;
    TBitmap frame = Filled(OrderFixture::kW, OrderFixture::kH, OrderFixture::kBackground);
    ApplyFrameEffects(frame, settings);
    EXPECT_EQ(Get(frame, 110, 38), Grey(199));  // the picture itself: 2 * 100 - 1
    for (auto [x, y] : solidText)
      ASSERT_EQ(Get(frame, x, y), c.processText ? textChanged : textKept) << x << "," << y;
    for (int y = 10; y < 20; ++y)
      for (int x = 80; x < 90; ++x)
        ASSERT_EQ(Get(frame, x, y), c.processImage ? imageChanged : imageKept) << x << "," << y;
  }
}

TEST(FrameEffects, UnreadableImageMarkThrowsAndLeavesTheFrame) {
  testsupport::TempDir dir;
  const std::string garbage = dir.File("garbage.bmp");
  std::ofstream(garbage) << "this is not a picture";
  const std::string truncated = dir.File("truncated.bmp");
  ASSERT_TRUE(Filled(8, 8, Grey(9)).SaveToBMP(truncated));
  std::filesystem::resize_file(truncated, 60);
  for (const std::string& path : {dir.File("missing.bmp"), garbage, truncated, dir.Path()}) {
    SCOPED_TRACE(path);
    // Colour steps first, then text, then image: even so no step runs on a failing frame.
    FrameEffectSettings settings;
    settings.Brightness = 512;
    settings.MarkText = "x";
    settings.MarkImageFile = path;
    TBitmap frame = Filled(16, 16, Grey(100));
    try {
      ApplyFrameEffects(frame, settings);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot load watermark image " + path);
    }
    EXPECT_EQ(Bytes(frame), Bytes(Filled(16, 16, Grey(100))));
  }
}

TEST(FrameEffects, TheMarkAreaHoldsEveryPixelTheMarksChange) {
  constexpr int kW = 160, kH = 120;
  testsupport::TempDir dir;
  const std::string image = dir.File("mark.bmp");
  ASSERT_TRUE(Filled(30, 20, Px{0, 0, 255}).SaveToBMP(image));
  const auto text = [](std::string words, int size, int x, int y) {
    FrameEffectSettings s;
    s.MarkText = std::move(words);
    s.MarkFont.Size = size;
    s.MarkFont.Color = effects::ColorFromRGB(255, 255, 255);
    s.TextX = x;
    s.TextY = y;
    return s;
  };
  FrameEffectSettings styled = text("Wjgq_|", 20, 60, 70);
  styled.MarkFont.Italic = styled.MarkFont.Underline = styled.MarkFont.StrikeOut = true;
  FrameEffectSettings both = text("Hello", 8, 5, 5);
  both.MarkImageFile = image;
  both.ImageX = 140;  // crosses the right and bottom edges
  both.ImageY = 110;
  FrameEffectSettings imageOnly;
  imageOnly.MarkImageFile = image;
  imageOnly.ImageX = -10;
  imageOnly.ImageY = -5;
  const struct {
    const char* name;
    FrameEffectSettings settings;
    media::TPictureArea least;  // the area must hold at least this
  } cases[] = {
      {"small text", text("Hello", 8, 10, 10), {10, 10, 20, 8}},
      {"styled large text near the corner", styled, {60, 70, 60, 20}},
      {"text and an image cut by the edges", both, {5, 5, 155, 115}},
      {"an image starting outside", imageOnly, {0, 0, 20, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<media::TPictureArea> area = effects::MarkArea(c.settings, kW, kH);
    ASSERT_TRUE(area);
    EXPECT_GE(area->x, 0);
    EXPECT_GE(area->y, 0);
    EXPECT_LE(area->x + area->width, kW);
    EXPECT_LE(area->y + area->height, kH);
    EXPECT_LE(area->x, c.least.x);
    EXPECT_LE(area->y, c.least.y);
    EXPECT_GE(area->x + area->width, c.least.x + c.least.width);
    EXPECT_GE(area->y + area->height, c.least.y + c.least.height);
    TBitmap frame = Filled(kW, kH, Grey(60));
    ApplyFrameEffects(frame, c.settings);
    int changed = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        if (Get(frame, x, y) == Grey(60)) continue;
        ++changed;
        ASSERT_TRUE(x >= area->x && x < area->x + area->width && y >= area->y &&
                    y < area->y + area->height)
            << "changed at " << x << "," << y;
      }
    EXPECT_GT(changed, 0);
  }

  // A colour step changes the whole frame; so does a mark whose file cannot be read.
  FrameEffectSettings colour = text("Hello", 8, 10, 10);
  colour.Brightness = 300;
  EXPECT_FALSE(effects::MarkArea(colour, kW, kH));
  FrameEffectSettings missing;
  missing.MarkImageFile = dir.File("none.bmp");
  EXPECT_FALSE(effects::MarkArea(missing, kW, kH));
}
