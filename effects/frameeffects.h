// Frame effects and watermarks: the exposure curve, the combined saturation / brightness /
// contrast pass, the image watermark blend and the text watermark, and ApplyFrameEffects, which
// runs them on a frame in the order a job's two process flags select. The conversion hook and
// every preview use these same functions, so a preview shows what the conversion produces (a
// conversion may run the colour steps, TColourSteps, on the rows as it makes each frame, when
// they come first). Frames are 24-bit B, G, R bitmaps changed in place. No function takes a lock
// or keeps state between calls, apart from the shared cache of decoded watermark files
// (overlaycache.h); the caller holds the frame's canvas lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/textcanvas.h"
#include "media/bitmap.h"

namespace effects {

// The settings that drive ApplyFrameEffects, with the values of a newly added job.
struct FrameEffectSettings {
  int32_t Brightness = 255;  // 0..512, gain in 1/256 units (256 leaves levels unchanged)
  int32_t Contrast = 0;      // -100..100, contrast around level 170 (0 leaves levels unchanged)
  int32_t Saturation = 255;  // 0..512, colour weight in 1/256 units (256 leaves colours unchanged)
  int32_t Exposure = 0;      // -255..512, exposure curve strength; negative darkens, 0 is off
  std::string MarkText;      // watermark text; empty: none
  TextFont MarkFont;         // "MS Sans Serif", 8 points, black, no style
  int32_t TextX = 0;         // top-left corner of the text in frame pixels
  int32_t TextY = 0;
  std::string MarkImageFile;  // path of a BMP file; empty: none
  int32_t ImageX = 0;         // top-left corner of the image in frame pixels
  int32_t ImageY = 0;
  int32_t ImageAlpha = 168;  // 0..255, weight of the image in style 1
  int32_t ImageStyle = 1;    // 1: weighted blend ("Transparent style 1"); other: multiply (style 2)
  bool ProcessText = false;   // the text is drawn before the colour steps and changed by them
  bool ProcessImage = false;  // the image is blended before the colour steps and changed by them

  bool operator==(const FrameEffectSettings&) const = default;
};

// The colour steps of a job's settings (ApplyColorAdjust unless brightness, contrast, saturation
// are exactly 255, 0, 255; then ApplyExposure unless exposure is 0), with their tables made once
// and both steps taken in one pass over the pixels. Apply works on the whole frame in row bands
// over the machine's cores; ApplyToRows on the given rows alone, in the calling thread (the
// rows of one frame may be done in several threads at once).
class TColourSteps {
 public:
  explicit TColourSteps(const FrameEffectSettings& settings);
  static TColourSteps Adjust(int brightness, int contrast, int saturation);
  static TColourSteps Exposure(float exposure);
  bool Empty() const { return kind_ == TKind::None; }
  void Apply(media::TBitmap& frame) const;
  void ApplyToRows(media::TBitmap& frame, int firstRow, int rowCount) const;

 private:
  TColourSteps() = default;
  void PrepareAdjust(int brightness, int contrast, int saturation, const uint8_t* after);
  // None: nothing to do. Levels: every byte through levels_. MixTable: the saturation mix with
  // clampedLevel_ over the span of mixed values. MixClamped: the mix clamped, then levels_.
  enum class TKind { None, Levels, MixTable, MixClamped };
  TKind kind_ = TKind::None;
  uint8_t levels_[256] = {};
  int32_t weight_[256] = {};
  int32_t grey_[768] = {};
  std::vector<uint8_t> clampedLevel_;
};

// Replaces every B, G and R byte by the exposure curve's level: 0 and 255 never move, positive
// values lift the mid-tones toward 255, negative ones pull them toward 0.
void ApplyExposure(media::TBitmap& frame, float exposure);

// Saturation, then the brightness gain, then the contrast around level 170, as one pass of table
// lookups. At 256 / 0 / 256 every pixel stays as it is.
void ApplyColorAdjust(media::TBitmap& frame, int brightness, int contrast, int saturation);

// Blends a 24-bit overlay into the frame with its top-left corner at (x, y), cut at the frame's
// edges. Style 1: ((256 - alpha) * frame + alpha * overlay) >> 8 per channel; any other style:
// frame * overlay / 255 (alpha unused).
void BlendImageMark(media::TBitmap& frame, const media::TBitmap& overlay, int x, int y, int alpha,
                    int style);

// Draws text in the font with its top-left corner at (x, y); nothing for an empty text.
void DrawTextMark(media::TBitmap& frame, const std::string& text, const TextFont& font, int x,
                  int y);

// Runs the colour steps (ApplyColorAdjust unless brightness, contrast, saturation are exactly
// 255, 0, 255; then ApplyExposure unless exposure is 0), the text step (when MarkText is not
// empty) and the image step (when MarkImageFile is not empty) in this order:
//   ProcessText  ProcessImage  order
//   true         false         text, colour steps, image
//   false        true          image, colour steps, text
//   true         true          text, image, colour steps
//   false        false         colour steps, text, image
// The watermark file is read (through the shared overlay cache) before any step runs: when it
// cannot be read, std::runtime_error "Cannot load watermark image <path>" is thrown and the
// frame is left unchanged.
// With colourStepsDone the colour steps are left out: the frame went through
// TColourSteps(settings) already, which ColourStepsComeFirst allows.
void ApplyFrameEffects(media::TBitmap& frame, const FrameEffectSettings& settings,
                       bool colourStepsDone = false);

// True when ApplyFrameEffects runs colour steps before anything else (both process flags clear):
// then they may be done on the frame's rows as the frame is made (TColourSteps::ApplyToRows),
// and ApplyFrameEffects with colourStepsDone does the rest, with the same result.
bool ColourStepsComeFirst(const FrameEffectSettings& settings);

// The part of a width x height frame ApplyFrameEffects reads and changes when no colour step runs:
// the text's and the image's areas together, cut to the frame. Nothing (the whole frame) when a
// colour step runs or the watermark file cannot be read (ApplyFrameEffects then reports it).
std::optional<media::TPictureArea> MarkArea(const FrameEffectSettings& settings, int width,
                                            int height);

// The part of a width x height frame the text and image steps read and change, cut to the frame
// (empty without marks); nothing when the watermark file cannot be read.
std::optional<media::TPictureArea> MarksArea(const FrameEffectSettings& settings, int width,
                                             int height);

}  // namespace effects
