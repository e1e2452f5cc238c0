#include "imaging/codecs/jpeg_markers.h"

#include <cstring>

namespace {
constexpr int32_t kBufferBytes = 4096;

// The file's bytes one at a time, read a buffer at a time; -1 at its end or a failed read.
struct ByteStream {
  const ByteSource& bytes;
  int64_t next;  // the file's offset just past the buffer
  uint8_t buffer[kBufferBytes];
  int32_t at, size;

  int Next() {
    if (at == size) {
      size = ReadOn(bytes, &next, buffer, kBufferBytes);
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

// The start-of-frame markers of every coding process (not DHT, JPG or DAC, which share the range).
bool StartsFrame(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Reads `count` bytes (at most 4) as a big-endian number; -1 at the end.
int64_t ReadNumber(ByteStream* in, int count) {
  int64_t value = 0;
  for (int i = 0; i < count; ++i) {
    const int byte = in->Next();
    if (byte < 0) return -1;
    value = value << 8 | byte;
  }
  return value;
}

// Skips `count` bytes, stepping over in the file what the buffer does not hold; false past the end.
bool Skip(ByteStream* in, int64_t count) {
  const int64_t held = in->size - in->at;
  if (count <= held) {
    in->at += static_cast<int32_t>(count);
    return true;
  }
  in->next += count - held;
  in->at = in->size = 0;
  return in->next <= in->bytes.size;
}

bool StartsWithJpegMarker(ByteStream* in) {
  if (in->Next() != 0xFF || in->Next() != 0xD8 || in->Next() != 0xFF) return false;
  --in->at;  // the first marker's 0xFF
  return true;
}
}  // namespace

bool StartsAsJpeg(const uint8_t* bytes, int32_t size) {
  return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

bool JpegFrameSize(const ByteSource& bytes, int32_t* width, int32_t* height, bool* decodable) {
  ByteStream in{bytes, 0, {}, 0, 0};
  if (!StartsWithJpegMarker(&in)) return false;
  // Segment after segment: each is 0xFF, any fill 0xFFs, the marker, then its length. Stray bytes
  // between segments are stepped over, as libjpeg steps over them.
  for (;;) {
    if (!in.SkipPastFf()) return false;
    int marker = in.Next();
    while (marker == 0xFF) marker = in.Next();
    if (marker < 0 || marker == 0xDA || marker == 0xD9) return false;  // no frame before the data
    if (StandsAlone(marker)) continue;
    const int64_t length = ReadNumber(&in, 2);
    if (length < 2) return false;
    if (!StartsFrame(marker)) {
      if (!Skip(&in, length - 2)) return false;
      continue;
    }
    const int64_t precision = ReadNumber(&in, 1), rows = ReadNumber(&in, 2),
                  columns = ReadNumber(&in, 2), components = ReadNumber(&in, 1);
    if (components < 1 || components > 4 || length != 8 + 3 * components || precision < 2 ||
        precision > 16 || rows < 1 || columns < 1 || !Skip(&in, 3 * components)) {
      return false;
    }
    *width = static_cast<int32_t>(columns);
    *height = static_cast<int32_t>(rows);
    *decodable = precision == 8 && (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 ||
                                    marker == 0xC9 || marker == 0xCA);
    return true;
  }
}
