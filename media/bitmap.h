// TBitmap: the 24-bit picture that engine hooks, previews, player hooks and snapshots exchange.
// Pixels are B, G, R bytes; rows are stored top row first, each padded to a multiple of 4 bytes;
// the memory is one block (Bits) that pixel algorithms work on directly. A recursive canvas lock
// serialises the threads that draw on it. Writes and reads uncompressed 24-bit BMP files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace media {

// A part of a bitmap or picture, in pixels.
struct TPictureArea {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const TPictureArea&) const = default;
};

class TBitmap {
 public:
  TBitmap() = default;
  // Throws std::invalid_argument for a negative size.
  TBitmap(int width, int height);
  // Copies size and pixels (under the source's lock); the copy has its own canvas lock.
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);

  // Bytes of one stored row: width * 3 rounded up to a multiple of 4.
  static int StrideFor(int width) { return (width * 3 + 3) & ~3; }

  // Changes the size; a new size makes every pixel black, the same size keeps the pixels.
  // Throws std::invalid_argument for a negative size.
  void SetSize(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return StrideFor(width_); }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Stride() * Height().
  size_t ByteSize() const { return pixels_.size(); }

  // The first byte of row (0 = top); row must be within 0 .. Height()-1.
  uint8_t* ScanLine(int row) { return pixels_.data() + static_cast<size_t>(row) * Stride(); }
  const uint8_t* ScanLine(int row) const {
    return pixels_.data() + static_cast<size_t>(row) * Stride();
  }
  // All rows, top row first; null when the bitmap is empty.
  uint8_t* Bits() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  // The canvas lock (recursive). The lower-case names make the bitmap usable with std::lock_guard.
  void Lock() const { lock_.lock(); }
  bool TryLock() const { return lock_.try_lock(); }
  void Unlock() const { lock_.unlock(); }
  void lock() const { Lock(); }
  bool try_lock() const { return TryLock(); }
  void unlock() const { Unlock(); }

  // Writes a BMP file: 54-byte header, 24 bits per pixel, uncompressed, rows bottom-up.
  // False when the bitmap is empty or the file cannot be written completely.
  bool SaveToBMP(const std::string& path) const;
  // Reads an uncompressed 24-bit BMP (bottom-up or top-down rows); false for anything else,
  // leaving the bitmap unchanged.
  bool LoadFromBMP(const std::string& path);

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;
  mutable std::recursive_mutex lock_;
};

}  // namespace media
