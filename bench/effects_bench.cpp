// Speed of the frame effects called from one thread (the colour passes split their rows over the
// machine's cores): ApplyFrameEffects with brightness, contrast, saturation and exposure all
// active plus a text and a 200x100 image watermark on 1280x720 frames, then each step alone.
// Prints frames per second and milliseconds per frame; asserts nothing.
//   effects_bench [frames] [picture.bmp]   (default 300 frames; the picture: one processed frame)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

#include "effects/frameeffects.h"
#include "effects/overlaycache.h"

using media::TBitmap;

namespace {

// A frame with smooth gradients and some detail, like decoded video.
TBitmap TestFrame(int width, int height) {
  TBitmap frame(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* p = frame.ScanLine(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = uint8_t(x * 255 / width);
      p[1] = uint8_t(y * 255 / height);
      p[2] = uint8_t((x ^ y) & 0xff);
    }
  }
  return frame;
}

// Runs step on a fresh copy of the source frame each time; the copy is not timed.
void Measure(const char* name, const TBitmap& source, int frames,
             const std::function<void(TBitmap&)>& step) {
  TBitmap frame = source;
  for (int i = 0; i < 10; ++i) step(frame);  // warm-up: caches, fonts, the overlay file
  std::chrono::duration<double> total{0};
  for (int i = 0; i < frames; ++i) {
    frame = source;
    const auto start = std::chrono::steady_clock::now();
    step(frame);
    total += std::chrono::steady_clock::now() - start;
  }
  const double ms = total.count() * 1000.0 / frames;
  std::printf("%-34s %9.1f fps %8.3f ms/frame\n", name, 1000.0 / ms, ms);
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("effects_bench_" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(folder);
  const std::string overlayFile = folder + "/mark.bmp";
  TBitmap overlay(200, 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 600; ++x) overlay.ScanLine(y)[x] = uint8_t(255 - x / 3 - y);
  if (!overlay.SaveToBMP(overlayFile)) {
    std::fprintf(stderr, "cannot write %s\n", overlayFile.c_str());
    return 1;
  }

  effects::FrameEffectSettings s;
  s.Brightness = 300;
  s.Contrast = 30;
  s.Saturation = 320;
  s.Exposure = 40;
  s.MarkText = "Sample watermark 2024";
  s.MarkFont.Name = "DejaVu Sans";
  s.MarkFont.Size = 24;
  s.MarkFont.Bold = true;
  s.MarkFont.Color = 0x0000FFFF;  // yellow
  s.TextX = 40;
  s.TextY = 40;
  s.MarkImageFile = overlayFile;
  s.ImageX = 1040;
  s.ImageY = 580;
  s.ImageAlpha = 168;
  s.ImageStyle = 1;
  s.ProcessText = true;

  const TBitmap source = TestFrame(1280, 720);
  std::printf("1280x720, %d frames, called from one thread\n", frames);
  Measure("ApplyFrameEffects (all steps)", source, frames,
          [&](TBitmap& f) { effects::ApplyFrameEffects(f, s); });
  Measure("ApplyColorAdjust", source, frames, [&](TBitmap& f) {
    effects::ApplyColorAdjust(f, s.Brightness, s.Contrast, s.Saturation);
  });
  Measure("ApplyExposure", source, frames,
          [&](TBitmap& f) { effects::ApplyExposure(f, float(s.Exposure)); });
  Measure("DrawTextMark", source, frames, [&](TBitmap& f) {
    effects::DrawTextMark(f, s.MarkText, s.MarkFont, s.TextX, s.TextY);
  });
  Measure("image step (cached file + blend 1)", source, frames, [&](TBitmap& f) {
    effects::FrameEffectSettings only;
    only.MarkImageFile = s.MarkImageFile;
    only.ImageX = s.ImageX;
    only.ImageY = s.ImageY;
    only.ImageAlpha = s.ImageAlpha;
    effects::ApplyFrameEffects(f, only);
  });
  const TBitmap loaded = effects::LoadOverlayImage(overlayFile);
  Measure("BlendImageMark style 2", source, frames, [&](TBitmap& f) {
    effects::BlendImageMark(f, loaded, s.ImageX, s.ImageY, s.ImageAlpha, 2);
  });

  if (argc > 2) {
    TBitmap frame = source;
    effects::ApplyFrameEffects(frame, s);
    frame.SaveToBMP(argv[2]);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
