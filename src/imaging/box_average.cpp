#include "imaging/box_average.h"

#include <algorithm>

int32_t BoxFactor(int32_t sourceSide, int32_t targetSide) {
  if (targetSide <= 0 || sourceSide < 2 * static_cast<int64_t>(targetSide)) return 1;
  return sourceSide / targetSide;
}

int32_t ReducedSide(int32_t sourceSide, int32_t factor) {
  return static_cast<int32_t>((static_cast<int64_t>(sourceSide) + factor - 1) / factor);
}

void LimitBoxFactors(int32_t* factorX, int32_t* factorY) {
  while (static_cast<int64_t>(*factorX) * *factorY > kMaxBoxPixels) {
    int32_t* larger = *factorX >= *factorY ? factorX : factorY;
    *larger /= 2;
  }
}

bool HasAlpha(PixelLayout layout) {
  return layout == PixelLayout::kBgra32 || layout == PixelLayout::kPbgra32;
}

BoxAverager StartBoxAverager(PixelLayout input, int32_t sourceWidth, int32_t factorX,
                             int32_t factorY) {
  const size_t channels = HasAlpha(input) ? 4 : 3;
  const size_t boxes = static_cast<size_t>(ReducedSide(sourceWidth, factorX));
  return BoxAverager{input, sourceWidth, factorX, factorY,
                     std::vector<uint32_t>(boxes * channels, 0), 0};
}

namespace {
// v * a / 255, rounded, without a division: exact for every v and a of 0 to 255.
inline uint32_t Premultiply(uint32_t v, uint32_t a) {
  const uint32_t t = v * a + 128;
  return (t + (t >> 8)) >> 8;
}

// One loop over a row, compiled once per layout: the layout decides the bytes per pixel and
// whether alpha is read, premultiplied or ignored.
template <int kBytes, bool kAlpha, bool kStraight>
void AddRow(BoxAverager* a, const uint8_t* p) {
  uint32_t* sum = a->sums.data();
  for (int32_t x0 = 0; x0 < a->sourceWidth; x0 += a->factorX) {
    const int32_t end = std::min(a->sourceWidth, x0 + a->factorX);
    uint32_t b = 0, g = 0, r = 0, alpha = 0;
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
}  // namespace

void AddSourceRow(BoxAverager* averager, const uint8_t* row) {
  switch (averager->input) {
    case PixelLayout::kBgr24: AddRow<3, false, false>(averager, row); break;
    case PixelLayout::kBgrx32: AddRow<4, false, false>(averager, row); break;
    case PixelLayout::kBgra32: AddRow<4, true, true>(averager, row); break;
    case PixelLayout::kPbgra32: AddRow<4, true, false>(averager, row); break;
  }
  ++averager->rowsAdded;
}

void TakeReducedRow(BoxAverager* averager, uint8_t* out) {
  const int channels = HasAlpha(averager->input) ? 4 : 3;
  const int32_t boxes = ReducedSide(averager->sourceWidth, averager->factorX);
  const uint32_t rows = static_cast<uint32_t>(std::max(averager->rowsAdded, 1));
  uint32_t* sum = averager->sums.data();
  for (int32_t box = 0; box < boxes; ++box) {
    const int32_t first = box * averager->factorX;
    const uint32_t columns =
        static_cast<uint32_t>(std::min(averager->factorX, averager->sourceWidth - first));
    const uint32_t n = columns * rows;
    for (int c = 0; c < channels; ++c, ++sum, ++out) {
      *out = static_cast<uint8_t>((*sum + n / 2) / n);
      *sum = 0;
    }
  }
  averager->rowsAdded = 0;
}
