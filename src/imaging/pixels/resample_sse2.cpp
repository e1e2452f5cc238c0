// The resampler's passes with SSE2. The only file built for SSE2: the processor may lack it, and
// the resampler runs these only where the platform says it has it.
#include <emmintrin.h>

#include <cstring>

#include "imaging/pixels/resample_passes.h"

namespace {
// Two 16-bit weights in one 32-bit lane, for _mm_madd_epi16.
inline __m128i WeightPair(int16_t first, int16_t second) {
  return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first) |
                                             static_cast<uint32_t>(static_cast<uint16_t>(second))
                                                 << 16));
}

inline __m128i Pixel(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

// Two taps at a time: the four bytes of each of two pixels widened to 16 bits and interleaved,
// times the two weights paired, summed into four 32-bit lanes, one per channel. A pair of
// products of a level (< 2^8) and a weight (< 2^15) stays below 2^24.
template <int kChannels>
void Horizontal(const AxisCoefficients& table, int32_t width, const uint8_t* in, int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i unbias = _mm_set1_epi32(kBias >> kHorizontalShift);
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = in + table.first[x] * kChannels;
    const int16_t* w = &table.weights[static_cast<size_t>(x) * table.taps];
    __m128i sum = _mm_set1_epi32(kBias + (1 << (kHorizontalShift - 1)));
    int32_t k = 0;
    for (; k + 1 < table.count[x]; k += 2, p += 2 * kChannels) {
      const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Pixel(p), Pixel(p + kChannels)), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(pair, WeightPair(w[k], w[k + 1])));
    }
    if (k < table.count[x]) {
      const __m128i last = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Pixel(p), zero), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(last, WeightPair(w[k], 0)));
    }
    // The plain pass's window value: shifted, unbiased, saturated to int16 by the pack.
    const __m128i value = _mm_sub_epi32(_mm_srai_epi32(sum, kHorizontalShift), unbias);
    int16_t lanes[8];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_packs_epi32(value, value));
    for (int c = 0; c < kChannels; ++c) out[x * kChannels + c] = lanes[c];
  }
}
}  // namespace

void HorizontalPassSse2(const AxisCoefficients& table, int channels, int32_t width,
                        const uint8_t* in, int16_t* out) {
  (channels == 3 ? Horizontal<3> : Horizontal<4>)(table, width, in, out);
}

// Eight values and two rows at a time: the rows' 16-bit values interleaved and multiplied by the
// two weights paired. A pair of products stays below 2^30 (values below 2^15, weights whose
// magnitudes sum below 2^15), so the 32-bit lanes cannot overflow. Values past the last whole
// eight are left to the plain code.
void SumColumnsSse2(const int16_t* const* rows, const int16_t* w, int32_t count, size_t span,
                    int32_t* sums) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 8 <= span; i += 8) {
    __m128i low = zero, high = zero;
    int32_t k = 0;
    for (; k + 1 < count; k += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
      const __m128i weights = WeightPair(w[k], w[k + 1]);
      low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
      high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights));
    }
    if (k < count) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i weight = WeightPair(w[k], 0);
      low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), weight));
      high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), weight));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 4), high);
  }
  SumColumns(rows, w, count, i, span, sums);
}

void AddColumnsSse2(const uint8_t* row, size_t count, uint16_t* columns) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    __m128i* low = reinterpret_cast<__m128i*>(columns + i);
    __m128i* high = reinterpret_cast<__m128i*>(columns + i + 8);
    _mm_storeu_si128(low, _mm_add_epi16(_mm_loadu_si128(low), _mm_unpacklo_epi8(bytes, zero)));
    _mm_storeu_si128(high, _mm_add_epi16(_mm_loadu_si128(high), _mm_unpackhi_epi8(bytes, zero)));
  }
  for (; i < count; ++i) columns[i] = static_cast<uint16_t>(columns[i] + row[i]);
}

size_t ClampLevelsSse2(const int32_t* sums, size_t count, uint8_t* out) {
  // Shifted with rounding, then saturated twice: to int16, then to 0..255, which is the plain
  // clamp for every sum the vertical pass makes (below 2^30 in magnitude).
  const __m128i half = _mm_set1_epi32(1 << (kVerticalShift - 1));
  auto level = [&](const int32_t* p) {
    return _mm_srai_epi32(_mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), half),
                          kVerticalShift);
  };
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i low = _mm_packs_epi32(level(sums + i), level(sums + i + 4));
    const __m128i high = _mm_packs_epi32(level(sums + i + 8), level(sums + i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
  }
  return i;
}
