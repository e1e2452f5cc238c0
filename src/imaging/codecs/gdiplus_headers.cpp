#include "imaging/codecs/gdiplus_headers.h"

#include <cstring>
#include <vector>

#include "imaging/codecs/byte_order.h"
#include "imaging/pixels/bitmap_size.h"

namespace {
// Sides of a picture past what a 32-bit process holds. A side of 0 is no threat: GDI+ refuses it,
// or takes a GIF's size from its frame.
bool SidesHostile(int64_t width, int64_t height) {
  return !BitmapFits(width > 0 ? width : 1, height > 0 ? height : 1, 4);
}

// An ICO entry's BMP info header at `at`, whose height counts the mask too.
bool BmpInfoHostile(const ByteSource& in, int64_t at) {
  uint8_t h[20];
  if (!ReadExactly(in, at, h, sizeof h)) return false;
  const uint32_t size = ReadLittle(h, 4);
  if (size == 12) {  // the core (OS/2 1) header: 16-bit sides
    return SidesHostile(ReadLittle(h + 4, 2), ReadLittle(h + 6, 2));
  }
  if (size < 16) return false;  // no BMP header: GDI+ refuses it
  const int32_t width = static_cast<int32_t>(ReadLittle(h + 4, 4));
  int64_t height = static_cast<int32_t>(ReadLittle(h + 8, 4));
  if (height < 0) height = -height;
  height /= 2;
  const uint32_t bits = ReadLittle(h + 14, 2), compression = size >= 20 ? ReadLittle(h + 16, 4) : 0;
  const bool depth = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 ||
                     (bits == 0 && (compression == 4 || compression == 5));  // JPEG or PNG inside
  return width <= 0 || SidesHostile(width, height) || !depth || compression > 6;
}

// Each entry's own header: a BMP's info header, or a PNG's IHDR sides.
bool IcoHostile(const ByteSource& in) {
  uint8_t h[6];
  if (!ReadExactly(in, 0, h, sizeof h)) return false;
  const uint32_t count = ReadLittle(h + 4, 2);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t e[16], head[24];
    if (!ReadExactly(in, 6 + 16 * int64_t{i}, e, sizeof e)) return false;
    const int64_t offset = ReadLittle(e + 12, 4);
    if (!ReadExactly(in, offset, head, sizeof head)) continue;
    if (std::memcmp(head, "\x89PNG", 4) == 0) {
      if (SidesHostile(ReadNumber(head + 16, 4, true), ReadNumber(head + 20, 4, true))) return true;
    } else if (BmpInfoHostile(in, offset)) {
      return true;
    }
  }
  return false;
}

// A metafile's extents, in its own units: a drawing has some, and past 2^21 a side (21 metres in
// an EMF's 0.01 mm) GDI+ faults or spins working out its picture.
bool ExtentHostile(int64_t left, int64_t top, int64_t right, int64_t bottom, bool inclusive) {
  const int64_t across = right - left + (inclusive ? 1 : 0), down = bottom - top + (inclusive ? 1 : 0);
  return across <= 0 || down <= 0 || across > (int64_t{1} << 21) || down > (int64_t{1} << 21);
}

int64_t Signed(const uint8_t* p) { return static_cast<int32_t>(ReadLittle(p, 4)); }

// An EMF's header and records, walked from the header to the end-of-file record: each at least 8
// bytes, a multiple of 4, inside the file; as many as the header counts, ending where it says the
// file ends; at least one handle (the metafile itself has one: GDI+ faults on 0); bounds and a
// frame with an inside. GDI+ loops for ever on a record whose size points into the middle of the
// next one. Read 64 KB at a time, 8 bytes at a time near the file's end.
bool EmfHostile(const ByteSource& in) {
  uint8_t h[88];
  if (!ReadExactly(in, 0, h, sizeof h)) return true;
  const int64_t bytes = ReadLittle(h + 48, 4), records = ReadLittle(h + 52, 4);
  if (ReadLittle(h + 56, 2) == 0 || ExtentHostile(Signed(h + 8), Signed(h + 12), Signed(h + 16), Signed(h + 20), true) ||
      ExtentHostile(Signed(h + 24), Signed(h + 28), Signed(h + 32), Signed(h + 36), false)) {
    return true;
  }
  static constexpr int32_t kWindow = 64 * 1024;
  std::vector<uint8_t> window(kWindow);
  int64_t windowAt = -1, windowSize = 0;
  for (int64_t at = 0, counted = 0; counted < records; ++counted) {
    if (at < windowAt || at + 8 > windowAt + windowSize) {
      windowAt = at;
      windowSize = ReadExactly(in, at, window.data(), kWindow) ? kWindow
                   : ReadExactly(in, at, window.data(), 8)     ? 8
                                                                      : 0;
      if (windowSize == 0) return true;  // a record past the file's end
    }
    const uint8_t* record = &window[static_cast<size_t>(at - windowAt)];
    const uint32_t type = ReadLittle(record, 4), size = ReadLittle(record + 4, 4);
    if (size < 8 || size % 4 != 0 || (counted == 0 && (type != 1 || size < 88))) return true;
    if (type == 14) {  // the end: the record itself must be whole, the last the header counts
      uint8_t last;
      return counted + 1 != records || at + size != bytes || !ReadExactly(in, at + size - 1, &last, 1);
    }
    at += size;
  }
  return true;  // no end record among those counted
}

// A placeable WMF's header (the only WMF GDI+ sizes): a box with an inside, units per inch, then
// records of at least 3 words each up to the end record, inside the file.
bool WmfHostile(const ByteSource& in) {
  uint8_t h[22 + 18];
  if (!ReadExactly(in, 0, h, sizeof h)) return true;
  auto side = [&](int at) { return static_cast<int16_t>(ReadLittle(h + at, 2)); };
  if (ExtentHostile(side(6), side(8), side(10), side(12), false) || ReadLittle(h + 14, 2) == 0 ||
      ReadLittle(h + 24, 2) != 9) {
    return true;
  }
  for (int64_t at = 22 + 18, counted = 0; counted < (int64_t{1} << 24); ++counted) {
    uint8_t record[6];
    if (!ReadExactly(in, at, record, sizeof record)) return true;
    const int64_t words = ReadLittle(record, 4);
    if (words < 3) return true;
    if (ReadLittle(record + 4, 2) == 0) return false;  // the end record
    at += 2 * words;
  }
  return true;
}
}  // namespace

bool GdiplusHeaderHostile(const ByteSource& in) {
  uint8_t magic[44];
  if (!ReadExactly(in, 0, magic, 4)) return false;
  if (std::memcmp(magic, "\0\0\1\0", 4) == 0 || std::memcmp(magic, "\0\0\2\0", 4) == 0) return IcoHostile(in);
  if (std::memcmp(magic, "\1\0\0\0", 4) == 0 && ReadExactly(in, 0, magic, 44) && std::memcmp(magic + 40, " EMF", 4) == 0) {
    return EmfHostile(in);
  }
  if (std::memcmp(magic, "\xD7\xCD\xC6\x9A", 4) == 0) return WmfHostile(in);
  return false;
}
