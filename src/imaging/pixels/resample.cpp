#include "imaging/pixels/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/resample_passes.h"

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kLanczosSupport = 3;

inline uint8_t ClampToLevel(int32_t sum, int32_t top) {
  if (sum <= 0) return 0;
  const int32_t v = (sum + (1 << (kVerticalShift - 1))) >> kVerticalShift;
  return static_cast<uint8_t>(v < top ? v : top);
}

// A horizontal sum (bias and rounding included) as the int16 value the window keeps. Only the
// plain pass has it: an inline function the SSE2 file also used could reach plain callers as
// that file's SSE2 copy.
inline int16_t WindowValue(int32_t sum) {
  const int32_t v = (sum >> kHorizontalShift) - (kBias >> kHorizontalShift);
  return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

template <int kChannels>
void Horizontal(const AxisCoefficients& table, int32_t width, const uint8_t* in, int16_t* out) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = in + table.first[x] * kChannels;
    const int16_t* w = &table.weights[static_cast<size_t>(x) * table.taps];
    int32_t sum[kChannels];
    for (int c = 0; c < kChannels; ++c) sum[c] = kBias + (1 << (kHorizontalShift - 1));
    for (int32_t k = 0; k < table.count[x]; ++k, p += kChannels) {
      for (int c = 0; c < kChannels; ++c) sum[c] += w[k] * p[c];
    }
    for (int c = 0; c < kChannels; ++c) out[x * kChannels + c] = WindowValue(sum[c]);
  }
}

