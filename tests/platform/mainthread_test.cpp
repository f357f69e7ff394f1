#include "platform/mainthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

TEST(MainThread, CallFromWorkerRunsOnMainThreadAndWaits) {
  platform::SetMainThread();
  const auto mainId = std::this_thread::get_id();
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    platform::MainThreadCall([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  EXPECT_TRUE(platform::WaitServing([&] { return returned.load(); }, 5000ms));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
}

TEST(MainThread, ExceptionTravelsBackToCaller) {
  platform::SetMainThread();
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      platform::MainThreadCall([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  platform::WaitServing([&] { return done.load(); }, 5000ms);
  worker.join();
  EXPECT_EQ(caught, "boom");
}

TEST(MainThread, CallOnMainThreadRunsDirectly) {
  platform::SetMainThread();
  int runs = 0;
  platform::MainThreadCall([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(platform::CheckSynchronize());
}

TEST(MainThread, WakeHookIsCalledWhenWorkIsQueued) {
  platform::SetMainThread();
  std::atomic<int> wakes{0};
  platform::SetWakeMainThread([&] { ++wakes; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    platform::MainThreadCall([] {});
    done = true;
  });
  platform::WaitServing([&] { return done.load(); }, 5000ms);
  worker.join();
  platform::SetWakeMainThread(nullptr);
  EXPECT_GE(wakes.load(), 1);
}
