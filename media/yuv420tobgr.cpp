#include "media/yuv420tobgr.h"

#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VC_X86_KERNELS 1
#endif

namespace media {
namespace {

// A pixel's level is (luma term + chroma term) >> 6, cut to 0..255, both terms in 1/64 of a level.
// The luma term is (Y * 257 * kLuma) >> 16 = Y * 255 / 219 (the 16-bit high half of a product,
// which the vector kernels take in one instruction). The chroma terms come once per block from
// 32-bit products in 1/8192 of a level, shifted down by 7; their constants hold the centring of
// U and V on 128, the luma offset of 16, and the rounding of both shifts and of the luma term.
constexpr int kLuma = 19003;
constexpr int kBU = 16525, kGU = -3209, kGV = -6660, kRV = 13075;
// 128 * (32 - 16 * 74.5204) + 64 + 64, rounded: the rounding of the level (32 in 1/64), the
// luma offset (16 * 257 * kLuma / 65536), the rounding of the chroma shift and of the luma term.
constexpr int kBase = -148394;
constexpr int kBiasB = kBase - 128 * kBU;
constexpr int kBiasG = kBase - 128 * (kGU + kGV);
constexpr int kBiasR = kBase - 128 * kRV;

inline uint8_t Level(int luma, int chroma) {
  const int level = (luma + chroma) >> 6;
  return static_cast<uint8_t>(level < 0 ? 0 : level > 255 ? 255 : level);
}

inline void Pixel(uint8_t* out, int y, int cb, int cg, int cr) {
  const int luma = (y * 257 * kLuma) >> 16;
  out[0] = Level(luma, cb);
  out[1] = Level(luma, cg);
  out[2] = Level(luma, cr);
}

}  // namespace

void Yuv420ToRowPairPortable(const uint8_t* __restrict y0, const uint8_t* __restrict y1,
                             const uint8_t* __restrict pu, const uint8_t* __restrict pv,
                             uint8_t* __restrict out0, uint8_t* __restrict out1, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const int u = pu[i], v = pv[i];
    const int cb = (u * kBU + kBiasB) >> 7;
    const int cg = (u * kGU + v * kGV + kBiasG) >> 7;
    const int cr = (v * kRV + kBiasR) >> 7;
    Pixel(out0 + 6 * i, y0[2 * i], cb, cg, cr);
    Pixel(out0 + 6 * i + 3, y0[2 * i + 1], cb, cg, cr);
    Pixel(out1 + 6 * i, y1[2 * i], cb, cg, cr);
    Pixel(out1 + 6 * i + 3, y1[2 * i + 1], cb, cg, cr);
  }
}

#ifdef VC_X86_KERNELS
namespace {

// The vector kernels run the portable arithmetic in 16-bit lanes: the luma term is the high half
// of (Y * 257) * kLuma, the chroma terms come from 32-bit multiply-adds of (U, V) pairs, packed
// to 16 bits (they fit), and each is repeated for the two pixels of its block in a row. Sums that
// leave the 16-bit range saturate, which changes no level once cut to 0..255. The B, G and R
// bytes are then interleaved by byte shuffles, 16 pixels (48 bytes) at a time.

// Byte shuffles that put 16 pixels' B, G or R bytes into their places in each of the three
// 16-byte parts of the interleaved row (-1 makes a zero byte).
struct TInterleaveTable {
  alignas(16) int8_t at[3][3][16];  // [part][channel][byte]
};

constexpr TInterleaveTable MakeInterleaveTable() {
  TInterleaveTable t{};
  for (int part = 0; part < 3; ++part)
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 16; ++k) {
        const int at = 16 * part + k;
        t.at[part][c][k] = static_cast<int8_t>(at % 3 == c ? at / 3 : -1);
      }
  return t;
}

constexpr TInterleaveTable kInterleave = MakeInterleaveTable();

// ---- 16 pixels per row and step ----

struct TChroma8 {
  __m128i bLo, bHi, gLo, gHi, rLo, rHi;  // per pixel, 8 + 8
};

__attribute__((target("ssse3"))) inline __m128i Terms8(__m128i uvLo, __m128i uvHi, __m128i k,
                                                        __m128i bias) {
  const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uvLo, k), bias), 7);
  const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(uvHi, k), bias), 7);
  return _mm_packs_epi32(lo, hi);
}

