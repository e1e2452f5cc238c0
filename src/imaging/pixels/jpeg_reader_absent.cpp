// The plug-in built without libjpeg-turbo: every JPEG is left to GDI+.
#include "imaging/pixels/jpeg_reader.h"

void JpegDecodeEnd::operator()(JpegDecode*) const {}

JpegOutcome OpenJpeg(const JpegBytes&, JpegDecoder* decoder, JpegHeader*) {
  decoder->reset();
  return JpegOutcome::kRefused;
}

JpegOutcome ReadJpeg(JpegDecode*, int, const JpegRows&) { return JpegOutcome::kRefused; }
