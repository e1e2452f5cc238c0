#include "imaging/written_bitmap.h"

ImageOwner WrittenBitmap(int32_t width, int32_t height, int32_t format, int32_t rowBytes,
                         const ColorPalette* palette,
                         const std::function<bool(uint8_t* top, int32_t stride)>& fill) {
  ImageOwner bitmap;
  if (gdiplus.GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap.handle) !=
          kGpOk ||
      bitmap.handle == nullptr ||
      (palette != nullptr && gdiplus.GdipSetImagePalette(bitmap.handle, palette) != kGpOk)) {
    return ImageOwner();
  }
  const GpRect all = {0, 0, width, height};
  BitsLock lock;
  if (gdiplus.GdipBitmapLockBits(bitmap.handle, &all, kImageLockModeWrite, format, &lock.data) !=
      kGpOk) {
    return ImageOwner();
  }
  lock.bitmap = bitmap.handle;
  if (!LockHolds(lock.data, width, height, rowBytes) ||
      !fill(static_cast<uint8_t*>(lock.data.Scan0), lock.data.Stride)) {
    return ImageOwner();
  }
  lock.bitmap = nullptr;
  if (gdiplus.GdipBitmapUnlockBits(bitmap.handle, &lock.data) != kGpOk) return ImageOwner();
  return bitmap;
}
