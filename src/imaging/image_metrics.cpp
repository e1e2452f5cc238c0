#include "imaging/image_metrics.h"

#include "imaging/gdiplus/gdiplus_source.h"
#include "imaging/source_file.h"
#include "platform/windows_text.h"

ImageMeasure MeasureImageFile(const std::string& name) {
  ImageMeasure measure = {false, 0, 0};
  SessionOwner session;
  if (StartGdiplusSession(&session) != kGpOk) return measure;
  measure.sessionStarted = true;
  const std::wstring wide = ToWideText(name);
  // No device is read to be measured; a file of a format the plug-in reads is measured by its
  // header alone, as Windows' GDI+ measures a JPEG or PNG (Wine's decodes the whole picture), so a
  // file cut short in its pixels still has its size; one whose header does not say measures 0 by
  // 0. Only ICO and the metafiles are GDI+'s, which opens them again, by name.
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
    // kUnknown: no format the plug-in reads (see SizeFromHeader).
    if (header != HeaderSize::kUnknown || GdiplusSourceHostile(&file)) return measure;
  }
  // Any other image that does not load has no dimensions: both stay 0.
  if (!MeasuredByGdiplus(wide, &measure.width, &measure.height)) measure.width = measure.height = 0;
  return measure;
}
