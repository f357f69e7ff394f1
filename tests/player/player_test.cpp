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
using playertest::Shown;
using playertest::WaitFor;
using testsupport::Fixture;

namespace {

int Peak(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
  return peak;
}

}  // namespace

TEST(Player, OpenBeforeTheLibrariesAreLoadedFails) {
  RecordingSurface surface(320, 240);
  player::TVIVudero p;
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
    RecordingSurface surface(320, 240);
    player::TVIVudero p;
    session.Attach(p);
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
  RecordingSurface surface(320, 240);
  player::TVIVudero p;
  session.Attach(p);
  int64_t duration = 0;
  int frameWidth = 0, frameHeight = 0;
  std::string description;
  p.OnFileOpen = [&](media::TFFBaseComponent*, int64_t d, int w, int h, int& sw, int& sh) {
    duration = d;
    frameWidth = w;
    frameHeight = h;
    description = p.Probe().FileInfoText();
    sw = 320;
    sh = 240;
  };
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, false)) << p.LastErrMsg();
  // The probe describes the playing file.
  EXPECT_NE(description.find("h264"), std::string::npos) << description;
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
  RecordingSurface surface(320, 180);
  player::TVIVudero p;
  session.Attach(p);
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

TEST(Player, TurnedAndAnamorphicPicturesAreShownAsTheyAreMeantToBeSeen) {
  // Each clip's stored top-left quarter is red: it must be seen in the corner the display
  // rotation puts it in, in a rectangle of the picture's display shape.
  const struct {
    const char* file;
    int width, height;   // of the picture handed to the surface
    player::TRect rect;  // on a 320x320 surface
    bool redRight, redBottom;
  } cases[] = {
      {"phone90.mp4", 360, 640, {70, 0, 180, 320}, true, false},
      {"phone180.mp4", 640, 360, {0, 70, 320, 180}, true, true},
      {"pal_wide.mp4", 720, 576, {0, 70, 320, 180}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Session session;
    RecordingSurface surface(320, 320);
    player::TVIVudero p;
    session.Attach(p);
    ASSERT_TRUE(p.Open(Fixture(c.file), &surface, true)) << p.LastErrMsg();
    ASSERT_TRUE(WaitFor([&] { return surface.Count() >= 1; }));
    const Shown shown = surface.Last();
    EXPECT_EQ(shown.width, c.width);
    EXPECT_EQ(shown.height, c.height);
    EXPECT_EQ(shown.rect, c.rect);
    // Red has a high V; the gray picture around it sits near the middle.
    const auto red = [&](bool right, bool bottom) {
      int yuv[3];
      shown.Sample(right ? shown.width * 7 / 8 : shown.width / 8,
                   bottom ? shown.height * 7 / 8 : shown.height / 8, yuv);
      return yuv[2] > 200;
    };
    for (const bool right : {false, true})
      for (const bool bottom : {false, true})
        EXPECT_EQ(red(right, bottom), right == c.redRight && bottom == c.redBottom)
            << (right ? "right" : "left") << " " << (bottom ? "bottom" : "top");
    p.Stop(true);
  }
}

TEST(Player, SurfaceResizeAspectChangesAndARelativeSeekWhilePaused) {
  Session session;
  RecordingSurface surface(320, 180);
  player::TVIVudero p;
  session.Attach(p);
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, true)) << p.LastErrMsg();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psPause) == 1 && surface.Count() == 1; }));
  surface.Resize(640, 360);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 2; }));
  EXPECT_EQ(surface.Last().rect, (player::TRect{80, 0, 480, 360}));
  EXPECT_EQ(surface.Last().pts, 0);
  EXPECT_EQ(p.ScreenWidth, 640);
  p.SetAspectRatio(-1);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 3; }));
  EXPECT_EQ(surface.Last().rect, (player::TRect{0, 0, 640, 360}));
  p.SetAspectRatio(1);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 4; }));
  EXPECT_EQ(surface.Last().rect, (player::TRect{140, 0, 360, 360}));
  EXPECT_EQ(surface.Last().pts, 0);
  // A relative seek counts from the clock: one second on from the first picture.
  p.SeekRelative(0, true, 1.0);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() == 5; }));
  EXPECT_EQ(surface.Last().pts, 1000000);
}

