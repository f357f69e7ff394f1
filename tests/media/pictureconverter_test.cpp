#include "media/pictureconverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "media/yuv420tobgr.h"

using namespace media;

namespace {

struct Yuv {
  int y, u, v;
};
struct Bgr {
  int b, g, r;
};

// Limited-range BT.601 values of a few colours, as the scaler reads YUV by default.
constexpr Yuv kRed{81, 90, 240}, kGreen{145, 54, 34}, kBlue{41, 240, 110}, kWhite{235, 128, 128};
constexpr Bgr kRedBgr{0, 0, 255}, kGreenBgr{0, 255, 0}, kBlueBgr{255, 0, 0}, kWhiteBgr{255, 255, 255};

// A YUV 4:2:0 picture; lines are longer than the picture so that a wrong line size shows.
struct Yuv420 {
  Yuv420(int w, int h, const std::function<Yuv(int x, int y)>& colour) : width(w), height(h) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    linesize[0] = w + 29;
    linesize[1] = linesize[2] = cw + 13;
    for (int p = 0; p < 3; ++p)
      planes[p].assign(size_t(linesize[p]) * (p ? ch : h) + 64, 0x5a);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) planes[0][y * linesize[0] + x] = uint8_t(colour(x, y).y);
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) {
        const Yuv c = colour(2 * x, 2 * y);
        planes[1][y * linesize[1] + x] = uint8_t(c.u);
        planes[2][y * linesize[2] + x] = uint8_t(c.v);
      }
    for (int p = 0; p < 3; ++p) data[p] = planes[p].data();
  }
  int width, height;
  std::vector<uint8_t> planes[3];
  uint8_t* data[4] = {};
  int linesize[4] = {};
};

Bgr At(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

::testing::AssertionResult Near(Bgr actual, Bgr expected, int tolerance) {
  if (std::abs(actual.b - expected.b) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.r - expected.r) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "BGR " << actual.b << "," << actual.g << "," << actual.r << " expected "
         << expected.b << "," << expected.g << "," << expected.r;
}

// Four vertical bars of 16 pixels: red, green, blue, white.
Yuv Bars(int x, int) {
  static const Yuv bars[] = {kRed, kGreen, kBlue, kWhite};
  return bars[(x / 16) % 4];
}

class PictureConverter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg(); }
};

}  // namespace

TEST_F(PictureConverter, YuvPicturesBecomeBgrBitmaps) {
  TPictureConverter converter;
  EXPECT_EQ(converter.Bitmap(), nullptr);
  const Yuv420 bars(64, 48, Bars);
  // Odd sizes: a grey ramp down the rows (a row or line-size slip shows at once) and a plain
  // colour that must reach the last row and column.
  const Yuv420 ramp(33, 17, [](int, int y) { return Yuv{16 + 12 * y, 128, 128}; });
  const Yuv420 green(31, 9, [](int, int) { return kGreen; });
  // One converter for all: its cached scaler and buffer must follow each new size.
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
    const TBitmap& bitmap = *converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), 64);
    ASSERT_EQ(bitmap.Height(), 48);
    const Bgr expected[] = {kRedBgr, kGreenBgr, kBlueBgr, kWhiteBgr};
    for (int bar = 0; bar < 4; ++bar)
      for (int y : {0, 23, 47}) EXPECT_TRUE(Near(At(bitmap, 16 * bar + 8, y), expected[bar], 6)) << bar;

    ASSERT_TRUE(PictureToBitmap(converter, ramp.data, ramp.linesize, AV_PIX_FMT_YUV420P, 17, 33));
    ASSERT_EQ(converter.Bitmap()->Width(), 33);
    ASSERT_EQ(converter.Bitmap()->Stride(), 100);
    for (int y = 0; y < 17; ++y) {
      const int grey = int(std::lround(12 * y * 255 / 219.0));
      for (int x : {0, 16, 32}) EXPECT_TRUE(Near(At(*converter.Bitmap(), x, y), {grey, grey, grey}, 3)) << x << "," << y;
    }

    ASSERT_TRUE(PictureToBitmap(converter, green.data, green.linesize, AV_PIX_FMT_YUV420P, 9, 31));
    for (int y : {0, 8})
      for (int x : {0, 30}) EXPECT_TRUE(Near(At(*converter.Bitmap(), x, y), kGreenBgr, 6)) << x << "," << y;
  }
}

