// Level tables applied to runs of bytes: every byte b becomes table[b]. The colour passes use
// this for the steps that change each channel on its own (brightness, contrast, the exposure
// curve). ApplyLevelTable runs the fastest kernel the processor offers; every kernel gives
// exactly the portable kernel's bytes, for any length and any (unaligned) address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace effects {

using TLevelTableKernel = void (*)(uint8_t* bytes, size_t count, const uint8_t table[256]);

// The portable kernel, one lookup per byte.
void ApplyLevelTablePortable(uint8_t* bytes, size_t count, const uint8_t table[256]);

// The kernels this processor can run, named, the portable one first and the fastest last.
std::vector<std::pair<const char*, TLevelTableKernel>> LevelTableKernels();

// Replaces bytes[0 .. count-1] by their table levels with the kernel chosen once for this
// processor.
void ApplyLevelTable(uint8_t* bytes, size_t count, const uint8_t table[256]);

}  // namespace effects
