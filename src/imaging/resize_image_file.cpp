#include "imaging/resize_image_file.h"

#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"
#include "imaging/image_types.h"
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
// 1/8, a PNG through every row, every CRC checked), and must be a picture of the size asked for:
// a writer may report success and leave something no decoder reads.
bool ReadsBackWhole(TemporaryFile* written, int32_t width, int32_t height) {
  SourceFile file;
  if (!UseOpenFile(written->file.handle, &file)) return false;
  const ReadOutcome opened = OpenSourceDecoder(&file);
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
  // ICO, EMF and WMF are names the plug-in takes and writes no file of.
  if (!WritesOwnFormat(mimeType)) return ResizeStep::kNoEncoder;

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
  ReadOutcome read = ReadOutcome::kOtherFormat;
  if (opened == Opened::kDiskFile && fits) read = OpenSourceDecoder(&file);
  // A source the plug-in reads, streamed from file to file, no GDI+ at all. Where the reader gives
  // up midway, GDI+'s picture goes into a new, empty file.
  bool written = false;
  if (read == ReadOutcome::kRead) {
    const ResizeStep prepared = PrepareTarget(file, targetName, &temporary);
    if (prepared != ResizeStep::kConverted) return prepared;
    const Streamed streamed = StreamedSource(&file, width, height, mimeType, temporary.file.handle, &read);
    if (streamed == Streamed::kNotWritten) return ResizeStep::kNotSaved;
    written = streamed == Streamed::kWritten;
    if (!written) temporary.Remove();
  }
  // Every other source is decoded by GDI+, in a session opened here and ended before the rename.
  SessionOwner session;
  if (!written) {
    StartGdiplusSession(&session);  // a failed start shows in the load that follows
    const ResizeStep step = WrittenFromGdiplus(&file, wideSource, targetName, width, height, fits, read,
                                               mimeType, &temporary);
    if (step != ResizeStep::kConverted) return step;
  }
  if (opened == Opened::kDiskFile && FileSize(file.bytes.file) != sourceSize) return ResizeStep::kSourceNotLoaded;
  if (!ReadsBackWhole(&temporary, width, height)) return ResizeStep::kNotReadBack;
  session.End();
  if (!ReplaceTarget(temporary, targetName)) return ResizeStep::kNotReplaced;
  temporary.Keep();
  return ResizeStep::kConverted;
}