TEST_F(PictureConverter, BgrPicturesArriveUnchanged) {
  // Even sizes with the bitmap's own row size are copied; the others go through the scaler.
  // Either way every pixel arrives as it was.
  const struct {
    int width, height, linesize;
  } cases[] = {{8, 4, 24}, {8, 4, 32}, {5, 4, 16}, {6, 3, 20}, {6, 4, 20}};
  TPictureConverter converter;
  for (const auto& c : cases) {
    std::vector<uint8_t> picture(size_t(c.linesize) * c.height + 64, 0xee);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width * 3; ++x) picture[y * c.linesize + x] = uint8_t(y * 50 + x + 1);
    const uint8_t* data[4] = {picture.data()};
    const int linesize[4] = {c.linesize};
    ASSERT_TRUE(PictureToBitmap(converter, data, linesize, AV_PIX_FMT_BGR24, c.height, c.width));
    const TBitmap& bitmap = *converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), c.width);
    ASSERT_EQ(bitmap.Height(), c.height);
    for (int y = 0; y < c.height; ++y)
      EXPECT_TRUE(std::equal(bitmap.ScanLine(y), bitmap.ScanLine(y) + c.width * 3,
                             picture.begin() + y * c.linesize))
          << c.width << "x" << c.height << " row " << y;
  }
}

