#include "media/pictureconverter.h"

#include <cstring>
#include <mutex>

#include "media/ffapi.h"

namespace media {
namespace {

constexpr int kAlign = 32;     // line alignment of the RGB buffer, good for the scaler's SIMD code
constexpr int kSlack = 64;     // spare bytes after the buffer for scalers writing whole vectors

void FreeScaler(SwsContext*& ctx) {
  if (ctx && ff::sws_freeContext) ff::sws_freeContext(ctx);
  ctx = nullptr;
}

}  // namespace

void TPictureConverter::BufferFree::operator()(uint8_t* p) const {
  if (ff::av_free) ff::av_free(p);
}

TPictureConverter::TPictureConverter() = default;

TPictureConverter::~TPictureConverter() { Reset(); }

void TPictureConverter::Reset() {
  bitmap_.reset();
  rgbBuffer_.reset();
  rgbBufferSize_ = 0;
  std::memset(rgbData_, 0, sizeof rgbData_);
  std::memset(rgbLinesize_, 0, sizeof rgbLinesize_);
  FreeScaler(toRGB_);
  FreeScaler(fromRGB_);
}

bool TPictureConverter::PrepareRGB(int width, int height) {
  const int size = ff::av_image_get_buffer_size(kTargetFormat, width, height, kAlign);
  if (size < 0) return false;
  if (size > rgbBufferSize_) {
    rgbBuffer_.reset(static_cast<uint8_t*>(ff::av_malloc(static_cast<size_t>(size) + kSlack)));
    rgbBufferSize_ = rgbBuffer_ ? size : 0;
    if (!rgbBuffer_) return false;
  }
  return ff::av_image_fill_arrays(rgbData_, rgbLinesize_, rgbBuffer_.get(), kTargetFormat, width,
                                  height, kAlign) >= 0;
}

bool PictureToBitmap(TPictureConverter& converter, const uint8_t* const data[4],
                     const int linesize[4], AVPixelFormat format, int height, int width) {
  if (width <= 0 || height <= 0) return false;
  if (!converter.bitmap_) converter.bitmap_ = std::make_unique<TBitmap>();
  TBitmap& bitmap = *converter.bitmap_;
  std::lock_guard canvas(bitmap);
  bitmap.SetSize(width, height);
  if (format == TPictureConverter::kTargetFormat && width % 2 == 0 && height % 2 == 0 &&
      linesize[0] == bitmap.Stride()) {
    std::memcpy(bitmap.Bits(), data[0], bitmap.ByteSize());
    return true;
  }
  if (!converter.PrepareRGB(width, height)) return false;
  converter.toRGB_ = ff::sws_getCachedContext(converter.toRGB_, width, height, format, width,
                                              height, TPictureConverter::kTargetFormat,
                                              SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!converter.toRGB_) return false;
  if (ff::sws_scale(converter.toRGB_, data, linesize, 0, height, converter.rgbData_,
                    converter.rgbLinesize_) <= 0)
    return false;
  for (int row = 0; row < height; ++row)
    std::memcpy(bitmap.ScanLine(row),
                converter.rgbData_[0] + static_cast<size_t>(row) * converter.rgbLinesize_[0],
                static_cast<size_t>(width) * 3);
  return true;
}

bool BitmapToPicture(TPictureConverter& converter, uint8_t* const data[4], const int linesize[4],
                     AVPixelFormat format, int height, int width) {
  if (!converter.bitmap_) return false;
  const TBitmap& bitmap = *converter.bitmap_;
  std::lock_guard canvas(bitmap);
  if (bitmap.Empty() || bitmap.Width() != width || bitmap.Height() != height) return false;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  if (format == TPictureConverter::kTargetFormat) {
    for (int row = 0; row < height; ++row)
      std::memcpy(data[0] + static_cast<ptrdiff_t>(row) * linesize[0], bitmap.ScanLine(row),
                  rowBytes);
    return true;
  }
  if (!converter.PrepareRGB(width, height)) return false;
  for (int row = 0; row < height; ++row)
    std::memcpy(converter.rgbData_[0] + static_cast<size_t>(row) * converter.rgbLinesize_[0],
                bitmap.ScanLine(row), rowBytes);
  converter.fromRGB_ = ff::sws_getCachedContext(converter.fromRGB_, width, height,
                                                TPictureConverter::kTargetFormat, width, height,
                                                format, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!converter.fromRGB_) return false;
  return ff::sws_scale(converter.fromRGB_, converter.rgbData_, converter.rgbLinesize_, 0, height,
                       data, linesize) > 0;
}

}  // namespace media
