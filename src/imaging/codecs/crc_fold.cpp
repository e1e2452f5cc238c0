// The one file built for PCLMULQDQ and SSE4.1 (see crc_fold.h); called only where the processor
// has both.
#include "imaging/codecs/crc_fold.h"

#include <emmintrin.h>
#include <smmintrin.h>
#include <wmmintrin.h>

namespace {
// The polynomial's residues x^n mod P(x), bit-reflected and shifted left by one, for the distances
// a fold spans: four blocks (n = 4 * 128 + 32 and 4 * 128 - 32), one block (128 + 32, 128 - 32),
// and 64 bits; then P(x) and floor(x^64 / P(x)), bit-reflected, for the Barrett reduction.
alignas(16) const uint64_t kFourBlocks[2] = {0x154442bd4, 0x1c6e41596};
alignas(16) const uint64_t kOneBlock[2] = {0x1751997d0, 0x0ccaa009e};
alignas(16) const uint64_t kSixtyFour[2] = {0x163cd6124, 0};
alignas(16) const uint64_t kBarrett[2] = {0x1db710641, 0x1f7011641};

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i Constant(const uint64_t* pair) { return _mm_load_si128(reinterpret_cast<const __m128i*>(pair)); }

// `x` carried the span `k` says forward, onto `next`.
inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}
}  // namespace

uint32_t FoldCrc(uint32_t crc, const uint8_t* data, size_t size) {
  const uint8_t* const end = data + size;
  __m128i a = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i b = Load(data + 16), c = Load(data + 32), d = Load(data + 48);
  __m128i k = Constant(kFourBlocks);
  for (data += 64; end - data >= 64; data += 64) {
    a = Fold(a, k, Load(data));
    b = Fold(b, k, Load(data + 16));
    c = Fold(c, k, Load(data + 32));
    d = Fold(d, k, Load(data + 48));
  }
  k = Constant(kOneBlock);
  a = Fold(Fold(Fold(a, k, b), k, c), k, d);
  for (; data < end; data += 16) a = Fold(a, k, Load(data));
  // 128 bits to 64, then to 32 by Barrett's reduction.
  const __m128i low = _mm_setr_epi32(-1, 0, -1, 0);
  a = _mm_xor_si128(_mm_srli_si128(a, 8), _mm_clmulepi64_si128(a, k, 0x10));
  a = _mm_xor_si128(_mm_srli_si128(a, 4), _mm_clmulepi64_si128(_mm_and_si128(a, low), Constant(kSixtyFour), 0x00));
  const __m128i p = Constant(kBarrett);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(a, low), p, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low), p, 0x00);
  return ~static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(a, t), 1));
}
