#include "imaging/indexed_bitmap.h"

#include <utility>
#include <vector>

#include "imaging/palette.h"

IndexedBitmap IndexedCopy(GpImage* canvas, int32_t width, int32_t height) {
  const GpRect all = {0, 0, width, height};
  BitsLock in;
  if (gdiplus.GdipBitmapLockBits(canvas, &all, kImageLockModeRead, kPixelFormat32bppARGB,
                                 &in.data) != kGpOk) {
    return {};
  }
  in.bitmap = canvas;
  if (!LockHolds(in.data, width, height, width * 4)) return {};
  const PixelRows picture = {static_cast<const uint8_t*>(in.data.Scan0), in.data.Stride, width,
                             height};
  const Palette palette = MakePalette(picture);

  ImageOwner indexed;
  if (gdiplus.GdipCreateBitmapFromScan0(width, height, 0, kPixelFormat8bppIndexed, nullptr,
                                        &indexed.handle) != kGpOk ||
      indexed.handle == nullptr) {
    return {};
  }
  // The record: flags, count, entries.
  std::vector<UINT> record = {0, static_cast<UINT>(palette.entries.size())};
  int transparentIndex = -1;
  for (const uint32_t entry : palette.entries) {
    if (entry == kTransparentEntry) {
      record[0] = kPaletteFlagsHasAlpha;
      transparentIndex = static_cast<int>(record.size()) - 2;
    }
    record.push_back(entry);
  }
  if (gdiplus.GdipSetImagePalette(indexed.handle,
                                  reinterpret_cast<const ColorPalette*>(record.data())) != kGpOk) {
    return {};
  }
  BitsLock out;
  if (gdiplus.GdipBitmapLockBits(indexed.handle, &all, kImageLockModeWrite,
                                 kPixelFormat8bppIndexed, &out.data) != kGpOk) {
    return {};
  }
  out.bitmap = indexed.handle;
  if (!LockHolds(out.data, width, height, width)) return {};
  MapToPalette(picture, palette, static_cast<uint8_t*>(out.data.Scan0), out.data.Stride);
  // The indices reach the bitmap only with the unlock.
  out.bitmap = nullptr;
  if (gdiplus.GdipBitmapUnlockBits(indexed.handle, &out.data) != kGpOk) return {};
  return {std::move(indexed), transparentIndex};
}