// A file without video: positions from the audio clock up to the file's duration, psEnd once,
// the waveform (white on black, one band per channel) on the whole surface.
TEST(Player, AudioOnlyFilePlaysToItsDurationWithTheWaveform) {
  Session session;
  RecordingSurface surface(200, 100);
  player::TVIVudero p;
  session.Attach(p);
  int64_t duration = 0;
  int frameWidth = 0;
  p.OnFileOpen = [&](media::TFFBaseComponent*, int64_t d, int w, int, int&, int&) {
    duration = d;
    frameWidth = w;
  };
  ASSERT_TRUE(p.Open(Fixture("audio.mp3"), &surface, false)) << p.LastErrMsg();
  EXPECT_EQ(frameWidth, -1);
  ASSERT_TRUE(WaitFor([&] { return surface.Count() > 5; }));
  const playertest::Shown wave = surface.Last();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psEnd) == 1; })) << session.Logs();
  Serve(300ms);
  EXPECT_EQ(session.CountState(psEnd), 1);
  const auto positions = session.Positions();
  ASSERT_GE(positions.size(), 10u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_GT(duration, 1900000);
  EXPECT_EQ(positions.back(), duration);
  EXPECT_EQ(p.CurrentPosition(), duration);

  EXPECT_EQ(wave.format, AV_PIX_FMT_BGR24);
  EXPECT_EQ(wave.rect, (player::TRect{0, 0, 200, 100}));
  int whiteTop = 0, whiteBottom = 0, other = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) {
      int c[3];
      wave.Sample(x, y, c);
      const bool white = c[0] == 255 && c[1] == 255 && c[2] == 255;
      const bool black = c[0] == 0 && c[1] == 0 && c[2] == 0;
      other += !white && !black;
      if (white && y < 50) ++whiteTop;
      if (white && y > 50) ++whiteBottom;
      if (y == 50) {
        EXPECT_TRUE(white) << x;
      }
    }
  EXPECT_EQ(other, 0);
  EXPECT_GT(whiteTop, 0);
  EXPECT_GT(whiteBottom, 0);
  int64_t time = 0;
  EXPECT_EQ(p.GetCurrentFrame(time).Width(), 0);
  EXPECT_EQ(time, -1);
}

// What the disk driver received: full volume, half volume, silence by volume 0 and by Mute
// (positions move on all the same).
TEST(Player, VolumeAndMuteShapeThePlayedSamples) {
  Session session;
  struct Case {
    int volume;
    bool mute;
  } cases[] = {{128, false}, {64, false}, {0, false}, {128, true}};
  int fullPeak = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "volume " << c.volume << " mute " << c.mute);
    session.SetSoundFile("sound" + std::to_string(c.volume) + (c.mute ? "m" : "") + ".raw");
    player::TVIVudero p;
    std::vector<int64_t> positions;
    bool ended = false;
    p.OnPosition = [&](media::TFFBaseComponent*, int64_t t) { positions.push_back(t); };
    p.OnState = [&](media::TFFBaseComponent*, player::TPlayState s) { ended |= s == psEnd; };
    p.AudioVolume = c.volume;
    p.Mute = c.mute;
    ASSERT_TRUE(p.Open(Fixture("tone.wav"), nullptr, false)) << p.LastErrMsg();
    ASSERT_TRUE(WaitFor([&] { return ended; }));
    p.Stop(true);
    EXPECT_GE(positions.size(), 5u);
    EXPECT_GT(positions.back(), 900000);
    const auto samples = session.Samples();
    ASSERT_GT(samples.size(), 40000u);
    const int peak = Peak(samples);
    if (c.volume == 128 && !c.mute) {
      fullPeak = peak;
      EXPECT_GT(peak, 3000);
    } else if (c.volume == 64) {
      EXPECT_NEAR(peak, fullPeak / 2, 2);
    } else {
      EXPECT_EQ(peak, 0);
    }
  }
}

// The hook: a handler that draws changes the picture shown; one that throws leaves it as decoded
// and the error is logged.
TEST(Player, HookDrawsOnThePictureAndAFailingHookLeavesItUnchanged) {
  Session session;
  enum Kind { None, Draws, Throws };
  playertest::Shown first[3];
  for (Kind kind : {None, Draws, Throws}) {
    SCOPED_TRACE(kind);
    RecordingSurface surface(320, 240);
    player::TVIVudero p;
    session.Attach(p);
    int hooked = 0;
    p.Hook = kind != None;
    p.OnHook = [&](media::TFFBaseComponent*, media::TBitmap& bitmap, int64_t) {
      ++hooked;
      EXPECT_EQ(bitmap.Width(), 320);
      for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
          uint8_t* px = bitmap.ScanLine(y) + x * 3;
          px[0] = 0, px[1] = 0, px[2] = 255;  // red
        }
      if (kind == Throws) throw std::runtime_error("boom");
    };
    ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, true)) << p.LastErrMsg();
    ASSERT_TRUE(WaitFor([&] { return surface.Count() == 1; }));
    first[kind] = surface.Last();
    p.Stop(true);
    EXPECT_EQ(hooked > 0, kind != None);
  }
  const media::TBitmap plain = first[None].ToBitmap();
  const media::TBitmap drawn = first[Draws].ToBitmap();
  const media::TBitmap failed = first[Throws].ToBitmap();
  ASSERT_EQ(plain.ByteSize(), failed.ByteSize());
  EXPECT_TRUE(std::equal(plain.Bits(), plain.Bits() + plain.ByteSize(), failed.Bits()));
  const uint8_t* centre = drawn.ScanLine(120) + 160 * 3;
  EXPECT_LT(centre[0], 30);
  EXPECT_LT(centre[1], 30);
  EXPECT_GT(centre[2], 220);
  EXPECT_TRUE(session.HasLog("Error occurs OnHook: boom"));
}

