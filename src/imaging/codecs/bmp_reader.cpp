#include "imaging/codecs/bmp_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/codecs/byte_order.h"
#include "imaging/pixels/bitmap_size.h"

struct BmpDecode {
  ByteSource bytes;
  int32_t width, height;
  bool bottomUp;
  int bits;
  uint32_t compression;
  int64_t pixels, end;  // where the rows begin, and the file's size as the header tells it
  uint32_t masks[4];    // red, green, blue and alpha, for 16 and 32 bits
  bool alpha;           // the rows are BGRA: an alpha mask, and some pixel's alpha not 0
  uint8_t palette[256][3];  // blue, green, red
};

namespace {
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

// A channel by its mask, widened to 8 bits by repeating its bits, as GDI+ widens 5 bits
// (abcde to abcdeabc), or its top 8 bits.
uint8_t ByMask(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0, width = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  while (shift + width < 32 && ((mask >> (shift + width)) & 1) != 0) ++width;
  const uint32_t value = (pixel & mask) >> shift;
  if (width >= 8) return static_cast<uint8_t>(value >> (width - 8));
  uint32_t wide = value << (8 - width);
  for (int filled = width; filled < 8; filled += width) wide |= wide >> width;
  return static_cast<uint8_t>(wide);
}

// One stored row of an uncompressed picture into BGR, or BGRA where it has alpha.
void Expand(const BmpDecode& d, const uint8_t* in, uint8_t* out) {
  for (int32_t x = 0; x < d.width; ++x, out += d.alpha ? 4 : 3) {
    if (d.bits <= 8) {
      const int perByte = 8 / d.bits, shift = 8 - d.bits * (1 + x % perByte);
      std::memcpy(out, d.palette[(in[x / perByte] >> shift) & ((1 << d.bits) - 1)], 3);
    } else if (d.bits == 24) {
      std::memcpy(out, in + 3 * x, 3);
    } else {
      const uint32_t pixel = ReadLittle(in + x * (d.bits / 8), d.bits / 8);
      out[0] = ByMask(pixel, d.masks[2]);
      out[1] = ByMask(pixel, d.masks[1]);
      out[2] = ByMask(pixel, d.masks[0]);
      if (d.alpha) out[3] = ByMask(pixel, d.masks[3]);
    }
  }
}

// True where some pixel's alpha, by the alpha mask, is not 0: writers that set the mask and leave
// the byte 0 mean an opaque picture. Read until the first such pixel, often on the first rows.
bool SomeAlpha(const BmpDecode& d, std::vector<uint8_t>* stored) {
  const int bytes = d.bits / 8;
  for (int32_t y = 0; y < d.height; ++y) {
    if (!ReadExactly(d.bytes, d.pixels + y * static_cast<int64_t>(stored->size()), stored->data(),
                        static_cast<int32_t>(stored->size()))) {
      return false;
    }
    for (int32_t x = 0; x < d.width; ++x) {
      if ((ReadLittle(stored->data() + x * bytes, bytes) & d.masks[3]) != 0) return true;
    }
  }
  return false;
}

// An RLE picture's codes, read forward (the bytes' source keeps a window of the file: a code costs
// no call of the system's).
struct RleCursor {
  const BmpDecode* d;
  int64_t at;

