#include "hostile_files.h"

#include <algorithm>
#include <utility>

namespace {
typedef std::vector<uint8_t> Bytes;

void Put(Bytes* b, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A BMP's file and info headers, then `rest` (palette and pixels).
Bytes Bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const Bytes& rest,
          uint32_t paletteBytes = 0) {
  Bytes b = {'B', 'M'};
  Put(&b, static_cast<uint32_t>(54 + rest.size()), 4), Put(&b, 0, 4), Put(&b, 54 + paletteBytes, 4);
  Put(&b, 40, 4), Put(&b, static_cast<uint32_t>(width), 4), Put(&b, static_cast<uint32_t>(height), 4);
  Put(&b, 1, 2), Put(&b, bits, 2), Put(&b, compression, 4);
  for (int i = 0; i < 5; ++i) Put(&b, 0, 4);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// An RLE8 BMP of 16384 by 16384: a grey palette and an end-of-row code for each of `rows` rows,
// then the end of the picture where `ends`.
Bytes Rle(int rows, bool ends) {
  Bytes rest;
  for (int i = 0; i < 256; ++i) Put(&rest, i * 0x010101u, 4);
  for (int i = 0; i < rows; ++i) rest.insert(rest.end(), {0, 0});
  if (ends) rest.insert(rest.end(), {0, 1});
  return Bmp(16384, 16384, 8, 1, rest, 1024);
}


// A 64 by 64 grey TIFF, uncompressed, in four strips of 16 rows at these offsets and counts;
// `more` entries added.
Bytes GreyTiff(std::vector<uint32_t> offsets, std::vector<uint32_t> counts, std::vector<TiffEntry> more = {},
               uint16_t bits = 8) {
  std::vector<TiffEntry> entries = {{256, kLong, {64}}, {257, kLong, {64}}, {258, kShort, {bits}}, {259, kShort, {1}},
                                {262, kShort, {1}}, {273, kLong, std::move(offsets)}, {277, kShort, {1}},
                                {278, kLong, {16}}, {279, kLong, std::move(counts)}};
  entries.insert(entries.end(), more.begin(), more.end());
  return HandMadeTiff(entries, Bytes(64 * 64 * bits / 8, 0x40));
}

// A 64 by 64 GIF of two colours whose pixels are literal codes, each after a clear code so that
// the code width never grows; cut to `keep` bytes where that is not 0.
Bytes Gif(int minimumCodeSize, size_t keep) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 64, 0, 64, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
             0x2C, 0, 0, 0, 0, 64, 0, 64, 0, 0, static_cast<uint8_t>(minimumCodeSize)};
  const uint32_t clear = 1u << minimumCodeSize, width = minimumCodeSize + 1;
  Bytes codes;
  uint32_t bits = 0, count = 0;
  auto code = [&](uint32_t c) {
    bits |= c << count, count += width;
    for (; count >= 8; count -= 8, bits >>= 8) codes.push_back(static_cast<uint8_t>(bits));
  };
  for (int i = 0; i < 64 * 64; ++i) code(clear), code((i / 4) % 2);
  code(clear + 1);
  if (count > 0) codes.push_back(static_cast<uint8_t>(bits));
  for (size_t at = 0; at < codes.size(); at += 255) {
    const size_t n = std::min<size_t>(255, codes.size() - at);
    b.push_back(static_cast<uint8_t>(n));
    b.insert(b.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + n));
  }
  b.insert(b.end(), {0, 0x3B});
  if (keep != 0) b.resize(keep);
  return b;
}
}  // namespace

