#include "imaging/box_reduction.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "imaging/box_average.h"

namespace {
// A band of source rows is read at a time, so that a converting lock copies about this much,
// never a second whole picture.
constexpr int32_t kBandBytes = 1 << 20;
// No picture GDI+ holds has rows this long (67 million 32-bit pixels); a source that claims to,
// as a damaged header can, is left to the direct draw rather than to arithmetic that overflows.
constexpr int64_t kMaxRowBytes = int64_t{1} << 28;

struct ReadFormat {
  int32_t lockFormat;
  PixelLayout layout;
};

// The source's own layout where the averaging reads it directly; GDI+'s own conversion to ARGB
// for palettes, 16-bit, CMYK and 48- or 64-bit formats, whose alpha counts only where the format
// may carry one (a palette may).
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

uint8_t* Row(const GpBitmapData& data, int32_t y) {
  return static_cast<uint8_t*>(data.Scan0) + static_cast<intptr_t>(y) * data.Stride;
}

// Every row of the source through the averager into the locked rows of `out`; false when GDI+
// refuses a band.
bool AverageBands(GpImage* source, const ReadFormat& read, int32_t sourceWidth,
                  int32_t sourceHeight, int32_t factorX, int32_t factorY,
                  const GpBitmapData& out) {
  BoxAverager averager = StartBoxAverager(read.layout, sourceWidth, factorX, factorY);
  const int32_t rowBytes = sourceWidth * (read.layout == PixelLayout::kBgr24 ? 3 : 4);
  // Whole rows of boxes per band, at least one.
  const int32_t bandRows = std::max(1, kBandBytes / rowBytes / factorY) * factorY;
  int32_t reducedRow = 0;
  for (int64_t next = 0; next < sourceHeight; next += bandRows) {
    const int32_t top = static_cast<int32_t>(next);
    const int32_t rows = std::min(bandRows, sourceHeight - top);
    const GpRect band = {0, top, sourceWidth, rows};
    BitsLock in;
    if (gdiplus.GdipBitmapLockBits(source, &band, kImageLockModeRead, read.lockFormat,
                                   &in.data) != kGpOk) {
      return false;
    }
    in.bitmap = source;
    if (!LockHolds(in.data, sourceWidth, rows, rowBytes)) return false;
    for (int32_t y = 0; y < rows; ++y) {
      AddSourceRow(&averager, Row(in.data, y));
      if (averager.rowsAdded == factorY || top + y + 1 == sourceHeight) {
        TakeReducedRow(&averager, Row(out, reducedRow++));
      }
    }
  }
  return true;
}
}  // namespace

BoxReduction ReduceByBoxes(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                           int32_t sourceHeight, int32_t width, int32_t height) {
  BoxReduction reduction = {};
  int32_t factorX = BoxFactor(sourceWidth, width), factorY = BoxFactor(sourceHeight, height);
  LimitBoxFactors(&factorX, &factorY);
  if ((factorX == 1 && factorY == 1) || int64_t{sourceWidth} * 4 > kMaxRowBytes) return reduction;

  const ReadFormat read = ReadFormatOf(sourceFormat);
  const int32_t reducedFormat =
      HasAlpha(read.layout) ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  const int32_t reducedWidth = ReducedSide(sourceWidth, factorX);
  const int32_t reducedHeight = ReducedSide(sourceHeight, factorY);
  ImageOwner reduced;
  if (gdiplus.GdipCreateBitmapFromScan0(reducedWidth, reducedHeight, 0, reducedFormat, nullptr,
                                        &reduced.handle) != kGpOk ||
      reduced.handle == nullptr) {
    return reduction;
  }
  const GpRect all = {0, 0, reducedWidth, reducedHeight};
  BitsLock out;
  if (gdiplus.GdipBitmapLockBits(reduced.handle, &all, kImageLockModeWrite, reducedFormat,
                                 &out.data) != kGpOk) {
    return reduction;
  }
  out.bitmap = reduced.handle;
  const int32_t reducedRowBytes = reducedWidth * (HasAlpha(read.layout) ? 4 : 3);
  if (!LockHolds(out.data, reducedWidth, reducedHeight, reducedRowBytes) ||
      !AverageBands(source, read, sourceWidth, sourceHeight, factorX, factorY, out.data)) {
    return reduction;
  }
  out.Unlock();
  reduction.bitmap = std::move(reduced);
  reduction.coveredWidth = static_cast<float>(sourceWidth) / static_cast<float>(factorX);
  reduction.coveredHeight = static_cast<float>(sourceHeight) / static_cast<float>(factorY);
  return reduction;
}
