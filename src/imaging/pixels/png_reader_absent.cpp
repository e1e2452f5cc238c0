// The plug-in built without libpng: every PNG is left to GDI+.
#include "imaging/pixels/png_reader.h"

void PngDecodeEnd::operator()(PngDecode*) const {}

ReadOutcome OpenPng(const ByteSource&, PngDecoder* decoder, PngHeader*) {
  decoder->reset();
  return ReadOutcome::kRefused;
}

ReadOutcome ReadPng(PngDecode*, const DecodedRows&) { return ReadOutcome::kRefused; }