// Output row y from the window; colours never above their alpha.
void VerticalPass(Resampler* r, int32_t y) {
  const AxisCoefficients& table = r->vertical;
  const size_t span = r->sums.size();
  int32_t* sums = r->sums.data();
  const int16_t* w = &table.weights[static_cast<size_t>(y) * table.taps];
  for (int32_t k = 0; k < table.count[y]; ++k) {
    r->rows[k] = &r->window[static_cast<size_t>((table.first[y] + k) % r->windowRows) * span];
  }
  if (r->simd == Simd::kAvx2) {
    SumColumnsAvx2(r->rows.data(), w, table.count[y], span, sums);
  } else if (r->simd == Simd::kSse2) {
    SumColumnsSse2(r->rows.data(), w, table.count[y], span, sums);
  } else {
    SumColumns(r->rows.data(), w, table.count[y], 0, span, sums);
  }
  const OutputRows& output = r->output;
  uint8_t* out = output.take != nullptr ? r->outputRow.data()
                                        : output.out + static_cast<intptr_t>(y) * output.stride;
  if (r->channels == 3) {
    for (size_t i = r->simd != Simd::kNone ? ClampLevelsSse2(sums, span, out) : 0; i < span; ++i) {
      out[i] = ClampToLevel(sums[i], 255);
    }
    if (output.take != nullptr) output.take(output.context, out);
    return;
  }
  constexpr int32_t kOpaque = 255 << kVerticalShift;
  for (size_t i = 0; i < span; i += 4) {
    const int32_t alphaSum = sums[i + 3];
    if (alphaSum > kOpaque) {
      // Alpha overshoots beside a hard edge (an opaque shape on a transparent ground): clamped
      // alone, it would leave the colours' overshoot standing, a bright fringe just inside the
      // edge. The colours are scaled with it, so each keeps its ratio to alpha, which is the
      // colour the picture had there.
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
  if (output.take != nullptr) output.take(output.context, out);
}

int16_t* WindowSlot(Resampler* r) {
  return &r->window[static_cast<size_t>(r->reducedRowsDone % r->windowRows) * r->sums.size()];
}

void Horizontal(const Resampler& r, const uint8_t* row, int16_t* out) {
  const int32_t width = static_cast<int32_t>(r.sums.size()) / r.channels;
  if (r.simd == Simd::kAvx2) return HorizontalPassAvx2(r.horizontal, r.pairedHorizontal.data(), r.channels, width, row, out);
  (r.simd == Simd::kSse2 ? HorizontalPassSse2 : HorizontalPass)(r.horizontal, r.channels, width, row, out);
}

// The window's next row is in: every output row it completes.
void WindowRowAdded(Resampler* r) {
  ++r->reducedRowsDone;
  const AxisCoefficients& v = r->vertical;
  const int32_t height = static_cast<int32_t>(v.first.size());
  while (r->outputRowsDone < height &&
         v.first[r->outputRowsDone] + v.count[r->outputRowsDone] <= r->reducedRowsDone) {
    VerticalPass(r, r->outputRowsDone++);
  }
}

bool SameSize(int32_t inputSize, double covered, int32_t outputSize) {
  return inputSize == outputSize && covered == inputSize;
}

int32_t TapsFor(int32_t inputSize, double covered, int32_t outputSize) {
  if (SameSize(inputSize, covered, outputSize)) return 1;
  const double filterScale = std::max(covered / outputSize, 1.0);
  return static_cast<int32_t>(std::ceil(kLanczosSupport * filterScale)) * 2 + 1;
}
}  // namespace

void HorizontalPass(const AxisCoefficients& table, int channels, int32_t width, const uint8_t* in,
                    int16_t* out) {
  (channels == 3 ? Horizontal<3> : Horizontal<4>)(table, width, in, out);
}

void SumColumns(const int16_t* const* rows, const int16_t* w, int32_t count, size_t begin,
                size_t end, int32_t* sums) {
  for (size_t i = begin; i < end; ++i) sums[i] = 0;
  for (int32_t k = 0; k < count; ++k) {
    for (size_t i = begin; i < end; ++i) sums[i] += w[k] * rows[k][i];
  }
}

// Each output pixel's weights in groups of four taps, 16 values a group: taps 0 and 1 side by side
// four times over (one pair for each channel), then taps 2 and 3 the same; zero past its count.
std::vector<int16_t> PairedWeights(const AxisCoefficients& table) {
  const size_t groups = static_cast<size_t>(table.taps + 3) / 4;
  std::vector<int16_t> paired(table.first.size() * groups * 16, 0);
  for (size_t x = 0; x < table.first.size(); ++x) {
    for (int32_t k = 0; k < table.count[x]; ++k) {
      int16_t* group = &paired[(x * groups + static_cast<size_t>(k) / 4) * 16 + (k % 4) / 2 * 8 + k % 2];
      for (int c = 0; c < 4; ++c) group[c * 2] = table.weights[x * static_cast<size_t>(table.taps) + static_cast<size_t>(k)];
    }
  }
  return paired;
}

double Lanczos3(double x) {
  if (x == 0) return 1;
  if (x <= -kLanczosSupport || x >= kLanczosSupport) return 0;
  // sin(3t) = sin t (3 - 4 sin^2 t): one sine, not two (the runtime's is slow, in long double).
  const double px = kPi * x, s = std::sin(px / kLanczosSupport);
  return kLanczosSupport * (s * (3 - 4 * s * s)) * s / (px * px);
}

AxisCoefficients ComputeCoefficients(int32_t inputSize, double covered, int32_t outputSize) {
  AxisCoefficients table;
  table.taps = TapsFor(inputSize, covered, outputSize);
  table.first.resize(static_cast<size_t>(outputSize));
  table.count.assign(static_cast<size_t>(outputSize), 1);
  table.weights.assign(static_cast<size_t>(outputSize) * table.taps, 0);
  if (table.taps == 1) {
    for (int32_t i = 0; i < outputSize; ++i) {
      table.first[i] = i;
      table.weights[i] = int16_t{1} << kWeightBits;
    }
    return table;
  }
  const double scale = covered / outputSize;
  // Reducing, the kernel is stretched over the reduction, which is what averages; enlarging,
  // it stays at its own width and interpolates.
  const double filterScale = std::max(scale, 1.0);
  const double support = kLanczosSupport * filterScale;
  std::vector<double> w(static_cast<size_t>(table.taps));
  for (int32_t i = 0; i < outputSize; ++i) {
    const double centre = (i + 0.5) * scale;
    const int32_t first = std::max(static_cast<int32_t>(std::floor(centre - support + 0.5)), 0);
    const int32_t end =
        std::min(static_cast<int32_t>(std::floor(centre + support + 0.5)), inputSize);
    const int32_t count = std::max(1, std::min(end - first, table.taps));
    double total = 0;
    for (int32_t k = 0; k < count; ++k) {
      // Input pixel j covers [j, j + 1), the last one only up to `covered`.
      const double left = first + k, right = std::min(left + 1, covered);
      const double part = std::max(right - left, 0.0);
      w[k] = part * Lanczos3(((left + right) / 2 - centre) / filterScale);
      total += w[k];
    }
    if (total == 0) total = 1;
    int16_t* fixed = &table.weights[static_cast<size_t>(i) * table.taps];
    int32_t sum = 0, largest = 0;
    for (int32_t k = 0; k < count; ++k) {
      fixed[k] = static_cast<int16_t>(std::lround(w[k] / total * (1 << kWeightBits)));
      sum += fixed[k];
      if (fixed[k] > fixed[largest]) largest = k;
    }
    // What rounding took or gave goes to the largest weight, so that the weights sum to one
    // exactly and a flat colour comes out as it went in.
    fixed[largest] = static_cast<int16_t>(fixed[largest] + (1 << kWeightBits) - sum);
    table.first[i] = first;
    table.count[i] = count;
  }
  return table;
}

ResamplePlan PlanResample(int32_t sourceWidth, int32_t sourceHeight, double coveredWidth,
                          double coveredHeight, int32_t width, int32_t height) {
  ResamplePlan p = {sourceWidth, sourceHeight, coveredWidth, coveredHeight, width, height,
                    1, 1, 0, 0, 0, 0, 0, false};
  if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0) return p;
  p.factorX = BoxFactor(sourceWidth, width, kReducingGap);
  p.factorY = BoxFactor(sourceHeight, height, kReducingGap);
  p.reducedWidth = ReducedSide(sourceWidth, p.factorX);
  p.reducedHeight = ReducedSide(sourceHeight, p.factorY);
  p.tapsX = TapsFor(p.reducedWidth, coveredWidth / p.factorX, width);
  p.tapsY = TapsFor(p.reducedHeight, coveredHeight / p.factorY, height);
  // Every buffer, counted with 4 channels: the window of 16-bit rows and the 32-bit sums, each
  // as wide as the output; the coefficients (16-bit weights, first and count, and the horizontal
  // ones paired); the row of boxes and its 64-bit sums, as wide as the averaged source.
  const int64_t span = int64_t{width} * 4;
  p.bytes = span * 2 * p.tapsY + span * 4 +
            (int64_t{width} * p.tapsX + int64_t{height} * p.tapsY) * 2 + int64_t{width} * ((p.tapsX + 3) / 4) * 32 +
            (int64_t{width} + height) * 8 + int64_t{p.reducedWidth} * 4 * (1 + 8);
  p.fits = p.bytes <= kMaxBitmapBytes;
  return p;
}

