#include "player/waveform.h"

#include <cstddef>
#include <cstring>

namespace player {
namespace {

int Wrap(int i) {
  i %= kSampleRingSize;
  return i < 0 ? i + kSampleRingSize : i;
}

void White(uint8_t* bgr, int stride, int x, int y) {
  uint8_t* p = bgr + static_cast<ptrdiff_t>(y) * stride + x * 3;
  p[0] = p[1] = p[2] = 255;
}

}  // namespace

int WaveformStart(const int16_t* ring, int writeIndex, int delay, int channels, int width) {
  if (channels < 1) channels = 1;
  delay += 2 * width;
  if (delay < width) delay = width;
  int start = Wrap(writeIndex - delay * channels);
  int best = start;
  int bestScore = -1 << 30;
  for (int i = 0; i < 1000; i += channels) {
    const int idx = Wrap(start - i);
    const int a = ring[idx];
    const int b = ring[Wrap(idx + 4 * channels)];
    const int c = ring[Wrap(idx + 5 * channels)];
    const int d = ring[Wrap(idx + 9 * channels)];
    const int score = a - d;
    if (b * c < 0 && score > bestScore) {
      bestScore = score;
      best = idx;
    }
  }
  return best;
}

void DrawWaveform(const int16_t* ring, int start, int channels, uint8_t* bgr, int stride, int width,
                  int height) {
  for (int y = 0; y < height; ++y) std::memset(bgr + static_cast<ptrdiff_t>(y) * stride, 0, width * 3);
  if (channels < 1 || width <= 0 || height <= 0) return;
  const int band = height / channels;
  for (int ch = 0; ch < channels; ++ch) {
    const int centre = ch * band + band / 2;
    int idx = Wrap(start + ch);
    for (int x = 0; x < width; ++x) {
      const int magnitude = (ring[idx] * (band * 9 / 20)) >> 15;
      const int from = magnitude >= 0 ? centre : centre + magnitude;
      const int to = magnitude >= 0 ? centre + magnitude : centre;
      for (int y = from; y < to; ++y)
        if (y >= 0 && y < height) White(bgr, stride, x, y);
      idx = Wrap(idx + channels);
    }
  }
  for (int ch = 1; ch < channels; ++ch) {
    const int y = ch * band;
    if (y < height)
      for (int x = 0; x < width; ++x) White(bgr, stride, x, y);
  }
}

}  // namespace player
