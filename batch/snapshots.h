// Snapshot files: the latest full-size and small picture of a frame saved as
// "Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg" and "Snapshot_small.jpg" in the
// stored snapshot folder, each kind only when the settings ask for it. Every file is written under
// a temporary name beside its final one and renamed over it when complete, so an earlier snapshot
// is replaced whole and a failed write never leaves half a picture under a snapshot's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/bitmap.h"

namespace batch {

inline constexpr char kSnapshotFullBmp[] = "Snapshot_full.bmp";
inline constexpr char kSnapshotSmallBmp[] = "Snapshot_small.bmp";
inline constexpr char kSnapshotFullJpg[] = "Snapshot_full.jpg";
inline constexpr char kSnapshotSmallJpg[] = "Snapshot_small.jpg";

// What one snapshot wrote.
struct TSnapshotFiles {
  std::string Folder;                // the folder the files went to; "" when nothing was tried
  std::vector<std::string> Written;  // full paths of the files written, in the order above
  std::string Error;                 // "" when every file asked for was written; else why not
};

// Saves `full` (the frame at its own size) and `small` (the picture as a window shows it) by the
// settings file's snapshot keys. The folder is "SnapOutPutDir", created when missing; one that
// cannot be created is replaced by the default output folder, with a warning, and that folder is
// stored (UsableFolder). A kind is written only when both of its flags are exactly 1:
// "snapFullSize"/"snapSmallSize" choose the pictures, "snapBmp"/"snapJpg" the formats. JPEG files
// use the quality "jpgCmp", limited to 1…100. An empty `full` writes nothing (no frame yet); an
// empty `small` skips the small files. A file that cannot be written is named in Error with the
// system's reason, and the others are still written.
TSnapshotFiles WriteSnapshots(const std::string& settingsFile, const media::TBitmap& full,
                              const media::TBitmap& small);

// The bitmap as a baseline JPEG file's bytes at `quality` (1…100). False, with the reason in
// `error`, when the encoder fails or the bitmap is empty.
bool EncodeJpeg(const media::TBitmap& bitmap, int quality, std::vector<uint8_t>& out,
                std::string& error);

}  // namespace batch