__attribute__((target("ssse3"))) inline TChroma8 Chroma8(const uint8_t* u, const uint8_t* v) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i uv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)));
  const __m128i uvLo = _mm_unpacklo_epi8(uv, zero), uvHi = _mm_unpackhi_epi8(uv, zero);
  const __m128i b = Terms8(uvLo, uvHi, _mm_set1_epi32(kBU & 0xffff), _mm_set1_epi32(kBiasB));
  const __m128i g = Terms8(uvLo, uvHi, _mm_set1_epi32((kGV << 16) | (kGU & 0xffff)),
                           _mm_set1_epi32(kBiasG));
  const __m128i r = Terms8(uvLo, uvHi, _mm_set1_epi32(kRV << 16), _mm_set1_epi32(kBiasR));
  return {_mm_unpacklo_epi16(b, b), _mm_unpackhi_epi16(b, b), _mm_unpacklo_epi16(g, g),
          _mm_unpackhi_epi16(g, g), _mm_unpacklo_epi16(r, r), _mm_unpackhi_epi16(r, r)};
}

__attribute__((target("ssse3"))) inline __m128i Levels16(__m128i lumaLo, __m128i lumaHi,
                                                          __m128i cLo, __m128i cHi) {
  return _mm_packus_epi16(_mm_srai_epi16(_mm_adds_epi16(lumaLo, cLo), 6),
                          _mm_srai_epi16(_mm_adds_epi16(lumaHi, cHi), 6));
}

__attribute__((target("ssse3"))) inline __m128i Part16(__m128i b, __m128i g, __m128i r,
                                                        int part) {
  const auto mask = [&](int c) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.at[part][c]));
  };
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, mask(0)), _mm_shuffle_epi8(g, mask(1))),
                      _mm_shuffle_epi8(r, mask(2)));
}

__attribute__((target("ssse3"))) inline void Row16(const uint8_t* y, const TChroma8& c,
                                                    uint8_t* out) {
  const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i k = _mm_set1_epi16(kLuma);
  const __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(luma, luma), k);
  const __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(luma, luma), k);
  const __m128i b = Levels16(lo, hi, c.bLo, c.bHi);
  const __m128i g = Levels16(lo, hi, c.gLo, c.gHi);
  const __m128i r = Levels16(lo, hi, c.rLo, c.rHi);
  for (int part = 0; part < 3; ++part)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), Part16(b, g, r, part));
}

__attribute__((target("ssse3"))) void Yuv420ToRowPairSsse3(const uint8_t* y0, const uint8_t* y1,
                                                            const uint8_t* u, const uint8_t* v,
                                                            uint8_t* out0, uint8_t* out1,
                                                            int pairs) {
  int i = 0;
  for (; i + 8 <= pairs; i += 8) {
    const TChroma8 c = Chroma8(u + i, v + i);
    Row16(y0 + 2 * i, c, out0 + 6 * i);
    Row16(y1 + 2 * i, c, out1 + 6 * i);
  }
  if (i < pairs)
    Yuv420ToRowPairPortable(y0 + 2 * i, y1 + 2 * i, u + i, v + i, out0 + 6 * i, out1 + 6 * i,
                            pairs - i);
}

// ---- 32 pixels per row and step ----
// Each 128-bit lane does what the 16-pixel step does. The 16 chroma samples are widened to 16
// bits across the lanes (samples 0..7 in the low lane), so that the in-lane unpacks pair them
// with the luma of the in-lane byte unpacks (pixels 0..7 and 16..23, then 8..15 and 24..31);
// the lanes' interleaved bytes are stored as 16-byte parts.

struct TChroma16 {
  __m256i bLo, bHi, gLo, gHi, rLo, rHi;
};

__attribute__((target("avx2"))) inline __m256i Terms16(__m256i uvLo, __m256i uvHi, __m256i k,
                                                        __m256i bias) {
  const __m256i lo = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(uvLo, k), bias), 7);
  const __m256i hi = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(uvHi, k), bias), 7);
  return _mm256_packs_epi32(lo, hi);
}

