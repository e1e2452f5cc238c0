#include "imaging/codecs/bmp_writer.h"

namespace {
constexpr uint32_t kHeaderBytes = 54;
constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch

void Put(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

int64_t BmpRowBytes(int32_t width, int bits) { return (int64_t{width} * bits + 31) / 32 * 4; }

int64_t BmpRowOffset(int32_t width, int32_t height, int bits, int32_t y) {
  return kHeaderBytes + BmpRowBytes(width, bits) * (height - 1 - y);
}

std::vector<uint8_t> BmpFileHeader(int32_t width, int32_t height, int bits) {
  const uint32_t image = static_cast<uint32_t>(BmpRowBytes(width, bits) * height);
  std::vector<uint8_t> h = {'B', 'M'};
  Put(&h, kHeaderBytes + image, 4);
  Put(&h, 0, 4);
  Put(&h, kHeaderBytes, 4);
  Put(&h, 40, 4);
  Put(&h, static_cast<uint32_t>(width), 4);
  Put(&h, static_cast<uint32_t>(height), 4);
  Put(&h, 1, 2);
  Put(&h, static_cast<uint32_t>(bits), 2);
  Put(&h, 0, 4);  // BI_RGB
  Put(&h, image, 4);
  Put(&h, kPixelsPerMetre, 4);
  Put(&h, kPixelsPerMetre, 4);
  Put(&h, 0, 4);
  Put(&h, 0, 4);
  return h;
}
