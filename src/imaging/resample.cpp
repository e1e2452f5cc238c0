#include "imaging/resample.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/bitmap_size.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kLanczosSupport = 3;

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

inline uint8_t ClampToLevel(int32_t sum, int32_t top) {
  if (sum <= 0) return 0;
  const int32_t v = (sum + (1 << (kVerticalShift - 1))) >> kVerticalShift;
  return static_cast<uint8_t>(v < top ? v : top);
}

// One reduced row through the horizontal pass into int16 values.
template <int kChannels>
void HorizontalPass(const AxisCoefficients& table, int32_t width, const uint8_t* in,
                    int16_t* out) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = in + table.first[x] * kChannels;
    const int32_t* w = &table.weights[static_cast<size_t>(x) * table.taps];
    int32_t sum[kChannels];
    for (int c = 0; c < kChannels; ++c) sum[c] = kBias + (1 << (kHorizontalShift - 1));
    for (int32_t k = 0; k < table.count[x]; ++k, p += kChannels) {
      for (int c = 0; c < kChannels; ++c) sum[c] += w[k] * p[c];
    }
    for (int c = 0; c < kChannels; ++c) {
      const int32_t v = (sum[c] >> kHorizontalShift) - (kBias >> kHorizontalShift);
      out[x * kChannels + c] = static_cast<int16_t>(std::min(32767, std::max(-32768, v)));
    }
  }
}

// The same pass with SSE2, two taps at a time: the four bytes of each of two pixels widened to
// 16 bits and interleaved, times the two weights paired (_mm_madd_epi16), summed into four 32-bit
// lanes, one per channel. Weights fit 16 bits (|w| < 2^15) and a pair of products of a level
// (< 2^8) and a weight stays below 2^24. A 3-channel pixel is read as 4 bytes, the fourth lane
// ignored: the row has 4 bytes of room after its end (see AddSourceRow).
template <int kChannels>
void HorizontalPassSse2(const AxisCoefficients& table, int32_t width, const uint8_t* in,
                        int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  auto pixel = [](const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
  };
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = in + table.first[x] * kChannels;
    const int16_t* w = &table.weights16[static_cast<size_t>(x) * table.taps];
    __m128i sum = _mm_set1_epi32(kBias + (1 << (kHorizontalShift - 1)));
    int32_t k = 0;
    for (; k + 1 < table.count[x]; k += 2, p += 2 * kChannels) {
      const __m128i pair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(pixel(p), pixel(p + kChannels)), zero);
      const __m128i weights =
          _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(w[k]) |
                                              static_cast<uint32_t>(static_cast<uint16_t>(w[k + 1])) << 16));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(pair, weights));
    }
    if (k < table.count[x]) {
      const __m128i last = _mm_unpacklo_epi8(_mm_unpacklo_epi8(pixel(p), zero), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(last, _mm_set1_epi32(static_cast<uint16_t>(w[k]))));
    }
    int32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sum);
    for (int c = 0; c < kChannels; ++c) {
      const int32_t v = (lanes[c] >> kHorizontalShift) - (kBias >> kHorizontalShift);
      out[x * kChannels + c] = static_cast<int16_t>(std::min(32767, std::max(-32768, v)));
    }
  }
}

// The vertical pass's sums for values [begin, end) of a row, in plain code; the weights are the
// table's 32-bit ones or their 16-bit copies.
template <typename Weight>
void SumColumns(const int16_t* const* rows, const Weight* w, int32_t count, size_t begin,
                size_t end, int32_t* sums) {
  for (size_t i = begin; i < end; ++i) sums[i] = 0;
  for (int32_t k = 0; k < count; ++k) {
    for (size_t i = begin; i < end; ++i) sums[i] += w[k] * rows[k][i];
  }
}

// The same with SSE2, eight values and two rows at a time: the rows' 16-bit values interleaved
// and multiplied by the two weights paired. A pair of products stays below 2^30 (values below
// 2^15, weights whose magnitudes sum below 2^15), so the 32-bit lanes cannot overflow. Values
// past the last whole eight are left to the plain code.
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
      const __m128i weights = _mm_set1_epi32(static_cast<int32_t>(
          static_cast<uint16_t>(w[k]) | static_cast<uint32_t>(static_cast<uint16_t>(w[k + 1])) << 16));
      low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
      high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights));
    }
    if (k < count) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i weight = _mm_set1_epi32(static_cast<uint16_t>(w[k]));
      low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), weight));
      high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), weight));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 4), high);
  }
  SumColumns(rows, w, count, i, span, sums);
}

