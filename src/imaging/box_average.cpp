#include "imaging/box_average.h"

#include <algorithm>

int32_t BoxFactor(int32_t sourceSide, int32_t targetSide, int32_t gap) {
  if (targetSide <= 0 || gap <= 0) return 1;
  const int64_t factor = sourceSide / (int64_t{targetSide} * gap);
  return factor >= 2 ? static_cast<int32_t>(factor) : 1;
}

int32_t ReducedSide(int32_t sourceSide, int32_t factor) {
  return static_cast<int32_t>((static_cast<int64_t>(sourceSide) + factor - 1) / factor);
}

bool HasAlpha(PixelLayout layout) {
  return layout == PixelLayout::kBgra32 || layout == PixelLayout::kPbgra32;
}

BoxAverager StartBoxAverager(PixelLayout input, int32_t sourceWidth, int32_t factorX,
                             int32_t factorY) {
  const size_t channels = HasAlpha(input) ? 4 : 3;
  const size_t boxes = static_cast<size_t>(ReducedSide(sourceWidth, factorX));
  return BoxAverager{input, sourceWidth, factorX, factorY,
                     std::vector<uint64_t>(boxes * channels, 0), 0};
}

namespace {
// v * a / 255, rounded, without a division: exact for every v and a of 0 to 255.
inline uint32_t Premultiply(uint32_t v, uint32_t a) {
  const uint32_t t = v * a + 128;
  return (t + (t >> 8)) >> 8;
}

// One loop over a row, compiled once per layout: the layout decides the bytes per pixel and
// whether alpha is read, premultiplied or ignored. A box's share of one row is summed in
// `RowSum`: 32 bits while a box is narrower than 2^24 pixels (255 times that fits), else 64.
template <int kBytes, bool kAlpha, bool kStraight, typename RowSum>
void AddRow(BoxAverager* a, const uint8_t* p) {
  uint64_t* sum = a->sums.data();
  for (int32_t x0 = 0; x0 < a->sourceWidth; x0 += a->factorX) {
    const int32_t end = std::min(a->sourceWidth, x0 + a->factorX);
    RowSum b = 0, g = 0, r = 0, alpha = 0;
    for (int32_t x = x0; x < end; ++x, p += kBytes) {
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
    if (kAlpha) {
      sum[3] += alpha;
      sum += 4;
    } else {
      sum += 3;
    }
  }
}

template <typename RowSum>
void AddRowOfLayout(BoxAverager* averager, const uint8_t* row) {
  switch (averager->input) {
    case PixelLayout::kBgr24: AddRow<3, false, false, RowSum>(averager, row); break;
    case PixelLayout::kBgrx32: AddRow<4, false, false, RowSum>(averager, row); break;
    case PixelLayout::kBgra32: AddRow<4, true, true, RowSum>(averager, row); break;
    case PixelLayout::kPbgra32: AddRow<4, true, false, RowSum>(averager, row); break;
  }
}
}  // namespace

void AddSourceRow(BoxAverager* averager, const uint8_t* row) {
  if (averager->factorX < (1 << 24)) {
    AddRowOfLayout<uint32_t>(averager, row);
  } else {
    AddRowOfLayout<uint64_t>(averager, row);
  }
  ++averager->rowsAdded;
}

void TakeReducedRow(BoxAverager* averager, uint8_t* out) {
  const int channels = HasAlpha(averager->input) ? 4 : 3;
  const int32_t boxes = ReducedSide(averager->sourceWidth, averager->factorX);
  const uint64_t rows = static_cast<uint64_t>(std::max(averager->rowsAdded, 1));
  uint64_t* sum = averager->sums.data();
  for (int32_t box = 0; box < boxes; ++box) {
    const int64_t first = int64_t{box} * averager->factorX;
    const uint64_t n =
        static_cast<uint64_t>(std::min<int64_t>(averager->factorX, averager->sourceWidth - first)) *
        rows;
    for (int c = 0; c < channels; ++c, ++sum, ++out) {
      const uint64_t rounded = *sum + n / 2;
      // A 64-bit division is a library call in a 32-bit process; most boxes need none.
      *out = static_cast<uint8_t>(rounded >> 32 == 0 && n >> 32 == 0
                                      ? static_cast<uint32_t>(rounded) / static_cast<uint32_t>(n)
                                      : rounded / n);
      *sum = 0;
    }
  }
  averager->rowsAdded = 0;
}
