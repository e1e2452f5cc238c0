#include "imaging/box_reduction.h"

#include <utility>

#include "imaging/bitmap_size.h"
#include "imaging/box_average.h"
#include "imaging/source_rows.h"

BoxReduction ReduceByBoxes(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                           int32_t sourceHeight, int32_t width, int32_t height) {
  BoxReduction reduction = {};
  const int32_t factorX = BoxFactor(sourceWidth, width, 1);
  const int32_t factorY = BoxFactor(sourceHeight, height, 1);
  if ((factorX == 1 && factorY == 1) || !RowsReadable(sourceWidth)) return reduction;

  const ReadFormat read = ReadFormatOf(sourceFormat);
  const bool alpha = HasAlpha(read.layout);
  const int32_t reducedFormat = alpha ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  const int32_t reducedWidth = ReducedSide(sourceWidth, factorX);
  const int32_t reducedHeight = ReducedSide(sourceHeight, factorY);
  ImageOwner reduced;
  if (!BitmapFits(reducedWidth, reducedHeight, 4) ||
      gdiplus.GdipCreateBitmapFromScan0(reducedWidth, reducedHeight, 0, reducedFormat, nullptr,
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
  if (!LockHolds(out.data, reducedWidth, reducedHeight, reducedWidth * (alpha ? 4 : 3))) {
    return reduction;
  }
  BoxAverager averager = StartBoxAverager(read.layout, sourceWidth, factorX, factorY);
  int32_t rowsSeen = 0, reducedRow = 0;
  const auto take = [&](const uint8_t* row) {
    AddSourceRow(&averager, row);
    ++rowsSeen;
    if (averager.rowsAdded == factorY || rowsSeen == sourceHeight) {
      TakeReducedRow(&averager, static_cast<uint8_t*>(out.data.Scan0) +
                                    static_cast<intptr_t>(reducedRow++) * out.data.Stride);
    }
  };
  if (!ReadSourceRows(source, read, sourceWidth, sourceHeight, take)) return reduction;
  out.Unlock();
  reduction.bitmap = std::move(reduced);
  reduction.coveredWidth = static_cast<float>(sourceWidth) / static_cast<float>(factorX);
  reduction.coveredHeight = static_cast<float>(sourceHeight) / static_cast<float>(factorY);
  return reduction;
}
