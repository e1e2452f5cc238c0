#include "imaging/resize_image_file.h"

#include "imaging/bitmap_size.h"
#include "imaging/box_reduction.h"
#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/gif_file.h"
#include "imaging/image_files.h"
#include "imaging/image_types.h"
#include "imaging/indexed_bitmap.h"
#include "imaging/resampled_bitmap.h"
#include "imaging/target_file.h"
#include "platform/windows_text.h"
#include "text/number.h"

#include <utility>
#include <vector>

namespace {
// What a step answers when the resize goes on.
constexpr ResizeStep kGoOn = ResizeStep::kConverted;

// The canvas keeps the source's format where every GDI+ draws into it and every encoder takes
// it, so that an alpha channel survives. Every other source (palettes, grey, CMYK, 48 and 64
// bits, ARGB 1555) is drawn in 32-bit ARGB: Windows gives no drawing context on some of them,
// and what it draws into or encodes from the others is nowhere recorded.
int32_t CanvasFormat(int32_t sourceFormat) {
  switch (sourceFormat) {
    case kPixelFormat24bppRGB:
    case kPixelFormat32bppRGB:
    case kPixelFormat32bppARGB:
    case kPixelFormat32bppPARGB:
    case kPixelFormat16bppRGB555:
    case kPixelFormat16bppRGB565:
      return sourceFormat;
    default:
      return kPixelFormat32bppARGB;
  }
}

bool MakeBitmapAndContext(int32_t width, int32_t height, int32_t format, ImageOwner* bitmap,
                          GraphicsOwner* graphics) {
  graphics->Reset();
  bitmap->Reset();
  return gdiplus.GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap->handle) ==
             kGpOk &&
         bitmap->handle != nullptr &&
         gdiplus.GdipGetImageGraphicsContext(bitmap->handle, &graphics->handle) == kGpOk &&
         graphics->handle != nullptr;
}

// A bitmap of the given size and format with a drawing context on it, or false, holding
// nothing. A refused context is tried again in 32-bit ARGB; a bitmap that could not be made at
// all is not tried again in a format of more bytes.
bool MakeCanvas(int32_t width, int32_t height, int32_t format, ImageOwner* bitmap,
                GraphicsOwner* graphics) {
  if (MakeBitmapAndContext(width, height, format, bitmap, graphics)) return true;
  const bool contextRefused = bitmap->handle != nullptr;
  if (contextRefused && format != kPixelFormat32bppARGB &&
      MakeBitmapAndContext(width, height, kPixelFormat32bppARGB, bitmap, graphics)) {
    return true;
  }
  graphics->Reset();
  bitmap->Reset();
  return false;
}

// The whole of an image drawn into the whole of the canvas, GDI+ choosing the source's frame in
// its own units.
ResizeStep DrawWhole(GpGraphics* graphics, GpImage* image, int32_t width, int32_t height) {
  return gdiplus.GdipDrawImageRectI(graphics, image, 0, 0, width, height) == kGpOk
             ? kGoOn
             : ResizeStep::kNotDrawn;
}

// The whole source drawn into a new bitmap of exactly width by height: a blank bitmap is never
// passed on to be saved.
ResizeStep DrawScaled(GpImage* source, float sourceWidth, float sourceHeight, int32_t width,
                      int32_t height, ImageOwner* canvas) {
  int32_t sourceFormat = 0;
  gdiplus.GdipGetImagePixelFormat(source, &sourceFormat);
  int type = 0;
  const bool metafile =
      gdiplus.GdipGetImageType(source, &type) == kGpOk && type != kImageTypeBitmap;
  const int32_t format = CanvasFormat(sourceFormat);
  const int32_t wholeWidth = RoundToInt32(sourceWidth), wholeHeight = RoundToInt32(sourceHeight);
  GraphicsOwner graphics;
  // Where a side shrinks, the plug-in resamples the picture itself; GDI+ at most converts it to
  // the canvas's format, in a draw of 1 to 1 that copies pixels exactly.
  if (!metafile && (width < wholeWidth || height < wholeHeight)) {
    ImageOwner resampled =
        ResampledBitmap(source, sourceFormat, wholeWidth, wholeHeight, width, height);
    if (resampled.handle != nullptr) {
      if (ResampledFormat(sourceFormat) == format) {
        *canvas = std::move(resampled);
        return kGoOn;
      }
      if (!MakeCanvas(width, height, format, canvas, &graphics)) return ResizeStep::kNoCanvas;
      return DrawWhole(graphics.handle, resampled.handle, width, height);
    }
  }
  if (!MakeCanvas(width, height, format, canvas, &graphics)) return ResizeStep::kNoCanvas;
  gdiplus.GdipSetInterpolationMode(graphics.handle, kInterpolationModeHighQuality);
  gdiplus.GdipSetSmoothingMode(graphics.handle, kSmoothingModeHighQuality);
  // A metafile's frame is in GDI+'s own units (0.01 mm on Windows, pixels under Wine), so no
  // source rectangle is built from its dimensions: GDI+ renders the whole of it at the target's
  // size.
  if (metafile) return DrawWhole(graphics.handle, source, width, height);

  // Without attributes GDI+ samples beyond the source's edge as transparent black, which leaves
  // a dark, half-transparent border; mirrored tiling makes the edge samples repeat the edge.
  AttributesOwner attributes;
  if (gdiplus.GdipCreateImageAttributes(&attributes.handle) == kGpOk &&
      attributes.handle != nullptr) {
    gdiplus.GdipSetImageAttributesWrapMode(attributes.handle, kWrapModeTileFlipXY, 0, FALSE);
  }
  // Without the resampler, a reduction by 2 or more is first averaged over boxes: the engine's
  // interpolation reads only the few source pixels nearest to each output pixel, which skips
  // most of a large source.
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
  return drawn == kGpOk ? kGoOn : ResizeStep::kNotDrawn;
}

