// The resampler's passes with AVX2. The only file built for AVX2: the processor may lack it, and
// the resampler runs these only where the platform says it has it.
#include <immintrin.h>

#include "imaging/pixels/resample_passes.h"

// Sixteen values and two rows at a time, as the SSE2 pass takes eight: the rows interleaved
// within each 128-bit half, so the halves' sums are put back in order before they are stored.
// Values past the last whole sixteen are left to the plain code.
void SumColumnsAvx2(const int16_t* const* rows, const int16_t* w, int32_t count, size_t span,
                    int32_t* sums) {
  const __m256i zero = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 16 <= span; i += 16) {
    __m256i low = zero, high = zero;
    for (int32_t k = 0; k < count; k += 2) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
      const __m256i b = k + 1 < count ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + i)) : zero;
      const int16_t second = k + 1 < count ? w[k + 1] : 0;
      const __m256i weights = _mm256_set1_epi32(static_cast<int32_t>(
          static_cast<uint16_t>(w[k]) | static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
      low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights));
      high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i + 8), _mm256_permute2x128_si256(low, high, 0x31));
  }
  SumColumns(rows, w, count, i, span, sums);
}

namespace {
// Four taps at a time: the 16 bytes from the group's first pixel in each 128-bit half, shuffled
// into 16-bit pairs of neighbouring taps, channel by channel (taps 0 and 1 in the low half, 2 and
// 3 in the high one), times the weights paired the same way. The halves are added at the end, as
// the plain pass's one sum: integer sums of the same products, in 32 bits that cannot overflow.
template <int kChannels>
void Horizontal(const AxisCoefficients& table, const int16_t* paired, int32_t width, const uint8_t* in,
                int16_t* out) {
  const int32_t groups = (table.taps + 3) / 4;
  const __m256i shuffle =
      kChannels == 3 ? _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,  //
                                        6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1)
                     : _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,  //
                                        8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
  const __m256i start = _mm256_setr_epi32(kBias + (1 << (kHorizontalShift - 1)), kBias + (1 << (kHorizontalShift - 1)),
                                          kBias + (1 << (kHorizontalShift - 1)), kBias + (1 << (kHorizontalShift - 1)),
                                          0, 0, 0, 0);
  const __m128i unbias = _mm_set1_epi32(kBias >> kHorizontalShift);
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = in + table.first[x] * kChannels;
    const int16_t* w = paired + static_cast<size_t>(x) * groups * 16;
    __m256i sum = start;
    for (int32_t k = 0; k < table.count[x]; k += 4, p += 4 * kChannels, w += 16) {
      const __m256i pixels = _mm256_shuffle_epi8(
          _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), shuffle);
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(pixels, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w))));
    }
    const __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    // The plain pass's window value: shifted, unbiased, saturated to int16 by the pack.
    const __m128i value = _mm_packs_epi32(_mm_sub_epi32(_mm_srai_epi32(total, kHorizontalShift), unbias), unbias);
    if (kChannels == 4 || x + 1 < width) {
      // A 3-channel pixel's fourth value is the next pixel's first, written over in its turn.
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x * kChannels), value);
    } else {
      int16_t lanes[8];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), value);
      for (int c = 0; c < kChannels; ++c) out[x * kChannels + c] = lanes[c];
    }
  }
}
}  // namespace

void HorizontalPassAvx2(const AxisCoefficients& table, const int16_t* paired, int channels, int32_t width,
                        const uint8_t* in, int16_t* out) {
  (channels == 3 ? Horizontal<3> : Horizontal<4>)(table, paired, width, in, out);
}