__attribute__((target("avx2"))) inline TChroma16 Chroma16(const uint8_t* u, const uint8_t* v) {
  const __m256i u16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
  const __m256i v16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
  const __m256i uvLo = _mm256_unpacklo_epi16(u16, v16), uvHi = _mm256_unpackhi_epi16(u16, v16);
  const __m256i b = Terms16(uvLo, uvHi, _mm256_set1_epi32(kBU & 0xffff), _mm256_set1_epi32(kBiasB));
  const __m256i g = Terms16(uvLo, uvHi, _mm256_set1_epi32((kGV << 16) | (kGU & 0xffff)),
                            _mm256_set1_epi32(kBiasG));
  const __m256i r = Terms16(uvLo, uvHi, _mm256_set1_epi32(kRV << 16), _mm256_set1_epi32(kBiasR));
  return {_mm256_unpacklo_epi16(b, b), _mm256_unpackhi_epi16(b, b),
          _mm256_unpacklo_epi16(g, g), _mm256_unpackhi_epi16(g, g),
          _mm256_unpacklo_epi16(r, r), _mm256_unpackhi_epi16(r, r)};
}

__attribute__((target("avx2"))) inline __m256i Levels32(__m256i lumaLo, __m256i lumaHi,
                                                         __m256i cLo, __m256i cHi) {
  return _mm256_packus_epi16(_mm256_srai_epi16(_mm256_adds_epi16(lumaLo, cLo), 6),
                             _mm256_srai_epi16(_mm256_adds_epi16(lumaHi, cHi), 6));
}

__attribute__((target("avx2"))) inline __m256i Mask32(int part, int c) {
  return _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.at[part][c])));
}

__attribute__((target("avx2"))) inline __m256i Part32(__m256i b, __m256i g, __m256i r, int part) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, Mask32(part, 0)),
                                         _mm256_shuffle_epi8(g, Mask32(part, 1))),
                         _mm256_shuffle_epi8(r, Mask32(part, 2)));
}

__attribute__((target("avx2"))) inline void Row32(const uint8_t* y, const TChroma16& c,
                                                   uint8_t* out) {
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i k = _mm256_set1_epi16(kLuma);
  const __m256i lo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(luma, luma), k);
  const __m256i hi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(luma, luma), k);
  const __m256i b = Levels32(lo, hi, c.bLo, c.bHi);
  const __m256i g = Levels32(lo, hi, c.gLo, c.gHi);
  const __m256i r = Levels32(lo, hi, c.rLo, c.rHi);
  for (int part = 0; part < 3; ++part) {
    const __m256i bytes = Part32(b, g, r, part);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), _mm256_castsi256_si128(bytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48 + 16 * part),
                     _mm256_extracti128_si256(bytes, 1));
  }
}

__attribute__((target("avx2"))) void Yuv420ToRowPairAvx2(const uint8_t* y0, const uint8_t* y1,
                                                          const uint8_t* u, const uint8_t* v,
                                                          uint8_t* out0, uint8_t* out1,
                                                          int pairs) {
  int i = 0;
  for (; i + 16 <= pairs; i += 16) {
    const TChroma16 c = Chroma16(u + i, v + i);
    Row32(y0 + 2 * i, c, out0 + 6 * i);
    Row32(y1 + 2 * i, c, out1 + 6 * i);
  }
  if (i < pairs)
    Yuv420ToRowPairSsse3(y0 + 2 * i, y1 + 2 * i, u + i, v + i, out0 + 6 * i, out1 + 6 * i,
                         pairs - i);
}

// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined vector,
// which its uninitialized-use warning reports at every inlined call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// ---- 64 pixels per row and step, where the processor has the AVX-512 byte permutes ----
// The arithmetic is the 32-pixel step's in four 128-bit lanes (32 chroma samples widened across
// them); the 192 interleaved bytes are gathered from B, G and R by a two-register permute (B and
// G) and a masked permute (R) per 64 bytes, in place of nine byte shuffles per 48.

struct TInterleave64Table {
  alignas(64) uint8_t at[3][64];  // [part]: B pixel i as i, G pixel i as 64 + i, R pixel i as i
  uint64_t red[3];                // [part]: the bytes that come from R
};

constexpr TInterleave64Table MakeInterleave64Table() {
  TInterleave64Table t{};
  for (int part = 0; part < 3; ++part)
    for (int k = 0; k < 64; ++k) {
      const int at = 64 * part + k, pixel = at / 3, c = at % 3;
      t.at[part][k] = static_cast<uint8_t>(c == 1 ? 64 + pixel : pixel);
      if (c == 2) t.red[part] |= uint64_t{1} << k;
    }
  return t;
}

constexpr TInterleave64Table kInterleave64 = MakeInterleave64Table();

#define VC_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

struct TChroma32 {
  __m512i bLo, bHi, gLo, gHi, rLo, rHi;
};

