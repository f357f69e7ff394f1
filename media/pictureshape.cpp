#include "media/pictureshape.h"

#include <cmath>

#include "media/ffapi.h"

namespace media {

namespace {

bool Square(AVRational sar) { return sar.num == sar.den; }

}  // namespace

AVRational TPictureShape::UprightSampleAspect() const {
  return SidesSwapped() ? AVRational{SampleAspect.den, SampleAspect.num} : SampleAspect;
}

int TPictureShape::DisplayWidth() const {
  if (SidesSwapped()) return Height;
  if (Square(SampleAspect)) return Width;
  return static_cast<int>(
             std::llround(double(Width) * SampleAspect.num / SampleAspect.den / 2)) *
         2;
}

int TPictureShape::DisplayHeight() const {
  if (!SidesSwapped()) return Height;
  // The stretched stored width, now upright.
  const TPictureShape unturned{Width, Height, SampleAspect, 0};
  return unturned.DisplayWidth();
}

double TPictureShape::DisplayAspect() const {
  if (Width <= 0 || Height <= 0) return 0;
  const double stored = double(Width) * SampleAspect.num / (double(Height) * SampleAspect.den);
  return SidesSwapped() ? 1 / stored : stored;
}

int RotationOfDisplayMatrix(const int32_t* matrix) {
  if (!matrix) return 0;
  const double counterClockwise = ff::av_display_rotation_get(matrix);
  if (!std::isfinite(counterClockwise)) return 0;
  const long quarters = std::lround(-counterClockwise / 90);
  return static_cast<int>(((quarters % 4) + 4) % 4) * 90;
}

TPictureShape StreamPictureShape(const AVStream* stream) {
  TPictureShape shape;
  const AVCodecParameters* par = stream->codecpar;
  shape.Width = par->width;
  shape.Height = par->height;
  const AVRational sar =
      stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : par->sample_aspect_ratio;
  if (sar.num > 0 && sar.den > 0) {
    int num = 1, den = 1;
    ff::av_reduce(&num, &den, sar.num, sar.den, INT32_MAX);
    shape.SampleAspect = {num, den};
  }
  size_t size = 0;
  const uint8_t* matrix = ff::av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix && size >= 9 * sizeof(int32_t))
    shape.Rotation = RotationOfDisplayMatrix(reinterpret_cast<const int32_t*>(matrix));
  return shape;
}

}  // namespace media