  // The next `count` bytes, or false where the file ends first.
  bool Take(uint8_t* out, int32_t count) {
    if (!ReadExactly(d->bytes, at, out, count)) return false;
    at += count;
    return true;
  }
};

// How a row's codes end: at the row's end, the picture's, a move to a later row, or the file's.
enum class RowEnd { kRow, kPicture, kMove, kCut };

// Walks one row's codes from the cursor, from column `*x`, putting each index into `row` where it
// is given (a first pass gives none); a move within the row is followed. After kMove, `*x` and
// `*up` say where the codes go on.
RowEnd WalkRow(const BmpDecode& d, RleCursor* in, int32_t* x, int32_t* up, uint8_t* row) {
  const bool four = d.compression == kRle4;
  auto put = [&](uint8_t index) {
    if (*x < d.width) {
      if (row != nullptr) row[*x] = index;
      ++*x;
    }
  };
  for (;;) {
    uint8_t code[2];
    if (!in->Take(code, 2)) return RowEnd::kCut;
    if (code[0] > 0) {  // a run of one index, or of two alternating
      for (int i = 0; i < code[0]; ++i) put(four ? (i % 2 == 0 ? code[1] >> 4 : code[1] & 15) : code[1]);
    } else if (code[1] == 0) {
      return RowEnd::kRow;
    } else if (code[1] == 1) {
      return RowEnd::kPicture;
    } else if (code[1] == 2) {  // a move right and up
      uint8_t move[2];
      if (!in->Take(move, 2)) return RowEnd::kCut;
      *x = std::min(*x + move[0], d.width);
      if (move[1] > 0) return *up = move[1], RowEnd::kMove;
    } else {  // indices as they are, padded to a whole word
      const int count = code[1], bytes = four ? (count + 1) / 2 : count;
      uint8_t literal[256];
      if (!in->Take(literal, bytes + (bytes & 1))) return RowEnd::kCut;
      for (int i = 0; i < count; ++i) put(four ? (i % 2 == 0 ? literal[i / 2] >> 4 : literal[i / 2] & 15) : literal[i]);
    }
  }
}

// Where a row's codes begin (its row counted from the bottom, the offset, the column), for each
// row that has codes: one first pass over the file, so that rows are then decoded top first
// without holding the picture. False where the file ends before the picture does: cut.
struct RowStart {
  int32_t row, x;
  int64_t at;
};
bool FindRowStarts(const BmpDecode& d, std::vector<RowStart>* starts) {
  RleCursor in{&d, d.pixels};
  int32_t x = 0, y = 0;
  while (y < d.height) {
    starts->push_back({y, x, in.at});
    int32_t up = 0;
    switch (WalkRow(d, &in, &x, &up, nullptr)) {
      case RowEnd::kRow: x = 0, ++y; break;
      case RowEnd::kMove: y += up; break;
      case RowEnd::kPicture: return true;
      case RowEnd::kCut: return false;
    }
  }
  return true;
}
}  // namespace

void BmpDecodeEnd::operator()(BmpDecode* decode) const { delete decode; }

