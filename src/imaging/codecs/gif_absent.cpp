// The plug-in built without giflib: GDI+ reads every GIF, and its encoder writes every GIF.
#include "imaging/codecs/gif_reader.h"
#include "imaging/codecs/gif_writer.h"

void GifDecodeEnd::operator()(GifDecode*) const {}

ReadOutcome OpenGif(const ByteSource&, GifDecoder* decoder, GifHeader*) {
  decoder->reset();
  return ReadOutcome::kOtherFormat;
}

ReadOutcome ReadGif(GifDecode*, const DecodedRows&) { return ReadOutcome::kRefused; }

bool WriteGif(const ByteSink&, int32_t, int32_t, const std::vector<uint32_t>&, int,
              const uint8_t*, int32_t) {
  return false;
}
