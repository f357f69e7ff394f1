#include "media/bitmap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

using media::TBitmap;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// A picture whose every byte tells its position: no two rows or pixels are alike.
TBitmap Pattern(int width, int height) {
  TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 3; ++x) bitmap.ScanLine(y)[x] = uint8_t(y * 40 + x + 1);
  return bitmap;
}

// The picture's pixels, rows top first, without padding.
std::vector<uint8_t> Pixels(const TBitmap& bitmap) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < bitmap.Height(); ++y)
    pixels.insert(pixels.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + bitmap.Width() * 3);
  return pixels;
}

// Decodes a picture file with the ffmpeg tool into raw BGR bytes, rows top first.
std::vector<uint8_t> DecodeWithFFmpeg(const std::string& file, const std::string& raw) {
  const std::string command = "ffmpeg -v error -y -i '" + file +
                              "' -f rawvideo -pix_fmt bgr24 '" + raw + "' </dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadBytes(raw);
}

}  // namespace

TEST(Bitmap, RowsArePaddedToFourBytes) {
  const struct {
    int width, stride;
  } cases[] = {{0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {33, 100}, {640, 1920}};
  for (const auto& c : cases) {
    TBitmap bitmap(c.width, 3);
    EXPECT_EQ(bitmap.Stride(), c.stride) << c.width;
    EXPECT_EQ(bitmap.ByteSize(), size_t(c.stride) * 3) << c.width;
    if (c.width) {
      EXPECT_EQ(bitmap.ScanLine(2), bitmap.Bits() + 2 * c.stride);
    }
  }
  EXPECT_THROW(TBitmap(-1, 2), std::invalid_argument);
}

TEST(Bitmap, NewSizeIsBlackSameSizeKeepsPixels) {
  TBitmap bitmap = Pattern(4, 2);
  const std::vector<uint8_t> before = Pixels(bitmap);
  bitmap.SetSize(4, 2);
  EXPECT_EQ(Pixels(bitmap), before);
  bitmap.SetSize(2, 4);
  EXPECT_EQ(Pixels(bitmap), std::vector<uint8_t>(2 * 3 * 4, 0));
  TBitmap copy = Pattern(3, 3);
  bitmap = copy;
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(Pixels(bitmap), Pixels(copy));
}

TEST(Bitmap, CanvasLockIsRecursiveAndExcludesOtherThreads) {
  TBitmap bitmap(2, 2);
  auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread([&] {
      got = bitmap.TryLock();
      if (got) bitmap.Unlock();
    }).join();
    return got;
  };
  bitmap.Lock();
  ASSERT_TRUE(bitmap.TryLock());  // the owner may lock again
  bitmap.Unlock();
  EXPECT_FALSE(otherThreadGetsIt());  // still held once
  bitmap.Unlock();
  EXPECT_TRUE(otherThreadGetsIt());
}

TEST(Bitmap, SavedBMPHasTheHeaderAndBottomUpRows) {
  testsupport::TempDir dir;
  const TBitmap bitmap = Pattern(5, 3);  // rows of 15 pixel bytes, stored in 16
  ASSERT_TRUE(bitmap.SaveToBMP(dir.File("p.bmp")));

  const std::vector<uint8_t> file = ReadBytes(dir.File("p.bmp"));
  ASSERT_EQ(file.size(), 54u + 16 * 3);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), file.size());
  EXPECT_EQ(Le32(file, 10), 54u);                 // pixel data offset
  EXPECT_EQ(Le32(file, 14), 40u);                 // info header size
  EXPECT_EQ(Le32(file, 18), 5u);                  // width
  EXPECT_EQ(Le32(file, 22), 3u);                  // height, positive: bottom-up
  EXPECT_EQ(file[26] | (file[27] << 8), 1);       // planes
  EXPECT_EQ(file[28] | (file[29] << 8), 24);      // bits per pixel
  EXPECT_EQ(Le32(file, 30), 0u);                  // uncompressed
  EXPECT_EQ(Le32(file, 34), 16u * 3);             // image size
  for (int fileRow = 0; fileRow < 3; ++fileRow) {
    const uint8_t* expected = bitmap.ScanLine(2 - fileRow);
    EXPECT_TRUE(std::equal(expected, expected + 15, file.begin() + 54 + fileRow * 16)) << fileRow;
  }

  // An independent reader sees the same picture.
  testsupport::FFprobe probe(dir.File("p.bmp"));
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  EXPECT_EQ(probe.CodecName(0), "bmp");
  EXPECT_EQ(probe.Width(0), 5);
  EXPECT_EQ(probe.Height(0), 3);
  EXPECT_EQ(probe.Stream(0).value("pix_fmt", ""), "bgr24");
  EXPECT_EQ(DecodeWithFFmpeg(dir.File("p.bmp"), dir.File("p.raw")), Pixels(bitmap));

  TBitmap loaded;
  ASSERT_TRUE(loaded.LoadFromBMP(dir.File("p.bmp")));
  EXPECT_EQ(loaded.Width(), 5);
  EXPECT_EQ(loaded.Height(), 3);
  EXPECT_EQ(Pixels(loaded), Pixels(bitmap));
}

TEST(Bitmap, LoadsABMPWrittenByTheFFmpegTool) {
  testsupport::TempDir dir;
  const std::string bmp = dir.File("t.bmp");
  const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=7x5 -frames:v 1 "
                              "-pix_fmt bgr24 '" + bmp + "' </dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  TBitmap loaded;
  ASSERT_TRUE(loaded.LoadFromBMP(bmp));
  EXPECT_EQ(loaded.Width(), 7);
  EXPECT_EQ(loaded.Height(), 5);
  EXPECT_EQ(Pixels(loaded), DecodeWithFFmpeg(bmp, dir.File("t.raw")));
}

TEST(Bitmap, RefusesWhatItCannotWriteOrRead) {
  testsupport::TempDir dir;
  EXPECT_FALSE(TBitmap().SaveToBMP(dir.File("empty.bmp")));
  EXPECT_FALSE(Pattern(2, 2).SaveToBMP(dir.File("no/such/folder/x.bmp")));

  std::ofstream(dir.File("text.bmp")) << "BM but nothing like a bitmap follows this line at all..";
  TBitmap bitmap = Pattern(2, 2);
  const std::vector<uint8_t> before = Pixels(bitmap);
  EXPECT_FALSE(bitmap.LoadFromBMP(dir.File("text.bmp")));
  EXPECT_FALSE(bitmap.LoadFromBMP(dir.File("missing.bmp")));
  // A truncated file: header promises more rows than there are.
  ASSERT_TRUE(Pattern(4, 4).SaveToBMP(dir.File("full.bmp")));
  std::vector<uint8_t> bytes = ReadBytes(dir.File("full.bmp"));
  bytes.resize(bytes.size() - 5);
  std::ofstream(dir.File("cut.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_FALSE(bitmap.LoadFromBMP(dir.File("cut.bmp")));
  EXPECT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(Pixels(bitmap), before);
}