std::vector<uint8_t> HandMadeTiff(std::vector<TiffEntry> entries, const std::vector<uint8_t>& data) {
  std::sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
  const int size = 4;  // every value is written as a LONG or SHORT: out of line past 4 bytes
  uint32_t outside = static_cast<uint32_t>(8 + 2 + 12 * entries.size() + 4), extra = 0;
  for (const TiffEntry& e : entries) {
    const uint32_t bytes = static_cast<uint32_t>(e.values.size()) * (e.type == 3 ? 2 : 4);
    if (bytes > size) extra += bytes;
  }
  const uint32_t dataAt = outside + extra;
  Bytes b = {'I', 'I', 42, 0}, after;
  Put(&b, 8, 4), Put(&b, static_cast<uint32_t>(entries.size()), 2);
  for (const TiffEntry& e : entries) {
    Bytes values;
    for (uint32_t v : e.values) Put(&values, v >= kData ? v - kData + dataAt : v, e.type == 3 ? 2 : 4);
    Put(&b, e.tag, 2), Put(&b, e.type, 2), Put(&b, static_cast<uint32_t>(e.values.size()), 4);
    if (values.size() > size) {
      Put(&b, outside + static_cast<uint32_t>(after.size()), 4);
      after.insert(after.end(), values.begin(), values.end());
    } else {
      values.resize(size, 0);
      b.insert(b.end(), values.begin(), values.end());
    }
  }
  Put(&b, 0, 4);
  b.insert(b.end(), after.begin(), after.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<HostileFile> HostileFiles() {
  const uint32_t d = kData;
  // One deflate strip of 300 bytes claiming 8000 by 8000 RGBA: 256 MB for libtiff and as much again
  // for the band.
  Bytes deflated(300, 0);
  deflated[0] = 0x78, deflated[1] = 0x9C;
  const Bytes large = HandMadeTiff({{256, kLong, {8000}}, {257, kLong, {8000}}, {258, kShort, {8, 8, 8, 8}},
                            {259, kShort, {8}}, {262, kShort, {2}}, {273, kLong, {d}}, {277, kShort, {4}},
                            {278, kLong, {8000}}, {279, kLong, {300}}, {338, kShort, {2}}},
                           deflated);
  // Separate planes of CMYK, the last one missing.
  const Bytes planes = HandMadeTiff({{256, kLong, {64}}, {257, kLong, {64}}, {258, kShort, {8, 8, 8, 8}}, {259, kShort, {1}},
                             {262, kShort, {5}}, {273, kLong, {d, d + 4096, d + 8192}}, {277, kShort, {4}},
                             {278, kLong, {64}}, {279, kLong, {4096, 4096, 4096}}, {284, kShort, {2}}},
                            Bytes(3 * 4096, 0x40));
  return {
      {"TIFF of 8000 by 8000 in 300 bytes", "tif", large, ResizeStep::kSourceRefused},
      {"TIFF of fewer strip offsets than strips", "tif", GreyTiff({d, d + 1024}, {1024, 1024}), ResizeStep::kSourceRefused},
      {"TIFF with a strip at offset 0", "tif", GreyTiff({d, 0, d + 2048, d + 3072}, {1024, 1024, 1024, 1024}), ResizeStep::kSourceRefused},
      {"TIFF with a strip past its end", "tif", GreyTiff({d, d + 1024, d + 2048, d + 4000}, {1024, 1024, 1024, 1024}), ResizeStep::kSourceRefused},
      {"TIFF of planar CMYK without its last plane", "tif", planes, ResizeStep::kSourceRefused},
      {"TIFF of half floats", "tif", GreyTiff({d, d + 2048, d + 4096, d + 6144}, {2048, 2048, 2048, 2048}, {{339, kShort, {3}}}, 16),
       ResizeStep::kSourceNotLoaded},
      {"BMP of 10000 by 10000 in 354 bytes", "bmp", Bmp(10000, 10000, 24, 0, Bytes(300, 0)), ResizeStep::kSourceNotLoaded},
      {"BMP of 16 bits 8388389 wide in 1.8 KB", "bmp", Bmp(8388389, 23, 16, 0, Bytes(1746, 0)), ResizeStep::kSourceNotLoaded},
      {"RLE8 BMP of 16384 by 16384 in 1,080 bytes", "bmp", Rle(0, true), ResizeStep::kConverted},
      {"RLE8 BMP cut before its last rows", "bmp", Rle(100, false), ResizeStep::kSourceNotLoaded},
      {"GIF", "gif", Gif(2, 0), ResizeStep::kConverted},
      {"GIF cut inside its image data", "gif", Gif(2, 40), ResizeStep::kSourceNotLoaded},
      {"GIF cut halfway", "gif", Gif(2, 2000), ResizeStep::kSourceNotLoaded},
      {"GIF of LZW minimum code size 1", "gif", Gif(1, 0), ResizeStep::kSourceNotLoaded},
  };
}
