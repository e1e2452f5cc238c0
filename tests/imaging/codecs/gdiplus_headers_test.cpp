// Headers of the formats GDI+ decodes (ICO, EMF, WMF), checked before GDI+ is given the file: the
// hostile ones refused from their first bytes, every ordinary one let through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/codecs/gdiplus_headers.h"
#include "memory_bytes.h"

namespace {
typedef std::vector<uint8_t> Bytes;

void Put(Bytes& b, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A 24-bit BMP of an info header, its rows absent.
Bytes Bmp(int32_t width, int32_t height, uint32_t bits = 24, uint32_t compression = 0) {
  Bytes b(54 + 64, 0);
  b[0] = 'B', b[1] = 'M';
  Put(b, 14, 40, 4), Put(b, 18, static_cast<uint32_t>(width), 4), Put(b, 22, static_cast<uint32_t>(height), 4);
  Put(b, 26, 1, 2), Put(b, 28, bits, 2), Put(b, 30, compression, 4);
  return b;
}

// An icon of one entry, a BMP of the sides given (the height doubled for the mask).
Bytes Ico(int32_t width, int32_t height) {
  Bytes b = {0, 0, 1, 0, 1, 0};
  Bytes entry(16, 0);
  Put(entry, 12, 22, 4);
  b.insert(b.end(), entry.begin(), entry.end());
  const Bytes bmp = Bmp(width, height * 2);
  b.insert(b.end(), bmp.begin() + 14, bmp.end());
  return b;
}

// An EMF of a header, one record of the size given (24 when whole) and the end record; then the
// header's field at `at` set to `value`.
Bytes Emf(uint32_t recordSize, size_t at = 0, uint32_t value = 1) {
  Bytes b(88 + 24 + 20, 0);
  Put(b, 0, 1, 4), Put(b, 4, 88, 4), Put(b, 40, 0x464D4520, 4);
  Put(b, 16, 99, 4), Put(b, 20, 99, 4), Put(b, 32, 2645, 4), Put(b, 36, 2645, 4);  // bounds, frame
  Put(b, 48, static_cast<uint32_t>(b.size()), 4), Put(b, 52, 3, 4), Put(b, 56, 1, 2);
  Put(b, 88, 39, 4), Put(b, 92, recordSize, 4);
  Put(b, 112, 14, 4), Put(b, 116, 20, 4);
  Put(b, at, value, at == 56 ? 2 : 4);
  return b;
}

// A placeable WMF of a 100 by 100 box at 1440 a inch, one record and the end record.
Bytes Wmf(int16_t right = 100, uint16_t inch = 1440) {
  Bytes b(22 + 18 + 8 + 6, 0);
  Put(b, 0, 0x9AC6CDD7, 4), Put(b, 10, static_cast<uint16_t>(right), 2), Put(b, 12, 100, 2), Put(b, 14, inch, 2);
  Put(b, 22, 1, 2), Put(b, 24, 9, 2), Put(b, 26, 0x300, 2);
  Put(b, 40, 4, 4), Put(b, 44, 0x103, 2), Put(b, 48, 3, 4);
  return b;
}

TEST(GdiplusHeaders, HostileHeadersAreRefusedOrdinaryOnesPass) {
  const Bytes emf = Emf(24), wmf = Wmf();
  const struct {
    const char* what;
    Bytes file;
    bool hostile;
  } cases[] = {
      {"icon", Ico(32, 32), false},
      {"icon of a BMP of 7 bits", [] { Bytes i = Ico(32, 32); Put(i, 22 + 14, 7, 2); return i; }(), true},
      {"BMP, which the plug-in reads itself", Bmp(0x7FFFFFFF, 2), false},
      {"icon of width 0x7FFFFFFF", Ico(0x7FFFFFFF, 32), true},
      {"PNG", {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, false},
      {"EMF", emf, false},
      {"EMF whose record points inside the next", Emf(148), true},
      {"EMF whose record size is not a multiple of 4", Emf(26), true},
      {"EMF without its end", Bytes(emf.begin(), emf.end() - 20), true},
      {"EMF of no handles", Emf(24, 56, 0), true},
      {"EMF of empty bounds", Emf(24, 16, 0xFFFFFFF0), true},
      {"EMF of a frame of zero", Emf(24, 32, 0), true},
      {"EMF of a frame of 2^30", Emf(24, 32, 1u << 30), true},
      {"EMF counting a record too many", Emf(24, 52, 4), true},
      {"EMF whose size is not its records'", Emf(24, 48, 200), true},
      {"WMF", Wmf(), false},
      {"WMF of an empty box", Wmf(0), true},
      {"WMF of 0 units an inch", Wmf(100, 0), true},
      {"WMF without its end", Bytes(wmf.begin(), wmf.end() - 6), true},
  };
  for (const auto& c : cases) {
    MemoryBytes file = {c.file.data(), c.file.size(), -1};
    EXPECT_EQ(GdiplusHeaderHostile(BytesOf(&file)), c.hostile) << c.what;
  }
}
}  // namespace
