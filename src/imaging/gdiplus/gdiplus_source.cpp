#include "imaging/gdiplus/gdiplus_source.h"

#include <climits>
#include <utility>

#include "imaging/gdiplus/gdiplus_owners.h"
#include "imaging/gdiplus/source_rows.h"
#include "imaging/resampled_bitmap.h"
#include "imaging/source_file.h"
#include "imaging/target_writer.h"
#include "platform/windows_api.h"

GpStatus StartGdiplusSession(SessionOwner* session) {
  session->End();
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  const GpStatus status = gdiplus.GdiplusStartup(&session->token, &input, nullptr);
  session->started = status == kGpOk;
  return status;
}

GpStatus LoadImageFile(const std::wstring& name, GpImage** image) {
  return gdiplus.GdipLoadImageFromFile(name.c_str(), image);
}

bool MeasuredByGdiplus(const std::wstring& name, float* width, float* height) {
  ImageOwner image;
  LoadImageFile(name, &image.handle);
  return image.handle != nullptr && gdiplus.GdipGetImageDimension(image.handle, width, height) == kGpOk;
}

namespace {
// A bitmap of the given size in 32-bit ARGB, which every GDI+ draws into, with a drawing context
// on it, or false, holding nothing.
bool MakeCanvas(int32_t width, int32_t height, ImageOwner* bitmap, GraphicsOwner* graphics) {
  if (gdiplus.GdipCreateBitmapFromScan0(width, height, 0, kPixelFormat32bppARGB, nullptr, &bitmap->handle) == kGpOk &&
      bitmap->handle != nullptr &&
      gdiplus.GdipGetImageGraphicsContext(bitmap->handle, &graphics->handle) == kGpOk && graphics->handle != nullptr) {
    return true;
  }
  graphics->Reset();
  bitmap->Reset();
  return false;
}

// What the source is, as the steps of the picture need it.
struct Source {
  GpImage* image;
  int32_t format;
  bool metafile;
  int32_t width, height;  // in pixels, for a bitmap
};

// A picture GDI+ drew, or null and the step that failed.
struct Picture {
  ImageOwner bitmap;
  ResizeStep failure;
};

// GDI+ draws into a new canvas: `draw` gets the context and answers GDI+'s status.
template <typename Draw>
Picture DrawnByGdiplus(int32_t width, int32_t height, const Draw& draw) {
  Picture picture = {ImageOwner(), ResizeStep::kNoCanvas};
  GraphicsOwner graphics;
  if (!MakeCanvas(width, height, &picture.bitmap, &graphics)) return picture;
  if (draw(graphics.handle) != kGpOk) {
    graphics.Reset();
    picture.bitmap.Reset();
    picture.failure = ResizeStep::kNotDrawn;
  }
  return picture;
}

// A metafile's frame is in GDI+'s own units (0.01 mm on Windows, pixels under Wine), so no
// source rectangle is built from its dimensions: GDI+ renders the whole of it at the target's
// size.
Picture RenderedMetafile(const Source& source, int32_t width, int32_t height) {
  return DrawnByGdiplus(width, height, [&](GpGraphics* graphics) {
    gdiplus.GdipSetInterpolationMode(graphics, kInterpolationModeHighQuality);
    gdiplus.GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);
    return gdiplus.GdipDrawImageRectI(graphics, source.image, 0, 0, width, height);
  });
}

// Where the resampler cannot run (its memory refused), GDI+'s own draw of the whole source, as
// soft as its interpolation is.
Picture ScaledByGdiplus(const Source& source, int32_t width, int32_t height) {
  return DrawnByGdiplus(width, height, [&](GpGraphics* graphics) {
    gdiplus.GdipSetInterpolationMode(graphics, kInterpolationModeHighQuality);
    gdiplus.GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);
    // Without attributes GDI+ samples beyond the source's edge as transparent black, which
    // leaves a dark, half-transparent border; mirrored tiling makes the edge samples repeat
    // the edge.
    AttributesOwner attributes;
    if (gdiplus.GdipCreateImageAttributes(&attributes.handle) == kGpOk &&
        attributes.handle != nullptr) {
      gdiplus.GdipSetImageAttributesWrapMode(attributes.handle, kWrapModeTileFlipXY, 0, FALSE);
    }
    return gdiplus.GdipDrawImageRectRectI(graphics, source.image, 0, 0, width, height, 0, 0,
                                          source.width, source.height, kUnitPixel,
                                          attributes.handle, nullptr, nullptr);
  });
}

// A side as GDI+ counts a bitmap's pixels; 0 when it cannot tell or the side passes int32.
int32_t Side(GpStatus (*GdiplusApi::*ask)(GpImage*, UINT*), GpImage* image) {
  UINT side = 0;
  if ((gdiplus.*ask)(image, &side) != kGpOk || side > INT32_MAX) return 0;
  return static_cast<int32_t>(side);
}

