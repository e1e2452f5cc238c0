// Area averaging for large reductions, in plain integer code over rows of pixels. Platform-free.
//
// A reduction by a factor of 2 or more through a single bilinear draw reads only a few source
// pixels per output pixel and skips the rest, which aliases fine detail into moiré. Averaging
// every source pixel of each k-by-k box first leaves the engine a reduction below 2, where its
// own interpolation is sound.
#pragma once

#include <cstdint>
#include <vector>

// The integer factor by which a side is averaged so that a reduction by at least `gap` is left
// to the step after it: floor(source / (gap * target)) when that is 2 or more, else 1. With gap
// 1: 4000 -> 800 gives 5, 1001 -> 500 gives 2, 1000 -> 500 gives 2, 1000 -> 600 gives 1; with
// gap 2: 4000 -> 800 gives 2, 1000 -> 300 gives 1. A target of 0 or below gives 1.
int32_t BoxFactor(int32_t sourceSide, int32_t targetSide, int32_t gap);

// The side after averaging; the last box is a partial one when the side is not a multiple of
// the factor: ReducedSide(1001, 5) -> 201, ReducedSide(1000, 5) -> 200.
int32_t ReducedSide(int32_t sourceSide, int32_t factor);

// Rows of pixels as GDI+ lays them out in memory, blue first.
enum class PixelLayout {
  kBgr24,    // opaque, 3 bytes
  kBgrx32,   // opaque, 4 bytes, the fourth not read
  kBgra32,   // straight alpha
  kPbgra32,  // alpha, colours premultiplied by it
};

// True for the two layouts with alpha; the others average into 24-bit BGR rows.
bool HasAlpha(PixelLayout layout);

// Averages source rows into rows of boxes. Output rows are 24-bit BGR for an opaque layout and
// premultiplied BGRA for one with alpha, so that a transparent pixel lends no colour to its box
// and an opaque box stays exactly opaque.
struct BoxAverager {
  PixelLayout input;
  int32_t sourceWidth, factorX, factorY;
  // Per reduced pixel and output channel, for the rows added so far: 32 bits where a box has at
  // most 2^24 pixels (255 times that fits), else 64, so that a box of any size is averaged whole
  // (a whole picture in one pixel sums 255 times 2^31 pixels at most). One of the two is used.
  std::vector<uint32_t> sums;
  std::vector<uint64_t> wideSums;
  int32_t rowsAdded;
};

BoxAverager StartBoxAverager(PixelLayout input, int32_t sourceWidth, int32_t factorX,
                             int32_t factorY);

// Adds one source row of sourceWidth pixels to the current row of boxes.
void AddSourceRow(BoxAverager* averager, const uint8_t* row);

// Writes the average of the rows added since the last call (a partial box row at the bottom is
// averaged over the rows it has) as ReducedSide(sourceWidth, factorX) pixels, and starts afresh.
void TakeReducedRow(BoxAverager* averager, uint8_t* out);
