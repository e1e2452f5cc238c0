#include "imaging/resize_image_file.h"

#include "imaging/box_reduction.h"
#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"
#include "imaging/image_types.h"
#include "imaging/target_file.h"
#include "platform/windows_text.h"
#include "text/number.h"

namespace {
// A bitmap of the given size and format with a drawing context on it; false, holding nothing,
// when GDI+ gives either not.
bool MakeCanvas(int32_t width, int32_t height, int32_t format, ImageOwner* bitmap,
                GraphicsOwner* graphics) {
  bitmap->Reset();
  graphics->Reset();
  if (gdiplus.GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap->handle) !=
          kGpOk ||
      bitmap->handle == nullptr ||
      gdiplus.GdipGetImageGraphicsContext(bitmap->handle, &graphics->handle) != kGpOk ||
      graphics->handle == nullptr) {
    graphics->Reset();
    bitmap->Reset();
    return false;
  }
  return true;
}

// The whole source drawn into a new bitmap of exactly width by height, or null when no bitmap
// could be made or the drawing failed: a blank bitmap is never passed on to be saved.
ImageOwner DrawScaled(GpImage* source, float sourceWidth, float sourceHeight, int32_t width,
                      int32_t height) {
  // The new bitmap keeps the source's pixel format, so that an alpha channel survives. GDI+ on
  // Windows gives no drawing context on palette formats (nor on 16-bit grey, ARGB 1555, and no
  // bitmap in CMYK), so those are drawn into 32-bit ARGB instead.
  int32_t sourceFormat = 0;
  gdiplus.GdipGetImagePixelFormat(source, &sourceFormat);
  const int32_t format = sourceFormat & kPixelFormatIndexed ? kPixelFormat32bppARGB : sourceFormat;
  ImageOwner bitmap;
  GraphicsOwner graphics;
  if (!MakeCanvas(width, height, format, &bitmap, &graphics) &&
      (format == kPixelFormat32bppARGB ||
       !MakeCanvas(width, height, kPixelFormat32bppARGB, &bitmap, &graphics))) {
    return ImageOwner();
  }
  gdiplus.GdipSetInterpolationMode(graphics.handle, kInterpolationModeHighQuality);
  gdiplus.GdipSetSmoothingMode(graphics.handle, kSmoothingModeHighQuality);

  // Without attributes GDI+ samples beyond the source's edge as transparent black, which leaves
  // a dark, half-transparent border; mirrored tiling makes the edge samples repeat the edge.
  AttributesOwner attributes;
  if (gdiplus.GdipCreateImageAttributes(&attributes.handle) == kGpOk &&
      attributes.handle != nullptr) {
    gdiplus.GdipSetImageAttributesWrapMode(attributes.handle, kWrapModeTileFlipXY, 0, FALSE);
  }
  // A reduction by 2 or more is first averaged over boxes: the engine's interpolation reads only
  // the few source pixels nearest to each output pixel, which skips most of a large source.
  const int32_t wholeWidth = RoundToInt32(sourceWidth), wholeHeight = RoundToInt32(sourceHeight);
  const BoxReduction reduction =
      ReduceByBoxes(source, sourceFormat, wholeWidth, wholeHeight, width, height);
  const GpStatus drawn =
      reduction.bitmap.handle != nullptr
          ? gdiplus.GdipDrawImageRectRect(graphics.handle, reduction.bitmap.handle, 0, 0,
                                          static_cast<float>(width), static_cast<float>(height),
                                          0, 0, reduction.coveredWidth, reduction.coveredHeight,
                                          kUnitPixel, attributes.handle, nullptr, nullptr)
          : gdiplus.GdipDrawImageRectRectI(graphics.handle, source, 0, 0, width, height, 0, 0,
                                           wholeWidth, wholeHeight, kUnitPixel, attributes.handle,
                                           nullptr, nullptr);
  if (drawn != kGpOk) return ImageOwner();
  return bitmap;
}

// Saves the bitmap to a new temporary file beside the target, which `temporary` then owns, and
// tells what stood at the target's name; false, with nothing left on disk, when nothing was
// saved.
bool SaveBesideTarget(GpImage* bitmap, const std::string& source, const std::string& target,
                      const std::string& mimeType, TemporaryFile* temporary,
                      TargetStanding* standing) {
  CLSID encoder;
  if (!FindEncoder(mimeType, &encoder)) return false;
  // Nothing is written where no file would be made (a device), where a file must not be replaced
  // (a folder, a read-only file), or over the source: GDI+ cannot write over the file an open
  // image came from, and replacing it afterwards would destroy the user's picture.
  if (NamesDevice(ToWideText(target))) return false;
  *standing = InspectTarget(target);
  if (standing->kind == kTargetNotReplaceable ||
      (standing->kind == kTargetFile && NamesSameFile(source, target))) {
    return false;
  }
  return temporary->Name(TemporaryNameBeside(target)) &&
         SaveImageFile(bitmap, temporary->wideName, &encoder, nullptr) == kGpOk;
}
}  // namespace

int32_t ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                        int32_t height) {
  if (ResizeRejectedByNames(source, target)) return -1;
  const std::string mimeType = WritableMimeType(target);

  SessionOwner session;
  StartGdiplusSession(&session);  // a failed start shows in the load that follows
  ImageOwner image;
  LoadImageFile(source, &image.handle);
  if (image.handle == nullptr) return -1;
  float sourceWidth = 0, sourceHeight = 0;
  gdiplus.GdipGetImageDimension(image.handle, &sourceWidth, &sourceHeight);
  if (!(sourceWidth > 0 && sourceHeight > 0)) return -1;

  ImageOwner bitmap = DrawScaled(image.handle, sourceWidth, sourceHeight, width, height);
  // The source is not needed past the draw; its memory goes before the encoder takes its own.
  image.Reset();
  if (bitmap.handle == nullptr) return -1;
  TemporaryFile temporary;
  TargetStanding standing = {kTargetAbsent, 0};
  if (!SaveBesideTarget(bitmap.handle, source, target, mimeType, &temporary, &standing)) {
    return -1;
  }
  bitmap.Reset();
  session.End();
  if (!ReplaceTarget(temporary, target, standing.attributes)) return -1;
  temporary.Keep();
  return 0;
}