Resampler StartResampler(PixelLayout layout, const ResamplePlan& plan, const OutputRows& output,
                         Simd simd) {
  Resampler r;
  r.channels = HasAlpha(layout) ? 4 : 3;
  r.boxes = StartBoxAverager(layout, plan.sourceWidth, plan.sourceHeight, plan.factorX,
                             plan.factorY, simd != Simd::kNone);
  r.horizontal = ComputeCoefficients(plan.reducedWidth, plan.coveredWidth / plan.factorX, plan.width);
  r.vertical = ComputeCoefficients(plan.reducedHeight, plan.coveredHeight / plan.factorY, plan.height);
  r.reducedRow.resize(static_cast<size_t>(plan.reducedWidth) * r.channels + kRowRoom);
  r.simd = simd;
  if (simd == Simd::kAvx2) r.pairedHorizontal = PairedWeights(r.horizontal);
  r.windowRows = r.vertical.taps;
  const size_t span = static_cast<size_t>(plan.width) * r.channels;
  r.window.resize(span * r.windowRows);
  r.reducedRowsDone = r.outputRowsDone = 0;
  r.sums.resize(span);
  r.rows.resize(static_cast<size_t>(r.vertical.taps));
  r.output = output;
  if (output.take != nullptr) r.outputRow.resize(span);
  return r;
}

void AddSourceRow(Resampler* r, const uint8_t* row) {
  // Rows already in the reduced layout need no boxes of one pixel, only a copy into the row that
  // has room after its end.
  if (RowsStandAlone(*r)) {
    std::memcpy(r->reducedRow.data(), row, r->reducedRow.size() - kRowRoom);
  } else if (AddSourceRow(&r->boxes, row)) {
    TakeReducedRow(&r->boxes, r->reducedRow.data());
  } else {
    return;
  }
  Horizontal(*r, r->reducedRow.data(), WindowSlot(r));
  WindowRowAdded(r);
}

bool RowsStandAlone(const Resampler& r) {
  const BoxAverager& boxes = r.boxes;
  return boxes.factorX == 1 && boxes.factorY == 1 &&
         (boxes.input == PixelLayout::kBgr24 || boxes.input == PixelLayout::kPbgra32);
}

size_t HorizontalRowValues(const Resampler& r) { return r.sums.size(); }

void HorizontalRow(const Resampler& r, const uint8_t* row, uint8_t* padded, int16_t* made) {
  std::memcpy(padded, row, r.reducedRow.size() - kRowRoom);
  Horizontal(r, padded, made);
}

void AddHorizontalRow(Resampler* r, const int16_t* made) {
  std::memcpy(WindowSlot(r), made, r->sums.size() * sizeof(int16_t));
  WindowRowAdded(r);
}
