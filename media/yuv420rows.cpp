#include "media/yuv420rows.h"

#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VC_X86_KERNELS 1
#endif

namespace media {

void RowPairToYuv420Portable(const uint8_t* __restrict in0, const uint8_t* __restrict in1,
                             uint8_t* __restrict y0, uint8_t* __restrict y1,
                             uint8_t* __restrict pu, uint8_t* __restrict pv, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const uint8_t* p = in0 + 6 * i;
    const uint8_t* q = in1 + 6 * i;
    y0[2 * i] = static_cast<uint8_t>(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16);
    y0[2 * i + 1] = static_cast<uint8_t>(((66 * p[5] + 129 * p[4] + 25 * p[3] + 128) >> 8) + 16);
    y1[2 * i] = static_cast<uint8_t>(((66 * q[2] + 129 * q[1] + 25 * q[0] + 128) >> 8) + 16);
    y1[2 * i + 1] = static_cast<uint8_t>(((66 * q[5] + 129 * q[4] + 25 * q[3] + 128) >> 8) + 16);
    const int b = p[0] + p[3] + q[0] + q[3];
    const int g = p[1] + p[4] + q[1] + q[4];
    const int r = p[2] + p[5] + q[2] + q[5];
    pu[i] = static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 512) >> 10) + 128);
    pv[i] = static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 512) >> 10) + 128);
  }
}

#ifdef VC_X86_KERNELS
namespace {

// 16 pixels (8 blocks) per row and step: the 48 bytes are split into B, G and R vectors with
// byte shuffles, luma is computed in 16-bit lanes (every partial sum stays below 65536, so the
// wrapping additions are exact), and chroma from the pairs' sums in 32-bit multiply-adds. The
// arithmetic and its rounding are those of the portable kernel, term by term.
struct TPlanes {
  __m128i b, g, r;
};

__attribute__((target("ssse3"))) inline __m128i Pick(__m128i a0, __m128i a1, __m128i a2,
                                                       __m128i m0, __m128i m1, __m128i m2) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a0, m0), _mm_shuffle_epi8(a1, m1)),
                      _mm_shuffle_epi8(a2, m2));
}

__attribute__((target("ssse3"))) inline TPlanes Split(const uint8_t* p) {
  const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  constexpr char X = -1;  // a zero byte
  TPlanes out;
  out.b = Pick(a0, a1, a2, _mm_setr_epi8(0, 3, 6, 9, 12, 15, X, X, X, X, X, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, X, 2, 5, 8, 11, 14, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, 1, 4, 7, 10, 13));
  out.g = Pick(a0, a1, a2, _mm_setr_epi8(1, 4, 7, 10, 13, X, X, X, X, X, X, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, 0, 3, 6, 9, 12, 15, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, 2, 5, 8, 11, 14));
  out.r = Pick(a0, a1, a2, _mm_setr_epi8(2, 5, 8, 11, 14, X, X, X, X, X, X, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, 1, 4, 7, 10, 13, X, X, X, X, X, X),
               _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, 0, 3, 6, 9, 12, 15));
  return out;
}

__attribute__((target("ssse3"))) inline __m128i Luma8(__m128i b, __m128i g, __m128i r) {
  __m128i y = _mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(66)),
                            _mm_mullo_epi16(g, _mm_set1_epi16(129)));
  y = _mm_add_epi16(y, _mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(25)), _mm_set1_epi16(128)));
  return _mm_add_epi16(_mm_srli_epi16(y, 8), _mm_set1_epi16(16));
}

__attribute__((target("ssse3"))) inline void StoreLuma(const TPlanes& s, uint8_t* y) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = Luma8(_mm_unpacklo_epi8(s.b, zero), _mm_unpacklo_epi8(s.g, zero),
                           _mm_unpacklo_epi8(s.r, zero));
  const __m128i hi = Luma8(_mm_unpackhi_epi8(s.b, zero), _mm_unpackhi_epi8(s.g, zero),
                           _mm_unpackhi_epi8(s.r, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y), _mm_packus_epi16(lo, hi));
}

