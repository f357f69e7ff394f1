// Row kernels that write 24-bit B, G, R rows into planar 4:2:0 samples, two picture rows (one
// chroma row) at a time: the standard-definition colour matrix at video levels (luma 16..235,
// chroma 16..240) in 8-bit fixed point, four luma samples per 2x2 block and the chroma of the
// block's mean. RowPairToYuv420 runs the fastest kernel the processor offers; every kernel gives
// exactly the samples of the portable one, for any count and any (unaligned) addresses.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace media {

// One pair of rows: `pairs` 2x2 blocks from in0 / in1 (6 bytes per block and row) into y0 / y1
// (2 samples per block) and u / v (1 sample per block). Nothing past the blocks is read or written.
using TRowPairToYuv420 = void (*)(const uint8_t* in0, const uint8_t* in1, uint8_t* y0,
                                  uint8_t* y1, uint8_t* u, uint8_t* v, int pairs);

// The portable kernel, plain C++ one block at a time.
void RowPairToYuv420Portable(const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1,
                             uint8_t* u, uint8_t* v, int pairs);

// The kernels this processor can run, named, the portable one first and the fastest last.
std::vector<std::pair<const char*, TRowPairToYuv420>> RowPairToYuv420Kernels();

// The kernel for this processor, chosen once: the widest vector kernel whose instructions the
// processor has (16, 32 or 64 pixels per step), the portable one otherwise.
TRowPairToYuv420 RowPairToYuv420();

}  // namespace media
