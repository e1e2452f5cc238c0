// The plug-in built without libwebp: no WebP is read (GDI+ has no decoder for it either).
#include "imaging/codecs/webp_reader.h"

void WebpDecodeEnd::operator()(WebpDecode*) const {}

ReadOutcome OpenWebp(const RandomBytes&, int64_t, WebpDecoder* decoder, WebpHeader*) {
  decoder->reset();
  return ReadOutcome::kOtherFormat;
}

ReadOutcome ReadWebp(WebpDecode*, int, const DecodedRows&) { return ReadOutcome::kRefused; }