// ((c0 * x + c1 * y + c2 * z + 512) >> 10) + 128 for 8 blocks, as 8 bytes.
__attribute__((target("ssse3"))) inline __m128i Chroma8(__m128i xy_lo, __m128i xy_hi,
                                                          __m128i z1_lo, __m128i z1_hi,
                                                          __m128i cxy, __m128i cz) {
  const __m128i lo = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(xy_lo, cxy), _mm_madd_epi16(z1_lo, cz)), 10);
  const __m128i hi = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(xy_hi, cxy), _mm_madd_epi16(z1_hi, cz)), 10);
  const __m128i words = _mm_add_epi16(_mm_packs_epi32(lo, hi), _mm_set1_epi16(128));
  return _mm_packus_epi16(words, words);
}

__attribute__((target("ssse3"))) void RowPairToYuv420Ssse3(
    const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1, uint8_t* pu, uint8_t* pv,
    int pairs) {
  const __m128i ones8 = _mm_set1_epi8(1);
  const __m128i ones16 = _mm_set1_epi16(1);
  const __m128i uRG = _mm_setr_epi16(-38, -74, -38, -74, -38, -74, -38, -74);
  const __m128i uB = _mm_setr_epi16(112, 512, 112, 512, 112, 512, 112, 512);
  const __m128i vRG = _mm_setr_epi16(112, -94, 112, -94, 112, -94, 112, -94);
  const __m128i vB = _mm_setr_epi16(-18, 512, -18, 512, -18, 512, -18, 512);
  int i = 0;
  for (; i + 8 <= pairs; i += 8) {
    const TPlanes s0 = Split(in0 + 6 * i);
    const TPlanes s1 = Split(in1 + 6 * i);
    StoreLuma(s0, y0 + 2 * i);
    StoreLuma(s1, y1 + 2 * i);
    // Sums of each block's four samples, per channel (at most 1020).
    const __m128i b = _mm_add_epi16(_mm_maddubs_epi16(s0.b, ones8), _mm_maddubs_epi16(s1.b, ones8));
    const __m128i g = _mm_add_epi16(_mm_maddubs_epi16(s0.g, ones8), _mm_maddubs_epi16(s1.g, ones8));
    const __m128i r = _mm_add_epi16(_mm_maddubs_epi16(s0.r, ones8), _mm_maddubs_epi16(s1.r, ones8));
    const __m128i rgLo = _mm_unpacklo_epi16(r, g), rgHi = _mm_unpackhi_epi16(r, g);
    const __m128i b1Lo = _mm_unpacklo_epi16(b, ones16), b1Hi = _mm_unpackhi_epi16(b, ones16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pu + i), Chroma8(rgLo, rgHi, b1Lo, b1Hi, uRG, uB));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pv + i), Chroma8(rgLo, rgHi, b1Lo, b1Hi, vRG, vB));
  }
  if (i < pairs)
    RowPairToYuv420Portable(in0 + 6 * i, in1 + 6 * i, y0 + 2 * i, y1 + 2 * i, pu + i, pv + i,
                            pairs - i);
}

// The same arithmetic over 32 pixels (16 blocks) per row and step: each 128-bit lane holds 16
// consecutive pixels and goes through the shuffles, unpacks and packs of the 16-byte kernel,
// which all stay within their lane; only the chroma bytes are gathered from both lanes at the end.
struct TPlanes2 {
  __m256i b, g, r;
};

__attribute__((target("avx2"))) inline __m256i Lanes(const uint8_t* lo, const uint8_t* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

__attribute__((target("avx2"))) inline __m256i Pick2(__m256i a0, __m256i a1, __m256i a2,
                                                      __m128i m0, __m128i m1, __m128i m2) {
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(a0, _mm256_broadcastsi128_si256(m0)),
                      _mm256_shuffle_epi8(a1, _mm256_broadcastsi128_si256(m1))),
      _mm256_shuffle_epi8(a2, _mm256_broadcastsi128_si256(m2)));
}

__attribute__((target("avx2"))) inline TPlanes2 Split2(const uint8_t* p) {
  const __m256i a0 = Lanes(p, p + 48), a1 = Lanes(p + 16, p + 64), a2 = Lanes(p + 32, p + 80);
  constexpr char X = -1;
  TPlanes2 out;
  out.b = Pick2(a0, a1, a2, _mm_setr_epi8(0, 3, 6, 9, 12, 15, X, X, X, X, X, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, X, 2, 5, 8, 11, 14, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, 1, 4, 7, 10, 13));
  out.g = Pick2(a0, a1, a2, _mm_setr_epi8(1, 4, 7, 10, 13, X, X, X, X, X, X, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, 0, 3, 6, 9, 12, 15, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, 2, 5, 8, 11, 14));
  out.r = Pick2(a0, a1, a2, _mm_setr_epi8(2, 5, 8, 11, 14, X, X, X, X, X, X, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, 1, 4, 7, 10, 13, X, X, X, X, X, X),
                _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, 0, 3, 6, 9, 12, 15));
  return out;
}

