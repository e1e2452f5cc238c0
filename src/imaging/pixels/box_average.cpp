#include "imaging/pixels/box_average.h"

#include "imaging/pixels/resample_passes.h"

#include <algorithm>

namespace {
// The most pixels a box may have for its sums to be kept in 32 bits.
constexpr int64_t kMaxNarrowBox = int64_t{1} << 24;
}  // namespace

int32_t BoxFactor(int32_t sourceSide, int32_t targetSide, int32_t gap) {
  if (targetSide <= 0 || gap <= 0) return 1;
  const int64_t factor = sourceSide / (int64_t{targetSide} * gap);
  return factor >= 2 ? static_cast<int32_t>(factor) : 1;
}

int JpegScale(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
              int scales) {
  const int32_t room = std::min(BoxFactor(sourceWidth, width, kReducingGap),
                                BoxFactor(sourceHeight, height, kReducingGap));
  for (int denominator = kJpegScaleEighth; denominator > 1; denominator /= 2) {
    if ((scales & denominator) != 0 && denominator <= room) return denominator;
  }
  return 1;
}

BoxAverager StartBoxAverager(PixelLayout input, int32_t sourceWidth, int32_t sourceHeight,
                             int32_t factorX, int32_t factorY, bool simd) {
  const size_t channels = HasAlpha(input) ? 4 : 3;
  const size_t values = static_cast<size_t>(ReducedSide(sourceWidth, factorX)) * channels;
  BoxAverager averager{input, sourceWidth, sourceHeight, factorX, factorY, {}, {}, 0, 0, {}};
  if (int64_t{factorX} * factorY <= kMaxNarrowBox) {
    if (simd && factorY >= 2 && factorY <= 257 && input != PixelLayout::kBgra32) {
      averager.columns.assign(static_cast<size_t>(sourceWidth) * BytesPerPixel(input), 0);
    } else {
      averager.sums.assign(values, 0);
    }
  } else {
    averager.wideSums.assign(values, 0);
  }
  return averager;
}

