#include "imaging/indexed_bitmap.h"

#include <utility>
#include <vector>

#include "imaging/pixels/palette.h"
#include "imaging/written_bitmap.h"

namespace {
// The canvas's pixels as straight ARGB, locked whole while `use` reads them.
template <typename Use>
bool WithPixels(GpImage* canvas, int32_t width, int32_t height, const Use& use) {
  const GpRect all = {0, 0, width, height};
  BitsLock in;
  if (gdiplus.GdipBitmapLockBits(canvas, &all, kImageLockModeRead, kPixelFormat32bppARGB,
                                 &in.data) != kGpOk) {
    return false;
  }
  in.bitmap = canvas;
  return LockHolds(in.data, width, height, width * 4) &&
         use(PixelRows{static_cast<const uint8_t*>(in.data.Scan0), in.data.Stride, width, height});
}

// A new 8bppIndexed bitmap of the picture with a palette made for it.
IndexedBitmap IndexedOf(const PixelRows& picture) {
  const int32_t width = picture.width, height = picture.height;
  const Palette palette = MakePalette(picture);

  // The record: flags, count, entries.
  const int transparentIndex = TransparentIndex(palette);
  std::vector<UINT> record = {transparentIndex >= 0 ? kPaletteFlagsHasAlpha : 0u,
                              static_cast<UINT>(palette.entries.size())};
  record.insert(record.end(), palette.entries.begin(), palette.entries.end());
  ImageOwner indexed = WrittenBitmap(
      width, height, kPixelFormat8bppIndexed, width,
      reinterpret_cast<const ColorPalette*>(record.data()), [&](uint8_t* top, int32_t stride) {
        MapToPalette(picture, palette, top, stride);
        return true;
      });
  if (indexed.handle == nullptr) return {};
  return {std::move(indexed), transparentIndex};
}
}  // namespace

IndexedBitmap IndexedCopy(GpImage* canvas, int32_t width, int32_t height) {
  IndexedBitmap made = {};
  WithPixels(canvas, width, height, [&](const PixelRows& picture) {
    made = IndexedOf(picture);
    return true;
  });
  return made;
}