__attribute__((target("avx2"))) inline __m256i Luma16(__m256i b, __m256i g, __m256i r) {
  __m256i y = _mm256_add_epi16(_mm256_mullo_epi16(r, _mm256_set1_epi16(66)),
                               _mm256_mullo_epi16(g, _mm256_set1_epi16(129)));
  y = _mm256_add_epi16(y, _mm256_add_epi16(_mm256_mullo_epi16(b, _mm256_set1_epi16(25)),
                                           _mm256_set1_epi16(128)));
  return _mm256_add_epi16(_mm256_srli_epi16(y, 8), _mm256_set1_epi16(16));
}

__attribute__((target("avx2"))) inline void StoreLuma2(const TPlanes2& s, uint8_t* y) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = Luma16(_mm256_unpacklo_epi8(s.b, zero), _mm256_unpacklo_epi8(s.g, zero),
                            _mm256_unpacklo_epi8(s.r, zero));
  const __m256i hi = Luma16(_mm256_unpackhi_epi8(s.b, zero), _mm256_unpackhi_epi8(s.g, zero),
                            _mm256_unpackhi_epi8(s.r, zero));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm256_packus_epi16(lo, hi));
}

__attribute__((target("avx2"))) inline __m128i Chroma16(__m256i xyLo, __m256i xyHi, __m256i z1Lo,
                                                         __m256i z1Hi, __m256i cxy, __m256i cz) {
  const __m256i lo = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(xyLo, cxy), _mm256_madd_epi16(z1Lo, cz)), 10);
  const __m256i hi = _mm256_srai_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(xyHi, cxy), _mm256_madd_epi16(z1Hi, cz)), 10);
  const __m256i words = _mm256_add_epi16(_mm256_packs_epi32(lo, hi), _mm256_set1_epi16(128));
  // Bytes 0..7 of each lane hold that lane's 8 blocks.
  const __m256i bytes = _mm256_packus_epi16(words, words);
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08));
}

__attribute__((target("avx2"), always_inline)) inline void RowPairAvx2Steps(
    const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1, uint8_t* pu, uint8_t* pv,
    int pairs) {
  const __m256i ones8 = _mm256_set1_epi8(1);
  const __m256i ones16 = _mm256_set1_epi16(1);
  const __m256i uRG = _mm256_set1_epi32((-74 << 16) | (-38 & 0xffff));
  const __m256i uB = _mm256_set1_epi32((512 << 16) | 112);
  const __m256i vRG = _mm256_set1_epi32((-94 << 16) | 112);
  const __m256i vB = _mm256_set1_epi32((512 << 16) | (-18 & 0xffff));
  int i = 0;
  for (; i + 16 <= pairs; i += 16) {
    const TPlanes2 s0 = Split2(in0 + 6 * i);
    const TPlanes2 s1 = Split2(in1 + 6 * i);
    StoreLuma2(s0, y0 + 2 * i);
    StoreLuma2(s1, y1 + 2 * i);
    const __m256i b = _mm256_add_epi16(_mm256_maddubs_epi16(s0.b, ones8),
                                       _mm256_maddubs_epi16(s1.b, ones8));
    const __m256i g = _mm256_add_epi16(_mm256_maddubs_epi16(s0.g, ones8),
                                       _mm256_maddubs_epi16(s1.g, ones8));
    const __m256i r = _mm256_add_epi16(_mm256_maddubs_epi16(s0.r, ones8),
                                       _mm256_maddubs_epi16(s1.r, ones8));
    const __m256i rgLo = _mm256_unpacklo_epi16(r, g), rgHi = _mm256_unpackhi_epi16(r, g);
    const __m256i b1Lo = _mm256_unpacklo_epi16(b, ones16), b1Hi = _mm256_unpackhi_epi16(b, ones16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pu + i), Chroma16(rgLo, rgHi, b1Lo, b1Hi, uRG, uB));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pv + i), Chroma16(rgLo, rgHi, b1Lo, b1Hi, vRG, vB));
  }
  if (i < pairs)
    RowPairToYuv420Ssse3(in0 + 6 * i, in1 + 6 * i, y0 + 2 * i, y1 + 2 * i, pu + i, pv + i,
                         pairs - i);
}

