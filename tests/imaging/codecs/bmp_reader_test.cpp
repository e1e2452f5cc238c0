// BMP variants against what the file means, worked out here: alpha masks (and a mask whose alpha
// is 0 everywhere), 16-bit channels widened to 8 bits, RLE moves.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/codecs/bmp_reader.h"
#include "memory_bytes.h"

namespace {
typedef std::vector<uint8_t> Bytes;

void Put(Bytes* b, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A bottom-up BMP of 4 by 2 with an info header of `size` bytes (40, 108 or 124), its masks in it
// (or after a 40-byte one), a palette of `palette` grey entries, then `pixels` as stored.
Bytes Bmp(uint32_t size, uint16_t bits, uint32_t compression, std::vector<uint32_t> masks, int palette, const Bytes& pixels) {
  Bytes header;
  Put(&header, size, 4), Put(&header, 4, 4), Put(&header, 2, 4), Put(&header, 1, 2), Put(&header, bits, 2);
  Put(&header, compression, 4), Put(&header, static_cast<uint32_t>(pixels.size()), 4);
  for (int i = 0; i < 4; ++i) Put(&header, 0, 4);
  for (uint32_t m : masks) Put(&header, m, 4);
  header.resize(std::max<size_t>(header.size(), size), 0);
  for (int i = 0; i < palette; ++i) Put(&header, static_cast<uint32_t>(i * 0x404040), 4);
  Bytes b = {'B', 'M'};
  Put(&b, static_cast<uint32_t>(14 + header.size() + pixels.size()), 4), Put(&b, 0, 4);
  Put(&b, static_cast<uint32_t>(14 + header.size()), 4);
  b.insert(b.end(), header.begin(), header.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// Every pixel stored as `pixel` of `bytes` bytes, rows padded to 4 bytes.
Bytes Every(uint32_t pixel, int bytes) {
  Bytes rows;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) Put(&rows, pixel, bytes);
    while (rows.size() % 4 != 0) rows.push_back(0);
  }
  return rows;
}

// The rows the reader gives, top first, and whether they have alpha.
Bytes Rows(const Bytes& file, bool* alpha) {
  Description picture;
  CapturedRows rows;
  if (ReadWhole<BmpDecoder, OpenBmp, ReadBmp>(file, &picture, &rows) != ReadOutcome::kRead) return {};
  *alpha = picture.alpha;
  return rows.bytes;
}

Bytes Repeated(const Bytes& pixel, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), pixel.begin(), pixel.end());
  return all;
}

TEST(BmpReader, VariantsGiveWhatTheFileMeans) {
  const uint32_t kBitfields = 3, kAlphaBitfields = 6, kRle8 = 1;
  const std::vector<uint32_t> argb = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  // RLE8: on the bottom row two pixels of entry 1, a move 1 right and 1 up, one pixel of entry 2.
  const Bytes rle = {2, 1, 0, 2, 1, 1, 1, 2, 0, 1};
  const Bytes black = {0, 0, 0}, grey1 = {0x40, 0x40, 0x40}, grey2 = {0x80, 0x80, 0x80};
  Bytes rleRows;
  for (const Bytes& p : {black, black, black, grey2, grey1, grey1, black, black}) rleRows.insert(rleRows.end(), p.begin(), p.end());
  const struct {
    const char* what;
    Bytes file;
    bool alpha;
    Bytes rows;
  } cases[] = {
      {"v5 with an alpha mask", Bmp(124, 32, kBitfields, argb, 0, Every(0x801E140A, 4)), true, Repeated({10, 20, 30, 128}, 8)},
      {"v5 whose alpha is 0 everywhere", Bmp(124, 32, kBitfields, argb, 0, Every(0x001E140A, 4)), false, Repeated({10, 20, 30}, 8)},
      {"v5 BI_RGB with a fourth byte", Bmp(124, 32, 0, argb, 0, Every(0x801E140A, 4)), false, Repeated({10, 20, 30}, 8)},
      {"v4 ARGB4444", Bmp(108, 16, kBitfields, {0x0F00, 0x00F0, 0x000F, 0xF000}, 0, Every(0x8ABC, 2)), true,
       Repeated({0xCC, 0xBB, 0xAA, 0x88}, 8)},
      {"BI_ALPHABITFIELDS after a 40-byte header", Bmp(40, 32, kAlphaBitfields, argb, 0, Every(0x801E140A, 4)), true,
       Repeated({10, 20, 30, 128}, 8)},
      {"16-bit white", Bmp(40, 16, 0, {}, 0, Every(0x7FFF, 2)), false, Repeated({255, 255, 255}, 8)},
      {"RLE8 with a move", Bmp(40, 8, kRle8, {}, 3, rle), false, rleRows},
  };
  for (const auto& c : cases) {
    bool alpha = !c.alpha;
    EXPECT_EQ(Rows(c.file, &alpha), c.rows) << c.what;
    EXPECT_EQ(alpha, c.alpha) << c.what;
  }
}
}  // namespace
