// TSourceFacts: what a batch needs to know of a source to build its job and to check its output,
// taken from a probe of the file, together with the identity of the file probed (device, inode,
// size, modification time). The file list keeps the facts of each row from the probe made when the
// row was added; Start uses them while the file is still that file, and probes again otherwise
// (so a file changed or deleted since it was added is found, with the probe's own message).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "media/avprobe.h"

namespace batch {

// Which file a path names, and its state. Equal identities: the same, unchanged file.
struct TFileIdentity {
  uint64_t Device = 0, Inode = 0;
  int64_t Size = -1;
  int64_t ModifiedNs = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// The path's identity now; nothing when the file cannot be examined (missing, unreadable folder).
std::optional<TFileIdentity> IdentityOf(const std::string& path);

struct TSourceFacts {
  TFileIdentity Identity;       // of the file the row's source path names
  std::string InputFormatName;  // the demuxer that read it
  int VideoStreams = 0, AudioStreams = 0;
  // The container tells its length only from the times at its ends or guessed from the bit rate:
  // stream lengths are not to be trusted.
  bool LengthUnreliable = false;
  int64_t FileStart = -1, FileDuration = -1;  // µs; -1 unknown
  // The first video stream: the upright picture, the displayed size, the bit rate and its place.
  int UprightWidth = 0, UprightHeight = 0, DisplayWidth = 0, DisplayHeight = 0;
  int64_t VideoBitRate = 0;
  int64_t VideoStart = -1, VideoDuration = -1;
  // The first audio stream's place.
  int64_t AudioStart = -1, AudioDuration = -1;
};

// The facts of the file the probe has open, with the identity the file had before it was opened.
TSourceFacts FactsOf(media::TAVProbe& probe, const TFileIdentity& identity);

}  // namespace batch