__attribute__((target("avx2"))) void RowPairToYuv420Avx2(
    const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1, uint8_t* pu, uint8_t* pv,
    int pairs) {
  RowPairAvx2Steps(in0, in1, y0, y1, pu, pv, pairs);
}

// The same 32-pixel steps where the processor also has the AVX-512 encodings: twice the vector
// registers, so no intermediate goes to the stack.
__attribute__((target("avx2,avx512f,avx512vl,avx512bw"))) void RowPairToYuv420Avx2Evex(
    const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1, uint8_t* pu, uint8_t* pv,
    int pairs) {
  RowPairAvx2Steps(in0, in1, y0, y1, pu, pv, pairs);
}

// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined vector,
// which its uninitialized-use warning reports at every inlined call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// 64 pixels (32 blocks) per row and step where the processor has the AVX-512 byte permutes:
// each of B, G and R is gathered from the 192 bytes by one two-register permute (the pixels whose
// byte lies in the first 128) and one permute of the last 64, and the rest is the 16-byte
// kernel's arithmetic in four 128-bit lanes; the chroma bytes are gathered from the lanes last.
struct TPlanes4 {
  __m512i b, g, r;
};

// Byte indexes of channel c of the 64 pixels: into the first 128 bytes (two-register permute)
// and into the last 64, with the pixels taken from the last 64 marked.
struct TGatherTable {
  alignas(64) uint8_t low[3][64];
  alignas(64) uint8_t high[3][64];
  uint64_t fromLast[3];
};

constexpr TGatherTable MakeGatherTable() {
  TGatherTable t{};
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 64; ++i) {
      const int at = 3 * i + c;
      t.low[c][i] = static_cast<uint8_t>(at & 127);
      t.high[c][i] = static_cast<uint8_t>((at - 128) & 63);
      if (at >= 128) t.fromLast[c] |= uint64_t{1} << i;
    }
  return t;
}

