#include "media/bitmap.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace media {
namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kHeaderSize = kFileHeaderSize + kInfoHeaderSize;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = v & 0xff;
  p[1] = (v >> 8) & 0xff;
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xffff);
  Put16(p + 2, v >> 16);
}
uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

}  // namespace

TBitmap::TBitmap(int width, int height) { SetSize(width, height); }

TBitmap::TBitmap(const TBitmap& other) {
  std::lock_guard guard(other);
  width_ = other.width_;
  height_ = other.height_;
  pixels_ = other.pixels_;
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this != &other) {
    std::scoped_lock guard(lock_, other.lock_);
    width_ = other.width_;
    height_ = other.height_;
    pixels_ = other.pixels_;
  }
  return *this;
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("TBitmap: negative size");
  std::lock_guard guard(lock_);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<size_t>(StrideFor(width)) * height, 0);
}

bool TBitmap::SaveToBMP(const std::string& path) const {
  std::lock_guard guard(lock_);
  if (Empty()) return false;
  const uint32_t imageSize = static_cast<uint32_t>(pixels_.size());
  uint8_t header[kHeaderSize] = {'B', 'M'};
  Put32(header + 2, kHeaderSize + imageSize);  // file size; 4..9 reserved
  Put32(header + 10, kHeaderSize);              // offset of the pixels
  uint8_t* info = header + kFileHeaderSize;
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, width_);
  Put32(info + 8, height_);  // positive: rows bottom-up
  Put16(info + 12, 1);       // planes
  Put16(info + 14, 24);      // bits per pixel
  Put32(info + 16, 0);       // uncompressed
  Put32(info + 20, imageSize);
  // resolution, palette size and important colours stay 0
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  for (int row = height_ - 1; row >= 0 && out; --row)
    out.write(reinterpret_cast<const char*>(ScanLine(row)), Stride());
  out.close();
  return static_cast<bool>(out);
}

bool TBitmap::LoadFromBMP(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t header[kHeaderSize];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  const uint8_t* info = header + kFileHeaderSize;
  const uint32_t offset = Get32(header + 10);
  const int32_t width = static_cast<int32_t>(Get32(info + 4));
  const int32_t rawHeight = static_cast<int32_t>(Get32(info + 8));
  if (header[0] != 'B' || header[1] != 'M' || Get32(info) < kInfoHeaderSize || width <= 0 ||
      rawHeight == 0 || rawHeight == INT32_MIN || Get16(info + 12) != 1 ||
      Get16(info + 14) != 24 || Get32(info + 16) != 0 || offset < kHeaderSize ||
      width > (1 << 20) || rawHeight > (1 << 20) || rawHeight < -(1 << 20))
    return false;
  const bool bottomUp = rawHeight > 0;
  const int height = bottomUp ? rawHeight : -rawHeight;
  std::vector<uint8_t> pixels(static_cast<size_t>(StrideFor(width)) * height);
  if (!in.seekg(offset) || !in.read(reinterpret_cast<char*>(pixels.data()), pixels.size()))
    return false;
  std::lock_guard guard(lock_);
  width_ = width;
  height_ = height;
  if (bottomUp) {
    pixels_.resize(pixels.size());
    const size_t stride = StrideFor(width);
    for (int row = 0; row < height; ++row)
      std::memcpy(ScanLine(row), pixels.data() + (height - 1 - row) * stride, stride);
  } else {
    pixels_ = std::move(pixels);
  }
  return true;
}

}  // namespace media
