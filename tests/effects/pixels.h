// Small helpers of the frame effect tests: pixels as B, G, R triples, filled frames, and reading
// a frame back without its row padding.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "media/bitmap.h"

namespace effectstest {

struct Px {
  uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Px&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Px& p) {
  return out << "(b " << int(p.b) << ", g " << int(p.g) << ", r " << int(p.r) << ")";
}

constexpr Px Grey(int level) { return Px{uint8_t(level), uint8_t(level), uint8_t(level)}; }

inline Px Get(const media::TBitmap& frame, int x, int y) {
  const uint8_t* p = frame.ScanLine(y) + x * 3;
  return Px{p[0], p[1], p[2]};
}

inline void Set(media::TBitmap& frame, int x, int y, Px px) {
  uint8_t* p = frame.ScanLine(y) + x * 3;
  p[0] = px.b;
  p[1] = px.g;
  p[2] = px.r;
}

inline media::TBitmap Filled(int width, int height, Px px) {
  media::TBitmap frame(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) Set(frame, x, y, px);
  return frame;
}

// The pixels, rows top first, without padding.
inline std::vector<uint8_t> Bytes(const media::TBitmap& frame) {
  std::vector<uint8_t> out;
  for (int y = 0; y < frame.Height(); ++y)
    out.insert(out.end(), frame.ScanLine(y), frame.ScanLine(y) + frame.Width() * 3);
  return out;
}

}  // namespace effectstest
