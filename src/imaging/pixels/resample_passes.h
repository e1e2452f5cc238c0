// The resampler's two passes, in plain code (resample.cpp) and with SSE2 (resample_sse2.cpp, the
// one file built for SSE2), which give the same values, and the box averager's column sums.
// Internal to the resampler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/pixels/resample.h"

// Fixed point, derived for the worst case. Weights carry kWeightBits (14) fractional bits; the
// absolute values of one pixel's weights sum to less than 2 (Lanczos-3's negative lobes add
// about 0.3 to the 1 that the weights sum to).
// - Horizontal pass: 255 * 2 * 2^14 < 2^24, far inside 32 bits; the result is kept in int16 with
//   kFractionBits (6) fractional bits, so an overshoot of either lobe survives: -255..510 levels
//   times 64 fit int16's +-32767.
// - Vertical pass: |value| < 2^15 times weights summing below 2 * 2^14 stays below 2^30.
// Each pass rounds once, to half a unit of its result: 1/128 of a level after the first, half a
// level after the second.
constexpr int kFractionBits = 6;
constexpr int32_t kHorizontalShift = kWeightBits - kFractionBits;
constexpr int32_t kVerticalShift = kWeightBits + kFractionBits;
// Added before the horizontal pass's shift so that a negative sum shifts as a positive one
// (a right shift of a negative number is the compiler's choice in C++17): 1024 levels.
constexpr int32_t kBias = int32_t{1024} << kWeightBits;

// One reduced row of `channels` (3 or 4) per pixel through the horizontal pass. The SSE2 pass
// reads a 3-byte pixel as 4: the row must have kRowRoom bytes of room after its end.
void HorizontalPass(const AxisCoefficients& table, int channels, int32_t width, const uint8_t* in,
                    int16_t* out);
void HorizontalPassSse2(const AxisCoefficients& table, int channels, int32_t width,
                        const uint8_t* in, int16_t* out);

// The vertical pass's sums of values [begin, end) of `count` window rows, each times its
// weight.
void SumColumns(const int16_t* const* rows, const int16_t* w, int32_t count, size_t begin,
                size_t end, int32_t* sums);
void SumColumnsSse2(const int16_t* const* rows, const int16_t* w, int32_t count, size_t span,
                    int32_t* sums);

// The first values of an opaque row, rounded and clamped to levels as the plain pass does, as many
// as come in whole sixteens; answers how many.
size_t ClampLevelsSse2(const int32_t* sums, size_t count, uint8_t* out);

// The horizontal pass with AVX2, four taps at a time: `paired` holds each output pixel's weights
// as PairedWeights lays them out. It reads up to 16 bytes past a row's last pixel (see
// kRowRoom).
void HorizontalPassAvx2(const AxisCoefficients& table, const int16_t* paired, int channels, int32_t width,
                        const uint8_t* in, int16_t* out);
std::vector<int16_t> PairedWeights(const AxisCoefficients& table);

// The vertical pass's sums with AVX2 (resample_avx2.cpp, the one file built for AVX2).
void SumColumnsAvx2(const int16_t* const* rows, const int16_t* w, int32_t count, size_t span,
                    int32_t* sums);

// Adds each of `count` bytes of a row to its column's sum.
void AddColumnsSse2(const uint8_t* row, size_t count, uint16_t* columns);