namespace {
// v * a / 255, rounded, without a division: exact for every v and a of 0 to 255.
inline uint32_t Premultiply(uint32_t v, uint32_t a) {
  const uint32_t t = v * a + 128;
  return (t + (t >> 8)) >> 8;
}

// The sums of one box's pixels in a row, `count` of them from p.
template <int kBytes, bool kAlpha, bool kStraight, typename Sum>
inline void AddBox(const uint8_t* p, int32_t count, Sum* sum) {
  Sum b = 0, g = 0, r = 0, alpha = 0;
  for (int32_t x = 0; x < count; ++x, p += kBytes) {
    if (kStraight) {
      const uint32_t pa = p[3];
      b += Premultiply(p[0], pa);
      g += Premultiply(p[1], pa);
      r += Premultiply(p[2], pa);
    } else {
      b += p[0];
      g += p[1];
      r += p[2];
    }
    if (kAlpha) alpha += p[3];
  }
  sum[0] += b;
  sum[1] += g;
  sum[2] += r;
  if (kAlpha) sum[3] += alpha;
}

// One loop over a row, compiled once per layout: the layout decides the bytes per pixel and
// whether alpha is read, premultiplied or ignored; `Sum` is the width of the sums. The common
// factors 1 to 4 get loops of a known length, which the compiler unrolls.
template <int kBytes, bool kAlpha, bool kStraight, int kFactor, typename Sum>
void AddRow(BoxAverager* a, Sum* sum, const uint8_t* p) {
  const int32_t factor = kFactor != 0 ? kFactor : a->factorX;
  const int32_t wholeBoxes = a->sourceWidth / factor, left = a->sourceWidth % factor;
  const int channels = kAlpha ? 4 : 3;
  for (int32_t box = 0; box < wholeBoxes; ++box, p += factor * kBytes, sum += channels) {
    AddBox<kBytes, kAlpha, kStraight>(p, factor, sum);
  }
  if (left != 0) AddBox<kBytes, kAlpha, kStraight>(p, left, sum);
}

template <int kBytes, bool kAlpha, bool kStraight, typename Sum>
void AddRowOfFactor(BoxAverager* a, Sum* sum, const uint8_t* p) {
  switch (a->factorX) {
    case 1: return AddRow<kBytes, kAlpha, kStraight, 1>(a, sum, p);
    case 2: return AddRow<kBytes, kAlpha, kStraight, 2>(a, sum, p);
    case 3: return AddRow<kBytes, kAlpha, kStraight, 3>(a, sum, p);
    case 4: return AddRow<kBytes, kAlpha, kStraight, 4>(a, sum, p);
    default: return AddRow<kBytes, kAlpha, kStraight, 0>(a, sum, p);
  }
}

template <typename Sum>
void AddRowOfLayout(BoxAverager* averager, Sum* sums, const uint8_t* row) {
  switch (averager->input) {
    case PixelLayout::kBgr24: AddRowOfFactor<3, false, false>(averager, sums, row); break;
    case PixelLayout::kBgrx32: AddRowOfFactor<4, false, false>(averager, sums, row); break;
    case PixelLayout::kBgra32: AddRowOfFactor<4, true, true>(averager, sums, row); break;
    case PixelLayout::kPbgra32: AddRowOfFactor<4, true, false>(averager, sums, row); break;
  }
}

// One box's average from its columns' sums. The divisor comes by value, so that it stays in
// registers however the bytes written alias.
template <int kBytes, int kChannels>
inline void AverageBox(const uint16_t* column, int32_t columns, Divisor d, uint8_t* out) {
  uint32_t sum[kChannels] = {};
  for (int32_t k = 0; k < columns; ++k, column += kBytes) {
    for (int c = 0; c < kChannels; ++c) sum[c] += column[c];
  }
  for (int c = 0; c < kChannels; ++c) out[c] = Average(sum[c], d);
}

// Each box's average straight from its columns' sums, then the columns cleared for the next row
// of boxes: one pass over them. The common factors 2 to 4 get loops of a known length.
template <int kBytes, int kChannels, int kFactor>
void AverageColumns(BoxAverager* a, uint8_t* out) {
  const int32_t factor = kFactor != 0 ? kFactor : a->factorX;
  const int32_t wholeBoxes = a->sourceWidth / factor, left = a->sourceWidth % factor;
  const uint64_t rows = static_cast<uint64_t>(std::max(a->rowsAdded, 1));
  const uint16_t* column = a->columns.data();
  const Divisor whole = DivisorOf(static_cast<uint64_t>(factor) * rows);
  for (int32_t b = 0; b < wholeBoxes; ++b, column += factor * kBytes, out += kChannels) {
    AverageBox<kBytes, kChannels>(column, factor, whole, out);
  }
  if (left != 0) AverageBox<kBytes, kChannels>(column, left, DivisorOf(static_cast<uint64_t>(left) * rows), out);
  std::fill(a->columns.begin(), a->columns.end(), uint16_t{0});
  a->rowsAdded = 0;
}

template <int kBytes, int kChannels>
void AverageColumnsOfFactor(BoxAverager* a, uint8_t* out) {
  switch (a->factorX) {
    case 2: return AverageColumns<kBytes, kChannels, 2>(a, out);
    case 3: return AverageColumns<kBytes, kChannels, 3>(a, out);
    case 4: return AverageColumns<kBytes, kChannels, 4>(a, out);
    default: return AverageColumns<kBytes, kChannels, 0>(a, out);
  }
}

template <typename Sum>
void TakeRow(BoxAverager* averager, Sum* sum, uint8_t* out) {
  const int channels = HasAlpha(averager->input) ? 4 : 3;
  const int32_t boxes = ReducedSide(averager->sourceWidth, averager->factorX);
  const uint64_t rows = static_cast<uint64_t>(std::max(averager->rowsAdded, 1));
  // Every box but the last is whole; the last has the columns that are left.
  const int64_t lastColumns =
      averager->sourceWidth - int64_t{boxes - 1} * averager->factorX;
  const Divisor whole = DivisorOf(static_cast<uint64_t>(averager->factorX) * rows);
  const Divisor last = DivisorOf(static_cast<uint64_t>(lastColumns) * rows);
  for (int32_t box = 0; box < boxes; ++box) {
    const Divisor& d = box + 1 < boxes ? whole : last;
    for (int c = 0; c < channels; ++c, ++sum, ++out) {
      *out = Average(*sum, d);
      *sum = 0;
    }
  }
  averager->rowsAdded = 0;
}
}  // namespace

bool AddSourceRow(BoxAverager* averager, const uint8_t* row) {
  if (!averager->columns.empty()) {
    AddColumnsSse2(row, averager->columns.size(), averager->columns.data());
  } else if (averager->wideSums.empty()) {
    AddRowOfLayout(averager, averager->sums.data(), row);
  } else {
    AddRowOfLayout(averager, averager->wideSums.data(), row);
  }
  ++averager->sourceRowsAdded;
  return ++averager->rowsAdded == averager->factorY ||
         averager->sourceRowsAdded == averager->sourceHeight;
}

void TakeReducedRow(BoxAverager* averager, uint8_t* out) {
  if (!averager->columns.empty()) {
    switch (averager->input) {
      case PixelLayout::kBgr24: return AverageColumnsOfFactor<3, 3>(averager, out);
      case PixelLayout::kBgrx32: return AverageColumnsOfFactor<4, 3>(averager, out);
      default: return AverageColumnsOfFactor<4, 4>(averager, out);
    }
  }
  if (averager->wideSums.empty()) {
    TakeRow(averager, averager->sums.data(), out);
  } else {
    TakeRow(averager, averager->wideSums.data(), out);
  }
}
