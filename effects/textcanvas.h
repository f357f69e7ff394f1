// The text canvas: draws one line of text onto a TBitmap's own memory (wrapped, not copied) with
// Qt's painter, the way a desktop canvas's text output does: top-left corner of the text cell at
// the given point, glyphs only, no background box. It is the only Qt code the conversion path
// needs, and it works on any thread and without a desktop.
//
// Qt draws text only while a QGuiApplication exists. A program with its own QGuiApplication (the
// GUI) must create it first, on its main thread, before any text is drawn; then that one is used.
// Otherwise the first text drawn creates one for the rest of the process, with the "offscreen"
// platform (no display needed, whatever QT_QPA_PLATFORM says), on the calling thread, once even
// when several threads draw at the same time. Consequences: that program cannot create its own
// QGuiApplication afterwards (Qt allows one application object); Qt's messages from then on go
// to the program's log (media::GetLogger()) instead of the error output, among them the warning
// Qt gives when the creating thread is not the first thread that used Qt; the process's C locale
// is put back as it was before Qt's start-up changed it. A program that created a QCoreApplication that
// is not a QGuiApplication cannot draw text: DrawTextOnBitmap throws std::runtime_error.
#pragma once

#include <cstdint>
#include <string>

#include "media/bitmap.h"

namespace effects {

// The font of a text watermark, as the job record and the settings files store it.
struct TextFont {
  std::string Name = "MS Sans Serif";  // family; a family that is not installed falls back to
                                       // the system's default sans-serif face
  int Size = 8;                        // points at 96 pixels per inch (8 points = 11 pixels);
                                       // a negative value is a height in pixels
  // Windows-style colour value 0x00BBGGRR: red in the lowest byte, blue in the third; the top
  // byte is ignored. This is the form the settings files store.
  uint32_t Color = 0x00000000;  // black
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;

  bool operator==(const TextFont&) const = default;
};

// 0x00BBGGRR from the three channels, and the channels back.
constexpr uint32_t ColorFromRGB(uint8_t red, uint8_t green, uint8_t blue) {
  return red | (green << 8) | (static_cast<uint32_t>(blue) << 16);
}
constexpr uint8_t ColorRed(uint32_t color) { return color & 0xff; }
constexpr uint8_t ColorGreen(uint32_t color) { return (color >> 8) & 0xff; }
constexpr uint8_t ColorBlue(uint32_t color) { return (color >> 16) & 0xff; }

// Draws text as one line (no line breaks) in the font's family, size, colour and styles, with the
// top of its text cell (the font's ascent above the baseline) at y and its left edge at x.
// Antialiased; pixels outside the bitmap are left alone. An empty text or bitmap draws nothing.
// Takes no lock: the caller holds the bitmap's canvas lock.
void DrawTextOnBitmap(media::TBitmap& bitmap, const std::string& text, const TextFont& font,
                      int x, int y);

// The part of a bitmap DrawTextOnBitmap(text, font, x, y) may change: the glyphs' bounds and the
// text cell, with a margin for antialiasing and for underline and strike-out strokes. Empty for an
// empty text. Creates the application object as DrawTextOnBitmap does.
media::TPictureArea TextArea(const std::string& text, const TextFont& font, int x, int y);

// Makes sure a QGuiApplication exists (see the top of this file); throws std::runtime_error when
// a non-GUI application object exists instead. DrawTextOnBitmap calls it.
void EnsureGuiApplication();

}  // namespace effects