TEST_F(PictureConverter, BitmapGoesBackIntoThePicture) {
  TPictureConverter converter;
  Yuv420 bars(64, 48, Bars);
  ASSERT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  // A hook paints the white bar blue.
  for (int y = 0; y < 48; ++y)
    for (int x = 48; x < 64; ++x) {
      uint8_t* p = converter.Bitmap()->ScanLine(y) + 3 * x;
      p[0] = 255, p[1] = 0, p[2] = 0;
    }
  Yuv420 out(64, 48, [](int, int) { return Yuv{0, 0, 0}; });
  ASSERT_TRUE(BitmapToPicture(converter, out.data, out.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  const Yuv expected[] = {kRed, kGreen, kBlue, kBlue};
  for (int bar = 0; bar < 4; ++bar) {
    const int x = 16 * bar + 8, y = 24;
    EXPECT_NEAR(out.planes[0][y * out.linesize[0] + x], expected[bar].y, 3) << bar;
    EXPECT_NEAR(out.planes[1][y / 2 * out.linesize[1] + x / 2], expected[bar].u, 3) << bar;
    EXPECT_NEAR(out.planes[2][y / 2 * out.linesize[2] + x / 2], expected[bar].v, 3) << bar;
  }
  // Bytes after each line stay untouched.
  EXPECT_EQ(out.planes[0][64], 0x5a);

  // A BGR picture of odd width gets the bitmap's pixels byte for byte.
  std::vector<uint8_t> bgr(5 * 3 * 3 + 16, 0);
  const uint8_t* src[4] = {bgr.data()};
  int linesize[4] = {15};
  for (size_t i = 0; i < 45; ++i) bgr[i] = uint8_t(i + 1);
  ASSERT_TRUE(PictureToBitmap(converter, src, linesize, AV_PIX_FMT_BGR24, 3, 5));
  std::vector<uint8_t> back(5 * 3 * 3 + 16, 0);
  uint8_t* dst[4] = {back.data()};
  ASSERT_TRUE(BitmapToPicture(converter, dst, linesize, AV_PIX_FMT_BGR24, 3, 5));
  EXPECT_EQ(back, bgr);
  // The picture must have the bitmap's size.
  EXPECT_FALSE(BitmapToPicture(converter, dst, linesize, AV_PIX_FMT_BGR24, 3, 4));
}

TEST_F(PictureConverter, FormatWithoutScalerFailsAndResetFreesAll) {
  TPictureConverter converter;
  uint8_t byte = 0;
  const uint8_t* data[4] = {&byte};
  const int linesize[4] = {64};
  EXPECT_FALSE(PictureToBitmap(converter, data, linesize, AV_PIX_FMT_VAAPI, 16, 16));
  EXPECT_FALSE(PictureToBitmap(converter, data, linesize, AV_PIX_FMT_YUV420P, 0, 16));

  Yuv420 bars(64, 48, Bars);
  ASSERT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  converter.Reset();
  EXPECT_EQ(converter.Bitmap(), nullptr);
  uint8_t* out[4] = {bars.data[0], bars.data[1], bars.data[2]};
  EXPECT_FALSE(BitmapToPicture(converter, out, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  // Usable again after the reset.
  ASSERT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  EXPECT_TRUE(Near(At(*converter.Bitmap(), 8, 8), kRedBgr, 6));
}

TEST_F(PictureConverter, APartIsConvertedAloneAndWrittenBackAlone) {
  TPictureConverter converter;
  const Yuv420 bars(64, 48, Bars);
  const Yuv420 green(64, 48, [](int, int) { return kGreen; });
  ASSERT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64));
  // An odd part grows to even edges: columns 8..29, rows 4..15.
  const TPictureArea part{9, 5, 20, 11};
  ASSERT_TRUE(
      PictureToBitmap(converter, green.data, green.linesize, AV_PIX_FMT_YUV420P, 48, 64, &part));
  const TBitmap& bitmap = *converter.Bitmap();
  const auto inside = [](int x, int y) { return x >= 8 && x < 30 && y >= 4 && y < 16; };
  for (int y = 4; y < 16; ++y)
    for (int x = 8; x < 30; ++x) {
      ASSERT_TRUE(Near(At(bitmap, x, y), kGreenBgr, 6)) << x << "," << y;
    }
  // Around it the bars stay.
  EXPECT_TRUE(Near(At(bitmap, 7, 10), kRedBgr, 6));
  EXPECT_TRUE(Near(At(bitmap, 20, 3), kGreenBgr, 6));
  EXPECT_TRUE(Near(At(bitmap, 40, 10), kBlueBgr, 6));

  // Back into a picture: only the part's samples are written.
  Yuv420 out(64, 48, [](int, int) { return Yuv{0, 0, 0}; });
  ASSERT_TRUE(BitmapToPicture(converter, out.data, out.linesize, AV_PIX_FMT_YUV420P, 48, 64, &part));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const int luma = out.planes[0][y * out.linesize[0] + x];
      const int u = out.planes[1][y / 2 * out.linesize[1] + x / 2];
      if (inside(x, y)) {
        ASSERT_NEAR(luma, kGreen.y, 2) << x << "," << y;
        ASSERT_NEAR(u, kGreen.u, 2) << x << "," << y;
      } else {
        ASSERT_EQ(luma, 0) << x << "," << y;
        ASSERT_EQ(u, 0) << x << "," << y;
      }
    }

  // A part outside the picture converts nothing and fails nothing.
  const TPictureArea away{100, 100, 10, 10};
  EXPECT_TRUE(PictureToBitmap(converter, bars.data, bars.linesize, AV_PIX_FMT_YUV420P, 48, 64, &away));
  EXPECT_TRUE(BitmapToPicture(converter, out.data, out.linesize, AV_PIX_FMT_YUV420P, 48, 64, &away));
  EXPECT_EQ(out.planes[0][0], 0);
}

TEST_F(PictureConverter, WritingBackAgreesWithTheScalerOnASmoothPicture) {
  // A bitmap of smooth colour ramps, large enough to be split over the cores, written back by
  // the converter and by the media library's scaler: the two agree within rounding.
  constexpr int kW = 320, kH = 240;
  TPictureConverter converter;
  const Yuv420 seed(kW, kH, [](int, int) { return kWhite; });
  ASSERT_TRUE(PictureToBitmap(converter, seed.data, seed.linesize, AV_PIX_FMT_YUV420P, kH, kW));
  TBitmap& bitmap = *converter.Bitmap();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = bitmap.ScanLine(y) + 3 * x;
      p[0] = uint8_t(x * 255 / kW), p[1] = uint8_t(y * 255 / kH), p[2] = uint8_t((x + y) * 255 / (kW + kH));
    }
  Yuv420 ours(kW, kH, [](int, int) { return Yuv{0, 0, 0}; });
  ASSERT_TRUE(BitmapToPicture(converter, ours.data, ours.linesize, AV_PIX_FMT_YUV420P, kH, kW));
  Yuv420 theirs(kW, kH, [](int, int) { return Yuv{0, 0, 0}; });
  SwsContext* scaler = ff::sws_getContext(kW, kH, AV_PIX_FMT_BGR24, kW, kH, AV_PIX_FMT_YUV420P,
                                          SWS_BICUBIC, nullptr, nullptr, nullptr);
  ASSERT_NE(scaler, nullptr);
  const uint8_t* src[4] = {bitmap.Bits()};
  const int srcStride[4] = {bitmap.Stride()};
  ff::sws_scale(scaler, src, srcStride, 0, kH, theirs.data, theirs.linesize);
  ff::sws_freeContext(scaler);
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? kH / 2 : kH, cols = p ? kW / 2 : kW;
    int worst = 0;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x) {
        worst = std::max(worst, std::abs(ours.planes[p][y * ours.linesize[p] + x] -
                                         theirs.planes[p][y * theirs.linesize[p] + x]));
      }
    EXPECT_LE(worst, 2) << "plane " << p;
  }
}

