// The player on the real libraries and real files: states and events, paused open and seek, the
// end of input, audio-only files with the waveform, volume and mute in the samples played, the
// hook, the current frame, failures that must end cleanly. Sound goes to SDL's disk driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "media/ffutils.h"
#include "tests/player/playerharness.h"
#include "tests/support/testdirs.h"

using namespace std::chrono_literals;
using player::psEnd;
using player::psPause;
using player::psPlay;
using player::psResume;
using player::psStop;
using playertest::RecordingSurface;
using playertest::Serve;
using playertest::Session;
using playertest::WaitFor;
using testsupport::Fixture;

namespace {

[[maybe_unused]] int Peak(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  return peak;
}

}  // namespace

TEST(Player, OpenBeforeTheLibrariesAreLoadedFails) {
  player::TVIVudero p;
  RecordingSurface surface(320, 240);
  EXPECT_FALSE(p.Open(Fixture("av.mp4"), &surface, false));
  EXPECT_EQ(p.LastErrMsg(), "libav or libsdl not loaded.");
  int64_t time = 0;
  const media::TBitmap& frame = p.GetCurrentFrame(time);
  EXPECT_EQ(frame.Width(), 0);
  EXPECT_EQ(frame.Height(), 0);
  EXPECT_EQ(time, -1);
}

// Files that cannot be played: Open fails with the reason in LastErrMsg and nothing runs on.
TEST(Player, FilesThatCannotBePlayedFailToOpen) {
  Session session;
  struct Case {
    const char* file;
    std::string message;
  } cases[] = {
      {"notmedia.avi", media::AVErrorToStr(Fixture("notmedia.avi"), AVERROR_INVALIDDATA)},
      {"truncated.mp4", media::AVErrorToStr(Fixture("truncated.mp4"), AVERROR_INVALIDDATA)},
      {"undecodable.nut", Fixture("undecodable.nut") + ": could not open codecs, no stream to play."},
      {"missing.mp4", media::AVErrorToStr(Fixture("missing.mp4"), AVERROR(ENOENT))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    player::TVIVudero p;
    session.Attach(p);
    RecordingSurface surface(320, 240);
    EXPECT_FALSE(p.Open(Fixture(c.file), &surface, false));
    EXPECT_EQ(p.LastErrMsg(), c.message);
    EXPECT_FALSE(p.Playing());
  }
  Serve(100ms);
  EXPECT_TRUE(session.States().empty());
}

// A file played to its end: psPlay, positions that grow, psEnd once with the last picture
// staying; a seek back re-arms the end.
TEST(Player, PlaysToTheEndPostsEndOnceAndASeekBackReArmsIt) {
  Session session;
  player::TVIVudero p;
  session.Attach(p);
  RecordingSurface surface(320, 240);
  int64_t duration = 0;
  int frameWidth = 0, frameHeight = 0;
  p.OnFileOpen = [&](media::TFFBaseComponent*, int64_t d, int w, int h, int& sw, int& sh) {
    duration = d;
    frameWidth = w;
    frameHeight = h;
    sw = 320;
    sh = 240;
  };
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, false)) << p.LastErrMsg();
  EXPECT_NEAR(duration, 2000000, 50000);
  EXPECT_EQ(frameWidth, 320);
  EXPECT_EQ(frameHeight, 240);
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psEnd) == 1; })) << session.Logs();
  Serve(400ms);
  EXPECT_EQ(session.CountState(psEnd), 1);
  ASSERT_FALSE(session.States().empty());
  EXPECT_EQ(session.States().front(), psPlay);
  const auto positions = session.Positions();
  ASSERT_GE(positions.size(), 5u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  // The position of the last picture, never past the duration.
  EXPECT_GE(positions.back(), 1960000);
  EXPECT_LE(positions.back(), duration);
  // The last picture (1.96 s) is on the surface and stays there.
  EXPECT_EQ(surface.Last().pts, 1960000) << ::testing::PrintToString(surface.Times());
  EXPECT_EQ(surface.Last().rect, (player::TRect{0, 0, 320, 240}));

  p.Seek(0, true, 1500000);
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psEnd) == 2; })) << session.Logs();
  Serve(300ms);
  EXPECT_EQ(surface.Last().pts, 1960000);
  p.Stop(true);
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psStop) == 1; }));
  EXPECT_FALSE(p.Playing());
}

// Opening paused shows the first picture and stays; Pause and Resume in the wrong state post
// nothing; a paused seek shows exactly one picture at the target and stays paused; a seek asked
// for while another is pending is ignored; the current frame is the picture on the surface.
TEST(Player, PausedOpenPausedSeekAndTheCurrentFrame) {
  Session session;
  player::TVIVudero p;
  session.Attach(p);
  RecordingSurface surface(320, 180);
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, true)) << p.LastErrMsg();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psPause) == 1 && surface.Count() >= 1; }));
  Serve(300ms);
  const auto states = session.States();
  const std::vector<player::TPlayState> both{psPlay, psPause}, collapsed{psPause};
  EXPECT_TRUE(states == both || states == collapsed);
  EXPECT_EQ(surface.Times(), std::vector<int64_t>{0});
  // A 4:3 picture on a 16:9 surface is pillar-boxed and centred.
  EXPECT_EQ(surface.Last().rect, (player::TRect{40, 0, 240, 180}));

  int64_t time = -5;
  const media::TBitmap frame = p.GetCurrentFrame(time);
  EXPECT_EQ(time, 0);
  const media::TBitmap shown = surface.Last().ToBitmap();
  ASSERT_EQ(frame.Width(), 320);
  ASSERT_EQ(frame.Height(), 240);
  ASSERT_EQ(shown.ByteSize(), frame.ByteSize());
  EXPECT_TRUE(std::equal(frame.Bits(), frame.Bits() + frame.ByteSize(), shown.Bits()));

  const size_t stateCount = session.States().size();
  p.Pause();  // already paused
  Serve(100ms);
  EXPECT_EQ(session.States().size(), stateCount);

  p.Seek(0, true, 1000000);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 2; }));
  Serve(400ms);
  EXPECT_EQ(surface.Times(), (std::vector<int64_t>{0, 1000000}));
  EXPECT_EQ(session.States().size(), stateCount);
  EXPECT_TRUE(WaitFor([&] { return p.CurrentPosition() == 1000000; }, 2000ms));

  // The second request comes while the first is pending and is ignored.
  p.Seek(0, false, 0);
  p.Seek(0, false, 1000000);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 3; }));
  Serve(300ms);
  EXPECT_EQ(surface.Times().back(), 0) << ::testing::PrintToString(surface.Times()) << session.Logs();

  p.Resume();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psResume) == 1; }));
  p.Resume();  // already playing
  ASSERT_TRUE(WaitFor([&] { return surface.Count() > 10; }));
  EXPECT_EQ(session.CountState(psResume), 1);
  // While playing, the current frame is one of the pictures shown.
  p.Pause();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psPause) == 2; }));
  Serve(100ms);
  const media::TBitmap playing = p.GetCurrentFrame(time);
  const media::TBitmap last = surface.Last().ToBitmap();
  EXPECT_EQ(time, surface.Last().pts);
  ASSERT_EQ(playing.ByteSize(), last.ByteSize());
  EXPECT_TRUE(std::equal(playing.Bits(), playing.Bits() + playing.ByteSize(), last.Bits()));

  // Stop without waiting returns at once; psStop follows.
  p.Stop(false);
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psStop) == 1; }));
  EXPECT_TRUE(WaitFor([&] { return !p.Playing(); }));
  p.GetCurrentFrame(time);
  EXPECT_EQ(time, -1);
}
