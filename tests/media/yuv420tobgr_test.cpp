// The row kernels that turn 4:2:0 samples into 24-bit BGR rows: every level within one of the
// exact standard-definition matrix at video levels with each chroma sample on its own 2x2 block,
// and every kernel the processor runs gives the portable kernel's bytes exactly, at any block
// count (vector steps, remainders, none) and unaligned addresses, reading and writing nothing
// past the blocks.
#include "media/yuv420tobgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace media;

namespace {

// Output rows (unaligned) with guard bytes around them, so that a write out of place shows.
struct TBgrRows {
  static constexpr int kGuard = 23;
  static constexpr uint8_t kMark = 0xa5;
  explicit TBgrRows(int pairs) : out0(6 * pairs + 2 * kGuard, kMark), out1(out0) {}
  std::vector<uint8_t> out0, out1;
  void Run(TYuv420ToRowPair kernel, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
           const uint8_t* v, int pairs) {
    kernel(y0, y1, u, v, out0.data() + kGuard, out1.data() + kGuard, pairs);
  }
  bool operator==(const TBgrRows&) const = default;
};

// The level of the exact matrix, cut to 0..255.
double Exact(int y, int u, int v, int channel) {
  const double luma = 255.0 / 219 * (y - 16), cb = 255.0 / 224 * (u - 128),
               cr = 255.0 / 224 * (v - 128);
  const double level = channel == 0   ? luma + 1.772 * cb
                       : channel == 1 ? luma - 0.344136 * cb - 0.714136 * cr
                                      : luma + 1.402 * cr;
  return std::clamp(level, 0.0, 255.0);
}

}  // namespace

TEST(Yuv420ToBgr, EveryLevelIsWithinOneOfTheExactMatrix) {
  // Every (U, V) pair once, 256 blocks to a row pair; the four luma samples of a block differ
  // from each other and sweep all levels over the picture, so a chroma sample reaching the wrong
  // block or a luma sample the wrong pixel shows.
  constexpr int kPairs = 256;
  std::vector<uint8_t> y0(2 * kPairs), y1(2 * kPairs), u(kPairs), v(kPairs);
  for (const auto& [name, kernel] : Yuv420ToRowPairKernels()) {
    SCOPED_TRACE(name);
    double bias = 0;
    for (int row = 0; row < 256; ++row) {
      for (int i = 0; i < kPairs; ++i) {
        u[i] = uint8_t(i);
        v[i] = uint8_t(row);
        y0[2 * i] = uint8_t(i + row);
        y0[2 * i + 1] = uint8_t(i * 3 + 85);
        y1[2 * i] = uint8_t(i * 5 + row * 7 + 170);
        y1[2 * i + 1] = uint8_t(255 - i - row);
      }
      TBgrRows out(kPairs);
      out.Run(kernel, y0.data(), y1.data(), u.data(), v.data(), kPairs);
      for (int x = 0; x < 2 * kPairs; ++x)
        for (int line = 0; line < 2; ++line) {
          const int luma = (line ? y1 : y0)[x];
          for (int c = 0; c < 3; ++c) {
            const int got = (line ? out.out1 : out.out0)[TBgrRows::kGuard + 3 * x + c];
            const double error = got - Exact(luma, u[x / 2], v[x / 2], c);
            bias += error;
            ASSERT_LT(std::abs(error), 1.0) << "Y " << luma << " U " << int(u[x / 2]) << " V "
                                            << int(v[x / 2]) << " channel " << c << ": " << got;
          }
        }
    }
    // Rounded, not cut: the errors average out.
    EXPECT_LT(std::abs(bias / (256.0 * kPairs * 4 * 3)), 0.05);
  }
}

TEST(Yuv420ToBgr, EveryKernelMatchesThePortableOneExactly) {
  bool listed = false;  // the chosen kernel is one of them
  for (const auto& kernel : Yuv420ToRowPairKernels()) listed = listed || kernel.second == Yuv420ToRowPair();
  EXPECT_TRUE(listed);
  std::mt19937 random(20261212);
  std::uniform_int_distribution<int> level(0, 255);
  // Random levels; extremes, where the 16-bit sums saturate (the brightest luma with the
  // strongest chroma each way); and stripes of the extremes that change within a vector step.
  const auto fill = [&](std::vector<uint8_t>& bytes, int pattern, uint8_t extreme) {
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = pattern == 0 ? uint8_t(level(random))
               : pattern == 1 ? extreme
                              : uint8_t((i / 3 + i / 5) % 2 ? extreme : 255 - extreme);
  };
  for (const auto& [name, kernel] : Yuv420ToRowPairKernels())
    for (const int pairs : {0, 1, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 47, 63, 64, 65, 161, 960})
      for (const int offset : {0, 1, 3, 5})
        for (const int pattern : {0, 1, 2})
          for (const uint8_t extreme : {uint8_t(0), uint8_t(255)}) {
            if (pattern == 0 && extreme) continue;
            SCOPED_TRACE(testing::Message() << name << ", " << pairs << " blocks, offset "
                                            << offset << ", pattern " << pattern << "/"
                                            << int(extreme));
            // Inputs of exactly the size the blocks need past the offset: a read beyond them
            // is caught by the sanitizer build.
            std::vector<uint8_t> y0(size_t(2) * pairs + offset), y1(y0.size()),
                u(size_t(pairs) + offset), v(u.size());
            fill(y0, pattern, extreme);
            fill(y1, pattern, uint8_t(255 - extreme));
            fill(u, pattern, extreme);
            fill(v, pattern, uint8_t(255 - extreme));
            TBgrRows portable(pairs), ours(pairs);
            portable.Run(&Yuv420ToRowPairPortable, y0.data() + offset, y1.data() + offset,
                         u.data() + offset, v.data() + offset, pairs);
            ours.Run(kernel, y0.data() + offset, y1.data() + offset, u.data() + offset,
                     v.data() + offset, pairs);
            ASSERT_TRUE(ours == portable);
            // The portable kernel itself kept inside its blocks.
            EXPECT_EQ(portable.out0[TBgrRows::kGuard - 1], TBgrRows::kMark);
            EXPECT_EQ(portable.out0[TBgrRows::kGuard + 6 * pairs], TBgrRows::kMark);
            EXPECT_EQ(portable.out1[TBgrRows::kGuard + 6 * pairs], TBgrRows::kMark);
          }
}