TEST_F(PictureConverter, ReadingAgreesWithTheScalerOnADetailedPicture) {
  // A picture with smooth ramps, fine stripes, noise and strongly coloured patches (chroma up to
  // both ends of its range) read by the converter and by the media library's scaler: the two
  // agree at 45 dB or better.
  constexpr int kW = 1280, kH = 720;
  uint32_t seed = 11;
  const Yuv420 detail(kW, kH, [&](int x, int y) {
    seed = seed * 1664525 + 1013904223;
    const int noise = int(seed >> 28) - 8;
    const int luma = (x / 160 + y / 90) % 2 ? 16 + (x * 219 / kW + y * 3 % 40) % 220
                                            : ((x / 2 + y / 3) % 2 ? 60 : 200) + noise;
    return Yuv{std::clamp(luma, 0, 255), (x * 7 + y) % 256, (y * 5 + x / 3) % 256};
  });
  TPictureConverter converter;
  ASSERT_TRUE(PictureToBitmap(converter, detail.data, detail.linesize, AV_PIX_FMT_YUV420P, kH, kW));
  const TBitmap& bitmap = *converter.Bitmap();
  std::vector<uint8_t> theirs(size_t(bitmap.Stride()) * kH + 64);
  SwsContext* scaler = ff::sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_BGR24,
                                          SWS_BICUBIC, nullptr, nullptr, nullptr);
  ASSERT_NE(scaler, nullptr);
  uint8_t* dst[4] = {theirs.data()};
  const int dstStride[4] = {bitmap.Stride()};
  ff::sws_scale(scaler, detail.data, detail.linesize, 0, kH, dst, dstStride);
  ff::sws_freeContext(scaler);
  double squares = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW * 3; ++x) {
      const double d = bitmap.ScanLine(y)[x] - theirs[size_t(y) * bitmap.Stride() + x];
      squares += d * d;
    }
  const double mse = squares / (double(kW) * kH * 3);
  const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  EXPECT_GE(psnr, 45.0);
  RecordProperty("psnr", std::to_string(psnr));
}

