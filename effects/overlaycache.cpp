#include "effects/overlaycache.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace effects {
namespace {

[[noreturn]] void ThrowCannotLoad(const std::string& path) {
  throw std::runtime_error("Cannot load watermark image " + path);
}

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Qt's reader makes a picture of whatever part of the pixels a cut-off file holds; such a file
// is refused here instead. RLE files (whose size the header does not tell) are left to Qt.
bool PixelsComplete(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const auto fileSize = static_cast<uint64_t>(in.tellg());
  uint8_t header[30];
  if (!in.seekg(0) || !in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  const uint64_t offset = Le(header + 10, 4);
  const auto width = static_cast<int32_t>(Le(header + 18, 4));
  const auto height = static_cast<int32_t>(Le(header + 22, 4));
  const uint32_t bits = Le(header + 28, 2);
  if (Le(header + 14, 4) < 40) return true;  // old OS/2 header: no compression field
  uint8_t compression[4];
  if (!in.read(reinterpret_cast<char*>(compression), 4)) return false;
  const uint32_t method = Le(compression, 4);
  if (method != 0 && method != 3) return true;  // RLE and others
  if (bits == 24 && method == 0) return false;  // the plain form, already refused as incomplete
  const uint64_t stride = (static_cast<uint64_t>(std::max(width, 0)) * bits + 31) / 32 * 4;
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  return offset + stride * rows <= fileSize;
}

// Any BMP form through Qt's built-in BMP reader (never another format, whatever the content).
bool LoadOtherBmp(const std::string& path, media::TBitmap& bitmap) {
  if (!PixelsComplete(path)) return false;
  QImageReader reader(QString::fromStdString(path), "bmp");
  reader.setDecideFormatFromContent(false);
  QImage image = reader.read();
  if (image.isNull()) return false;
  // Converting to 24 bits drops the alpha byte; it is not used to blend against a background.
  if (image.format() == QImage::Format_ARGB32) image.reinterpretAsFormat(QImage::Format_RGB32);
  image = image.convertToFormat(QImage::Format_BGR888);
  if (image.isNull()) return false;
  bitmap.SetSize(image.width(), image.height());
  const size_t rowBytes = static_cast<size_t>(image.width()) * 3;
  for (int row = 0; row < image.height(); ++row)
    std::memcpy(bitmap.ScanLine(row), image.constScanLine(row), rowBytes);
  return true;
}

}  // namespace

media::TBitmap LoadOverlayImage(const std::string& path) {
  media::TBitmap bitmap;
  if (bitmap.LoadFromBMP(path) || LoadOtherBmp(path, bitmap)) {
    if (bitmap.Empty()) ThrowCannotLoad(path);
    return bitmap;
  }
  ThrowCannotLoad(path);
}

bool OverlayCache::Stat(const std::string& path, FileStamp& stamp) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

std::shared_ptr<const media::TBitmap> OverlayCache::Get(const std::string& path) {
  FileStamp before;
  if (!Stat(path, before)) ThrowCannotLoad(path);
  {
    std::lock_guard guard(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->path != path) continue;
      if (it->stamp == before) {
        entries_.splice(entries_.begin(), entries_, it);
        return it->picture;
      }
      entries_.erase(it);
      break;
    }
  }
  // Decoded outside the lock so that other threads' frames are not held up.
  auto picture = std::make_shared<const media::TBitmap>(LoadOverlayImage(path));
  // Kept only when the file did not change while it was read; otherwise the next frame reads it
  // again.
  FileStamp after;
  if (Stat(path, after) && after == before) {
    std::lock_guard guard(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->path == path) {
        entries_.erase(it);
        break;
      }
    }
    entries_.push_front(Entry{path, before, picture});
    if (entries_.size() > capacity_) entries_.pop_back();
  }
  return picture;
}

void OverlayCache::Clear() {
  std::lock_guard guard(mutex_);
  entries_.clear();
}

OverlayCache& OverlayCache::Shared() {
  static OverlayCache cache;
  return cache;
}

}  // namespace effects
