// The plug-in built without libjpeg-turbo: every JPEG is left to GDI+.
#include "imaging/pixels/jpeg_reader.h"

JpegOutcome DecodeJpeg(const JpegBytes&, const JpegSink&) { return JpegOutcome::kRefused; }
