#include "imaging/codecs/bmp_writer.h"

#include "imaging/codecs/byte_order.h"

namespace {
constexpr uint32_t kHeaderBytes = 54;
constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch
}  // namespace

int64_t BmpRowBytes(int32_t width, int bits) { return (int64_t{width} * bits + 31) / 32 * 4; }

int64_t BmpRowOffset(int32_t width, int32_t height, int bits, int32_t y) {
  return kHeaderBytes + BmpRowBytes(width, bits) * (height - 1 - y);
}

std::vector<uint8_t> BmpFileHeader(int32_t width, int32_t height, int bits) {
  const uint32_t image = static_cast<uint32_t>(BmpRowBytes(width, bits) * height);
  std::vector<uint8_t> h = {'B', 'M'};
  PutLittle(&h, kHeaderBytes + image, 4);
  PutLittle(&h, 0, 4);
  PutLittle(&h, kHeaderBytes, 4);
  PutLittle(&h, 40, 4);
  PutLittle(&h, static_cast<uint32_t>(width), 4);
  PutLittle(&h, static_cast<uint32_t>(height), 4);
  PutLittle(&h, 1, 2);
  PutLittle(&h, static_cast<uint32_t>(bits), 2);
  PutLittle(&h, 0, 4);  // BI_RGB
  PutLittle(&h, image, 4);
  PutLittle(&h, kPixelsPerMetre, 4);
  PutLittle(&h, kPixelsPerMetre, 4);
  PutLittle(&h, 0, 4);
  PutLittle(&h, 0, 4);
  return h;
}
