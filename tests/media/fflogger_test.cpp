#include "media/fflogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "media/ffapi.h"
#include "media/ffloader.h"
#include "platform/mainthread.h"

using namespace media;
using namespace std::chrono_literals;

namespace {

struct Line {
  TFFBaseComponent* sender;
  uint32_t thread;
  TLogLevel level;
  std::string text;
};

// Loads the engine's libraries and collects every delivered line.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    ASSERT_TRUE(FFLoader().Load(EngineLibraries)) << FFLoader().LastErrMsg();
    logger().OnLog = [this](TFFBaseComponent* sender, uint32_t thread, TLogLevel level,
                            const std::string& text) {
      std::lock_guard lock(mutex);
      lines.push_back({sender, thread, level, text});
    };
  }
  void TearDown() override { logger().OnLog = nullptr; }
  static TFFLogger& logger() { return GetLogger(); }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex);
    std::vector<std::string> texts;
    for (const Line& l : lines) texts.push_back(l.text);
    return texts;
  }

  std::mutex mutex;
  std::vector<Line> lines;
};

}  // namespace

TEST_F(LoggerTest, PartialLinesFromTwoThreadsAreAssembledPerThread) {
  std::barrier sync(2);
  std::atomic<int> finished{0};
  uint32_t ids[2] = {};
  auto worker = [&](int n, const char* first, const char* second) {
    ids[n] = CurrentThreadId();
    ff::av_log(nullptr, AV_LOG_INFO, "%s", first);
    sync.arrive_and_wait();  // both have a pending partial line now
    ff::av_log(nullptr, AV_LOG_INFO, "%s", second);
    ++finished;
  };
  std::thread a(worker, 0, "alpha ", "one\nrest");
  std::thread b(worker, 1, "beta ", "two\n");
  // Deliveries come to this (user-interface) thread through the hand-off.
  EXPECT_TRUE(platform::WaitServing([&] { return finished == 2; }, 10s));
  a.join();
  b.join();
  ASSERT_EQ(lines.size(), 2u);
  for (const Line& l : lines) {
    EXPECT_EQ(l.sender, &logger());
    EXPECT_EQ(l.level, llInfo);
    const std::string expected = l.thread == ids[0] ? "alpha one" : "beta two";
    EXPECT_EQ(l.text, expected);
  }
  EXPECT_NE(lines[0].thread, lines[1].thread);
  // Text after the last line feed stays with its own thread: this thread's line is its own.
  ff::av_log(nullptr, AV_LOG_INFO, "own line\n");
  EXPECT_EQ(Texts().back(), "own line");
}

TEST_F(LoggerTest, LevelFilteringAtError) {
  TFFBaseComponent component;
  logger().SetLogLevel(llError);
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_ERROR);
  AVCodecContext* ctx = ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_H264));
  ff::av_log(ctx, AV_LOG_WARNING, "library warning\n");
  ff::av_log(ctx, AV_LOG_ERROR, "library error\n");
  logger().LogMessage(&component, llVerbose, "component verbose");
  logger().LogMessage(&component, llInfo, "component info");
  logger().LogFormat(&component, llError, "component %s %d", "error", 7);
  void* const address = ctx;
  ff::avcodec_free_context(&ctx);

  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[h264 @ %p] ", static_cast<void*>(address));
  EXPECT_EQ(Texts(), (std::vector<std::string>{std::string(prefix) + "library error",
                                                "component verbose", "component error 7"}));
  EXPECT_EQ(lines[1].sender, &component);
  EXPECT_EQ(lines[1].level, llVerbose);
}

TEST_F(LoggerTest, QuietDeliversNothing) {
  TFFBaseComponent component;
  logger().SetLogLevel(llQuiet);
  ff::av_log(nullptr, AV_LOG_PANIC, "panic\n");
  logger().LogMessage(&component, llVerbose, "verbose");
  logger().LogMessage(&component, llPanic, "panic");
  EXPECT_TRUE(Texts().empty());
}

TEST_F(LoggerTest, DeliveryOnTheLoggingThreadWhenNotHandedOff) {
  logger().TriggerEventInMainThread = false;
  uint32_t logged = 0;
  std::thread t([&] {
    logged = CurrentThreadId();
    logger().LogMessage(nullptr, llError, "from worker");
  });
  t.join();  // no serving: delivery must not wait for this thread
  logger().TriggerEventInMainThread = true;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].thread, logged);
}

TEST(Logger, OnlyOneInstance) {
  TFFLogger& first = GetLogger();
  try {
    TFFLogger second;
    FAIL() << "a second logger was created";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&GetLogger(), &first);
}

TEST(Logger, LevelsByNameAndNumber) {
  const struct {
    const char* name;
    TLogLevel level;
  } cases[] = {{"quiet", llQuiet},   {"PANIC", llPanic}, {"fatal", llFatal},  {"Error", llError},
               {"warning", llWarning}, {"info", llInfo}, {"verbose", llVerbose},
               {"debug", llDebug},   {"-8", llQuiet},    {"-3", llPanic},     {"24", llWarning},
               {"31", llWarning},    {"56", llDebug},    {"-100", llQuiet}};
  TFFLogger& logger = GetLogger();
  for (const auto& c : cases) {
    logger.SetLogLevelByName(c.name);
    EXPECT_EQ(logger.LogLevel(), c.level) << c.name;
  }
  EXPECT_THROW(logger.SetLogLevelByName("loud"), std::invalid_argument);
  EXPECT_THROW(logger.SetLogLevelByName("12x"), std::invalid_argument);
}
