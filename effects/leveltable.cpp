#include "effects/leveltable.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VC_X86_KERNELS 1
#endif

namespace effects {

void ApplyLevelTablePortable(uint8_t* bytes, size_t count, const uint8_t table[256]) {
  for (uint8_t* const end = bytes + count; bytes != end; ++bytes) *bytes = table[*bytes];
}

#ifdef VC_X86_KERNELS
namespace {

// 32 bytes per step with 16-entry byte shuffles. The table is cut into 16 rows of 16 levels;
// row k's shuffle gets the index b - 16k with signed saturation, which has b's low four bits
// when b lies in row k or above within its half of the table and is negative (a zero result)
// below it. With each row stored as the difference (exclusive or) from the row before it in the
// same half, the results of rows 0 .. b / 16 combine into exactly row b / 16's level. The upper
// half works on b with its top bit flipped, which makes the lower half's bytes negative.
__attribute__((target("avx2"))) void ApplyLevelTableAvx2(uint8_t* bytes, size_t count,
                                                         const uint8_t table[256]) {
  __m256i rows[16];
  for (int k = 0; k < 16; ++k) {
    __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k));
    if (k % 8)
      row = _mm_xor_si128(row, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * (k - 1))));
    rows[k] = _mm256_broadcastsi128_si256(row);
  }
  const __m256i top = _mm256_set1_epi8(static_cast<char>(0x80));
  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    const __m256i high = _mm256_xor_si256(b, top);
    __m256i lo = _mm256_shuffle_epi8(rows[0], b);
    __m256i hi = _mm256_shuffle_epi8(rows[8], high);
    for (int k = 1; k < 8; ++k) {
      const __m256i step = _mm256_set1_epi8(static_cast<char>(16 * k));
      lo = _mm256_xor_si256(lo, _mm256_shuffle_epi8(rows[k], _mm256_subs_epi8(b, step)));
      hi = _mm256_xor_si256(hi, _mm256_shuffle_epi8(rows[8 + k], _mm256_subs_epi8(high, step)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes + i), _mm256_xor_si256(lo, hi));
  }
  ApplyLevelTablePortable(bytes + i, count - i, table);
}

// 64 bytes per step with two 128-entry byte permutes, one per half of the table, and the byte's
// top bit choosing between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Map64(
    __m512i b, __m512i t0, __m512i t1, __m512i t2, __m512i t3) {
  const __m512i lo = _mm512_permutex2var_epi8(t0, b, t1);
  const __m512i hi = _mm512_permutex2var_epi8(t2, b, t3);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(b), lo, hi);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ApplyLevelTableAvx512(
    uint8_t* bytes, size_t count, const uint8_t table[256]) {
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  size_t i = 0;
  for (; i + 64 <= count; i += 64)
    _mm512_storeu_si512(bytes + i, Map64(_mm512_loadu_si512(bytes + i), t0, t1, t2, t3));
  if (i < count) {
    const __mmask64 rest = ~uint64_t{0} >> (64 - (count - i));
    _mm512_mask_storeu_epi8(bytes + i, rest,
                            Map64(_mm512_maskz_loadu_epi8(rest, bytes + i), t0, t1, t2, t3));
  }
}

}  // namespace
#endif

std::vector<std::pair<const char*, TLevelTableKernel>> LevelTableKernels() {
  std::vector<std::pair<const char*, TLevelTableKernel>> kernels{{"portable", &ApplyLevelTablePortable}};
#ifdef VC_X86_KERNELS
  if (__builtin_cpu_supports("avx2")) kernels.emplace_back("avx2", &ApplyLevelTableAvx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi"))
    kernels.emplace_back("avx512vbmi", &ApplyLevelTableAvx512);
#endif
  return kernels;
}

void ApplyLevelTable(uint8_t* bytes, size_t count, const uint8_t table[256]) {
  static const TLevelTableKernel chosen = LevelTableKernels().back().second;
  chosen(bytes, count, table);
}

}  // namespace effects
