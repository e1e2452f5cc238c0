#include "imaging/image_metrics.h"

#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"
#include "imaging/jpeg_file.h"
#include "platform/windows_text.h"

ImageMeasure MeasureImageFile(const std::string& name) {
  ImageMeasure measure = {false, 0, 0};
  SessionOwner session;
  if (StartGdiplusSession(&session) != kGpOk) return measure;
  measure.sessionStarted = true;
  const std::wstring wide = ToWideText(name);
  // Neither a device nor a JPEG of more scans than any decoder should be given is read to be
  // measured.
  if (SourceIsNoFile(wide) || JpegFileHostile(wide)) return measure;
  ImageOwner image;
  LoadImageFile(wide, &image.handle);
  if (image.handle != nullptr) {
    gdiplus.GdipGetImageDimension(image.handle, &measure.width, &measure.height);
    return measure;
  }
  // A JPEG too large for GDI+ to hold decoded is measured by the plug-in's own reader, if it
  // reads the whole file without a warning; any other image that did not load has no
  // dimensions: both stay 0.
  int32_t width = 0, height = 0;
  if (JpegFileSize(wide, &width, &height)) {
    measure.width = static_cast<float>(width);
    measure.height = static_cast<float>(height);
  }
  return measure;
}
