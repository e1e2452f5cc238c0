// The GIF palette on pictures made in the test. Platform-free: built natively under the
// sanitizers, and for Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// PSNR in dB of a picture given back against the picture, over the three colour channels.
double Psnr(const Picture& p, const std::vector<uint32_t>& back) {
  double squares = 0;
  for (size_t i = 0; i < back.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = double(back[i] >> shift & 0xFF) - double(Pixel(p, i) >> shift & 0xFF);
      squares += d * d;
    }
  }
  return squares == 0 ? 999 : 10 * std::log10(255.0 * 255.0 / (squares / (3.0 * static_cast<double>(back.size()))));
}

// Pictures of more colours than entries, whose colours crowd into fewer 6-bit bins than entries:
// every entry is used, and the picture comes back as close as the figure stated (Pillow's
// quantize(256) of the same picture: 77, 64.5 and 52.5 dB).
TEST(Palette, CloseColoursUseEveryEntry) {
  const struct {
    const char* what;
    Picture picture;
    double decibels;
  } cases[] = {
      {"257 colours a level or two apart", Make(96, 96, [](int x, int y) {
         const uint32_t i = uint32_t(y * 96 + x) % 257;
         return 0xFF000000u | (100 + i % 3) << 16 | (150 + i / 3 % 3) << 8 | (120 + i / 9);
       }), 74},
      {"a ramp over two channels, 284 colours", Make(142, 40, [](int x, int y) {
         return 0xFF000000u | uint32_t(60 + x) << 16 | uint32_t(80 + (y & 1)) << 8 | 90u;
       }), 62},
      {"400 colours in 200 bins", Make(80, 80, [](int x, int y) {
         const uint32_t i = uint32_t(y * 80 + x) % 400, bin = i / 2;
         return 0xFF000000u | (40 + 4 * (bin % 10)) << 16 | (40 + 4 * (bin / 10)) << 8 | (100 + (i & 1));
       }), 56},
      {"a smooth sky", Make(160, 120, [](int x, int y) {
         return 0xFF000000u | uint32_t(70 + y / 6) << 16 | uint32_t(120 + x / 8 + y / 5) << 8 | uint32_t(190 + y / 4);
       }), 50},
  };
  for (const auto& c : cases) {
    Palette palette;
    const std::vector<uint32_t> back = RoundTrip(c.picture, &palette);
    std::vector<uint32_t> used(back.begin(), back.end());
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    const double psnr = Psnr(c.picture, back);
    std::printf("palette: %s, %zu entries, %.1f dB\n", c.what, used.size(), psnr);
    EXPECT_EQ(used.size(), 256u) << c.what;
    EXPECT_GE(psnr, c.decibels) << c.what;
  }
}

// A slow grey ramp below random colours, which take most entries: the ramp falls between few
// entries, and its local means (8 by 8 pixels) must stay within a level of the source's on
// average, closer by far than the nearest entries alone keep them: the error each pixel leaves
// is passed on, not dropped.
TEST(Palette, RampKeepsItsLocalMeans) {
  uint32_t seed = 5;
  const Picture picture = Make(256, 64, [&](int x, int y) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t grey = 100 + uint32_t(x) * 40 / 256;
    return 0xFF000000u | (y < 32 ? seed >> 8 : grey * 0x010101u);
  });
  Palette palette;
  const std::vector<uint32_t> back = RoundTrip(picture, &palette);
  std::vector<uint32_t> nearest;  // the plain reference: each pixel's nearest entry
  for (size_t i = 0; i < back.size(); ++i) {
    uint32_t best = 0;
    double bestDistance = 1e9;
    for (const uint32_t entry : palette.entries) {
      double distance = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const double d = double(entry >> shift & 0xFF) - double(Pixel(picture, i) >> shift & 0xFF);
        distance += d * d;
      }
      if (distance < bestDistance) bestDistance = distance, best = entry;
    }
    nearest.push_back(best);
  }
  auto strays = [&](const std::vector<uint32_t>& given) {
    double total = 0;
    for (int by = 40; by < 64; by += 8) {
      for (int bx = 8; bx < 256; bx += 8) {
        double sum = 0;
        for (int y = by; y < by + 8; ++y) {
          for (int x = bx; x < bx + 8; ++x) {
            const size_t i = static_cast<size_t>(y) * 256 + x;
            sum += double(given[i] >> 8 & 0xFF) - double(Pixel(picture, i) >> 8 & 0xFF);
          }
        }
        total += std::fabs(sum / 64);
      }
    }
    return total / (3 * 31);
  };
  const double ours = strays(back), plain = strays(nearest);
  std::printf("palette: ramp's local means off by %.2f levels on average (nearest entries: %.2f)\n", ours, plain);
  EXPECT_LE(ours, 1.0);
  EXPECT_LE(ours, 0.7 * plain);
}
}  // namespace