// While the position handler is slow, the positions posted meanwhile arrive as one event with the
// latest time.
TEST(Player, PositionsPostedWhileTheHandlerIsBusyArriveAsTheLatestOne) {
  Session session;
  player::TVIVudero p;
  std::vector<int64_t> positions;
  int64_t reachedWhileBusy = 0;
  p.OnPosition = [&](media::TFFBaseComponent*, int64_t t) {
    positions.push_back(t);
    if (positions.size() == 2) {
      std::this_thread::sleep_for(500ms);
      reachedWhileBusy = p.CurrentPosition();
    }
  };
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), nullptr, false)) << p.LastErrMsg();
  ASSERT_TRUE(WaitFor([&] { return positions.size() >= 3; }));
  p.Stop(true);
  // Positions were posted at every picture meanwhile; the next event is the latest of them.
  EXPECT_GT(positions[2], positions[1] + 40000) << ::testing::PrintToString(positions);
  EXPECT_GE(positions[2], reachedWhileBusy - 10000) << ::testing::PrintToString(positions);
}

// Inputs that end early or break while playing end with a logged message and psEnd or psStop.
TEST(Player, DamagedOrVanishingInputsEndCleanly) {
  Session session;
  testsupport::TempDir dir;
  const std::string doomed = dir.File("doomed.mp4");
  std::filesystem::copy_file(Fixture("av.mp4"), doomed);
  struct Case {
    std::string file;
    int64_t seekTo;  // -1: from the start
    std::string log;
  } cases[] = {
      {Fixture("cut.ts"), -1, "reach end of file"},
      {Fixture("faststart_cut.mp4"), 4500000, "reach end of file"},
      {Fixture("bad_nal.mp4"), -1, "reach end of file"},
      {Fixture("nodecoder.nut"), -1, "avcodec_open() failed."},
      {doomed, -1, "reach end of file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    RecordingSurface surface(160, 120);
    player::TVIVudero p;
    bool ended = false;
    p.OnState = [&](media::TFFBaseComponent*, player::TPlayState s) {
      ended |= s == psEnd || s == psStop;
    };
    ASSERT_TRUE(p.Open(c.file, &surface, false)) << p.LastErrMsg();
    if (c.file == doomed) std::filesystem::remove(doomed);
    if (c.seekTo >= 0) p.Seek(0, true, c.seekTo);
    EXPECT_TRUE(WaitFor([&] { return ended; })) << session.Logs();
    p.Stop(true);
    EXPECT_TRUE(session.HasLog(c.log)) << session.Logs();
    EXPECT_GT(surface.Count(), 0);
  }
}

// Without a sound device the file plays silent on the video clock.
TEST(Player, WithoutASoundDeviceTheFilePlaysSilent) {
  Session session;
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  RecordingSurface surface(320, 240);
  player::TVIVudero p;
  session.Attach(p);
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), &surface, false)) << p.LastErrMsg();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psEnd) == 1; })) << session.Logs();
  EXPECT_TRUE(session.HasLog("SDL_OpenAudio() failed: ")) << session.Logs();
  EXPECT_GE(session.Positions().size(), 10u);
  EXPECT_GT(surface.Count(), 25);
}

// Only one player plays in the process: opening a second stops the first.
TEST(Player, OpeningASecondPlayerStopsTheFirst) {
  Session session;
  player::TVIVudero first;
  session.Attach(first);
  player::TVIVudero second;
  ASSERT_TRUE(first.Open(Fixture("av.mp4"), nullptr, false));
  ASSERT_TRUE(second.Open(Fixture("audio.mp3"), nullptr, false));
  EXPECT_TRUE(WaitFor([&] { return session.CountState(psStop) == 1; }));
  EXPECT_FALSE(first.Playing());
  EXPECT_TRUE(second.Playing());
}

// Of two equally good sound tracks the first plays (440 Hz, not the second's 880 Hz); the text
// subtitles beside them do not get in the way.
TEST(Player, TheFirstOfTwoSoundTracksPlays) {
  Session session;
  RecordingSurface surface(320, 240);
  player::TVIVudero p;
  session.Attach(p);
  ASSERT_TRUE(p.Open(Fixture("multi.mkv"), &surface, false)) << p.LastErrMsg();
  ASSERT_TRUE(WaitFor([&] { return session.CountState(psEnd) == 1; })) << session.Logs();
  p.Stop(true);
  const auto samples = session.Samples();  // mono, 44100 Hz
  ASSERT_GT(samples.size(), 44100u);
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i)
    crossings += (samples[i - 1] < 0) != (samples[i] < 0);
  const double seconds = samples.size() / 44100.0;
  // Silence before and after the sound counts as time without crossings: about 2 x 440 a second
  // of sound, far from 2 x 880.
  EXPECT_GT(crossings / seconds, 600);
  EXPECT_LT(crossings / seconds, 1000);
  EXPECT_GT(surface.Count(), 25);
}
