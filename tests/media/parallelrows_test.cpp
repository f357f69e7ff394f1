#include "media/parallelrows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

TEST(ForEachRowBand, EveryRowIsVisitedOnceInAlignedBands) {
  const struct {
    int rows, minRows, align;
  } cases[] = {{1, 64, 2}, {63, 64, 1}, {720, 64, 2}, {1081, 64, 2}, {129, 1, 1}, {1000, 16, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows");
    std::vector<std::atomic<int>> visits(c.rows);
    std::mutex lock;
    std::set<std::thread::id> threads;
    media::ForEachRowBand(c.rows, c.minRows, c.align, [&](int first, int count) {
      EXPECT_EQ(first % c.align, 0);
      EXPECT_GT(count, 0);
      for (int row = first; row < first + count; ++row) ++visits[row];
      std::lock_guard guard(lock);
      threads.insert(std::this_thread::get_id());
    });
    for (int row = 0; row < c.rows; ++row) {
      ASSERT_EQ(visits[row], 1) << "row " << row;
    }
    if (c.rows < c.minRows) {
      EXPECT_EQ(threads, std::set{std::this_thread::get_id()});
    }
  }
}

TEST(ForEachRowBand, CallsFromSeveralThreadsAtOnceAllFinish) {
  std::atomic<long> total{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 4; ++i)
    callers.emplace_back([&] {
      for (int round = 0; round < 50; ++round)
        media::ForEachRowBand(512, 8, 2, [&](int, int count) { total += count; });
    });
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(total, 4L * 50 * 512);
}
