// Every size change computed by the plug-in itself, as sharp as a Lanczos resample: boxes of
// whole source pixels first where a side shrinks a lot, then a separable Lanczos-3 convolution
// over what is left. Plain integer code over rows of pixels; platform-free.
//
// Where a side shrinks by less than 4, its boxes are 1 pixel and the convolution does all the
// work; from 4 on, integer boxes take the source down to at least twice the target (the
// reducing gap), and the convolution, whose support grows with the reduction left, takes it the
// rest of the way. Growing, the kernel keeps its own width and interpolates. Geometry is that of
// one resample of the whole source: output pixel i is centred on source position
// (i + 0.5) * source / target, and a partial last box weighs what it covers, so nothing shifts
// and no edge row or column is lost, doubled or overweighted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/pixels/box_average.h"
#include "imaging/pixels/pixel_layout.h"


// The Lanczos-3 kernel: sinc(x) * sinc(x / 3) for |x| < 3, else 0.
double Lanczos3(double x);

// The coefficient table of one axis: for output pixel i, the weights of input pixels first[i]
// to first[i] + count[i] - 1, at weights[i * taps ...], in fixed point with kWeightBits
// fractional bits, summing to exactly 1 << kWeightBits so that a flat colour stays exact.
// `covered` is how much of the `inputSize` pixels the source covers: all of them, or, after
// boxes that do not divide the side, all but part of the last one (1001 pixels in boxes of 5
// cover 200.2 of 201). Output pixel i is centred on input position (i + 0.5) * covered /
// outputSize; each input pixel weighs the kernel at the centre of what it covers times how much
// it covers. Each pixel's weights are normalised over the input pixels that exist, so an edge
// needs nothing beyond it: no dark or doubled border. Where input and output are the same size,
// each output pixel is its input pixel (one tap).
constexpr int kWeightBits = 14;
struct AxisCoefficients {
  int32_t taps;
  std::vector<int32_t> first, count;
  std::vector<int16_t> weights;  // every weight is below 2 in magnitude: below 2^15
};
AxisCoefficients ComputeCoefficients(int32_t inputSize, double covered, int32_t outputSize);

// Where output rows go: into memory, row y at out + y * stride; or, where `take` is set, each
// row, top first, to `take` as soon as it is finished.
struct OutputRows {
  uint8_t* out;
  int32_t stride;
  void (*take)(void* context, const uint8_t* row);
  void* context;
};

// Resamples a source fed row by row, top first, into width by height output rows as they
// become ready. Source rows are in any PixelLayout; output rows are 24-bit BGR for an opaque
// layout, else premultiplied BGRA with every colour at most its alpha; where alpha overshoots
// 255, the colours are scaled down with it, keeping their ratio to alpha. Memory: one row of boxes
// and the few rows of the horizontal pass that the vertical one still needs.
// The instructions the passes use: plain code, SSE2 (both passes, the box sums and the clamp of
// an opaque row), or SSE2 and AVX2 (the vertical pass); every choice gives the same bytes. Only
// what the processor has: the caller asks the platform.
enum class Simd { kNone, kSse2, kAvx2 };

// How many bytes after its last pixel a row given to the horizontal pass must have room for: the
// SIMD passes read whole groups of pixels.
constexpr size_t kRowRoom = 16;

struct Resampler {
  int channels;  // 3 or 4
  BoxAverager boxes;
  AxisCoefficients horizontal, vertical;
  std::vector<int16_t> pairedHorizontal;  // the horizontal weights as the AVX2 pass reads them
  std::vector<uint8_t> reducedRow;
  // The horizontal pass's last vertical.taps rows, as a ring: values in 1/64 of a level, not
  // clamped, so that the vertical pass sees the overshoot of both lobes.
  std::vector<int16_t> window;
  int32_t windowRows, reducedRowsDone, outputRowsDone;
  std::vector<int32_t> sums;
  std::vector<const int16_t*> rows;  // the window's rows that one output row reads
  OutputRows output;
  std::vector<uint8_t> outputRow;  // where rows are handed on, each is made here
  Simd simd;
};

// One resample, worked out once: the source's rows are sourceWidth by sourceHeight pixels, of which
// the picture covers coveredWidth by coveredHeight: all of them, or part of the last column and
// row where the rows were shrunk while decoding (4001 columns decoded at 1/8 are 501, covering
// 500.125). `fits` is false when a side is not positive or the resampler's own buffers (`bytes`)
// would pass a bitmap's limit (see bitmap_size.h).
struct ResamplePlan {
  int32_t sourceWidth, sourceHeight;
  double coveredWidth, coveredHeight;
  int32_t width, height;
  int32_t factorX, factorY;             // the boxes
  int32_t reducedWidth, reducedHeight;  // the picture after them
  int32_t tapsX, tapsY;
  int64_t bytes;
  bool fits;
};
ResamplePlan PlanResample(int32_t sourceWidth, int32_t sourceHeight, double coveredWidth,
                          double coveredHeight, int32_t width, int32_t height);

// A resampler for a plan that fits, writing to `output`, with the instructions `simd` names.
Resampler StartResampler(PixelLayout layout, const ResamplePlan& plan, const OutputRows& output,
                         Simd simd);

// Adds the next source row; every output row whose inputs are all in is written. After the
// last source row, all are.
void AddSourceRow(Resampler* resampler, const uint8_t* row);

// Where no boxes gather rows and no layout is converted, a source row's horizontal pass depends on
// that row alone, so another thread may make it while this one adds rows: HorizontalRow reads
// only what StartResampler fixed, and writes the `made` row of HorizontalRowValues(r) values,
// using `padded`, a row of the source's bytes and kRowRoom more, its caller's own. AddHorizontalRow then
// takes the made row in the source row's turn: the same output rows as AddSourceRow's.
bool RowsStandAlone(const Resampler& resampler);
size_t HorizontalRowValues(const Resampler& resampler);
void HorizontalRow(const Resampler& resampler, const uint8_t* row, uint8_t* padded, int16_t* made);
void AddHorizontalRow(Resampler* resampler, const int16_t* made);
