#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(Event, SetReleasesEveryWaiterAndStaysSetUntilReset) {
  platform::TEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(10ms));

  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (event.Wait(60s)) ++released;
    });
  event.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_TRUE(event.Wait(0ms));
  EXPECT_TRUE(event.Wait());  // still set: manual reset

  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0ms));
  EXPECT_TRUE(platform::TEvent(true).Wait(0ms));
}
