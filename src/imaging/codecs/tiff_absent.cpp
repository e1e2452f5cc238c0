// The plug-in built without libtiff: GDI+ reads every TIFF, as a format the plug-in does not know.
#include "imaging/codecs/tiff_reader.h"

void TiffDecodeEnd::operator()(TiffDecode*) const {}

ReadOutcome OpenTiff(const RandomBytes&, int64_t, TiffDecoder* decoder, TiffHeader*) {
  decoder->reset();
  return ReadOutcome::kOtherFormat;
}

ReadOutcome ReadTiff(TiffDecode*, const DecodedRows&) { return ReadOutcome::kRefused; }
