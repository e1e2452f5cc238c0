#include "imaging/image_metrics.h"

#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"
#include "imaging/source_file.h"
#include "platform/windows_text.h"

ImageMeasure MeasureImageFile(const std::string& name) {
  ImageMeasure measure = {false, 0, 0};
  SessionOwner session;
  if (StartGdiplusSession(&session) != kGpOk) return measure;
  measure.sessionStarted = true;
  const std::wstring wide = ToWideText(name);
  // Neither a device nor a JPEG of more scans than any decoder should be given is read to be
  // measured; a JPEG or PNG is measured by its header, as Windows' GDI+ measures it (Wine's
  // decodes the whole picture), so a file cut short in its pixels still has its size. The file is
  // opened once; GDI+ alone opens it again, by its name.
  SourceFile file;
  const Opened opened = OpenSource(wide, &file);
  if (opened == Opened::kNotAFile) return measure;
  if (opened == Opened::kDiskFile) {
    int32_t width = 0, height = 0;
    const HeaderSize header = SizeFromHeader(&file, &width, &height);
    if (header == HeaderSize::kKnown) {  // kRefused: 0 by 0
      measure.width = static_cast<float>(width);
      measure.height = static_cast<float>(height);
    }
    if (header != HeaderSize::kUnknown || JpegSourceHostile(&file) || GdiplusSourceHostile(&file)) {
      return measure;
    }
  }
  // Any other image that does not load has no dimensions: both stay 0.
  ImageOwner image;
  LoadImageFile(wide, &image.handle);
  if (image.handle != nullptr) {
    gdiplus.GdipGetImageDimension(image.handle, &measure.width, &measure.height);
  }
  return measure;
}
