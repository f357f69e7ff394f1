// The encoder names the parameter panel shows, mapped to the engine's encoder names ("h264" →
// "libx264", "mp3" → "libmp3lame", ...). Entries are compared without regard to case; an entry
// that is not in a table maps to nothing, and the stored value is then left as it was.
#pragma once

#include <optional>
#include <string>

namespace profiles {

std::optional<std::string> MapVideoEncoder(const std::string& entry);
std::optional<std::string> MapAudioEncoder(const std::string& entry);

}  // namespace profiles
