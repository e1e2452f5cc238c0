#include "imaging/pixels/gif_file.h"

#include <cstddef>

bool MarkGifTransparency(std::vector<uint8_t>* gif, uint8_t index) {
  std::vector<uint8_t>& bytes = *gif;
  // Header (6 bytes), logical screen (7), then the global colour table when its flag is set.
  if (bytes.size() < 13 || bytes[0] != 'G' || bytes[1] != 'I' || bytes[2] != 'F') return false;
  const uint8_t flags = bytes[10];
  size_t at = 13 + ((flags & 0x80) ? size_t{3} << ((flags & 7) + 1) : 0);
  while (at < bytes.size()) {
    if (bytes[at] == 0x2C) {  // the image descriptor
      // Extension, its label, 4 bytes: transparency flag set, no delay, the index.
      const uint8_t control[] = {0x21, 0xF9, 4, 1, 0, 0, index, 0};
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), control, control + 8);
      bytes[4] = '9';
      return true;
    }
    if (bytes[at] != 0x21 || at + 1 >= bytes.size()) return false;
    if (bytes[at + 1] == 0xF9) return true;
    // Another extension: skip its sub-blocks up to the empty one.
    for (at += 2; at < bytes.size() && bytes[at] != 0; at += bytes[at] + size_t{1}) {
    }
    ++at;
  }
  return false;
}
