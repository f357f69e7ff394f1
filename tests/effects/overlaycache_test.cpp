#include "effects/overlaycache.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/effects/pixels.h"
#include "tests/support/testdirs.h"

using effects::LoadOverlayImage;
using effects::OverlayCache;
using effectstest::Bytes;
using effectstest::Grey;
using effectstest::Px;
using effectstest::Set;
using media::TBitmap;

namespace {

TBitmap Picture(int width, int height, int seed) {
  TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      Set(bitmap, x, y, Px{uint8_t(seed + x * 40), uint8_t(seed + y * 70), uint8_t(seed * 3)});
  return bitmap;
}

void SetModificationTime(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A BMP file in a form other than plain 24 bits: 8 bits with a palette (pixels are indexes) or
// 32 bits B, G, R, X. Rows are given top first and written bottom-up, as the format stores them.
void WriteBmp(const std::string& path, int bits, int width, int height,
              const std::vector<Px>& palette, const std::vector<std::vector<uint32_t>>& rows) {
  const int stride = ((width * bits + 31) / 32) * 4;
  const uint32_t paletteBytes = uint32_t(palette.size()) * 4;
  const uint32_t offset = 14 + 40 + paletteBytes;
  std::vector<uint8_t> file = {'B', 'M'};
  Put(file, offset + stride * height, 4);
  Put(file, 0, 4);
  Put(file, offset, 4);
  Put(file, 40, 4);
  Put(file, width, 4);
  Put(file, height, 4);
  Put(file, 1, 2);
  Put(file, bits, 2);
  Put(file, 0, 4);  // uncompressed
  Put(file, stride * height, 4);
  Put(file, 2835, 4);
  Put(file, 2835, 4);
  Put(file, uint32_t(palette.size()), 4);
  Put(file, 0, 4);
  for (const Px& p : palette) Put(file, p.b | (p.g << 8) | (p.r << 16), 4);
  for (int y = height - 1; y >= 0; --y) {
    size_t start = file.size();
    for (uint32_t v : rows[y]) Put(file, v, bits / 8);
    file.resize(start + stride, 0);
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              std::streamsize(file.size()));
}

}  // namespace

TEST(OverlayCache, SameAsAFreshLoadAndNoticesARewrittenFile) {
  testsupport::TempDir dir;
  const std::string path = dir.File("mark.bmp");
  const TBitmap first = Picture(5, 3, 1), second = Picture(5, 3, 2);
  ASSERT_TRUE(first.SaveToBMP(path));
  SetModificationTime(path, 1000000);

  OverlayCache cache;
  const auto a = cache.Get(path);
  EXPECT_EQ(Bytes(*a), Bytes(first));
  EXPECT_EQ(Bytes(*a), Bytes(LoadOverlayImage(path)));
  EXPECT_EQ(cache.Get(path), a);  // unchanged file: the decoded picture is reused

  // Same size, new contents, a new modification time.
  ASSERT_TRUE(second.SaveToBMP(path));
  SetModificationTime(path, 1000060);
  const auto b = cache.Get(path);
  EXPECT_EQ(Bytes(*b), Bytes(second));
  EXPECT_EQ(Bytes(*a), Bytes(first));  // a picture already handed out stays as it was

  std::remove(path.c_str());
  EXPECT_THROW(cache.Get(path), std::runtime_error);
}

TEST(OverlayCache, OtherBmpFormsBecome24Bits) {
  testsupport::TempDir dir;
  // Two rows of three pixels, top row first.
  const std::vector<Px> expected = {{10, 20, 30}, {200, 100, 50}, {0, 0, 0},
                                    {1, 2, 3},    {10, 20, 30},   {255, 255, 255}};
  const std::string paletted = dir.File("p8.bmp");
  const std::vector<Px> palette = {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}, {1, 2, 3}, Grey(255)};
  WriteBmp(paletted, 8, 3, 2, palette, {{1, 2, 0}, {3, 1, 4}});
  const std::string wide = dir.File("p32.bmp");
  std::vector<std::vector<uint32_t>> rows(2);
  for (int i = 0; i < 6; ++i)  // fourth byte 0x80: not used
    rows[i / 3].push_back(expected[i].b | (expected[i].g << 8) | (expected[i].r << 16) |
                          0x80000000u);
  WriteBmp(wide, 32, 3, 2, {}, rows);

  for (const std::string& path : {paletted, wide}) {
    SCOPED_TRACE(path);
    const TBitmap bitmap = LoadOverlayImage(path);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(effectstest::Get(bitmap, i % 3, i / 3), expected[i]) << i;
  }
}
