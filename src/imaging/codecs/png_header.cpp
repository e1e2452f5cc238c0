#include "imaging/codecs/png_header.h"

#include "imaging/pixels/bitmap_size.h"

#include <cstring>

namespace {
const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

uint32_t BigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// CRC-32 as PNG computes it (ISO 3309), bit by bit: 17 bytes are checked.
uint32_t Crc(const uint8_t* p, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc ^ 0xFFFFFFFFu;
}

bool DepthFits(int colourType, int depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}
}  // namespace

bool PngRowFits(uint32_t width, int colourType, int bitDepth) {
  const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
  const uint64_t held = (uint64_t{width} * channels * bitDepth + 7) / 8;
  const uint64_t delivered = uint64_t{width} * 4;
  return RowFits(static_cast<int64_t>(held > delivered ? held : delivered));
}

bool PngHeaderRowsFit(const uint8_t* bytes) {
  const uint8_t* data = bytes + 16;
  return PngRowFits(BigEndian(data), data[9], data[8]);
}

bool StartsAsPng(const uint8_t* bytes, size_t size) {
  return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

bool PngHeaderSize(const uint8_t* bytes, size_t size, int32_t* width, int32_t* height) {
  if (size < kPngHeaderBytes || !StartsAsPng(bytes, size)) return false;
  const uint8_t* chunk = bytes + 8;
  const uint8_t* data = chunk + 8;
  if (BigEndian(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0 ||
      BigEndian(data + 13) != Crc(chunk + 4, 17)) {
    return false;
  }
  const uint32_t w = BigEndian(data), h = BigEndian(data + 4);
  if (w < 1 || h < 1 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu || !DepthFits(data[9], data[8]) ||
      data[10] != 0 || data[11] != 0 || data[12] > 1) {
    return false;
  }
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}
