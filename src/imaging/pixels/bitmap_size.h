// How large a bitmap the plug-in may make. Platform-free.
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
