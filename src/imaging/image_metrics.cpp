#include "imaging/image_metrics.h"

#include "imaging/gdiplus_owners.h"
#include "imaging/image_files.h"

ImageMeasure MeasureImageFile(const std::string& name) {
  ImageMeasure measure = {false, 0, 0};
  SessionOwner session;
  if (StartGdiplusSession(&session) != kGpOk) return measure;
  measure.sessionStarted = true;
  ImageOwner image;
  LoadImageFile(name, &image.handle);
  // An image that did not load has no dimensions: both stay 0.
  if (image.handle != nullptr) {
    gdiplus.GdipGetImageDimension(image.handle, &measure.width, &measure.height);
  }
  return measure;
}
