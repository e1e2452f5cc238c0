// Area averaging for large reductions, in plain integer code over rows of pixels. Platform-free.
//
// A convolution whose support spans a large reduction reads every source pixel many times over.
// Averaging every source pixel of each k-by-k box first, once, leaves the filter a reduction of
// a few times, over a picture k * k times smaller (see resample.h).
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/pixels/pixel_layout.h"

// The integer factor by which a side is averaged so that a reduction by at least `gap` is left
// to the step after it: floor(source / (gap * target)) when that is 2 or more, else 1. With gap
// 1: 4000 -> 800 gives 5, 1001 -> 500 gives 2, 1000 -> 500 gives 2, 1000 -> 600 gives 1; with
// gap 2: 4000 -> 800 gives 2, 1000 -> 300 gives 1. A target of 0 or below gives 1.
int32_t BoxFactor(int32_t sourceSide, int32_t targetSide, int32_t gap);

// The boxes, and a JPEG's shrinking while it decodes, leave at least this much reduction to the
// convolution after them: a box average is soft, and from a reduction of about 2 the
// convolution's own averaging over its wider support makes up for it (measured on photos: 47 dB
// or more against a Lanczos reference of the whole; a JPEG shrunk to within a gap of 1 of the
// target scored 46.8 to 48.1 dB).
constexpr int32_t kReducingGap = 2;

// The scales a JPEG may decode at, as a set of bits named by their denominators.
constexpr int kJpegScaleHalf = 2, kJpegScaleQuarter = 4, kJpegScaleEighth = 8;

// The denominator a JPEG of sourceWidth by sourceHeight decodes at for a target of width by
// height: the largest of the `scales` (8, 4, 2) that the boxes of both sides would take whole
// (see BoxFactor, with the reducing gap), else 1 (enlargements, reductions below 4, and files
// that decode well only whole). 4000 by 3000 to 800 by 600 decodes at 1/2 (2000 by 1500, then
// 2.5 times), to 250 by 188 at 1/4 (1000 by 750, then 4 times).
int JpegScale(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height, int scales);

// The side after averaging; the last box is a partial one when the side is not a multiple of
// the factor: ReducedSide(1001, 5) -> 201, ReducedSide(1000, 5) -> 200.
inline int32_t ReducedSide(int32_t sourceSide, int32_t factor) {
  return static_cast<int32_t>((static_cast<int64_t>(sourceSide) + factor - 1) / factor);
}

// (x + n / 2) / n for the sum x of n pixels, so x < 256 n. Below 4096 pixels it is a multiply
// by m = ceil(2^32 / n) and a shift, exact: the product overshoots x / n by less than
// x / 2^32 < 256 n / 2^32, which stays below the 1 / n that the fraction of x / n is short of 1
// while n * n < 2^24. Larger boxes divide (in a 32-bit process, a library call).
struct Divisor {
  uint64_t n;
  uint32_t m;  // 0 where the division is made
};
inline Divisor DivisorOf(uint64_t n) {
  return {n, n > 1 && n < 4096 ? static_cast<uint32_t>(((uint64_t{1} << 32) + n - 1) / n) : 0};
}
// The sum as wide as it was kept (32 bits for most boxes, 64 past 2^24 pixels), so that a 32-bit
// process adds and divides no wider than it must.
template <typename Sum>
inline uint8_t Average(Sum sum, const Divisor& d) {
  const Sum x = sum + static_cast<Sum>(d.n / 2);
  if (d.m != 0) return static_cast<uint8_t>((static_cast<uint32_t>(x) * uint64_t{d.m}) >> 32);
  return static_cast<uint8_t>(d.n == 1 ? x : x / static_cast<Sum>(d.n));
}

// Averages source rows into rows of boxes. Output rows are 24-bit BGR for an opaque layout and
// premultiplied BGRA for one with alpha, so that a transparent pixel lends no colour to its box
// and an opaque box stays exactly opaque.
struct BoxAverager {
  PixelLayout input;
  int32_t sourceWidth, sourceHeight, factorX, factorY;
  // Per reduced pixel and output channel, for the rows added so far: 32 bits where a box has at
  // most 2^24 pixels (255 times that fits), else 64, so that a box of any size is averaged whole
  // (a whole picture in one pixel sums 255 times 2^31 pixels at most). One of the two is used,
  // or neither where the columns below are.
  std::vector<uint32_t> sums;
  std::vector<uint64_t> wideSums;
  int32_t rowsAdded;        // to the current row of boxes
  int32_t sourceRowsAdded;  // in all
  // With SSE2, where a box has 2 to 257 rows and no colour needs premultiplying: each byte of the
  // rows summed down its column first, 16 bytes at a time (255 times 257 fits 16 bits), then each
  // box's columns added and averaged once per row of boxes. The same sums, so the same averages.
  std::vector<uint16_t> columns;
};

BoxAverager StartBoxAverager(PixelLayout input, int32_t sourceWidth, int32_t sourceHeight,
                             int32_t factorX, int32_t factorY, bool simd);

// Adds one source row of sourceWidth pixels to the current row of boxes; true when that row of
// boxes is complete: factorY rows are in, or the source's last row (a partial last row of boxes).
bool AddSourceRow(BoxAverager* averager, const uint8_t* row);

// Writes the average of the rows added since the last call as ReducedSide(sourceWidth, factorX)
// pixels, the last, partial box of a row and a partial last row averaged over the pixels they
// have, and starts afresh.
void TakeReducedRow(BoxAverager* averager, uint8_t* out);
