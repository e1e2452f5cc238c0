// The plug-in built without giflib: GDI+'s encoder writes every GIF.
#include "imaging/codecs/gif_writer.h"

bool WriteGif(const ByteSink&, int32_t, int32_t, const std::vector<uint32_t>&, int,
              const uint8_t*, int32_t) {
  return false;
}
