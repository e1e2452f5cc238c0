#include "imaging/pixels/gif_file.h"

GifControl FindGifControl(const uint8_t* bytes, size_t size) {
  const GifControl notGif = {GifControl::kNotGif, 0};
  // Header (6 bytes), logical screen (7), then the global colour table when its flag is set.
  if (size < 13 || bytes[0] != 'G' || bytes[1] != 'I' || bytes[2] != 'F') return notGif;
  const uint8_t flags = bytes[10];
  size_t at = 13 + ((flags & 0x80) ? size_t{3} << ((flags & 7) + 1) : 0);
  while (at < size) {
    if (bytes[at] == 0x2C) return {GifControl::kMissing, at};  // the image descriptor
    if (bytes[at] != 0x21 || at + 2 >= size) return notGif;
    if (bytes[at + 1] == 0xF9) {
      // Its size byte, 4 data bytes and the empty block that ends it.
      if (bytes[at + 2] != 4 || at + 7 >= size) return notGif;
      return {GifControl::kExisting, at + 3};
    }
    // Another extension: skip its sub-blocks up to the empty one.
    for (at += 2; at < size && bytes[at] != 0; at += bytes[at] + size_t{1}) {
    }
    ++at;
  }
  return notGif;
}

void MarkTransparentEntry(uint8_t* control, uint8_t index) {
  control[0] |= 1;
  control[3] = index;
}

void TransparencyExtension(uint8_t index, uint8_t out[kGifControlBytes]) {
  const uint8_t control[kGifControlBytes] = {0x21, 0xF9, 4, 1, 0, 0, index, 0};
  for (size_t i = 0; i < kGifControlBytes; ++i) out[i] = control[i];
}