TEST_F(PictureConverter, TheBitmapHoldsTheKernelsPixelsAndThePassSeesEachConvertedRowOnce) {
  // Noisy 4:2:0 pictures: whole ones of even size, which go straight into the bitmap in row bands
  // over the cores (one whose width leaves blocks after the kernels' vector steps), a part of
  // one, and one of odd size, which goes through the scaler and the buffer. The bitmap must hold
  // exactly what the portable row kernel gives over the whole (part of the) picture, or one
  // scaler call, and a pass that inverts the rows it gets must have reached every converted row
  // once and nothing else.
  const struct {
    int width, height;
    std::optional<TPictureArea> area;
  } cases[] = {{640, 362, {}}, {630, 200, {}}, {640, 362, TPictureArea{33, 41, 301, 250}},
               {641, 361, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.area ? " part" : ""));
    uint32_t seed = 7;
    const Yuv420 noise(c.width, c.height, [&](int, int) {
      seed = seed * 1664525 + 1013904223;
      return Yuv{16 + int(seed >> 24) % 220, 16 + int(seed >> 16 & 0xff) % 225,
                 16 + int(seed >> 8 & 0xff) % 225};
    });
    // The part as converted: grown to even edges.
    const TPictureArea part = c.area ? TPictureArea{32, 40, 302, 252} : TPictureArea{0, 0, c.width, c.height};
    const uint8_t* planes[4] = {
        noise.data[0] + part.y * noise.linesize[0] + part.x,
        noise.data[1] + part.y / 2 * noise.linesize[1] + part.x / 2,
        noise.data[2] + part.y / 2 * noise.linesize[2] + part.x / 2};
    // Rows padded as the scaler's vector code likes them (it fills whole blocks of pixels).
    const int expectedStride = (part.width * 3 + 63) & ~63;
    std::vector<uint8_t> expected(size_t(expectedStride) * part.height + 64);
    if (c.width % 2 == 0 && c.height % 2 == 0) {
      for (int y = 0; y < part.height; y += 2)
        Yuv420ToRowPairPortable(planes[0] + y * noise.linesize[0],
                                planes[0] + (y + 1) * noise.linesize[0],
                                planes[1] + y / 2 * noise.linesize[1],
                                planes[2] + y / 2 * noise.linesize[2],
                                &expected[size_t(y) * expectedStride],
                                &expected[size_t(y + 1) * expectedStride], part.width / 2);
    } else {
      SwsContext* scaler = ff::sws_getContext(part.width, part.height, AV_PIX_FMT_YUV420P,
                                              part.width, part.height, AV_PIX_FMT_BGR24,
                                              SWS_BICUBIC, nullptr, nullptr, nullptr);
      ASSERT_NE(scaler, nullptr);
      uint8_t* dst[4] = {expected.data()};
      const int dstStride[4] = {expectedStride};
      ff::sws_scale(scaler, planes, noise.linesize, 0, part.height, dst, dstStride);
      ff::sws_freeContext(scaler);
    }

    TPictureConverter converter;
    std::vector<std::atomic<int>> visits(c.height);
    const TBitmapRowsPass invert = [&](TBitmap& bitmap, int first, int count) {
      for (int row = first; row < first + count; ++row) {
        ++visits[row];
        uint8_t* p = bitmap.ScanLine(row);
        for (int x = 0; x < bitmap.Width() * 3; ++x) p[x] = uint8_t(255 - p[x]);
      }
    };
    for (int round = 0; round < 2; ++round) {  // the second time with the bitmap (and scaler) made
      for (auto& v : visits) v = 0;
      // A bitmap of the size whose pixels are all 7 first, so the rows outside a part show.
      ASSERT_TRUE(PictureToBitmap(converter, noise.data, noise.linesize, AV_PIX_FMT_YUV420P,
                                  c.height, c.width));
      TBitmap& bitmap = *converter.Bitmap();
      for (int y = 0; y < c.height; ++y) std::fill_n(bitmap.ScanLine(y), c.width * 3, uint8_t{7});
      ASSERT_TRUE(PictureToBitmap(converter, noise.data, noise.linesize, AV_PIX_FMT_YUV420P,
                                  c.height, c.width, c.area ? &*c.area : nullptr, &invert));
      for (int y = 0; y < c.height; ++y) {
        const bool inside = y >= part.y && y < part.y + part.height;
        ASSERT_EQ(visits[y], inside ? 1 : 0) << "row " << y;
        for (int x = 0; x < c.width * 3; ++x) {
          const bool converted = inside && x >= part.x * 3 && x < (part.x + part.width) * 3;
          const int value =
              converted ? expected[size_t(y - part.y) * expectedStride + x - part.x * 3] : 7;
          ASSERT_EQ(bitmap.ScanLine(y)[x], inside ? 255 - value : value) << x / 3 << "," << y;
        }
      }
    }
  }
}

