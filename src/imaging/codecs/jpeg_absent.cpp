// The plug-in built without libjpeg-turbo: every JPEG is left to GDI+.
#include "imaging/codecs/jpeg_reader.h"
#include "imaging/codecs/jpeg_writer.h"

void JpegDecodeEnd::operator()(JpegDecode*) const {}

ReadOutcome OpenJpeg(const ByteSource&, JpegDecoder* decoder, JpegHeader*) {
  decoder->reset();
  return ReadOutcome::kRefused;
}

ReadOutcome ReadJpeg(JpegDecode*, int, const DecodedRows&) { return ReadOutcome::kRefused; }

void JpegEncodeEnd::operator()(JpegEncode*) const {}

bool StartJpeg(const ByteSink&, int32_t, int32_t, JpegRows, const Carried&, JpegEncoder* encoder) {
  encoder->reset();
  return false;
}

bool WriteJpegRow(JpegEncode*, const uint8_t*) { return false; }

bool FinishJpeg(JpegEncode*) { return false; }