// The channels a source GDI+ decodes needs, by its pixel format: alpha where its rows are read
// with alpha (palettes may have some).
Channels ChannelsOfFormat(int32_t format) {
  if (format == kPixelFormat16bppGrayScale) return Channels::kGrey;
  return HasAlpha(ReadFormatOf(format).layout) ? Channels::kColourAlpha : Channels::kColour;
}

// A finished picture's rows, read through locks in its own format, through the plug-in's own
// writer into the temporary file, with the channels the source needs and what it carries.
bool WrittenByPlugin(GpImage* picture, int32_t width, int32_t height, const std::string& mimeType,
                     Channels channels, const Carried& carried, HANDLE temporary) {
  int32_t format = 0;
  gdiplus.GdipGetImagePixelFormat(picture, &format);
  const ReadFormat read = ReadFormatOf(format);
  TargetWriter writer;
  return StartTargetWriter(temporary, mimeType, width, height, read.layout, channels, carried,
                           &writer) &&
         ReadSourceRows(picture, read, width, height,
                        [&](const uint8_t* row) { WriteTargetRow(&writer, row); }) &&
         FinishTargetWriter(&writer);
}

// A source GDI+ decodes, loaded, with what the steps need of it; a null image and the step that
// failed otherwise.
struct Loaded {
  ImageOwner image;
  Source facts;
  ResizeStep failure;
};

// GDI+'s load of a file none of the plug-in's readers takes (ICO, the metafiles), but for one whose
// header would make GDI+'s decoders fault inside the caller's process. A file of a format the
// plug-in reads is never given to GDI+ (see ReadByPluginAlone).
Loaded LoadedByGdiplus(SourceFile* file, const std::wstring& name, bool fits, ReadOutcome read) {
  Loaded loaded = {ImageOwner(), {nullptr, 0, false, 0, 0}, ResizeStep::kSourceRefused};
  if (read == ReadOutcome::kHostile) return loaded;
  if (ReadByPluginAlone(*file)) {
    loaded.failure = fits ? ResizeStep::kSourceNotLoaded : ResizeStep::kSizeRejected;
    return loaded;
  }
  if (GdiplusSourceHostile(file)) return loaded;
  ImageOwner image;
  LoadImageFile(name, &image.handle);
  loaded.failure = ResizeStep::kSourceNotLoaded;
  if (image.handle == nullptr) return loaded;
  float sourceWidth = 0, sourceHeight = 0;
  gdiplus.GdipGetImageDimension(image.handle, &sourceWidth, &sourceHeight);
  loaded.failure = ResizeStep::kSourceWithoutSize;
  if (!(sourceWidth > 0 && sourceHeight > 0)) return loaded;
  Source& facts = loaded.facts;
  facts.image = image.handle;
  gdiplus.GdipGetImagePixelFormat(image.handle, &facts.format);
  int type = 0;
  facts.metafile = gdiplus.GdipGetImageType(image.handle, &type) == kGpOk && type != kImageTypeBitmap;
  if (!facts.metafile) {
    facts.width = Side(&GdiplusApi::GdipGetImageWidth, image.handle);
    facts.height = Side(&GdiplusApi::GdipGetImageHeight, image.handle);
    if (facts.width <= 0 || facts.height <= 0) return loaded;
  }
  loaded.failure = ResizeStep::kSizeRejected;
  if (!fits) return loaded;
  loaded.image = std::move(image);
  loaded.failure = ResizeStep::kConverted;
  return loaded;
}

}  // namespace

ResizeStep WrittenFromGdiplus(SourceFile* file, const std::wstring& name, int32_t width, int32_t height,
                              bool fits, ReadOutcome read, const std::string& mimeType,
                              const std::function<ResizeStep()>& prepare, TemporaryFile* temporary) {
  const Loaded loaded = LoadedByGdiplus(file, name, fits, read);
  if (loaded.image.handle == nullptr) return loaded.failure;
  const Source& source = loaded.facts;
  const Channels channels = ChannelsOfFormat(source.format);
  Picture picture = {ImageOwner(), ResizeStep::kNotDrawn};
  if (source.metafile) {
    picture = RenderedMetafile(source, width, height);
    if (picture.bitmap.handle == nullptr) return picture.failure;
  }
  ResizeStep prepared = prepare();
  if (prepared != ResizeStep::kConverted) return prepared;
  if (!source.metafile) {
    const Streamed streamed = StreamedBitmap(source.image, source.format, source.width, source.height, width,
                                             height, mimeType, channels, file->picture.carried, temporary->file.handle);
    if (streamed == Streamed::kWritten) return ResizeStep::kConverted;
    if (streamed == Streamed::kNotWritten) return ResizeStep::kNotSaved;
    temporary->Remove();
    prepared = prepare();
    if (prepared != ResizeStep::kConverted) return prepared;
    picture = ScaledByGdiplus(source, width, height);
    if (picture.bitmap.handle == nullptr) return picture.failure;
  }
  return WrittenByPlugin(picture.bitmap.handle, width, height, mimeType, channels, file->picture.carried,
                         temporary->file.handle)
             ? ResizeStep::kConverted
             : ResizeStep::kNotSaved;
}
