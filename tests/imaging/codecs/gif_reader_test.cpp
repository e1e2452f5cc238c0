// GIF variants against what the file means, worked out here: a first image inside a larger
// screen, on the screen's background or on its transparent colour.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/codecs/gif_reader.h"
#include "memory_bytes.h"

namespace {
typedef std::vector<uint8_t> Bytes;

// A 6 by 4 screen of a palette of black, red and green, the background green; its first image 2 by
// 2 at (3, 1), every pixel red, its codes each a literal after a clear code. With `transparent`, a
// graphic control extension makes green transparent.
Bytes Gif(bool transparent) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 6, 0, 4, 0, 0x81, 2, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0};
  if (transparent) b.insert(b.end(), {0x21, 0xF9, 4, 1, 0, 0, 2, 0});
  b.insert(b.end(), {0x2C, 3, 0, 1, 0, 2, 0, 2, 0, 0, 2});
  // Codes of 3 bits: clear (4) then 1, four times, then the end (5).
  uint32_t bits = 0, count = 0;
  Bytes codes;
  for (uint32_t code : {4u, 1u, 4u, 1u, 4u, 1u, 4u, 1u, 5u}) {
    bits |= code << count, count += 3;
    for (; count >= 8; count -= 8, bits >>= 8) codes.push_back(static_cast<uint8_t>(bits));
  }
  if (count > 0) codes.push_back(static_cast<uint8_t>(bits));
  b.push_back(static_cast<uint8_t>(codes.size()));
  b.insert(b.end(), codes.begin(), codes.end());
  b.insert(b.end(), {0, 0x3B});
  return b;
}

Bytes Rows(const Bytes& file, bool* alpha) {
  Description picture;
  CapturedRows rows;
  if (ReadWhole<GifDecoder, OpenGif, ReadGif>(file, &picture, &rows) != ReadOutcome::kRead) return {};
  *alpha = picture.alpha;
  return rows.bytes;
}

TEST(GifReader, AFirstImageInsideItsScreen) {
  for (const bool transparent : {false, true}) {
    // Outside the image: the background, or the transparent colour; inside it red.
    const Bytes outside = transparent ? Bytes{0, 255, 0, 0} : Bytes{0, 255, 0};
    const Bytes red = transparent ? Bytes{0, 0, 255, 255} : Bytes{0, 0, 255};
    Bytes expected;
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) {
        const Bytes& p = x >= 3 && x < 5 && y >= 1 && y < 3 ? red : outside;
        expected.insert(expected.end(), p.begin(), p.end());
      }
    }
    bool alpha = !transparent;
    EXPECT_EQ(Rows(Gif(transparent), &alpha), expected) << (transparent ? "transparent" : "opaque");
    EXPECT_EQ(alpha, transparent);
  }
}
}  // namespace
