// Rows of pixels as GDI+ lays them out in memory, blue first. Platform-free.
#pragma once

#include <cstdint>

enum class PixelLayout {
  kBgr24,    // opaque, 3 bytes
  kBgrx32,   // opaque, 4 bytes, the fourth not read
  kBgra32,   // straight alpha
  kPbgra32,  // alpha, colours premultiplied by it
};

// True for the two layouts with alpha; the others average and resample into 24-bit BGR rows.
inline bool HasAlpha(PixelLayout layout) {
  return layout == PixelLayout::kBgra32 || layout == PixelLayout::kPbgra32;
}

inline int32_t BytesPerPixel(PixelLayout layout) { return layout == PixelLayout::kBgr24 ? 3 : 4; }
