#include "imaging/gdiplus/source_rows.h"

#include <algorithm>

#include "imaging/gdiplus/gdiplus_owners.h"
#include "imaging/pixels/bitmap_size.h"

namespace {
// A band of source rows is read at a time, so that a converting lock copies about this much,
// never a second whole picture.
constexpr int32_t kBandBytes = 1 << 20;
}  // namespace

ReadFormat ReadFormatOf(int32_t format) {
  switch (format) {
    case kPixelFormat24bppRGB: return {format, PixelLayout::kBgr24};
    case kPixelFormat32bppRGB: return {format, PixelLayout::kBgrx32};
    case kPixelFormat32bppARGB: return {format, PixelLayout::kBgra32};
    case kPixelFormat32bppPARGB: return {format, PixelLayout::kPbgra32};
    default: break;
  }
  const bool alpha = (format & (kPixelFormatAlpha | kPixelFormatIndexed)) != 0;
  return {kPixelFormat32bppARGB, alpha ? PixelLayout::kBgra32 : PixelLayout::kBgrx32};
}

bool RowsReadable(int32_t width) { return width > 0 && BandFits(int64_t{width} * 4); }

bool ReadSourceRows(GpImage* source, const ReadFormat& read, int32_t width, int32_t height,
                    const std::function<void(const uint8_t* row)>& take) {
  if (!RowsReadable(width)) return false;
  const int32_t rowBytes = width * BytesPerPixel(read.layout);
  const int32_t bandRows = std::max(1, kBandBytes / rowBytes);
  for (int32_t top = 0; top < height; top += std::min(bandRows, height - top)) {
    const int32_t rows = std::min(bandRows, height - top);
    const GpRect band = {0, top, width, rows};
    BitsLock in;
    if (gdiplus.GdipBitmapLockBits(source, &band, kImageLockModeRead, read.lockFormat,
                                   &in.data) != kGpOk) {
      return false;
    }
    in.bitmap = source;
    if (!LockHolds(in.data, width, rows, rowBytes)) return false;
    for (int32_t y = 0; y < rows; ++y) {
      take(static_cast<const uint8_t*>(in.data.Scan0) + static_cast<intptr_t>(y) * in.data.Stride);
    }
  }
  return true;
}