// Output row y from the window; colours never above their alpha.
void VerticalPass(Resampler* r, int32_t y) {
  const AxisCoefficients& table = r->vertical;
  const size_t span = r->sums.size();
  int32_t* sums = r->sums.data();
  const size_t at = static_cast<size_t>(y) * table.taps;
  for (int32_t k = 0; k < table.count[y]; ++k) {
    r->rows[k] = &r->window[static_cast<size_t>((table.first[y] + k) % r->windowRows) * span];
  }
  if (r->simd) {
    SumColumnsSse2(r->rows.data(), &table.weights16[at], table.count[y], span, sums);
  } else {
    SumColumns(r->rows.data(), &table.weights[at], table.count[y], 0, span, sums);
  }
  uint8_t* out = r->out + static_cast<intptr_t>(y) * r->outStride;
  if (r->channels == 3) {
    for (size_t i = 0; i < span; ++i) out[i] = ClampToLevel(sums[i], 255);
  } else {
    constexpr int32_t kOpaque = 255 << kVerticalShift;
    for (size_t i = 0; i < span; i += 4) {
      const int32_t alphaSum = sums[i + 3];
      if (alphaSum > kOpaque) {
        // Alpha overshoots beside a hard edge (an opaque shape on a transparent ground): clamped
        // alone, it would leave the colours' overshoot standing, a bright fringe just inside
        // the edge. The colours are scaled with it, so each keeps its ratio to alpha, which is
        // the colour the picture had there.
        for (size_t c = 0; c < 3; ++c) {
          const int64_t scaled = (int64_t{std::max(sums[i + c], 0)} * 255 + alphaSum / 2) / alphaSum;
          out[i + c] = static_cast<uint8_t>(std::min<int64_t>(scaled, 255));
        }
        out[i + 3] = 255;
        continue;
      }
      const uint8_t alpha = ClampToLevel(alphaSum, 255);
      for (size_t c = 0; c < 3; ++c) out[i + c] = ClampToLevel(sums[i + c], alpha);
      out[i + 3] = alpha;
    }
  }
}

// A reduced row into the window, and every output row it completes.
void AddReducedRow(Resampler* r, const uint8_t* row) {
  const size_t span = r->sums.size();
  int16_t* slot = &r->window[static_cast<size_t>(r->reducedRowsDone % r->windowRows) * span];
  const int32_t width = static_cast<int32_t>(span) / r->channels;
  if (r->simd) {
    (r->channels == 3 ? HorizontalPassSse2<3> : HorizontalPassSse2<4>)(r->horizontal, width, row, slot);
  } else {
    (r->channels == 3 ? HorizontalPass<3> : HorizontalPass<4>)(r->horizontal, width, row, slot);
  }
  ++r->reducedRowsDone;
  const AxisCoefficients& v = r->vertical;
  const int32_t height = static_cast<int32_t>(v.first.size());
  while (r->outputRowsDone < height &&
         v.first[r->outputRowsDone] + v.count[r->outputRowsDone] <= r->reducedRowsDone) {
    VerticalPass(r, r->outputRowsDone++);
  }
}

int32_t TapsFor(double covered, int32_t outputSize) {
  const double filterScale = std::max(covered / outputSize, 1.0);
  return static_cast<int32_t>(std::ceil(kLanczosSupport * filterScale)) * 2 + 1;
}
}  // namespace

double Lanczos3(double x) {
  if (x == 0) return 1;
  if (x <= -kLanczosSupport || x >= kLanczosSupport) return 0;
  const double px = kPi * x;
  return kLanczosSupport * std::sin(px) * std::sin(px / kLanczosSupport) / (px * px);
}

AxisCoefficients ComputeCoefficients(int32_t inputSize, double covered, int32_t outputSize) {
  const double scale = covered / outputSize;
  // Reducing, the kernel is stretched over the reduction, which is what averages; enlarging,
  // it stays at its own width and interpolates.
  const double filterScale = std::max(scale, 1.0);
  const double support = kLanczosSupport * filterScale;
  AxisCoefficients table;
  table.taps = TapsFor(covered, outputSize);
  table.first.resize(static_cast<size_t>(outputSize));
  table.count.resize(static_cast<size_t>(outputSize));
  table.weights.assign(static_cast<size_t>(outputSize) * table.taps, 0);
  std::vector<double> w(static_cast<size_t>(table.taps));
  for (int32_t i = 0; i < outputSize; ++i) {
    const double centre = (i + 0.5) * scale;
    const int32_t first = std::max(static_cast<int32_t>(std::floor(centre - support + 0.5)), 0);
    const int32_t end =
        std::min(static_cast<int32_t>(std::floor(centre + support + 0.5)), inputSize);
    const int32_t count = std::max(1, std::min(end - first, table.taps));
    double total = 0;
    for (int32_t k = 0; k < count; ++k) {
      // Input pixel first + k is centred on first + k + 0.5.
      w[k] = Lanczos3((first + k + 0.5 - centre) / filterScale);
      total += w[k];
    }
    int32_t* fixed = &table.weights[static_cast<size_t>(i) * table.taps];
    int32_t sum = 0, largest = 0;
    for (int32_t k = 0; k < count; ++k) {
      fixed[k] = static_cast<int32_t>(std::lround(w[k] / total * (1 << kWeightBits)));
      sum += fixed[k];
      if (fixed[k] > fixed[largest]) largest = k;
    }
    // What rounding took or gave goes to the largest weight, so that the weights sum to one
    // exactly and a flat colour comes out as it went in.
    fixed[largest] += (1 << kWeightBits) - sum;
    table.first[i] = first;
    table.count[i] = count;
  }
  // Every weight is below 2 in magnitude, so below 2^15 in fixed point: it fits 16 bits.
  table.weights16.assign(table.weights.begin(), table.weights.end());
  return table;
}

