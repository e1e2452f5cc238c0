#include "imaging/resize_worker.h"

#include "imaging/box_reduction.h"
#include "imaging/gdiplus_api.h"
#include "imaging/image_files.h"
#include "imaging/target_file.h"
#include "text/text.h"

namespace {
// A bitmap of the given size and format with a drawing context on it; false, holding nothing,
// when GDI+ gives either not.
bool MakeCanvas(int32_t width, int32_t height, int32_t format, GpImage** bitmap,
                GpGraphics** graphics) {
  *bitmap = nullptr;
  *graphics = nullptr;
  const GpStatus made = gdiplus.GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, bitmap);
  if (made != kGpOk || *bitmap == nullptr) {
    if (*bitmap != nullptr) gdiplus.GdipDisposeImage(*bitmap);
    *bitmap = nullptr;
    return false;
  }
  if (gdiplus.GdipGetImageGraphicsContext(*bitmap, graphics) != kGpOk || *graphics == nullptr) {
    if (*graphics != nullptr) gdiplus.GdipDeleteGraphics(*graphics);
    gdiplus.GdipDisposeImage(*bitmap);
    *bitmap = nullptr;
    *graphics = nullptr;
    return false;
  }
  return true;
}

// The whole source drawn into a new bitmap of exactly width by height, or null when no bitmap
// could be made or the drawing failed: a blank bitmap is never passed on to be saved.
GpImage* DrawScaled(GpImage* source, float sourceWidth, float sourceHeight, int32_t width,
                    int32_t height) {
  // The new bitmap keeps the source's pixel format, so that an alpha channel survives. GDI+ on
  // Windows gives no drawing context on palette formats (nor on 16-bit grey, ARGB 1555, and no
  // bitmap in CMYK), so those are drawn into 32-bit ARGB instead.
  int32_t sourceFormat = 0;
  gdiplus.GdipGetImagePixelFormat(source, &sourceFormat);
  const int32_t format = sourceFormat & kPixelFormatIndexed ? kPixelFormat32bppARGB : sourceFormat;
  GpImage* bitmap;
  GpGraphics* graphics;
  if (!MakeCanvas(width, height, format, &bitmap, &graphics) &&
      (format == kPixelFormat32bppARGB ||
       !MakeCanvas(width, height, kPixelFormat32bppARGB, &bitmap, &graphics))) {
    return nullptr;
  }
  gdiplus.GdipSetInterpolationMode(graphics, kInterpolationModeHighQuality);
  gdiplus.GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);

  // Without attributes GDI+ samples beyond the source's edge as transparent black, which leaves
  // a dark, half-transparent border; mirrored tiling makes the edge samples repeat the edge.
  GpImageAttributes* attributes = nullptr;
  if (gdiplus.GdipCreateImageAttributes(&attributes) == kGpOk && attributes != nullptr) {
    gdiplus.GdipSetImageAttributesWrapMode(attributes, kWrapModeTileFlipXY, 0, FALSE);
  }
  // A reduction by 2 or more is first averaged over boxes: the engine's interpolation reads only
  // the few source pixels nearest to each output pixel, which skips most of a large source.
  const int32_t wholeWidth = RoundToInt32(sourceWidth), wholeHeight = RoundToInt32(sourceHeight);
  const BoxReduction reduction =
      ReduceByBoxes(source, sourceFormat, wholeWidth, wholeHeight, width, height);
  GpStatus drawn;
  if (reduction.bitmap != nullptr) {
    drawn = gdiplus.GdipDrawImageRectRect(
        graphics, reduction.bitmap, 0, 0, static_cast<float>(width), static_cast<float>(height),
        0, 0, reduction.coveredWidth, reduction.coveredHeight, kUnitPixel, attributes, nullptr,
        nullptr);
    gdiplus.GdipDisposeImage(reduction.bitmap);
  } else {
    drawn = gdiplus.GdipDrawImageRectRectI(graphics, source, 0, 0, width, height, 0, 0,
                                           wholeWidth, wholeHeight, kUnitPixel, attributes,
                                           nullptr, nullptr);
  }
  if (attributes != nullptr) gdiplus.GdipDisposeImageAttributes(attributes);
  gdiplus.GdipDeleteGraphics(graphics);
  if (drawn != kGpOk) {
    gdiplus.GdipDisposeImage(bitmap);
    return nullptr;
  }
  return bitmap;
}

// Saves the bitmap to a new temporary file beside the target; answers its name, or "" when
// nothing was saved (the temporary file is then gone again).
std::string SaveBesideTarget(GpImage* bitmap, const std::string& source, const std::string& target,
                             const std::string& mimeType) {
  const CLSID encoder = ClsidFromText(FindEncoderClsid(mimeType));
  // Nothing is written where no file would be made (a device), where a file must not be replaced
  // (a folder, a read-only file), or over the source: GDI+ cannot write over the file an open
  // image came from, and replacing it afterwards would destroy the user's picture.
  if (NamesDevice(target)) return std::string();
  const TargetKind standing = InspectTarget(target);
  if (standing == kTargetNotReplaceable ||
      (standing == kTargetFile && NamesSameFile(source, target))) {
    return std::string();
  }
  const std::string temporary = TemporaryNameBeside(target);
  if (SaveImageFile(bitmap, temporary, &encoder, nullptr) != kGpOk) {
    RemoveTemporary(temporary);
    return std::string();
  }
  return temporary;
}
}  // namespace

int32_t ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                        int32_t height) {
  if (RefusedBeforeImageWork(source, target)) return -1;
  const std::string mimeType = ImageTypeOfName(target);

  ULONG_PTR token = 0;
  StartGdiplusSession(&token);  // a failed start shows in the load that follows
  GpImage* image = nullptr;
  LoadImageFile(source, &image);
  if (image == nullptr) {
    EndGdiplusSession(token);
    return -1;
  }
  float sourceWidth = 0, sourceHeight = 0;
  gdiplus.GdipGetImageDimension(image, &sourceWidth, &sourceHeight);
  if (!(sourceWidth > 0 && sourceHeight > 0)) {
    gdiplus.GdipDisposeImage(image);
    EndGdiplusSession(token);
    return -1;
  }

  GpImage* bitmap = DrawScaled(image, sourceWidth, sourceHeight, width, height);
  const std::string temporary =
      bitmap != nullptr ? SaveBesideTarget(bitmap, source, target, mimeType) : std::string();

  gdiplus.GdipDisposeImage(image);
  if (bitmap != nullptr) gdiplus.GdipDisposeImage(bitmap);
  EndGdiplusSession(token);

  if (temporary.empty()) return -1;
  if (!ReplaceTarget(temporary, target)) {
    RemoveTemporary(temporary);
    return -1;
  }
  return 0;
}
