#include "effects/textcanvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "effects/frameeffects.h"
#include "tests/effects/pixels.h"

using effects::DrawTextMark;
using effects::TextFont;
using effectstest::Bytes;
using effectstest::Filled;
using effectstest::Get;
using effectstest::Grey;
using media::TBitmap;

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;

TBitmap Drawn(const std::string& text, const TextFont& font, int x, int y) {
  TBitmap frame = Filled(120, 40, Grey(0));
  DrawTextMark(frame, text, font, x, y);
  return frame;
}

int LitCount(const TBitmap& frame) {
  int lit = 0;
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) lit += Get(frame, x, y) != Grey(0);
  return lit;
}

}  // namespace

// "Hello" in 8 points (11 pixels) is about 30 pixels wide and its cell 13 high. Its glyphs hang
// down from the cell's top at (10, 10): nothing above or left of it, the tall letters begin
// within a few rows of it, and nothing lies beyond a generous box around the cell.
TEST(TextCanvas, GlyphsLieInTheTextCellBelowAndRightOfThePoint) {
  for (const char* family : {"MS Sans Serif", "No Such Family At All", "DejaVu Sans"}) {
    SCOPED_TRACE(family);
    TextFont font;
    font.Name = family;
    font.Color = kWhite;
    const TBitmap frame = Drawn("Hello", font, 10, 10);
    int top = 1000, left = 1000, lit = 0;
    for (int y = 0; y < frame.Height(); ++y) {
      for (int x = 0; x < frame.Width(); ++x) {
        if (Get(frame, x, y) == Grey(0)) continue;
        ++lit;
        top = std::min(top, y);
        left = std::min(left, x);
        EXPECT_TRUE(x >= 10 && x < 60 && y >= 10 && y < 26) << "lit at " << x << "," << y;
      }
    }
    EXPECT_GT(lit, 40);
    EXPECT_LE(top, 14);
    EXPECT_LE(left, 13);
  }
}

TEST(TextCanvas, StyleFlagsChangeTheGlyphs) {
  TextFont regular;
  regular.Size = 12;
  regular.Color = kWhite;
  const TBitmap plain = Drawn("Hello", regular, 4, 4);
  const int plainLit = LitCount(plain);
  const struct {
    const char* name;
    bool TextFont::*flag;
    bool morePixels;
  } cases[] = {{"bold", &TextFont::Bold, true},
               {"underline", &TextFont::Underline, true},
               {"strike-out", &TextFont::StrikeOut, true},
               {"italic", &TextFont::Italic, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TextFont styled = regular;
    styled.*c.flag = true;
    const TBitmap frame = Drawn("Hello", styled, 4, 4);
    EXPECT_NE(Bytes(frame), Bytes(plain));
    if (c.morePixels) {
      EXPECT_GT(LitCount(frame), plainLit + 10);
    }
  }
}

TEST(TextCanvas, EmptyTextChangesNothing) {
  TextFont font;
  font.Color = kWhite;
  const TBitmap frame = Drawn("", font, 10, 10);
  EXPECT_EQ(Bytes(frame), Bytes(Filled(120, 40, Grey(0))));
}

// Frames are drawn on the engine's worker threads: the first text of the process is drawn on a
// thread that then ends, later ones on other threads at once; all alike.
TEST(TextCanvas, DrawsOnWorkerThreads) {
  TextFont font;
  font.Color = 0x0000A0FF;  // orange
  font.Bold = true;
  TBitmap first;
  std::thread([&] { first = Drawn("Worker", font, 3, 3); }).join();
  ASSERT_GT(LitCount(first), 40);
  std::vector<TBitmap> frames(4);
  std::vector<std::thread> threads;
  for (auto& frame : frames)
    threads.emplace_back([&frame, &font] {
      for (int i = 0; i < 20; ++i) frame = Drawn("Worker", font, 3, 3);
    });
  for (auto& t : threads) t.join();
  for (const auto& frame : frames) EXPECT_EQ(Bytes(frame), Bytes(first));
  EXPECT_EQ(Bytes(Drawn("Worker", font, 3, 3)), Bytes(first));
}
