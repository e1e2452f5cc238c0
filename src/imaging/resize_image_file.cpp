// ResizeImageFile: the names, the source opened and described once, its rows read by the
// plug-in's reader of its format (or, for ICO and the metafiles, decoded by GDI+) and resampled
// straight into the plug-in's writer of the target's format, the file read back, and the target
// replaced in one rename.
#include "imaging/resize_image_file.h"

#include "imaging/gdiplus/gdiplus_source.h"
#include "imaging/image_types.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/box_average.h"
#include "imaging/resampled_bitmap.h"
#include "imaging/source_file.h"
#include "imaging/target_file.h"
#include "imaging/target_writer.h"
#include "platform/windows_text.h"

namespace {
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

// A file the plug-in wrote is read back through its handle by its own reader, whole (a JPEG at
// 1/8, a PNG through every row, every CRC checked), and must be a picture of the size asked for:
// a writer may report success and leave something no decoder reads.
bool ReadsBackWhole(TemporaryFile* written, int32_t width, int32_t height) {
  SourceFile file;
  if (!UseOpenFile(written->file.handle, &file)) return false;
  const ReadOutcome opened = OpenSourceDecoder(&file);
  if (opened != ReadOutcome::kRead || file.picture.width != width || file.picture.height != height) return false;
  const DecodedRows discard = {[](void*, int32_t, int32_t) { return true; },
                               [](void*, const uint8_t*) { return true; }, nullptr};
  return ReadSourceFile(&file, (file.picture.scales & kJpegScaleEighth) != 0 ? 8 : 1, discard) ==
         ReadOutcome::kRead;
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
  const int64_t sourceSize = opened == Opened::kDiskFile ? file.bytes.size : -1;
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
    const ResizeStep step = WrittenFromGdiplus(&file, wideSource, width, height, fits, read, mimeType,
                                               [&] { return PrepareTarget(file, targetName, &temporary); }, &temporary);
    if (step != ResizeStep::kConverted) return step;
  }
  if (opened == Opened::kDiskFile && FileSize(file.bytes.file) != sourceSize) return ResizeStep::kSourceNotLoaded;
  if (!ReadsBackWhole(&temporary, width, height)) return ResizeStep::kNotReadBack;
  session.End();
  if (!ReplaceTarget(temporary, targetName)) return ResizeStep::kNotReplaced;
  temporary.Keep();
  return ResizeStep::kConverted;
}
