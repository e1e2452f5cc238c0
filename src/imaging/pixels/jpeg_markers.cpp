#include "imaging/pixels/jpeg_markers.h"

#include <cstring>

namespace {
constexpr int32_t kBufferBytes = 64 * 1024;

// The file's bytes one at a time, read a buffer at a time; -1 at its end or a failed read.
struct ByteStream {
  const JpegBytes& bytes;
  uint8_t buffer[kBufferBytes];
  int32_t at, size;

  int Next() {
    if (at == size) {
      size = bytes.read(bytes.context, buffer, kBufferBytes);
      at = 0;
      if (size <= 0) {
        size = 0;
        return -1;
      }
    }
    return buffer[at++];
  }
  // Skips to just after the next 0xFF byte; false at the end.
  bool SkipPastFf() {
    for (;;) {
      const void* ff = std::memchr(buffer + at, 0xFF, static_cast<size_t>(size - at));
      if (ff != nullptr) {
        at = static_cast<int32_t>(static_cast<const uint8_t*>(ff) - buffer) + 1;
        return true;
      }
      at = size;
      if (Next() < 0) return false;
      --at;  // the byte just read is looked at again
    }
  }
};

// Markers that stand alone, without a length: TEM, the restart markers, SOI (EOI ends the walk).
bool StandsAlone(int marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8); }
}  // namespace

bool StartsAsJpeg(const uint8_t* bytes, int32_t size) {
  return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

JpegOutcome CountJpegScans(const JpegBytes& bytes) {
  ByteStream in{bytes, {}, 0, 0};
  if (in.Next() != 0xFF || in.Next() != 0xD8 || in.Next() != 0xFF) return JpegOutcome::kNotJpeg;
  --in.at;  // the first marker's 0xFF
  int32_t scans = 0;
  // Between segments and inside entropy-coded data alike, a marker is 0xFF, any fill 0xFFs, then a
  // byte that is neither 0 (a stuffed 0xFF of the data) nor 0xFF.
  while (in.SkipPastFf()) {
    int marker = in.Next();
    while (marker == 0xFF) marker = in.Next();
    if (marker < 0 || marker == 0xD9) break;
    if (marker == 0 || StandsAlone(marker)) continue;
    if (marker == 0xDA && ++scans > kJpegScanLimit) return JpegOutcome::kHostile;
    const int high = in.Next(), low = in.Next();
    if (low < 0) break;
    for (int32_t skip = (high << 8 | low) - 2; skip > 0;) {
      const int32_t step = skip < in.size - in.at ? skip : in.size - in.at;
      in.at += step;
      skip -= step;
      if (skip > 0 && in.Next() < 0) return JpegOutcome::kRead;
      if (skip > 0) --skip;
    }
  }
  return JpegOutcome::kRead;
}
