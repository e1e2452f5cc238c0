// The vertical pass with AVX2. The only file built for AVX2: the processor may lack it, and the
// resampler runs this only where the platform says it has it.
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
