// Level tables over runs of bytes: every kernel the processor runs gives the portable kernel's
// bytes exactly, for tables that use all 256 entries, at lengths around the vector steps and from
// unaligned starts, and leaves the bytes around the run alone.
#include "effects/leveltable.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

using namespace effects;

TEST(LevelTable, EveryKernelMapsLikeThePortableOne) {
  std::mt19937 random(1211);
  std::uniform_int_distribution<int> level(0, 255);
  // A random table, and one that gives each byte's own complement (every row of 16 differs).
  uint8_t randomTable[256], complement[256];
  for (int i = 0; i < 256; ++i) {
    randomTable[i] = uint8_t(level(random));
    complement[i] = uint8_t(255 - i);
  }
  // Every byte value at every position of a vector step, then random bytes.
  std::vector<uint8_t> source(4096 + 200);
  std::iota(source.begin(), source.begin() + 4096, 0);  // wraps every 256: each value 16 times
  for (size_t i = 4096; i < source.size(); ++i) source[i] = uint8_t(level(random));
  for (int i = 0; i < 4096; ++i) source[i] = uint8_t(source[i] + i / 256);
  constexpr size_t kGuard = 7;
  constexpr uint8_t kMark = 0x3c;
  for (const auto& [name, kernel] : LevelTableKernels()) {
    for (const uint8_t* table : {randomTable, complement}) {
      for (const size_t count : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33},
                                 size_t{63}, size_t{64}, size_t{65}, size_t{127}, size_t{4096},
                                 size_t{4095 + 200}}) {
        for (const size_t offset : {size_t{0}, size_t{1}, size_t{5}}) {
          SCOPED_TRACE(testing::Message() << name << ", " << count << " bytes at offset " << offset);
          std::vector<uint8_t> bytes(kGuard + offset + count + kGuard, kMark);
          std::copy_n(source.begin(), count, bytes.begin() + kGuard + offset);
          kernel(bytes.data() + kGuard + offset, count, table);
          for (size_t i = 0; i < bytes.size(); ++i) {
            const bool inside = i >= kGuard + offset && i < kGuard + offset + count;
            ASSERT_EQ(bytes[i], inside ? table[source[i - kGuard - offset]] : kMark) << "byte " << i;
          }
        }
      }
    }
  }
  // The chosen kernel gives the same.
  std::vector<uint8_t> bytes(source);
  ApplyLevelTable(bytes.data(), bytes.size(), randomTable);
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], randomTable[source[i]]) << i;
}
