// How much memory a picture, a row and a band may take: the one rule every reader asks before it
// allocates, and the resize before it plans. Platform-free.
#pragma once

#include <cstdint>

// A 32-bit process has 2 GiB of address space, shared with the source, GDI+ and the host, so no
// bitmap of the plug-in's may pass 1 GiB (16384 by 16384 in 32 bits). The arithmetic is in 64
// bits: a size whose bytes pass 2^32 wraps inside GDI+, and Wine then hands out a buffer far
// too small and lets a draw write past its end.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 30;

// True when a bitmap of width by height pixels of bytesPerPixel each, rows padded to 4 bytes as
// GDI+ pads them, has at least one pixel and fits: BitmapFits(16384, 16384, 4) is true,
// BitmapFits(32768, 32768, 3) and BitmapFits(0, 10, 4) are false.
inline bool BitmapFits(int64_t width, int64_t height, int64_t bytesPerPixel) {
  return width > 0 && height > 0 && width <= kMaxBitmapBytes && height <= kMaxBitmapBytes &&
         ((width * bytesPerPixel + 3) & ~int64_t{3}) * height <= kMaxBitmapBytes;
}

// A row as a reader holds or delivers it: at most 64 MB (16 million pixels of 32 bits; no real
// picture comes near it). Files claim far wider rows in a few bytes.
constexpr int64_t kMaxRowBytes = int64_t{64} << 20;
inline bool RowFits(int64_t bytes) { return bytes > 0 && bytes <= kMaxRowBytes; }

// What a reader holds at once beyond its rows (a band of a TIFF's strips, an interlaced PNG, a
// progressive JPEG's coefficients, libjpeg's and libtiff's own buffers), or a row of a bitmap GDI+
// decoded: at most 256 MB, a quarter of what a picture may be.
constexpr int64_t kMaxBandBytes = int64_t{256} << 20;
inline bool BandFits(int64_t bytes) { return bytes >= 0 && bytes <= kMaxBandBytes; }
