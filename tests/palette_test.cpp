// The GIF palette on pictures made in the test. Platform-free: built natively under the
// sanitizers, and for Windows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/pixels/palette.h"

namespace {
struct Picture {
  int32_t width, height;
  std::vector<uint8_t> bgra;
  PixelRows Rows() const { return {bgra.data(), width * 4, width, height}; }
};

Picture Make(int32_t width, int32_t height, const std::function<uint32_t(int, int)>& argb) {
  Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t c = argb(x, y);
      uint8_t* q = &p.bgra[(static_cast<size_t>(y) * width + x) * 4];
      for (int k = 0; k < 4; ++k) q[k] = static_cast<uint8_t>(c >> (8 * k));
    }
  }
  return p;
}

// The picture as its palette gives it back, one entry per pixel.
std::vector<uint32_t> RoundTrip(const Picture& p, Palette* palette) {
  *palette = MakePalette(p.Rows());
  std::vector<uint8_t> indices(static_cast<size_t>(p.width) * p.height, 0xEE);
  MapToPalette(p.Rows(), *palette, indices.data(), p.width);
  std::vector<uint32_t> out;
  for (const uint8_t i : indices) out.push_back(i < palette->entries.size() ? palette->entries[i] : 0xDEAD);
  return out;
}

uint32_t Pixel(const Picture& p, size_t i) {
  const uint8_t* q = &p.bgra[i * 4];
  return uint32_t{q[3]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
}

// Few colours come back exactly; pixels below half alpha become the one transparent entry.
TEST(Palette, FewColoursAreKeptExactly) {
  const struct {
    const char* what;
    Picture picture;
    bool exact;
    size_t entries;
  } cases[] = {
      {"one colour", Make(3, 2, [](int, int) { return 0xFF102030u; }), true, 1},
      {"256 colours", Make(16, 16, [](int x, int y) { return 0xFF000000u | uint32_t(y * 16 + x) * 0x010203u; }), true, 256},
      {"255 colours beside transparent pixels",
       Make(16, 16, [](int x, int y) { return y * 16 + x == 0 ? 0x7F00FF00u : 0xFF000000u | uint32_t(y * 16 + x) << 8; }),
       true, 256},
      {"256 colours beside transparent pixels: one too many",
       Make(16, 17, [](int x, int y) {
         const uint32_t i = uint32_t(y * 16 + x);  // 8 reds by 8 greens by 4 blues
         return y == 16 ? 0x00FFFFFFu : 0xFF000000u | (i & 7) << 21 | (i >> 3 & 7) << 13 | (i >> 6) << 6;
       }),
       false, 256},
      {"alpha of half and more is opaque",
       Make(4, 1, [](int x, int) { return x < 2 ? 0x80FF0000u : 0x7FFF0000u; }), true, 2},
  };
  for (const auto& c : cases) {
    Palette palette;
    const std::vector<uint32_t> back = RoundTrip(c.picture, &palette);
    EXPECT_EQ(palette.exact, c.exact) << c.what;
    EXPECT_EQ(palette.entries.size(), c.entries) << c.what;
    for (size_t i = 0; i < back.size(); ++i) {
      const uint32_t pixel = Pixel(c.picture, i);
      const uint32_t expected = pixel >> 24 < 128 ? kTransparentEntry : (pixel | 0xFF000000u);
      if (c.exact || expected == kTransparentEntry) {
        ASSERT_EQ(back[i], expected) << c.what << ", pixel " << i;
      } else {
        ASSERT_NE(back[i], kTransparentEntry) << c.what << ", pixel " << i;
      }
    }
  }
}

// A photo-like picture (a smooth sky over fine, noisy detail) comes back close: the error is
// that of 256 well-placed colours, not of a fixed palette.
TEST(Palette, PhotoLikePictureStaysClose) {
  uint32_t seed = 7;
  const Picture photo = Make(192, 128, [&](int x, int y) {
    seed = seed * 1103515245u + 12345u;
    const int noise = y < 64 ? 0 : static_cast<int>(seed >> 16 & 63) - 32;
    auto clamp = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return 0xFF000000u | clamp(40 + x / 2 + noise) << 16 | clamp(90 + y + noise) << 8 | clamp(200 - y / 3 + x / 8);
  });
  Palette palette;
  const std::vector<uint32_t> back = RoundTrip(photo, &palette);
  double squares = 0;
  for (size_t i = 0; i < back.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = double(back[i] >> shift & 0xFF) - double(Pixel(photo, i) >> shift & 0xFF);
      squares += d * d;
    }
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / (3.0 * static_cast<double>(back.size()))));
  std::printf("palette: photo-like picture %.1f dB\n", psnr);
  EXPECT_FALSE(palette.exact);
  EXPECT_EQ(palette.entries.size(), 256u);
  EXPECT_GT(psnr, 30.0);
}
}  // namespace

#include "imaging/pixels/gif_file.h"

namespace {
// The transparency a GIF encoder left out is put in before the image, once.
TEST(GifFile, TransparencyIsMarkedOnce) {
  const std::vector<uint8_t> head = {'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0};
  const std::vector<uint8_t> image = {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
  const std::vector<uint8_t> control = {0x21, 0xF9, 4, 1, 0, 0, 5, 0};
  const std::vector<uint8_t> comment = {0x21, 0xFE, 2, 'h', 'i', 0};
  auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const std::vector<uint8_t> noTable = {0, 0, 0}, twoColours = {0x80, 0, 0, 1, 2, 3, 4, 5, 6};
  auto version89 = [](std::vector<uint8_t> gif) { gif[4] = '9'; return gif; };
  const struct {
    const char* what;
    std::vector<uint8_t> gif;
    bool marked;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"no colour table", join({head, noTable, image}), true, version89(join({head, noTable, control, image}))},
      {"a global colour table", join({head, twoColours, image}), true,
       version89(join({head, twoColours, control, image}))},
      {"after another extension", join({head, noTable, comment, image}), true,
       version89(join({head, noTable, comment, control, image}))},
      {"already marked", join({head, noTable, control, image}), true, join({head, noTable, control, image})},
      {"no image", join({head, noTable, {0x3B}}), false, join({head, noTable, {0x3B}})},
      {"not a GIF", {'P', 'N', 'G'}, false, {'P', 'N', 'G'}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> gif = c.gif;
    EXPECT_EQ(MarkGifTransparency(&gif, 5), c.marked) << c.what;
    EXPECT_EQ(gif, c.expected) << c.what;
  }
}
}  // namespace
