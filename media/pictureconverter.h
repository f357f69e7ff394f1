// TPictureConverter: turns decoded pictures of any pixel format into the 24-bit BGR TBitmap that
// hooks, previews and snapshots use, and writes a (changed) bitmap back into a picture. It owns
// the bitmap, a reusable aligned RGB buffer and its cached scaler contexts (bicubic), used for
// every format but planar 4:2:0 of even size. Those pictures (what decoders give nearly always)
// take a direct path both ways: the standard-definition colour matrix at video levels, as the
// scaler uses for them, through our own row kernels (yuv420tobgr.h, yuv420rows.h) in row bands
// over the machine's cores; they may be limited to a part of the picture the caller names, and a
// caller's rows pass runs on each band as it is converted. One converter belongs to one thread at
// a time; the bitmap's canvas lock is held while it is written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/bitmap.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace media {

// Work done on the bitmap's rows first .. first+count-1 right after PictureToBitmap has converted
// them, while they are fresh in the cache. Bands of one conversion may run at the same time in
// several threads: the function must touch only its own rows.
using TBitmapRowsPass = std::function<void(TBitmap& bitmap, int firstRow, int rowCount)>;
struct TEarlyWriteBack;

class TPictureConverter {
 public:
  // The bitmap's pixel format and its bits per pixel.
  static constexpr AVPixelFormat kTargetFormat = AV_PIX_FMT_BGR24;
  static constexpr int kBitmapBitsPerPixel = 24;

  TPictureConverter();
  ~TPictureConverter();
  TPictureConverter(const TPictureConverter&) = delete;
  TPictureConverter& operator=(const TPictureConverter&) = delete;

  // Frees the bitmap, the RGB buffer and both scalers.
  void Reset();
  // The bitmap of the last conversion; null before the first one and after Reset.
  TBitmap* Bitmap() const { return bitmap_.get(); }

 private:
  friend bool PictureToBitmap(TPictureConverter&, const uint8_t* const[4], const int[4],
                              AVPixelFormat, int, int, const TPictureArea*,
                              const TBitmapRowsPass*, TEarlyWriteBack*);
  friend bool BitmapToPicture(TPictureConverter&, uint8_t* const[4], const int[4], AVPixelFormat,
                              int, int, const TPictureArea*);
  struct BufferFree {
    void operator()(uint8_t* p) const;
  };
  // Lays an RGB picture of the size over the buffer, growing the buffer when needed.
  bool PrepareRGB(int width, int height);

  std::unique_ptr<TBitmap> bitmap_;
  std::unique_ptr<uint8_t, BufferFree> rgbBuffer_;
  int rgbBufferSize_ = 0;
  uint8_t* rgbData_[4] = {};
  int rgbLinesize_[4] = {};
  SwsContext* toRGB_ = nullptr;
  SwsContext* fromRGB_ = nullptr;
};

// A picture the bitmap will go back into, for writing rows back early: every converted row
// outside rows keepFirst .. keepEnd-1 (grown to even edges) is written into it as soon as the
// rows pass has run on it, and Written tells that this happened (a whole planar 4:2:0 picture of
// even size only; otherwise nothing is written early and Written stays false). The kept rows are
// then written with BitmapToPicture and the area of those rows across the whole width.
struct TEarlyWriteBack {
  uint8_t* const* data = nullptr;
  const int* linesize = nullptr;
  int keepFirst = 0, keepEnd = 0;
  bool Written = false;  // out
};

// Puts a picture (planes and line sizes as the library gives them) into the converter's bitmap,
// which is created on first use and takes the picture's size. A BGR24 picture with even sizes
// whose line size equals the bitmap's row size is copied directly; a planar 4:2:0 picture of even
// size goes through the row kernels (each chroma sample used for its 2x2 block), in row bands
// over the cores; everything else goes through the cached to-RGB scaler. With an area, at least
// that part of the picture is converted (the direct path converts it alone, grown to even edges,
// with the pixels it has in the whole picture); the rest of a bitmap of the same size keeps its
// pixels. With a pass, it runs once over every converted row (all of them, or the area's), band
// by band as they are converted. With early, rows are written back as TEarlyWriteBack says.
// False when no scaler can be made for the format and size.
bool PictureToBitmap(TPictureConverter& converter, const uint8_t* const data[4],
                     const int linesize[4], AVPixelFormat format, int height, int width,
                     const TPictureArea* area = nullptr, const TBitmapRowsPass* pass = nullptr,
                     TEarlyWriteBack* early = nullptr);

// Writes the converter's bitmap back into a picture of the bitmap's size in the given format:
// copied for BGR24, converted by the cached from-RGB scaler otherwise. False when there is no
// bitmap, its size differs from height x width, or no scaler can be made. With an area, at least
// that part is written (the direct path writes it alone, grown to even edges).
bool BitmapToPicture(TPictureConverter& converter, uint8_t* const data[4], const int linesize[4],
                     AVPixelFormat format, int height, int width,
                     const TPictureArea* area = nullptr);

// True when BitmapToPicture with these arguments writes every sample of the picture (everything
// but a part of a planar 4:2:0 picture): the picture's earlier content then does not matter.
bool BitmapWritesWholePicture(AVPixelFormat format, int height, int width,
                              const TPictureArea* area = nullptr);

}  // namespace media
