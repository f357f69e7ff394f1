// The player's pure parts: the event ring's collapsing and overflow, the aspect ratio rules and
// the rectangle they give, and the waveform drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "player/displayrect.h"
#include "player/eventring.h"
#include "player/waveform.h"

using player::PlayerEvent;
using player::TPlayerEventRing;
using player::TRect;

namespace {

std::vector<PlayerEvent> Drain(TPlayerEventRing& ring) {
  std::vector<PlayerEvent> out;
  PlayerEvent e;
  while (ring.Take(e)) out.push_back(e);
  return out;
}

PlayerEvent Position(int64_t t) { return {PlayerEvent::Position, 0, t}; }
PlayerEvent State(int s) { return {PlayerEvent::State, s, 0}; }

}  // namespace

TEST(PlayerEventRing, ConsecutiveEventsOfOneKindCollapseIntoTheLatest) {
  TPlayerEventRing ring;
  for (int i = 1; i <= 50; ++i) ring.Post(Position(i * 1000));
  EXPECT_TRUE(ring.WaitSignal(std::chrono::milliseconds(0)));
  auto events = Drain(ring);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].time, 50000);
  EXPECT_FALSE(ring.WaitSignal(std::chrono::milliseconds(0)));

  // Different kinds in turn stay apart; a state between two positions keeps all three.
  ring.Post(Position(1));
  ring.Post(State(1));
  ring.Post(State(0));
  ring.Post(Position(2));
  events = Drain(ring);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].time, 1);
  EXPECT_EQ(events[1].state, 0);
  EXPECT_EQ(events[2].time, 2);

  // An event already taken is not overwritten: the next one of its kind is a new event.
  ring.Post(Position(3));
  PlayerEvent e;
  ASSERT_TRUE(ring.Take(e));
  ring.Post(Position(4));
  events = Drain(ring);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].time, 4);
}

TEST(PlayerEventRing, AFullRingLosesTheOldestEvent) {
  TPlayerEventRing ring;
  for (int i = 0; i < 12; ++i) ring.Post(i % 2 ? State(i) : Position(i));
  const auto events = Drain(ring);
  ASSERT_EQ(events.size(), size_t(TPlayerEventRing::kSlots - 1));
  // Events 0, 1 and 2 are lost; 3 (a state) is the oldest left.
  EXPECT_EQ(events.front().kind, PlayerEvent::State);
  EXPECT_EQ(events.front().state, 3);
  EXPECT_EQ(events.back().state, 11);
}

TEST(PlayerDisplayRect, AspectRulesAndTheCentredRectangle) {
  struct Case {
    float setting;
    int surfaceW, surfaceH, picW, picH;
    AVRational sar;
    TRect expected;
  } cases[] = {
      // 4:3 into 16:9: pillar-boxed and centred.
      {0, 640, 360, 320, 240, {1, 1}, {80, 0, 480, 360}},
      // 16:9 into 4:3: letter-boxed.
      {0, 320, 240, 1920, 1080, {0, 1}, {0, 30, 320, 180}},
      // The sample aspect ratio counts: 720x576 at 16:15 is 4:3.
      {0, 640, 360, 720, 576, {16, 15}, {80, 0, 480, 360}},
      // A forced ratio wins over the picture's own.
      {16.0f / 9, 320, 240, 320, 240, {1, 1}, {0, 30, 320, 180}},
      // A negative ratio fills the surface.
      {-1, 368, 207, 320, 240, {1, 1}, {0, 0, 368, 207}},
      // Odd spare room: integer halves; the width is even.
      {0, 401, 240, 320, 240, {1, 1}, {40, 0, 320, 240}},
      {0, 401, 301, 320, 240, {1, 1}, {0, 0, 400, 301}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.surfaceW << "x" << c.surfaceH << " setting " << c.setting);
    const double aspect =
        player::DisplayAspect(c.setting, c.surfaceW, c.surfaceH, c.picW, c.picH, c.sar);
    EXPECT_EQ(player::DisplayRect(c.surfaceW, c.surfaceH, aspect), c.expected);
  }
}

TEST(PlayerWaveform, OneWhiteBandPerChannelOnBlackWithSeparators) {
  std::vector<int16_t> ring(player::kSampleRingSize, 0);
  // Channel 0 a loud positive constant, channel 1 a loud negative one.
  for (int i = 0; i < player::kSampleRingSize; i += 2) {
    ring[i] = 20000;
    ring[i + 1] = -20000;
  }
  const int w = 40, h = 100, stride = w * 3;
  std::vector<uint8_t> bgr(stride * h, 77);
  player::DrawWaveform(ring.data(), 0, 2, bgr.data(), stride, w, h);
  auto white = [&](int x, int y) { return bgr[y * stride + x * 3] == 255; };
  for (size_t i = 0; i < bgr.size(); ++i) ASSERT_TRUE(bgr[i] == 0 || bgr[i] == 255) << i;
  // Band 0: rows 0..49, centre 25, bar 20000 * (50*9/20=22) >> 15 = 13 rows downwards.
  EXPECT_TRUE(white(10, 25));
  EXPECT_TRUE(white(10, 37));
  EXPECT_FALSE(white(10, 38));
  EXPECT_FALSE(white(10, 24));
  // Band 1: centre 75, 14 rows upwards (the shift rounds the negative value down).
  EXPECT_TRUE(white(10, 74));
  EXPECT_TRUE(white(10, 61));
  EXPECT_FALSE(white(10, 60));
  EXPECT_FALSE(white(10, 75));
  // The separator between the bands.
  for (int x = 0; x < w; ++x) EXPECT_TRUE(white(x, 50));
}
