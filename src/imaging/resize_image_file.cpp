#include "imaging/resize_image_file.h"

#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"
#include "imaging/image_types.h"
#include "imaging/indexed_bitmap.h"
#include "imaging/source_file.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/box_average.h"
#include "imaging/resampled_bitmap.h"
#include "imaging/target_file.h"
#include "imaging/target_writer.h"
#include "imaging/source_rows.h"
#include "platform/windows_text.h"

#include <climits>
#include <utility>
#include <vector>

namespace {
// The canvas keeps the source's format where every GDI+ draws into it and every encoder takes
// it, so that an alpha channel survives. 16-bit RGB sources get 24 bits: their 5 or 6 bits per
// channel would throw away what a resample computed. Every other source (palettes, grey, CMYK,
// 48 and 64 bits, ARGB 1555) is drawn in 32-bit ARGB: Windows gives no drawing context on some
// of them, and what it draws into or encodes from the others is nowhere recorded.
int32_t CanvasFormat(int32_t sourceFormat) {
  switch (sourceFormat) {
    case kPixelFormat24bppRGB:
    case kPixelFormat32bppRGB:
    case kPixelFormat32bppARGB:
    case kPixelFormat32bppPARGB:
      return sourceFormat;
    case kPixelFormat16bppRGB555:
    case kPixelFormat16bppRGB565:
      return kPixelFormat24bppRGB;
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

// What the source is, as the steps of the picture need it.
struct Source {
  GpImage* image;
  int32_t format;
  bool metafile;
  int32_t width, height;  // in pixels, for a bitmap
};

// A picture made by one step, or null and the step that failed.
struct Picture {
  ImageOwner bitmap;
  ResizeStep failure;
  Channels channels = Channels::kColourAlpha;  // what the source needs written of it
};

// GDI+ draws into a new canvas: `draw` gets the context and answers GDI+'s status.
template <typename Draw>
Picture DrawnByGdiplus(int32_t width, int32_t height, int32_t format, const Draw& draw) {
  Picture picture = {ImageOwner(), ResizeStep::kNoCanvas};
  GraphicsOwner graphics;
  if (!MakeCanvas(width, height, format, &picture.bitmap, &graphics)) return picture;
  if (draw(graphics.handle) != kGpOk) {
    graphics.Reset();
    picture.bitmap.Reset();
    picture.failure = ResizeStep::kNotDrawn;
  }
  return picture;
}

// A finished picture in the canvas's format: as it is where it has that format already, else
// converted by GDI+ in a draw of 1 to 1, which copies pixels exactly.
Picture InCanvasFormat(ResampledPicture resampled, int32_t canvasFormat, int32_t width,
                       int32_t height) {
  if (resampled.format == canvasFormat) return {std::move(resampled.bitmap), ResizeStep::kConverted};
  return DrawnByGdiplus(width, height, canvasFormat, [&](GpGraphics* graphics) {
    return gdiplus.GdipDrawImageRectI(graphics, resampled.bitmap.handle, 0, 0, width, height);
  });
}

// A metafile's frame is in GDI+'s own units (0.01 mm on Windows, pixels under Wine), so no
// source rectangle is built from its dimensions: GDI+ renders the whole of it at the target's
// size.
Picture RenderedMetafile(const Source& source, int32_t width, int32_t height) {
  return DrawnByGdiplus(width, height, CanvasFormat(source.format), [&](GpGraphics* graphics) {
    gdiplus.GdipSetInterpolationMode(graphics, kInterpolationModeHighQuality);
    gdiplus.GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);
    return gdiplus.GdipDrawImageRectI(graphics, source.image, 0, 0, width, height);
  });
}

// Where the resampler cannot run (its memory refused), GDI+'s own draw of the whole source, as
// soft as its interpolation is.
Picture ScaledByGdiplus(const Source& source, int32_t width, int32_t height) {
  return DrawnByGdiplus(width, height, CanvasFormat(source.format), [&](GpGraphics* graphics) {
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

// The whole source at exactly width by height in the canvas's format: a blank bitmap is never
// passed on to be saved.
Picture ScaledPicture(const Source& source, int32_t width, int32_t height) {
  if (source.metafile) return RenderedMetafile(source, width, height);
  ResampledPicture resampled =
      ResampledBitmap(source.image, source.format, source.width, source.height, width, height);
  if (resampled.bitmap.handle == nullptr) return ScaledByGdiplus(source, width, height);
  return InCanvasFormat(std::move(resampled), CanvasFormat(source.format), width, height);
}

// A side as GDI+ counts a bitmap's pixels; 0 when it cannot tell or the side passes int32.
int32_t Side(GpStatus (*GdiplusApi::*ask)(GpImage*, UINT*), GpImage* image) {
  UINT side = 0;
  if ((gdiplus.*ask)(image, &side) != kGpOk || side > INT32_MAX) return 0;
  return static_cast<int32_t>(side);
}

// Makes a new temporary file beside the target, which `temporary` then owns; the step that failed
// otherwise. Nothing is written where no file would be made (a device), where a file must not be
// replaced (a folder, a read-only file), or over the source: GDI+ cannot write over the file an
// open image came from, and replacing it afterwards would destroy the user's picture.
ResizeStep PrepareTarget(const SourceFile& source, const TargetName& target,
                         TemporaryFile* temporary) {
  if (NamesDevice(target.wide)) return ResizeStep::kTargetRefused;
  const TargetStanding standing = InspectTarget(target);
  if (standing.kind == kTargetNotReplaceable ||
      (standing.kind == kTargetFile && SameFileAs(source, target.wide))) {
    return ResizeStep::kTargetRefused;
  }
  return temporary->CreateBeside(target) ? ResizeStep::kConverted : ResizeStep::kNoTemporaryFile;
}

// An encoder may report success and write something no decoder reads (Wine's GIF encoder writes
// no pixels from a 32-bit bitmap): the file must load as an image of the size asked for before
// it replaces anything. The image is released before the rename, since GDI+ keeps its file open.
bool ReadsBack(const std::wstring& name, int32_t width, int32_t height) {
  ImageOwner written;
  if (LoadImageFile(name, &written.handle) != kGpOk || written.handle == nullptr) return false;
  return Side(&GdiplusApi::GdipGetImageWidth, written.handle) == width &&
         Side(&GdiplusApi::GdipGetImageHeight, written.handle) == height;
}

// Saves the picture with GDI+'s encoder to a new temporary file beside the target (see
// PrepareTarget), which GDI+ then reads back; the step that failed otherwise.
ResizeStep SavedByGdiplus(GpImage* picture, const SourceFile& source, const TargetName& target,
                          const std::string& mimeType, int32_t width, int32_t height,
                          TemporaryFile* temporary) {
  CLSID encoder;
  if (!FindEncoder(mimeType, &encoder)) return ResizeStep::kNoEncoder;
  const ResizeStep prepared = PrepareTarget(source, target, temporary);
  if (prepared != ResizeStep::kConverted) return prepared;
  ResizeStep step = ResizeStep::kNotSaved;
  temporary->LendToGdiplus([&] {
    if (SaveImageFile(picture, temporary->wideName, &encoder, nullptr) != kGpOk) return false;
    step = ReadsBack(temporary->wideName, width, height) ? ResizeStep::kConverted
                                                         : ResizeStep::kNotReadBack;
    return step == ResizeStep::kConverted;
  });
  return step;
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

// A file the plug-in wrote is read back through its handle by its own reader, whole (a JPEG at
// 1/8, a PNG through every row, every CRC checked), and must be a picture of the size asked for.
// A build without a reader of the format (a TIFF without libtiff) has GDI+ read it back instead,
// as every caller would open it.
bool ReadsBackWhole(TemporaryFile* written, int32_t width, int32_t height) {
  SourceFile file;
  if (!UseOpenFile(written->file.handle, &file)) return false;
  const ReadOutcome opened = OpenSourceDecoder(&file);
  if (opened == ReadOutcome::kOtherFormat) {
    SessionOwner session;
    StartGdiplusSession(&session);
    return written->LendToGdiplus([&] { return ReadsBack(written->wideName, width, height); });
  }
  if (opened != ReadOutcome::kRead || file.width != width || file.height != height) return false;
  const DecodedRows discard = {[](void*, int32_t, int32_t) { return true; },
                               [](void*, const uint8_t*) { return true; }, nullptr};
  return ReadSourceFile(&file, (file.scales & kJpegScaleEighth) != 0 ? 8 : 1, discard) ==
         ReadOutcome::kRead;
}

// A source GDI+ decodes, loaded, with what the steps need of it; a null image and the step that
// failed otherwise.
struct Loaded {
  ImageOwner image;
  Source facts;
  ResizeStep failure;
};

// GDI+'s load of a file the plug-in's reader left (`read`), but for one its reader alone reads
// (see ReadByPluginAlone) and one no decoder should be given: GDI+ decodes a JPEG of a thousand scans as slowly as the reader would, so a JPEG the
// reader left for any other reason has its scans counted first, and some headers make GDI+'s
// decoders fault inside the caller's process.
Loaded LoadedByGdiplus(SourceFile* file, const std::wstring& name, bool fits, ReadOutcome read) {
  Loaded loaded = {ImageOwner(), {nullptr, 0, false, 0, 0}, ResizeStep::kSourceRefused};
  if (read == ReadOutcome::kHostile || (read != ReadOutcome::kOtherFormat && JpegSourceHostile(file)) ||
      GdiplusSourceHostile(file)) {
    return loaded;
  }
  if (ReadByPluginAlone(*file) && (!fits || read != ReadOutcome::kOtherFormat)) {
    loaded.failure = fits ? ResizeStep::kSourceNotLoaded : ResizeStep::kSizeRejected;
    return loaded;
  }
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

// The source decoded and scaled to exactly width by height, in the canvas's format, for GDI+'s
// encoder; null and the step that failed otherwise. The source's memory is released before this
// returns, ahead of the encoder's. A file the plug-in's reader has opened (`read` kRead) is read
// by it (a JPEG shrunk while it decodes); every other file, and one the reader refused, by GDI+.
Picture ScaledSource(SourceFile* file, const std::wstring& name, int32_t width, int32_t height,
                     bool fits, ReadOutcome read) {
  if (read == ReadOutcome::kRead) {
    ResampledPicture picture = ResampledSource(file, width, height, &read);
    if (picture.bitmap.handle != nullptr) {
      Picture canvas = InCanvasFormat(std::move(picture),
                                      file->keepsAlpha ? kPixelFormat32bppARGB : kPixelFormat24bppRGB,
                                      width, height);
      canvas.channels = file->channels;
      return canvas;
    }
  }
  const Loaded loaded = LoadedByGdiplus(file, name, fits, read);
  if (loaded.image.handle == nullptr) return {ImageOwner(), loaded.failure};
  Picture picture = ScaledPicture(loaded.facts, width, height);
  picture.channels = ChannelsOfFormat(loaded.facts.format);
  return picture;
}

// GDI+'s decode of the source into the plug-in's own writer: a bitmap's rows through the resampler
// straight into the temporary file; a metafile rendered by GDI+ at the target's size, and GDI+'s
// own draw where the resampler cannot run (its memory, or a lock of the source, refused), written
// from the picture GDI+ made, into a new file. A metafile is rendered before the temporary file is
// made: should GDI+ fault on it, nothing is left beside the target.
ResizeStep WrittenFromGdiplus(SourceFile* file, const std::wstring& name, const TargetName& target,
                              int32_t width, int32_t height, bool fits, ReadOutcome read,
                              const std::string& mimeType, TemporaryFile* temporary) {
  const Loaded loaded = LoadedByGdiplus(file, name, fits, read);
  if (loaded.image.handle == nullptr) return loaded.failure;
  const Source& source = loaded.facts;
  const Channels channels = ChannelsOfFormat(source.format);
  Picture picture = {ImageOwner(), ResizeStep::kNotDrawn};
  if (source.metafile) {
    picture = RenderedMetafile(source, width, height);
    if (picture.bitmap.handle == nullptr) return picture.failure;
  }
  ResizeStep prepared = PrepareTarget(*file, target, temporary);
  if (prepared != ResizeStep::kConverted) return prepared;
  if (!source.metafile) {
    const Streamed streamed = StreamedBitmap(source.image, source.format, source.width, source.height, width,
                                             height, mimeType, channels, file->carried, temporary->file.handle);
    if (streamed == Streamed::kWritten) return ResizeStep::kConverted;
    if (streamed == Streamed::kNotWritten) return ResizeStep::kNotSaved;
    temporary->Remove();
    prepared = PrepareTarget(*file, target, temporary);
    if (prepared != ResizeStep::kConverted) return prepared;
    picture = ScaledByGdiplus(source, width, height);
    if (picture.bitmap.handle == nullptr) return picture.failure;
  }
  return WrittenByPlugin(picture.bitmap.handle, width, height, mimeType, channels, file->carried,
                         temporary->file.handle)
             ? ResizeStep::kConverted
             : ResizeStep::kNotSaved;
}
}  // namespace

ResizeStep ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                           int32_t height) {
  if (ResizeRejectedByNames(source, target)) return ResizeStep::kNamesRejected;
  const std::string mimeType = WritableMimeType(target);

  // Each name is turned into the wide form that file calls and GDI+ take once, here. The source
  // is opened once: what the plug-in asks of it, it asks through that handle.
  const std::wstring wideSource = ToWideText(source);
  SourceFile file;
  const Opened opened = OpenSource(wideSource, &file);
  if (opened == Opened::kNotAFile) return ResizeStep::kSourceRefused;
  // A source written to while it is read (cut, or grown) gives a picture of neither state.
  const int64_t sourceSize = opened == Opened::kDiskFile ? FileSize(file.bytes.file) : -1;
  const TargetName targetName = {ToWideText(target)};
  TemporaryFile temporary;
  const bool fits = BitmapFits(width, height, 4) && width <= LargestSide(mimeType) &&
                    height <= LargestSide(mimeType);
  // Where the rows go, chosen once: the plug-in's own writer of the format, or, in a build without
  // its library, GDI+'s encoder.
  const bool ownWriter = WritesOwnFormat(mimeType);
  ReadOutcome read = ReadOutcome::kOtherFormat;
  if (opened == Opened::kDiskFile && fits) read = OpenSourceDecoder(&file);
  // A source the plug-in reads, into a file it writes: streamed from file to file, no GDI+ at all.
  // Where the reader gives up midway, GDI+'s picture goes into a new, empty file.
  bool written = false;
  if (ownWriter && read == ReadOutcome::kRead) {
    const ResizeStep prepared = PrepareTarget(file, targetName, &temporary);
    if (prepared != ResizeStep::kConverted) return prepared;
    const Streamed streamed =
        StreamedSource(&file, width, height, mimeType, temporary.file.handle, &read);
    if (streamed == Streamed::kNotWritten) return ResizeStep::kNotSaved;
    written = streamed == Streamed::kWritten;
    if (!written) temporary.Remove();
  }
  // Every other source is decoded by GDI+, in a session opened here and ended before the rename.
  SessionOwner session;
  if (!written) {
    StartGdiplusSession(&session);  // a failed start shows in the load that follows
    if (ownWriter) {
      const ResizeStep step = WrittenFromGdiplus(&file, wideSource, targetName, width, height, fits, read,
                                                 mimeType, &temporary);
      if (step != ResizeStep::kConverted) return step;
    } else {
      Picture picture = ScaledSource(&file, wideSource, width, height, fits, read);
      if (picture.bitmap.handle == nullptr) return picture.failure;
      if (mimeType == "image/gif") {
        IndexedBitmap indexed = IndexedCopy(picture.bitmap.handle, width, height);
        if (indexed.bitmap.handle == nullptr) return ResizeStep::kNoPalette;
        picture.bitmap = std::move(indexed.bitmap);
      }
      const ResizeStep saved = SavedByGdiplus(picture.bitmap.handle, file, targetName, mimeType,
                                              width, height, &temporary);
      if (saved != ResizeStep::kConverted) return saved;
    }
  }
  // What the plug-in wrote it reads back itself; what GDI+ saved, it read back.
  if (opened == Opened::kDiskFile && FileSize(file.bytes.file) != sourceSize) return ResizeStep::kSourceNotLoaded;
  if (ownWriter && !ReadsBackWhole(&temporary, width, height)) return ResizeStep::kNotReadBack;
  session.End();
  if (!ReplaceTarget(temporary, targetName)) return ResizeStep::kNotReplaced;
  temporary.Keep();
  return ResizeStep::kConverted;
}
