#include "player/displayrect.h"

#include <cmath>

namespace player {

double DisplayAspect(float setting, int surfaceWidth, int surfaceHeight, int pictureWidth,
                     int pictureHeight, AVRational sampleAspect) {
  const bool surfaceSized = surfaceWidth > 0 && surfaceHeight > 0;
  if (setting < 0 && surfaceSized) return double(surfaceWidth) / surfaceHeight;
  if (setting > 0) return setting;
  double sar = sampleAspect.num == 0 || sampleAspect.den == 0
                   ? 0.0
                   : double(sampleAspect.num) / sampleAspect.den;
  if (sar <= 0) sar = 1.0;
  if (pictureHeight <= 0 || pictureWidth <= 0) return surfaceSized ? 0.0 : 1.0;
  return sar * pictureWidth / pictureHeight;
}

TRect DisplayRect(int surfaceWidth, int surfaceHeight, double aspect) {
  TRect r;
  if (surfaceWidth <= 0 || surfaceHeight <= 0) return r;
  if (!(aspect > 0)) aspect = double(surfaceWidth) / surfaceHeight;
  int height = surfaceHeight;
  int width = static_cast<int>(std::lround(height * aspect)) & ~1;
  if (width > surfaceWidth) {
    width = surfaceWidth;
    height = static_cast<int>(std::lround(width / aspect)) & ~1;
  }
  r.width = width;
  r.height = height;
  r.left = (surfaceWidth - width) / 2;
  r.top = (surfaceHeight - height) / 2;
  return r;
}

}  // namespace player
