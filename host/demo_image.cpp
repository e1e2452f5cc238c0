#include "host/demo_image.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/byte_writer.h"

bool WriteDemoBitmap(const std::string& path) {
  const uint32_t width = 320, height = 240;
  const uint32_t stride = width * 3;  // 960, already a multiple of 4
  std::vector<uint8_t> file;
  file.push_back('B');
  file.push_back('M');
  Put32(file, 54 + stride * height);  // file size
  Put32(file, 0);
  Put32(file, 54);  // offset of the pixels
  Put32(file, 40);  // BITMAPINFOHEADER
  Put32(file, width);
  Put32(file, height);  // positive: rows bottom-up
  Put16(file, 1);
  Put16(file, 24);
  Put32(file, 0);
  Put32(file, stride * height);
  Put32(file, 2835);
  Put32(file, 2835);
  Put32(file, 0);
  Put32(file, 0);
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t y = height - 1 - row;
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t r = static_cast<uint8_t>(x * 255 / (width - 1));
      uint8_t g = static_cast<uint8_t>(y * 255 / (height - 1));
      uint8_t b = static_cast<uint8_t>(((x / 40) + (y / 40)) % 2 ? 200 : 60);
      const int32_t d = static_cast<int32_t>(x * height) - static_cast<int32_t>(y * width);
      if (d > -600 && d < 600) r = g = b = 255;  // the diagonal, to show the aspect change
      file.push_back(b);
      file.push_back(g);
      file.push_back(r);
    }
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}
