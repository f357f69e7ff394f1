// Watermark image files: reading a BMP file as a 24-bit bitmap, and a small thread-safe cache of
// decoded files so that a conversion does not read and decode the file for every frame. A cached
// picture is used only while the file's identity, size and modification and change times are
// those it was read with, so the result is the same as reading the file every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "media/bitmap.h"

namespace effects {

// Reads a BMP file as a 24-bit bitmap. Uncompressed 24-bit files are read as they are; every
// other BMP form (1, 4 and 8 bits with a palette, RLE, 16 and 32 bits) is converted, and an
// alpha channel is dropped. Throws std::runtime_error "Cannot load watermark image <path>" when
// the file cannot be read or is not a BMP picture.
media::TBitmap LoadOverlayImage(const std::string& path);

class OverlayCache {
 public:
  explicit OverlayCache(size_t capacity = 4) : capacity_(capacity ? capacity : 1) {}

  // The decoded picture of the file as it is now: the cached one when the file has not changed
  // since it was read, otherwise a fresh LoadOverlayImage (which may throw). The picture is
  // shared and never changed; it stays valid while the caller holds it.
  std::shared_ptr<const media::TBitmap> Get(const std::string& path);
  void Clear();

  // The cache ApplyFrameEffects uses, shared by every thread of the process.
  static OverlayCache& Shared();

 private:
  // What says that a file is still the one that was read.
  struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  struct Entry {
    std::string path;
    FileStamp stamp;
    std::shared_ptr<const media::TBitmap> picture;
  };
  static bool Stat(const std::string& path, FileStamp& stamp);

  const size_t capacity_;
  std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
};

}  // namespace effects
