// The shape a video stream's pictures are meant to be seen in: the stored picture turned upright
// by the stream's display rotation and stretched by its sample aspect. This is the one place that
// decides a source's display shape: the probe reports it, the job builder fits the zoom geometries
// to it, the engine turns the decoded pictures upright by it.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVStream;

namespace media {

struct TPictureShape {
  int Width = 0, Height = 0;         // the stored picture, in pixels
  AVRational SampleAspect = {1, 1};  // of the stored picture's pixels; 1:1 when none is known
  int Rotation = 0;                  // clockwise degrees that show it upright: 0, 90, 180 or 270

  // A quarter or three-quarter turn: the upright picture has its sides swapped.
  bool SidesSwapped() const { return Rotation == 90 || Rotation == 270; }
  // The picture turned upright, in pixels: what the engine hands to the hook, crop and zoom.
  int UprightWidth() const { return SidesSwapped() ? Height : Width; }
  int UprightHeight() const { return SidesSwapped() ? Width : Height; }
  // The upright picture's sample aspect (the stored one inverted when the sides are swapped).
  AVRational UprightSampleAspect() const;
  // The size the picture is seen at: the stored width stretched by the sample aspect (to the
  // nearest even number when the pixels are not square, as encoders of 4:2:0 pictures need),
  // then the sides swapped for 90 and 270 degrees. Square pixels keep the stored size exactly.
  int DisplayWidth() const;
  int DisplayHeight() const;
  // The upright picture's display aspect, width / height, unrounded; 0 for an empty picture.
  double DisplayAspect() const;
};

// The clockwise turn a display matrix asks for, to the nearest quarter turn: 0, 90, 180 or 270.
// The matrix's rotation is counted counter-clockwise (av_display_rotation_get); a phone's portrait
// clip (ffprobe: "rotation of -90.00 degrees") gives 90. A mirroring matrix counts by its
// rotation alone. Null or degenerate matrices give 0. Needs libavutil bound.
int RotationOfDisplayMatrix(const int32_t* matrix);

// The shape of a video stream: its coded size, its sample aspect (the stream's own, else its
// codec's; 1:1 when neither is known or usable) and the rotation of its display matrix side data
// (0 without one). Needs libavformat and libavutil bound.
TPictureShape StreamPictureShape(const AVStream* stream);

}  // namespace media