constexpr TGatherTable kGather = MakeGatherTable();

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Gather64(
    __m512i a0, __m512i a1, __m512i a2, int c) {
  const __m512i first = _mm512_permutex2var_epi8(a0, _mm512_load_si512(kGather.low[c]), a1);
  const __m512i last = _mm512_permutex2var_epi8(a2, _mm512_load_si512(kGather.high[c]), a2);
  return _mm512_mask_blend_epi8(kGather.fromLast[c], first, last);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512i Luma32(__m512i b, __m512i g,
                                                                              __m512i r) {
  __m512i y = _mm512_add_epi16(_mm512_mullo_epi16(r, _mm512_set1_epi16(66)),
                               _mm512_mullo_epi16(g, _mm512_set1_epi16(129)));
  y = _mm512_add_epi16(y, _mm512_add_epi16(_mm512_mullo_epi16(b, _mm512_set1_epi16(25)),
                                           _mm512_set1_epi16(128)));
  return _mm512_add_epi16(_mm512_srli_epi16(y, 8), _mm512_set1_epi16(16));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m256i Chroma32(
    __m512i xyLo, __m512i xyHi, __m512i z1Lo, __m512i z1Hi, __m512i cxy, __m512i cz) {
  const __m512i lo = _mm512_srai_epi32(
      _mm512_add_epi32(_mm512_madd_epi16(xyLo, cxy), _mm512_madd_epi16(z1Lo, cz)), 10);
  const __m512i hi = _mm512_srai_epi32(
      _mm512_add_epi32(_mm512_madd_epi16(xyHi, cxy), _mm512_madd_epi16(z1Hi, cz)), 10);
  const __m512i words = _mm512_add_epi16(_mm512_packs_epi32(lo, hi), _mm512_set1_epi16(128));
  const __m512i bytes = _mm512_packus_epi16(words, words);
  return _mm512_castsi512_si256(
      _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), bytes));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void RowPairToYuv420Avx512(
    const uint8_t* in0, const uint8_t* in1, uint8_t* y0, uint8_t* y1, uint8_t* pu, uint8_t* pv,
    int pairs) {
  const __m512i ones8 = _mm512_set1_epi8(1);
  const __m512i ones16 = _mm512_set1_epi16(1);
  const __m512i uRG = _mm512_set1_epi32((-74 << 16) | (-38 & 0xffff));
  const __m512i uB = _mm512_set1_epi32((512 << 16) | 112);
  const __m512i vRG = _mm512_set1_epi32((-94 << 16) | 112);
  const __m512i vB = _mm512_set1_epi32((512 << 16) | (-18 & 0xffff));
  const auto split = [](const uint8_t* p) __attribute__((target("avx512f,avx512bw,avx512vbmi"))) {
    const __m512i a0 = _mm512_loadu_si512(p), a1 = _mm512_loadu_si512(p + 64);
    const __m512i a2 = _mm512_loadu_si512(p + 128);
    return TPlanes4{Gather64(a0, a1, a2, 0), Gather64(a0, a1, a2, 1), Gather64(a0, a1, a2, 2)};
  };
  const auto storeLuma = [](const TPlanes4& s, uint8_t* y)
      __attribute__((target("avx512f,avx512bw,avx512vbmi"))) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lo = Luma32(_mm512_unpacklo_epi8(s.b, zero), _mm512_unpacklo_epi8(s.g, zero),
                              _mm512_unpacklo_epi8(s.r, zero));
    const __m512i hi = Luma32(_mm512_unpackhi_epi8(s.b, zero), _mm512_unpackhi_epi8(s.g, zero),
                              _mm512_unpackhi_epi8(s.r, zero));
    _mm512_storeu_si512(y, _mm512_packus_epi16(lo, hi));
  };
  int i = 0;
  for (; i + 32 <= pairs; i += 32) {
    const TPlanes4 s0 = split(in0 + 6 * i);
    const TPlanes4 s1 = split(in1 + 6 * i);
    storeLuma(s0, y0 + 2 * i);
    storeLuma(s1, y1 + 2 * i);
    const __m512i b = _mm512_add_epi16(_mm512_maddubs_epi16(s0.b, ones8),
                                       _mm512_maddubs_epi16(s1.b, ones8));
    const __m512i g = _mm512_add_epi16(_mm512_maddubs_epi16(s0.g, ones8),
                                       _mm512_maddubs_epi16(s1.g, ones8));
    const __m512i r = _mm512_add_epi16(_mm512_maddubs_epi16(s0.r, ones8),
                                       _mm512_maddubs_epi16(s1.r, ones8));
    const __m512i rgLo = _mm512_unpacklo_epi16(r, g), rgHi = _mm512_unpackhi_epi16(r, g);
    const __m512i b1Lo = _mm512_unpacklo_epi16(b, ones16), b1Hi = _mm512_unpackhi_epi16(b, ones16);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pu + i), Chroma32(rgLo, rgHi, b1Lo, b1Hi, uRG, uB));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pv + i), Chroma32(rgLo, rgHi, b1Lo, b1Hi, vRG, vB));
  }
  if (i < pairs)
    RowPairToYuv420Avx2Evex(in0 + 6 * i, in1 + 6 * i, y0 + 2 * i, y1 + 2 * i, pu + i, pv + i,
                            pairs - i);
}

#pragma GCC diagnostic pop

}  // namespace
#endif

std::vector<std::pair<const char*, TRowPairToYuv420>> RowPairToYuv420Kernels() {
  std::vector<std::pair<const char*, TRowPairToYuv420>> kernels{{"portable", &RowPairToYuv420Portable}};
#ifdef VC_X86_KERNELS
  if (__builtin_cpu_supports("ssse3")) kernels.emplace_back("ssse3", &RowPairToYuv420Ssse3);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3"))
    kernels.emplace_back("avx2", &RowPairToYuv420Avx2);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3") &&
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512bw"))
    kernels.emplace_back("avx2 with 32 registers", &RowPairToYuv420Avx2Evex);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3"))
    kernels.emplace_back("avx512vbmi", &RowPairToYuv420Avx512);
#endif
  return kernels;
}

TRowPairToYuv420 RowPairToYuv420() {
  static const TRowPairToYuv420 chosen = RowPairToYuv420Kernels().back().second;
  return chosen;
}

}  // namespace media
