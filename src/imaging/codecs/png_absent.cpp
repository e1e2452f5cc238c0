// The plug-in built without libpng: every PNG is left to GDI+.
#include "imaging/codecs/png_reader.h"
#include "imaging/codecs/png_writer.h"

void PngDecodeEnd::operator()(PngDecode*) const {}

ReadOutcome OpenPng(const ByteSource&, PngDecoder* decoder, PngHeader*) {
  decoder->reset();
  return ReadOutcome::kRefused;
}

ReadOutcome ReadPng(PngDecode*, const DecodedRows&) { return ReadOutcome::kRefused; }

void PngEncodeEnd::operator()(PngEncode*) const {}

bool StartPng(const ByteSink&, int32_t, int32_t, Channels, const Carried&, PngEncoder* encoder) {
  encoder->reset();
  return false;
}

bool WritePngRow(PngEncode*, const uint8_t*) { return false; }

bool FinishPng(PngEncode*) { return false; }
