// JPEG files decoded by the plug-in itself, shrunk by 2, 4 or 8 while they decode (libjpeg's
// DCT scaling), so that a thumbnail costs a fraction of a full decode and its memory does not
// grow with the source. The one file pair that speaks libjpeg's language. Platform-free: the
// bytes come from the caller.
//
// The reader takes 8-bit baseline, progressive and arithmetic-coded files with 1 (grey) or 3
// (YCbCr or RGB) components and delivers 24-bit BGR rows. It refuses every other file (CMYK and
// YCCK, 12-bit, lossless, one that does not begin as a JPEG file does), every file on which the
// library raises an error or a warning (a file cut short, a corrupt stream), and a progressive
// file whose coefficient buffer would pass kJpegMemoryCap. The caller then reads the file some
// other way: a refusal after rows were delivered means those rows must be thrown away.
#pragma once

#include <cstdint>

// libjpeg's memory, all of it (a progressive file's coefficients for the whole picture are most
// of it: 2 bytes for each of 64 coefficients per 8 by 8 block of each component, so 144 MB for
// a 48-megapixel 4:2:0 photo), may not pass this.
constexpr long kJpegMemoryCap = 256L << 20;

// Where the bytes come from: `read` fills at most `size` bytes at `buffer` and answers how many,
// 0 at the end of the file, -1 when the file cannot be read. It must not throw.
struct JpegBytes {
  int32_t (*read)(void* context, uint8_t* buffer, int32_t size);
  void* context;
};

// Where the picture goes. No call may throw.
struct JpegSink {
  // After the headers: the picture's size and the largest denominator it decodes well at (see
  // JpegFinestScale); answers the scale to decode at, as its denominator (1, 2, 4 or 8), or 0 to
  // stop without decoding.
  int (*scale)(void* context, int32_t width, int32_t height, int finest);
  // Before the first row: the size of the picture at that scale, ceil(size / denominator);
  // false stops.
  bool (*start)(void* context, int32_t width, int32_t height);
  // Each row of BGR pixels, top first.
  void (*row)(void* context, const uint8_t* bgr);
  void* context;
};

enum class JpegOutcome {
  kRead,     // every row was delivered, up to the file's end, without an error or a warning
  kStopped,  // the sink stopped it, without an error or a warning up to then
  kRefused,  // a file the reader does not take, or an error or warning at any point
};

JpegOutcome DecodeJpeg(const JpegBytes& bytes, const JpegSink& sink);

// The denominator a picture of sourceWidth by sourceHeight decodes at for a target of width by
// height: the largest of `finest`, 4 and 2 (not above `finest`) that still leaves a reduction of
// at least `gap` along both sides to the resampler, else 1 (enlargements, and reductions below
// 2 * gap). With gap 2, 4000 by 3000 to 800 by 600 decodes at 1/2 (2000 by 1500, then 2.5
// times), to 250 by 188 at 1/4 (1000 by 750, then 4 times).
inline int JpegScale(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
                     int32_t gap, int finest) {
  for (int denominator = finest; denominator > 1; denominator /= 2) {
    if (int64_t{sourceWidth} >= int64_t{width} * gap * denominator &&
        int64_t{sourceHeight} >= int64_t{height} * gap * denominator) {
      return denominator;
    }
  }
  return 1;
}
