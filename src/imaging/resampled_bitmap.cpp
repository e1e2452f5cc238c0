#include "imaging/resampled_bitmap.h"

#include "imaging/resample.h"
#include "imaging/source_rows.h"

int32_t ResampledFormat(int32_t sourceFormat) {
  return HasAlpha(ReadFormatOf(sourceFormat).layout) ? kPixelFormat32bppPARGB
                                                     : kPixelFormat24bppRGB;
}

ImageOwner ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                           int32_t sourceHeight, int32_t width, int32_t height) {
  const ReadFormat read = ReadFormatOf(sourceFormat);
  const int32_t format = ResampledFormat(sourceFormat);
  const bool alpha = format == kPixelFormat32bppPARGB;
  if (!RowsReadable(sourceWidth) || !CanResample(sourceWidth, sourceHeight, width, height)) {
    return ImageOwner();
  }
  ImageOwner bitmap;
  if (gdiplus.GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap.handle) !=
          kGpOk ||
      bitmap.handle == nullptr) {
    return ImageOwner();
  }
  const GpRect all = {0, 0, width, height};
  BitsLock out;
  if (gdiplus.GdipBitmapLockBits(bitmap.handle, &all, kImageLockModeWrite, format, &out.data) !=
      kGpOk) {
    return ImageOwner();
  }
  out.bitmap = bitmap.handle;
  if (!LockHolds(out.data, width, height, width * (alpha ? 4 : 3))) return ImageOwner();
  Resampler resampler = StartResampler(read.layout, sourceWidth, sourceHeight, width, height,
                                       static_cast<uint8_t*>(out.data.Scan0), out.data.Stride);
  if (!ReadSourceRows(source, read, sourceWidth, sourceHeight,
                      [&](const uint8_t* row) { AddSourceRow(&resampler, row); })) {
    return ImageOwner();
  }
  // The pixels reach the bitmap only with the unlock.
  out.bitmap = nullptr;
  if (gdiplus.GdipBitmapUnlockBits(bitmap.handle, &out.data) != kGpOk) return ImageOwner();
  return bitmap;
}
