#include "media/pictureconverter.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "media/ffapi.h"
#include "media/parallelrows.h"
#include "media/yuv420rows.h"
#include "media/yuv420tobgr.h"

namespace media {
namespace {

constexpr int kAlign = 32;     // line alignment of the RGB buffer, good for the scaler's SIMD code
constexpr int kSlack = 64;     // spare bytes after the buffer for scalers writing whole vectors

void FreeScaler(SwsContext*& ctx) {
  if (ctx && ff::sws_freeContext) ff::sws_freeContext(ctx);
  ctx = nullptr;
}

// ---- The direct path for planar 4:2:0 pictures ----
// Read (yuv420tobgr.h) and written back (yuv420rows.h) with the standard-definition colour matrix
// at video levels, the matrix the scaler applies to these pictures when they name none.

bool DirectPath(AVPixelFormat format, int width, int height) {
  return format == AV_PIX_FMT_YUV420P && width % 2 == 0 && height % 2 == 0;
}

// The area grown to even edges and cut to the picture; the whole picture without one.
TPictureArea EvenArea(const TPictureArea* area, int width, int height) {
  if (!area) return {0, 0, width, height};
  const int left = std::max(0, area->x) & ~1;
  const int top = std::max(0, area->y) & ~1;
  const int right = std::min(width, (area->x + area->width + 1) & ~1);
  const int bottom = std::min(height, (area->y + area->height + 1) & ~1);
  if (right <= left || bottom <= top) return {0, 0, 0, 0};
  return {left, top, right - left, bottom - top};
}

// Rows are handled in pairs (one chroma row each); bands of at least this many rows are worth a
// helper thread.
constexpr int kMinBandRows = 64;
// Rows converted at a time before a rows pass runs over them (even, for the chroma rows).
constexpr int kSliceRows = 16;

// Rows first .. end-1 (even) of the area's columns, in the calling thread.
void RowsToYuv420(const TBitmap& bitmap, uint8_t* const data[4], const int linesize[4],
                  const TPictureArea& a, int first, int end) {
  const TRowPairToYuv420 rowPair = RowPairToYuv420();
  for (int row = first; row < end; row += 2) {
    uint8_t* y0 = data[0] + static_cast<ptrdiff_t>(row) * linesize[0] + a.x;
    rowPair(bitmap.ScanLine(row) + a.x * 3, bitmap.ScanLine(row + 1) + a.x * 3, y0,
            y0 + linesize[0], data[1] + static_cast<ptrdiff_t>(row / 2) * linesize[1] + a.x / 2,
            data[2] + static_cast<ptrdiff_t>(row / 2) * linesize[2] + a.x / 2, a.width / 2);
  }
}

void BitmapToYuv420(const TBitmap& bitmap, uint8_t* const data[4], const int linesize[4],
                    const TPictureArea& a) {
  ForEachRowBand(a.height, kMinBandRows, 2, [&](int first, int count) {
    RowsToYuv420(bitmap, data, linesize, a, a.y + first, a.y + first + count);
  });
}

// The rows of first .. end-1 (even) outside the kept rows, written back early.
void WriteEarly(const TBitmap& bitmap, const TEarlyWriteBack& early, int first, int end) {
  const TPictureArea all{0, 0, bitmap.Width(), bitmap.Height()};
  const int keepFirst = early.keepFirst & ~1, keepEnd = (early.keepEnd + 1) & ~1;
  if (keepEnd <= keepFirst) {
    RowsToYuv420(bitmap, early.data, early.linesize, all, first, end);
    return;
  }
  RowsToYuv420(bitmap, early.data, early.linesize, all, first, std::min(end, keepFirst));
  RowsToYuv420(bitmap, early.data, early.linesize, all, std::max(first, keepEnd), end);
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
                     const int linesize[4], AVPixelFormat format, int height, int width,
                     const TPictureArea* area, const TBitmapRowsPass* pass,
                     TEarlyWriteBack* early) {
  if (width <= 0 || height <= 0) return false;
  if (!converter.bitmap_) converter.bitmap_ = std::make_unique<TBitmap>();
  TBitmap& bitmap = *converter.bitmap_;
  std::lock_guard canvas(bitmap);
  bitmap.SetSize(width, height);
  // A part of a planar 4:2:0 picture converts as a picture of its own: its planes start at the
  // part's corner (even, so the chroma samples are the part's own).
  TPictureArea part{0, 0, width, height};
  const uint8_t* planes[4] = {data[0], data[1], data[2], data[3]};
  if (area && DirectPath(format, width, height)) {
    part = EvenArea(area, width, height);
    if (part.width == 0) return true;
    planes[0] += static_cast<ptrdiff_t>(part.y) * linesize[0] + part.x;
    for (int p = 1; p <= 2; ++p)
      planes[p] += static_cast<ptrdiff_t>(part.y / 2) * linesize[p] + part.x / 2;
  }
  // The pass over every row, for the paths that convert the whole picture in one go (they never
  // write back early).
  const auto passOver = [&] {
    if (pass && *pass)
      ForEachRowBand(height, kMinBandRows, 1,
                     [&](int first, int count) { (*pass)(bitmap, first, count); });
    return true;
  };
  if (format == TPictureConverter::kTargetFormat && width % 2 == 0 && height % 2 == 0 &&
      linesize[0] == bitmap.Stride()) {
    std::memcpy(bitmap.Bits(), data[0], bitmap.ByteSize());
    return passOver();
  }
  // A planar 4:2:0 picture of even size (or its part) goes straight into the bitmap through the
  // row kernels, two rows at a time, in row bands of even height over the cores. A band is
  // converted in slices of a few rows, top to bottom, each passed (and written back early) at
  // once while it is still in the cache.
  if (DirectPath(format, width, height)) {
    const bool writeEarly = early && part.width == width && part.height == height;
    const TYuv420ToRowPair rowPair = Yuv420ToRowPair();
    const int sliceRows = (pass && *pass) || writeEarly ? kSliceRows : part.height;
    ForEachRowBand(part.height, kMinBandRows, 2, [&](int first, int count) {
      for (int y = 0; y < count; y += sliceRows) {
        const int top = first + y, end = top + std::min(sliceRows, count - y);
        for (int row = top; row < end; row += 2) {
          const uint8_t* luma = planes[0] + static_cast<ptrdiff_t>(row) * linesize[0];
          rowPair(luma, luma + linesize[0],
                  planes[1] + static_cast<ptrdiff_t>(row / 2) * linesize[1],
                  planes[2] + static_cast<ptrdiff_t>(row / 2) * linesize[2],
                  bitmap.ScanLine(part.y + row) + part.x * 3,
                  bitmap.ScanLine(part.y + row + 1) + part.x * 3, part.width / 2);
        }
        if (pass && *pass) (*pass)(bitmap, part.y + top, end - top);
        if (writeEarly) WriteEarly(bitmap, *early, top, end);
      }
    });
    if (writeEarly) early->Written = true;
    return true;
  }
  // Everything else (other formats, odd sizes: always the whole picture) goes through the cached
  // scaler and the buffer.
  converter.toRGB_ = ff::sws_getCachedContext(converter.toRGB_, width, height, format, width,
                                              height, TPictureConverter::kTargetFormat,
                                              SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!converter.toRGB_) return false;
  if (!converter.PrepareRGB(width, height)) return false;
  if (ff::sws_scale(converter.toRGB_, data, linesize, 0, height, converter.rgbData_,
                    converter.rgbLinesize_) <= 0)
    return false;
  for (int row = 0; row < height; ++row)
    std::memcpy(bitmap.ScanLine(row),
                converter.rgbData_[0] + static_cast<size_t>(row) * converter.rgbLinesize_[0],
                static_cast<size_t>(width) * 3);
  return passOver();
}

bool BitmapToPicture(TPictureConverter& converter, uint8_t* const data[4], const int linesize[4],
                     AVPixelFormat format, int height, int width, const TPictureArea* area) {
  if (!converter.bitmap_) return false;
  const TBitmap& bitmap = *converter.bitmap_;
  std::lock_guard canvas(bitmap);
  if (bitmap.Empty() || bitmap.Width() != width || bitmap.Height() != height) return false;
  if (DirectPath(format, width, height)) {
    BitmapToYuv420(bitmap, data, linesize, EvenArea(area, width, height));
    return true;
  }
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

bool BitmapWritesWholePicture(AVPixelFormat format, int height, int width,
                              const TPictureArea* area) {
  if (!area || !DirectPath(format, width, height)) return true;
  const TPictureArea part = EvenArea(area, width, height);
  return part.x == 0 && part.y == 0 && part.width == width && part.height == height;
}

}  // namespace media