ReadOutcome OpenBmp(const ByteSource& bytes, BmpDecoder* decoder, Description* picture) {
  decoder->reset();
  uint8_t h[14 + 56] = {};
  if (!ReadExactly(bytes, 0, h, 18)) return ReadOutcome::kOtherFormat;
  if (h[0] != 'B' || h[1] != 'M') return ReadOutcome::kOtherFormat;
  const uint32_t size = ReadLittle(h + 14, 4);
  const bool core = size == 12;
  // The header as long as it says (up to its masks): a 1 by 1 file ends 4 bytes after a 40-byte one.
  if ((!core && size < 40) || size > 124 ||
      !ReadExactly(bytes, 14, h + 14, core ? 12 : static_cast<int32_t>(size < 56 ? size : 56))) {
    return ReadOutcome::kRefused;
  }
  BmpDecoder d(new (std::nothrow) BmpDecode());
  if (d == nullptr) return ReadOutcome::kRefused;
  d->bytes = bytes;
  int64_t height;
  if (core) {
    d->width = static_cast<int32_t>(ReadLittle(h + 18, 2));
    height = ReadLittle(h + 20, 2);
    d->bits = static_cast<int>(ReadLittle(h + 24, 2));
    d->compression = kRgb;
  } else {
    d->width = static_cast<int32_t>(ReadLittle(h + 18, 4));
    height = static_cast<int32_t>(ReadLittle(h + 22, 4));
    d->bits = static_cast<int>(ReadLittle(h + 28, 2));
    d->compression = ReadLittle(h + 30, 4);
  }
  d->bottomUp = height > 0;
  d->height = static_cast<int32_t>(height < 0 ? -height : height);
  const bool rle = d->compression == kRle8 || d->compression == kRle4;
  picture->width = d->width;
  picture->height = d->height;
  // Rows are streamed, so only a row need fit; an RLE picture is held whole, as indices.
  if (d->width <= 0 || d->height <= 0 || !RowFits(int64_t{d->width} * 4) ||
      (rle && !BitmapFits(d->width, d->height, 4))) {
    return ReadOutcome::kHostile;
  }
  const int bits = d->bits;
  const bool depth = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  // A depth or compression no BMP has is given to no decoder; JPEG, PNG and other rarities inside
  // are left to GDI+.
  if (!depth || d->compression > 6) return ReadOutcome::kHostile;
  if ((rle && (!d->bottomUp || bits != (d->compression == kRle8 ? 8 : 4))) ||
      ((d->compression == kBitfields || d->compression == kAlphaBitfields) && bits != 16 && bits != 32) ||
      (d->compression != kRgb && d->compression != kBitfields && d->compression != kAlphaBitfields && !rle)) {
    return ReadOutcome::kRefused;
  }
  // The masks: BI_RGB's own, or those after an info header of 40 bytes, or inside a longer one.
  const bool sixteen = bits == 16;
  d->masks[0] = sixteen ? 0x7C00 : 0xFF0000;
  d->masks[1] = sixteen ? 0x03E0 : 0x00FF00;
  d->masks[2] = sixteen ? 0x001F : 0x0000FF;
  d->masks[3] = 0;
  int64_t table = 14 + size;
  if (d->compression == kBitfields || d->compression == kAlphaBitfields) {
    // Red, green and blue, and alpha where the header holds it (v3 and later) or says it follows.
    const int count = size >= 56 || d->compression == kAlphaBitfields ? 4 : 3;
    uint8_t m[16];
    if (size >= 40 + 4 * static_cast<uint32_t>(count)) {
      std::memcpy(m, h + 54, 16);
    } else if (ReadExactly(bytes, table, m, 4 * count)) {
      table += 4 * count;
    } else {
      return ReadOutcome::kRefused;
    }
    for (int i = 0; i < count; ++i) d->masks[i] = ReadLittle(m + 4 * i, 4);
  }
  // The palette, as many entries as the header says (all of the depth where it says 0), as far as
  // they lie before the rows.
  d->pixels = ReadLittle(h + 10, 4);
  if (d->pixels < table) return ReadOutcome::kRefused;
  picture->channels = Channels::kColour;
  if (bits <= 8) {
    const uint32_t used = core ? 0 : ReadLittle(h + 46, 4);
    const int entryBytes = core ? 3 : 4;
    int64_t entries = used == 0 || used > (1u << bits) ? (1 << bits) : used;
    entries = std::min<int64_t>(entries, (d->pixels - table) / entryBytes);
    bool grey = true;
    for (int64_t i = 0; i < entries; ++i) {
      uint8_t e[4];
      if (!ReadExactly(bytes, table + i * entryBytes, e, entryBytes)) return ReadOutcome::kRefused;
      std::memcpy(d->palette[i], e, 3);
      grey = grey && e[0] == e[1] && e[1] == e[2];
    }
    if (grey) picture->channels = Channels::kGrey;
  }
  const int64_t stride = (int64_t{d->width} * bits + 31) / 32 * 4;
  d->end = rle ? -1 : d->pixels + stride * d->height;
  uint8_t last;
  if (!rle && !ReadExactly(bytes, d->end - 1, &last, 1)) return ReadOutcome::kRefused;
  if (d->masks[3] != 0) {
    std::vector<uint8_t> stored;
    try {
      stored.resize(static_cast<size_t>(stride));
    } catch (const std::bad_alloc&) {
      return ReadOutcome::kRefused;
    }
    d->alpha = SomeAlpha(*d, &stored);
  }
  picture->alpha = d->alpha;
  if (d->alpha) picture->channels = Channels::kColourAlpha;
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadBmp(BmpDecode* d, const DecodedRows& rows) {
  if (!rows.start(rows.context, d->width, d->height)) return ReadOutcome::kRefused;
  const bool rle = d->compression == kRle8 || d->compression == kRle4;
  std::vector<uint8_t> out, stored;
  std::vector<RowStart> starts;
  RleCursor cursor{d, 0};
  try {
    out.resize(static_cast<size_t>(d->width) * (d->alpha ? 4 : 3));
    stored.resize(rle ? static_cast<size_t>(d->width) : static_cast<size_t>((int64_t{d->width} * d->bits + 31) / 32 * 4));
    if (rle && !FindRowStarts(*d, &starts)) return ReadOutcome::kRefused;
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  auto start = starts.rbegin();
  for (int32_t y = 0; y < d->height; ++y) {
    const int32_t at = d->bottomUp ? d->height - 1 - y : y;
    if (rle) {
      // Pixels no code reaches take the first entry.
      std::fill(stored.begin(), stored.end(), uint8_t{0});
      while (start != starts.rend() && start->row > at) ++start;
      if (start != starts.rend() && start->row == at) {
        int32_t x = start->x, up = 0;
        cursor.at = start->at;
        if (WalkRow(*d, &cursor, &x, &up, stored.data()) == RowEnd::kCut) return ReadOutcome::kRefused;
      }
      for (int32_t x = 0; x < d->width; ++x) std::memcpy(&out[3 * static_cast<size_t>(x)], d->palette[stored[static_cast<size_t>(x)]], 3);
    } else {
      const int64_t offset = d->pixels + at * static_cast<int64_t>(stored.size());
      if (!ReadExactly(d->bytes, offset, stored.data(), static_cast<int32_t>(stored.size()))) {
        return ReadOutcome::kRefused;
      }
      Expand(*d, stored.data(), out.data());
    }
    if (!rows.row(rows.context, out.data())) return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}
