// Where a picture goes on the surface: the aspect ratio rules (a forced ratio, the picture's own,
// or filling the surface) and the centred rectangle of that ratio. Pure functions.
#pragma once

#include "player/displaysurface.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace player {

// The display aspect ratio to draw with. setting > 0 forces it; setting < 0 fills the surface
// (surface width / height) when the surface has a size; otherwise the picture's own: its sample
// aspect ratio (1 when unknown or not positive) x width / height.
double DisplayAspect(float setting, int surfaceWidth, int surfaceHeight, int pictureWidth,
                     int pictureHeight, AVRational sampleAspect);

// The largest rectangle of the aspect ratio inside the surface, with even width and height,
// centred (integer halves of the spare room).
TRect DisplayRect(int surfaceWidth, int surfaceHeight, double aspect);

}  // namespace player
