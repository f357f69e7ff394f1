// Row kernels that turn planar 4:2:0 samples into 24-bit B, G, R rows, two picture rows (one
// chroma row) at a time: the standard-definition colour matrix at video levels (luma 16..235,
// chroma 16..240), the inverse of what yuv420rows.h writes, each chroma sample used as it is for
// the four pixels of its 2x2 block. The arithmetic is 16-bit fixed point with 6 fractional bits
// per pixel (the chroma terms come from 32-bit products once per block); results are within one
// level of the exact matrix. Yuv420ToRowPair runs the fastest kernel the processor offers; every
// kernel gives exactly the bytes of the portable one, for any count and any (unaligned) addresses.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace media {

// One pair of rows: `pairs` 2x2 blocks from y0 / y1 (2 samples per block and row) and u / v
// (1 sample per block) into out0 / out1 (6 bytes per block and row, B G R B G R). Nothing past
// the blocks is read or written.
using TYuv420ToRowPair = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                  const uint8_t* v, uint8_t* out0, uint8_t* out1, int pairs);

// The portable kernel, plain C++ one block at a time.
void Yuv420ToRowPairPortable(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                             const uint8_t* v, uint8_t* out0, uint8_t* out1, int pairs);

// The kernels this processor can run, named, the portable one first and the fastest last.
std::vector<std::pair<const char*, TYuv420ToRowPair>> Yuv420ToRowPairKernels();

// The kernel for this processor, chosen once: the widest vector kernel whose instructions the
// processor has (16, 32 or 64 pixels per row and step), the portable one otherwise.
TYuv420ToRowPair Yuv420ToRowPair();

}  // namespace media
