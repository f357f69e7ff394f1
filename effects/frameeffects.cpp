#include "effects/frameeffects.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "effects/leveltable.h"
#include "effects/overlaycache.h"
#include "media/parallelrows.h"

namespace effects {
namespace {

inline int ClampLevel(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
inline int64_t ClampLevel64(int64_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Nearest integer, halves to even (the default rounding mode), kept within the 64-bit range for
// values far outside what any setting produces (a not-a-number exposure counts as 0).
inline int64_t RoundHalfEven(double v) {
  constexpr double kLimit = 4.0e18;
  if (std::isnan(v)) return 0;
  return static_cast<int64_t>(std::nearbyint(std::clamp(v, -kLimit, kLimit)));
}

// The exposure curve X: level + trunc(k * (255 - level) / 256) with
// k = round(256 * (1 - e^t)), t = -level * exposure / 16384.
void BuildExposureCurve(float exposure, uint8_t curve[256]) {
  const double e = exposure;
  for (int i = 0; i < 256; ++i) {
    const double t = -(i * e) / 16384.0;
    const int64_t k = RoundHalfEven(256.0 * (1.0 - std::exp(t)));
    // Products of |k| up to 2^40 with 255 stay far inside 64 bits; larger k only saturate.
    const int64_t kk = std::clamp<int64_t>(k, -(int64_t{1} << 40), int64_t{1} << 40);
    const int64_t lift = kk * (255 - i) / 256;  // integer division truncates toward zero
    curve[i] = static_cast<uint8_t>(ClampLevel64(i + lift));
  }
}

// Brightness gain in 1/256 units, then contrast around level 170, as a level table; when after
// is given (the exposure curve), every level also goes through it: looking up after[L[v]] per
// byte is the same as one lookup in the composed table, so the two steps take a single pass.
void BuildLevelTable(int brightness, int contrast, const uint8_t* after, uint8_t levelTable[256]) {
  // Contrast around level 170. 100 would make the secant infinite, so it counts as 99. A
  // positive contrast stretches by 1 / cos(c * pi / 200); a negative one compresses by
  // cos(c * 0.015708), with that decimal constant.
  const int c = contrast == 100 ? 99 : contrast;
  const double f = c > 0 ? 1.0 / std::cos(c * std::numbers::pi / 200.0) : std::cos(c * 0.015708);
  uint8_t contrastTable[256];
  for (int i = 0; i < 256; ++i)
    contrastTable[i] = static_cast<uint8_t>(ClampLevel64(RoundHalfEven((i - 170) * f + 170)));

  // d = (brightness * (j - 1) + 256) / 256, truncating toward zero.
  for (int j = 0; j < 256; ++j) {
    const int64_t d = (static_cast<int64_t>(brightness) * (j - 1) + 256) / 256;
    const uint8_t level = contrastTable[ClampLevel64(d)];
    levelTable[j] = after ? after[level] : level;
  }
}

}  // namespace

TColourSteps::TColourSteps(const FrameEffectSettings& settings) {
  // 255 / 0 / 255 are a new job's values and mean "no adjustment" (256 / 0 / 256 would run the
  // pass and change nothing).
  const bool adjust =
      settings.Brightness != 255 || settings.Contrast != 0 || settings.Saturation != 255;
  uint8_t curve[256];
  if (settings.Exposure != 0) BuildExposureCurve(static_cast<float>(settings.Exposure), curve);
  if (adjust) {
    PrepareAdjust(settings.Brightness, settings.Contrast, settings.Saturation,
                  settings.Exposure != 0 ? curve : nullptr);
  } else if (settings.Exposure != 0) {
    std::copy_n(curve, 256, levels_);
    kind_ = TKind::Levels;
  }
}

TColourSteps TColourSteps::Adjust(int brightness, int contrast, int saturation) {
  TColourSteps steps;
  steps.PrepareAdjust(brightness, contrast, saturation, nullptr);
  return steps;
}

TColourSteps TColourSteps::Exposure(float exposure) {
  TColourSteps steps;
  BuildExposureCurve(exposure, steps.levels_);
  steps.kind_ = TKind::Levels;
  return steps;
}

// The saturation / brightness / contrast pass (and the exposure curve after it when given).
void TColourSteps::PrepareAdjust(int brightness, int contrast, int saturation,
                                 const uint8_t* after) {
  BuildLevelTable(brightness, contrast, after, levels_);

  // Saturation weights W[i] = ((i + 1) * saturation) >> 8, floor division. Beyond +-2^22 every
  // channel that differs from its pixel's grey level is pushed to 0 or 255 and one equal to it
  // keeps it, exactly as with the unlimited value, so the weights can stay 32-bit.
  const int64_t sat = std::clamp(saturation, -(1 << 22), 1 << 22);
  for (int i = 0; i < 256; ++i) weight_[i] = static_cast<int32_t>(((i + 1) * sat) >> 8);

  // Weights W[i] = i + k (saturation 255 or 256) leave every pixel's grey mix as it was:
  // base + W[v] is v itself, so each byte takes its level from the table directly.
  bool sameMix = true;
  for (int i = 0; i < 256; ++i) sameMix = sameMix && weight_[i] - i == weight_[0];
  if (sameMix) {
    kind_ = TKind::Levels;
    return;
  }

  // Grey table indexed by the sum of a pixel's three channels: m - W[m] with m = sum / 3, so the
  // pixel loop needs no division.
  for (int l = 0; l < 256; ++l) grey_[3 * l] = grey_[3 * l + 1] = grey_[3 * l + 2] = l - weight_[l];

  // Every value base + W[v] can take lies in [lo, hi]. For the settings' ranges that span is
  // small, and a level table over all of it, clamping built in, leaves the pixel loop with
  // lookups and additions only.
  const auto [minW, maxW] = std::minmax_element(weight_, weight_ + 256);
  const auto [minG, maxG] = std::minmax_element(grey_, grey_ + 768);
  const int64_t lo = int64_t{*minG} + *minW, hi = int64_t{*maxG} + *maxW;
  constexpr int64_t kMaxSpan = 1 << 16;
  if (hi - lo < kMaxSpan) {
    clampedLevel_.resize(static_cast<size_t>(hi - lo + 1));
    for (int64_t k = lo; k <= hi; ++k) clampedLevel_[k - lo] = levels_[ClampLevel64(k)];
    for (int32_t& g : grey_) g -= static_cast<int32_t>(lo);
    kind_ = TKind::MixTable;
    return;
  }
  kind_ = TKind::MixClamped;
}

void TColourSteps::ApplyToRows(media::TBitmap& frame, int firstRow, int rowCount) const {
  const int width = frame.Width();
  for (int row = firstRow; row < firstRow + rowCount; ++row) {
    uint8_t* p = frame.ScanLine(row);
    switch (kind_) {
      case TKind::None:
        return;
      case TKind::Levels:
        ApplyLevelTable(p, static_cast<size_t>(width) * 3, levels_);
        break;
      case TKind::MixTable: {
        const uint8_t* const table = clampedLevel_.data();
        for (int x = 0; x < width; ++x, p += 3) {
          const uint8_t b = p[0], g = p[1], r = p[2];
          const int32_t base = grey_[b + g + r];
          p[0] = table[base + weight_[b]];
          p[1] = table[base + weight_[g]];
          p[2] = table[base + weight_[r]];
        }
        break;
      }
      case TKind::MixClamped:
        for (int x = 0; x < width; ++x, p += 3) {
          const uint8_t b = p[0], g = p[1], r = p[2];
          const int32_t base = grey_[b + g + r];
          p[0] = levels_[ClampLevel(base + weight_[b])];
          p[1] = levels_[ClampLevel(base + weight_[g])];
          p[2] = levels_[ClampLevel(base + weight_[r])];
        }
        break;
    }
  }
}

void TColourSteps::Apply(media::TBitmap& frame) const {
  if (kind_ == TKind::None || frame.Empty()) return;
  media::ForEachRowBand(frame.Height(), 64, 1,
                        [&](int first, int count) { ApplyToRows(frame, first, count); });
}

void ApplyExposure(media::TBitmap& frame, float exposure) {
  TColourSteps::Exposure(exposure).Apply(frame);
}

void ApplyColorAdjust(media::TBitmap& frame, int brightness, int contrast, int saturation) {
  TColourSteps::Adjust(brightness, contrast, saturation).Apply(frame);
}

void BlendImageMark(media::TBitmap& frame, const media::TBitmap& overlay, int x, int y, int alpha,
                    int style) {
  if (frame.Empty() || overlay.Empty()) return;
  // Cut at the right and bottom edges: the whole overlay when it ends inside the frame,
  // otherwise up to the edge. A part left of or above the frame is cut as well.
  const int64_t fw = frame.Width(), fh = frame.Height();
  const int64_t ow = overlay.Width(), oh = overlay.Height();
  const int64_t rows = y + oh < fh ? oh : fh - y;
  const int64_t cols = x + ow < fw ? ow : fw - x;
  const int64_t firstRow = std::max<int64_t>(0, -static_cast<int64_t>(y));
  const int64_t firstCol = std::max<int64_t>(0, -static_cast<int64_t>(x));
  if (rows <= firstRow || cols <= firstCol) return;
  const size_t count = static_cast<size_t>(cols - firstCol) * 3;

  if (style == 1) {
    const int a = std::clamp(alpha, 0, 255);
    const int keep = 256 - a;
    for (int64_t row = firstRow; row < rows; ++row) {
      const uint8_t* s = overlay.ScanLine(static_cast<int>(row)) + firstCol * 3;
      uint8_t* d = frame.ScanLine(static_cast<int>(y + row)) + (x + firstCol) * 3;
      for (size_t i = 0; i < count; ++i) d[i] = static_cast<uint8_t>((keep * d[i] + a * s[i]) >> 8);
    }
  } else {
    for (int64_t row = firstRow; row < rows; ++row) {
      const uint8_t* s = overlay.ScanLine(static_cast<int>(row)) + firstCol * 3;
      uint8_t* d = frame.ScanLine(static_cast<int>(y + row)) + (x + firstCol) * 3;
      for (size_t i = 0; i < count; ++i) d[i] = static_cast<uint8_t>(d[i] * s[i] / 255);
    }
  }
}

void DrawTextMark(media::TBitmap& frame, const std::string& text, const TextFont& font, int x,
                  int y) {
  if (text.empty()) return;
  DrawTextOnBitmap(frame, text, font, x, y);
}

bool ColourStepsComeFirst(const FrameEffectSettings& settings) {
  return !settings.ProcessText && !settings.ProcessImage && !TColourSteps(settings).Empty();
}

void ApplyFrameEffects(media::TBitmap& frame, const FrameEffectSettings& settings,
                       bool colourStepsDone) {
  // Everything that can fail happens before the first step, so a failing frame stays as it was.
  std::shared_ptr<const media::TBitmap> overlay;
  if (!settings.MarkImageFile.empty()) overlay = OverlayCache::Shared().Get(settings.MarkImageFile);
  if (!settings.MarkText.empty()) EnsureGuiApplication();

  const auto colourSteps = [&] {
    if (!colourStepsDone) TColourSteps(settings).Apply(frame);
  };
  const auto textStep = [&] {
    DrawTextMark(frame, settings.MarkText, settings.MarkFont, settings.TextX, settings.TextY);
  };
  const auto imageStep = [&] {
    if (overlay)
      BlendImageMark(frame, *overlay, settings.ImageX, settings.ImageY, settings.ImageAlpha,
                     settings.ImageStyle);
  };

  // A mark whose process flag is set is drawn before the colour steps and changed by them; one
  // whose flag is clear is drawn after them and keeps its colours.
  if (settings.ProcessText && !settings.ProcessImage) {
    textStep();
    colourSteps();
    imageStep();
  } else if (!settings.ProcessText && settings.ProcessImage) {
    imageStep();
    colourSteps();
    textStep();
  } else if (settings.ProcessText && settings.ProcessImage) {
    textStep();
    imageStep();
    colourSteps();
  } else {
    colourSteps();
    textStep();
    imageStep();
  }
}

std::optional<media::TPictureArea> MarkArea(const FrameEffectSettings& settings, int width,
                                            int height) {
  if (settings.Brightness != 255 || settings.Contrast != 0 || settings.Saturation != 255 ||
      settings.Exposure != 0)
    return std::nullopt;
  return MarksArea(settings, width, height);
}

std::optional<media::TPictureArea> MarksArea(const FrameEffectSettings& settings, int width,
                                             int height) {
  int left = width, top = height, right = 0, bottom = 0;
  const auto add = [&](int x, int y, int w, int h) {
    if (w <= 0 || h <= 0) return;
    left = std::min(left, std::max(0, x));
    top = std::min(top, std::max(0, y));
    right = std::max(right, static_cast<int>(std::min<int64_t>(width, int64_t{x} + w)));
    bottom = std::max(bottom, static_cast<int>(std::min<int64_t>(height, int64_t{y} + h)));
  };
  if (!settings.MarkText.empty()) {
    const media::TPictureArea text =
        TextArea(settings.MarkText, settings.MarkFont, settings.TextX, settings.TextY);
    add(text.x, text.y, text.width, text.height);
  }
  if (!settings.MarkImageFile.empty()) {
    std::shared_ptr<const media::TBitmap> overlay;
    try {
      overlay = OverlayCache::Shared().Get(settings.MarkImageFile);
    } catch (const std::exception&) {
      return std::nullopt;
    }
    add(settings.ImageX, settings.ImageY, overlay->Width(), overlay->Height());
  }
  if (right <= left || bottom <= top) return media::TPictureArea{};
  return media::TPictureArea{left, top, right - left, bottom - top};
}

}  // namespace effects
