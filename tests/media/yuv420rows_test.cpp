// The row kernels that write 24-bit BGR rows into 4:2:0 samples: every kernel the processor
// runs gives the portable kernel's samples exactly, at any block count (vector steps, remainders, none) and
// from unaligned rows, and writes nothing past the blocks.
#include "media/yuv420rows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace media;

namespace {

struct TRowPairOut {
  // Guard bytes around every output row show a write out of place.
  static constexpr int kGuard = 19;
  static constexpr uint8_t kMark = 0xa5;
  explicit TRowPairOut(int pairs)
      : y0(2 * pairs + 2 * kGuard, kMark), y1(y0), u(pairs + 2 * kGuard, kMark), v(u) {}
  std::vector<uint8_t> y0, y1, u, v;
  void Run(TRowPairToYuv420 kernel, const uint8_t* in0, const uint8_t* in1, int pairs) {
    kernel(in0, in1, y0.data() + kGuard, y1.data() + kGuard, u.data() + kGuard,
           v.data() + kGuard, pairs);
  }
  bool operator==(const TRowPairOut&) const = default;
};

}  // namespace

TEST(Yuv420Rows, KnownColoursGiveTheirVideoLevels) {
  const struct {
    uint8_t b, g, r;
    int y, u, v;
  } cases[] = {{0, 0, 0, 16, 128, 128},
               {255, 255, 255, 235, 128, 128},
               {0, 0, 255, 82, 90, 240},
               {0, 255, 0, 144, 54, 34},
               {255, 0, 0, 41, 240, 110}};
  for (const auto& [name, kernel] : RowPairToYuv420Kernels()) {
    SCOPED_TRACE(name);
    for (const auto& c : cases) {
      constexpr int kPairs = 13;  // one vector step and a remainder
      std::vector<uint8_t> row;
      for (int i = 0; i < 2 * kPairs; ++i) row.insert(row.end(), {c.b, c.g, c.r});
      TRowPairOut out(kPairs);
      out.Run(kernel, row.data(), row.data(), kPairs);
      for (int i = 0; i < kPairs; ++i) {
        ASSERT_EQ(out.y0[TRowPairOut::kGuard + 2 * i], c.y) << int(c.b) << "," << int(c.g) << "," << int(c.r);
        ASSERT_EQ(out.y1[TRowPairOut::kGuard + 2 * i + 1], c.y);
        ASSERT_EQ(out.u[TRowPairOut::kGuard + i], c.u);
        ASSERT_EQ(out.v[TRowPairOut::kGuard + i], c.v);
      }
    }
  }
}

TEST(Yuv420Rows, EveryKernelMatchesThePortableOneExactly) {
  // The chosen kernel is one of them.
  bool listed = false;
  for (const auto& kernel : RowPairToYuv420Kernels()) listed = listed || kernel.second == RowPairToYuv420();
  EXPECT_TRUE(listed);
  std::mt19937 random(20261211);
  std::uniform_int_distribution<int> level(0, 255);
  // Extremes stress the 16-bit sums; random levels cover the rest.
  const auto fill = [&](std::vector<uint8_t>& bytes, int pattern) {
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = pattern == 0 ? uint8_t(level(random))
               : pattern == 1 ? uint8_t(255)
                              : uint8_t((i / 3 + i / 7) % 2 ? 255 : 0);
  };
  for (const auto& [name, kernel] : RowPairToYuv420Kernels())
  for (const int pairs : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 33, 64, 161, 960}) {
    for (const int offset : {0, 1, 3, 5}) {
      for (const int pattern : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message() << name << ", " << pairs << " blocks, offset " << offset << ", pattern "
                                        << pattern);
        std::vector<uint8_t> in0(size_t(6) * pairs + offset + 8), in1(in0.size());
        fill(in0, pattern);
        fill(in1, pattern == 2 ? 0 : pattern);
        TRowPairOut portable(pairs), ours(pairs);
        portable.Run(&RowPairToYuv420Portable, in0.data() + offset, in1.data() + offset, pairs);
        ours.Run(kernel, in0.data() + offset, in1.data() + offset, pairs);
        ASSERT_TRUE(ours == portable);
        // The portable kernel itself kept inside its blocks.
        EXPECT_EQ(portable.y0[TRowPairOut::kGuard - 1], TRowPairOut::kMark);
        EXPECT_EQ(portable.y0[TRowPairOut::kGuard + 2 * pairs], TRowPairOut::kMark);
        EXPECT_EQ(portable.u[TRowPairOut::kGuard + pairs], TRowPairOut::kMark);
        EXPECT_EQ(portable.v[TRowPairOut::kGuard + pairs], TRowPairOut::kMark);
      }
    }
  }
}
