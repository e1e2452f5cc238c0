// The plug-in built without libtiff: GDI+ reads every TIFF.
#include "imaging/codecs/tiff_reader.h"

void TiffDecodeEnd::operator()(TiffDecode*) const {}

ReadOutcome OpenTiff(const RandomBytes&, int64_t, TiffDecoder* decoder, TiffHeader*) {
  decoder->reset();
  return ReadOutcome::kRefused;
}

ReadOutcome ReadTiff(TiffDecode*, const DecodedRows&) { return ReadOutcome::kRefused; }
