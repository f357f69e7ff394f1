// The built-in presets (named sets of libx264 encoder settings, one "name=value" per line) and
// the disc targets' norms with their frame rates. The preset texts use today's encoder option
// names, so every line is accepted by the generic option store and by the libx264 encoder.
#pragma once

#include <string>
#include <vector>

namespace engine {

// The text of a built-in preset, looked up by name ignoring letter case; nullptr when no built-in
// preset has that name.
const char* FindBuiltinPreset(const std::string& name);

// The names of the built-in presets, in table order.
const std::vector<std::string>& BuiltinPresetNames();

// The television norm of a disc target.
enum class TTargetNorm { PAL, NTSC, FILM };

// The frame rate of a norm as option text: "25", "30000/1001", "24000/1001".
const char* TargetFrameRate(TTargetNorm norm);

}  // namespace engine