// Saves the bitmap to a new temporary file beside the target, which `temporary` then owns, and
// tells what stood at the target's name.
ResizeStep SaveBesideTarget(GpImage* bitmap, const std::string& source, const std::string& target,
                            const std::string& mimeType, TemporaryFile* temporary,
                            TargetStanding* standing) {
  CLSID encoder;
  if (!FindEncoder(mimeType, &encoder)) return ResizeStep::kNoEncoder;
  // Nothing is written where no file would be made (a device), where a file must not be replaced
  // (a folder, a read-only file), or over the source: GDI+ cannot write over the file an open
  // image came from, and replacing it afterwards would destroy the user's picture.
  if (NamesDevice(ToWideText(target))) return ResizeStep::kTargetRefused;
  *standing = InspectTarget(target);
  if (standing->kind == kTargetNotReplaceable ||
      (standing->kind == kTargetFile && NamesSameFile(source, target))) {
    return ResizeStep::kTargetRefused;
  }
  if (!temporary->CreateBeside(target)) return ResizeStep::kNoTemporaryFile;
  return SaveImageFile(bitmap, temporary->wideName, &encoder, nullptr) == kGpOk
             ? kGoOn
             : ResizeStep::kNotSaved;
}

// An encoder may report success and write something no decoder reads (Wine's GIF encoder writes
// no pixels from a 32-bit bitmap): the file must load as an image of the size asked for before
// it replaces anything. The image is released before the rename, since GDI+ keeps its file open.
bool ReadsBack(const std::wstring& name, int32_t width, int32_t height) {
  ImageOwner written;
  if (LoadImageFile(name, &written.handle) != kGpOk || written.handle == nullptr) return false;
  float writtenWidth = 0, writtenHeight = 0;
  return gdiplus.GdipGetImageDimension(written.handle, &writtenWidth, &writtenHeight) == kGpOk &&
         writtenWidth == static_cast<float>(width) && writtenHeight == static_cast<float>(height);
}
}  // namespace

ResizeStep ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                           int32_t height) {
  if (ResizeRejectedByNames(source, target)) return ResizeStep::kNamesRejected;
  const std::string mimeType = WritableMimeType(target);

  SessionOwner session;
  StartGdiplusSession(&session);  // a failed start shows in the load that follows
  ImageOwner image;
  LoadImageFile(source, &image.handle);
  if (image.handle == nullptr) return ResizeStep::kSourceNotLoaded;
  float sourceWidth = 0, sourceHeight = 0;
  gdiplus.GdipGetImageDimension(image.handle, &sourceWidth, &sourceHeight);
  if (!(sourceWidth > 0 && sourceHeight > 0)) return ResizeStep::kSourceWithoutSize;
  // Checked before any bitmap is made, for 32-bit ARGB, which the canvas may end up in whatever
  // the source.
  if (!BitmapFits(width, height, 4)) return ResizeStep::kSizeRejected;

  ImageOwner canvas;
  ResizeStep step = DrawScaled(image.handle, sourceWidth, sourceHeight, width, height, &canvas);
  // The source is not needed past the draw; its memory goes before the encoder takes its own.
  image.Reset();
  if (step != kGoOn) return step;
  int transparentIndex = -1;
  if (mimeType == "image/gif") {
    IndexedBitmap indexed = IndexedCopy(canvas.handle, width, height);
    if (indexed.bitmap.handle == nullptr) return ResizeStep::kNotDrawn;
    canvas = std::move(indexed.bitmap);
    transparentIndex = indexed.transparentIndex;
  }
  TemporaryFile temporary;
  TargetStanding standing = {kTargetAbsent, 0};
  step = SaveBesideTarget(canvas.handle, source, target, mimeType, &temporary, &standing);
  if (step != kGoOn) return step;
  canvas.Reset();
  if (transparentIndex >= 0) {
    std::vector<uint8_t> gif;
    if (!ReadWholeFile(temporary.wideName, &gif) ||
        !MarkGifTransparency(&gif, static_cast<uint8_t>(transparentIndex)) ||
        !WriteWholeFile(temporary.wideName, gif)) {
      return ResizeStep::kNotSaved;
    }
  }
  if (!ReadsBack(temporary.wideName, width, height)) return ResizeStep::kNotReadBack;
  session.End();
  if (!ReplaceTarget(temporary, target, standing.attributes)) return ResizeStep::kNotReplaced;
  temporary.Keep();
  return ResizeStep::kConverted;
}