bool CanResample(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0) return false;
  const int32_t factorX = BoxFactor(sourceWidth, width, kReducingGap);
  const int32_t factorY = BoxFactor(sourceHeight, height, kReducingGap);
  const int64_t tapsX = TapsFor(static_cast<double>(sourceWidth) / factorX, width);
  const int64_t tapsY = TapsFor(static_cast<double>(sourceHeight) / factorY, height);
  // Every buffer, counted with 4 channels: the window of 16-bit rows and the 32-bit sums, each
  // as wide as the output; the coefficients (32- and 16-bit weights, first and count); the row
  // of boxes and its 64-bit sums, as wide as the averaged source.
  const int64_t span = int64_t{width} * 4;
  const int64_t bytes = span * 2 * tapsY + span * 4 +
                        (int64_t{width} * tapsX + int64_t{height} * tapsY) * 6 +
                        (int64_t{width} + height) * 8 +
                        int64_t{ReducedSide(sourceWidth, factorX)} * 4 * (1 + 8);
  return bytes <= kMaxBitmapBytes;
}

Resampler StartResampler(PixelLayout layout, int32_t sourceWidth, int32_t sourceHeight,
                         int32_t width, int32_t height, uint8_t* out, int32_t outStride) {
  const int32_t factorX = BoxFactor(sourceWidth, width, kReducingGap);
  const int32_t factorY = BoxFactor(sourceHeight, height, kReducingGap);
  const int32_t reducedWidth = ReducedSide(sourceWidth, factorX);
  const int32_t reducedHeight = ReducedSide(sourceHeight, factorY);
  Resampler r;
  r.sourceHeight = sourceHeight;
  r.sourceRowsAdded = 0;
  r.channels = HasAlpha(layout) ? 4 : 3;
  r.boxes = StartBoxAverager(layout, sourceWidth, factorX, factorY);
  r.horizontal = ComputeCoefficients(
      reducedWidth, static_cast<double>(sourceWidth) / factorX, width);
  r.vertical = ComputeCoefficients(
      reducedHeight, static_cast<double>(sourceHeight) / factorY, height);
  // 4 bytes of room after the row: the SSE2 pass reads a 3-byte pixel as 4.
  r.reducedRow.resize(static_cast<size_t>(reducedWidth) * r.channels + 4);
  r.simd = true;
  r.windowRows = r.vertical.taps;
  const size_t span = static_cast<size_t>(width) * r.channels;
  r.window.resize(span * r.windowRows);
  r.reducedRowsDone = r.outputRowsDone = 0;
  r.sums.resize(span);
  r.rows.resize(static_cast<size_t>(r.vertical.taps));
  r.out = out;
  r.outStride = outStride;
  return r;
}

void AddSourceRow(Resampler* r, const uint8_t* row) {
  ++r->sourceRowsAdded;
  const BoxAverager& boxes = r->boxes;
  // Rows already in the reduced layout need no boxes of one pixel, only a copy into the row that
  // has room after its end.
  const bool direct = boxes.factorX == 1 && boxes.factorY == 1 &&
                      (boxes.input == PixelLayout::kBgr24 || boxes.input == PixelLayout::kPbgra32);
  if (direct) {
    std::memcpy(r->reducedRow.data(), row, r->reducedRow.size() - 4);
    return AddReducedRow(r, r->reducedRow.data());
  }
  AddSourceRow(&r->boxes, row);
  if (r->boxes.rowsAdded == r->boxes.factorY || r->sourceRowsAdded == r->sourceHeight) {
    TakeReducedRow(&r->boxes, r->reducedRow.data());
    AddReducedRow(r, r->reducedRow.data());
  }
}