TEST_F(PictureConverter, RowsOutsideTheKeptOnesAreWrittenBackAsSoonAsTheyAreConverted) {
  // Whole pictures going straight into the bitmap in bands (the second one's width leaves blocks
  // after the kernels' vector steps):
  // right after PictureToBitmap the rows outside the kept ones (grown to even edges) hold what
  // writing the whole bitmap back gives, the kept rows are untouched, and writing the kept rows
  // afterwards completes the same picture.
  const TBitmapRowsPass invert = [](TBitmap& bitmap, int first, int count) {
    for (int row = first; row < first + count; ++row) {
      uint8_t* p = bitmap.ScanLine(row);
      for (int x = 0; x < bitmap.Width() * 3; ++x) p[x] = uint8_t(255 - p[x]);
    }
  };
  for (const auto& [w, h] : {std::pair{640, 362}, std::pair{630, 200}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const Yuv420 noise(w, h, [](int x, int y) {
      return Yuv{16 + (x * 7 + y * 13) % 220, 16 + (x * 3 + y) % 225, 16 + (x + y * 5) % 225};
    });
    TPictureConverter plain;
    ASSERT_TRUE(PictureToBitmap(plain, noise.data, noise.linesize, AV_PIX_FMT_YUV420P, h, w,
                                nullptr, &invert));
    Yuv420 expected(w, h, [](int, int) { return Yuv{0, 0, 0}; });
    ASSERT_TRUE(BitmapToPicture(plain, expected.data, expected.linesize, AV_PIX_FMT_YUV420P, h, w));

    TPictureConverter converter;
    Yuv420 out(w, h, [](int, int) { return Yuv{0, 0, 0}; });
    TEarlyWriteBack early{out.data, out.linesize, 33, 57};
    ASSERT_TRUE(PictureToBitmap(converter, noise.data, noise.linesize, AV_PIX_FMT_YUV420P, h, w,
                                nullptr, &invert, &early));
    EXPECT_TRUE(early.Written);
    const auto rowsEqual = [&](int plane, int row) {
      const int cols = plane ? w / 2 : w;
      return std::equal(out.planes[plane].begin() + row * out.linesize[plane],
                        out.planes[plane].begin() + row * out.linesize[plane] + cols,
                        expected.planes[plane].begin() + row * expected.linesize[plane]);
    };
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane ? h / 2 : h, shift = plane ? 1 : 0;
      for (int row = 0; row < rows; ++row) {
        const bool kept = row >= (32 >> shift) && row < (58 >> shift);
        if (kept) {
          ASSERT_EQ(out.planes[plane][row * out.linesize[plane] + 5], 0) << plane << " row " << row;
        } else {
          ASSERT_TRUE(rowsEqual(plane, row)) << plane << " row " << row;
        }
      }
    }
    const TPictureArea keptRows{0, 33, w, 24};
    ASSERT_TRUE(BitmapToPicture(converter, out.data, out.linesize, AV_PIX_FMT_YUV420P, h, w, &keptRows));
    for (int plane = 0; plane < 3; ++plane)
      for (int row = 0; row < (plane ? h / 2 : h); ++row) ASSERT_TRUE(rowsEqual(plane, row)) << plane << " row " << row;

    // A part of a picture is not written early.
    const TPictureArea part{10, 10, 100, 100};
    TEarlyWriteBack none{out.data, out.linesize, 0, 0};
    ASSERT_TRUE(PictureToBitmap(converter, noise.data, noise.linesize, AV_PIX_FMT_YUV420P, h, w,
                                &part, &invert, &none));
    EXPECT_FALSE(none.Written);
  }
}