VC_AVX512 inline __m512i Terms32(__m512i uvLo, __m512i uvHi, __m512i k, __m512i bias) {
  const __m512i lo = _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(uvLo, k), bias), 7);
  const __m512i hi = _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(uvHi, k), bias), 7);
  return _mm512_packs_epi32(lo, hi);
}

VC_AVX512 inline TChroma32 Chroma32(const uint8_t* u, const uint8_t* v) {
  const __m512i u16 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u)));
  const __m512i v16 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)));
  const __m512i uvLo = _mm512_unpacklo_epi16(u16, v16), uvHi = _mm512_unpackhi_epi16(u16, v16);
  const __m512i b = Terms32(uvLo, uvHi, _mm512_set1_epi32(kBU & 0xffff), _mm512_set1_epi32(kBiasB));
  const __m512i g = Terms32(uvLo, uvHi, _mm512_set1_epi32((kGV << 16) | (kGU & 0xffff)),
                            _mm512_set1_epi32(kBiasG));
  const __m512i r = Terms32(uvLo, uvHi, _mm512_set1_epi32(kRV << 16), _mm512_set1_epi32(kBiasR));
  return {_mm512_unpacklo_epi16(b, b), _mm512_unpackhi_epi16(b, b),
          _mm512_unpacklo_epi16(g, g), _mm512_unpackhi_epi16(g, g),
          _mm512_unpacklo_epi16(r, r), _mm512_unpackhi_epi16(r, r)};
}

VC_AVX512 inline __m512i Levels64(__m512i lumaLo, __m512i lumaHi, __m512i cLo, __m512i cHi) {
  return _mm512_packus_epi16(_mm512_srai_epi16(_mm512_adds_epi16(lumaLo, cLo), 6),
                             _mm512_srai_epi16(_mm512_adds_epi16(lumaHi, cHi), 6));
}

VC_AVX512 inline void Row64(const uint8_t* y, const TChroma32& c, uint8_t* out) {
  const __m512i luma = _mm512_loadu_si512(y);
  const __m512i k = _mm512_set1_epi16(kLuma);
  const __m512i lo = _mm512_mulhi_epu16(_mm512_unpacklo_epi8(luma, luma), k);
  const __m512i hi = _mm512_mulhi_epu16(_mm512_unpackhi_epi8(luma, luma), k);
  const __m512i b = Levels64(lo, hi, c.bLo, c.bHi);
  const __m512i g = Levels64(lo, hi, c.gLo, c.gHi);
  const __m512i r = Levels64(lo, hi, c.rLo, c.rHi);
  for (int part = 0; part < 3; ++part) {
    const __m512i at = _mm512_load_si512(kInterleave64.at[part]);
    const __m512i bg = _mm512_permutex2var_epi8(b, at, g);
    _mm512_storeu_si512(out + 64 * part,
                        _mm512_mask_permutexvar_epi8(bg, kInterleave64.red[part], at, r));
  }
}

VC_AVX512 void Yuv420ToRowPairAvx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                     const uint8_t* v, uint8_t* out0, uint8_t* out1, int pairs) {
  int i = 0;
  for (; i + 32 <= pairs; i += 32) {
    const TChroma32 c = Chroma32(u + i, v + i);
    Row64(y0 + 2 * i, c, out0 + 6 * i);
    Row64(y1 + 2 * i, c, out1 + 6 * i);
  }
  if (i < pairs)
    Yuv420ToRowPairAvx2(y0 + 2 * i, y1 + 2 * i, u + i, v + i, out0 + 6 * i, out1 + 6 * i,
                        pairs - i);
}

#undef VC_AVX512
#pragma GCC diagnostic pop

}  // namespace
#endif

std::vector<std::pair<const char*, TYuv420ToRowPair>> Yuv420ToRowPairKernels() {
  std::vector<std::pair<const char*, TYuv420ToRowPair>> kernels{
      {"portable", &Yuv420ToRowPairPortable}};
#ifdef VC_X86_KERNELS
  if (__builtin_cpu_supports("ssse3")) kernels.emplace_back("ssse3", &Yuv420ToRowPairSsse3);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("ssse3"))
    kernels.emplace_back("avx2", &Yuv420ToRowPairAvx2);
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx2") &&
      __builtin_cpu_supports("ssse3"))
    kernels.emplace_back("avx512vbmi", &Yuv420ToRowPairAvx512);
#endif
  return kernels;
}

TYuv420ToRowPair Yuv420ToRowPair() {
  static const TYuv420ToRowPair chosen = Yuv420ToRowPairKernels().back().second;
  return chosen;
}

}  // namespace media
