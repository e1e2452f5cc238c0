// The box averaging and the resampler against plain references written here: a box average
// over whole and partial boxes, and a floating-point Lanczos-3 of the averaged picture over the
// fractional rectangle that the source covers, each averaged pixel weighed by what it covers. Platform-free: built natively under the sanitizers, and for Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/pixels/resample.h"

namespace {
struct Image {
  int width, height, channels;
  std::vector<double> v;  // row by row, channel by channel
  double& at(int x, int y, int c) { return v[(static_cast<size_t>(y) * width + x) * channels + c]; }
};

int BytesOf(PixelLayout layout) { return layout == PixelLayout::kBgr24 ? 3 : 4; }
bool AlphaIn(PixelLayout layout) {
  return layout == PixelLayout::kBgra32 || layout == PixelLayout::kPbgra32;
}

// Source rows as the reduced layout holds them: BGR, or BGRA premultiplied and rounded.
Image Decode(PixelLayout layout, const std::vector<uint8_t>& bytes, int width, int height) {
  const int channels = AlphaIn(layout) ? 4 : 3;
  Image image{width, height, channels, std::vector<double>(static_cast<size_t>(width) * height * channels)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * BytesOf(layout)];
      for (int c = 0; c < channels; ++c) {
        const bool straight = layout == PixelLayout::kBgra32 && c < 3;
        image.at(x, y, c) = straight ? std::floor(p[c] * p[3] / 255.0 + 0.5) : p[c];
      }
    }
  }
  return image;
}

// Boxes of kx by ky, the last ones over what they have, rounded half up.
Image BoxAverage(Image& in, int kx, int ky) {
  Image out{(in.width + kx - 1) / kx, (in.height + ky - 1) / ky, in.channels, {}};
  out.v.assign(static_cast<size_t>(out.width) * out.height * out.channels, 0);
  for (int by = 0; by < out.height; ++by) {
    for (int bx = 0; bx < out.width; ++bx) {
      for (int c = 0; c < in.channels; ++c) {
        double sum = 0, n = 0;
        for (int y = by * ky; y < std::min(in.height, (by + 1) * ky); ++y) {
          for (int x = bx * kx; x < std::min(in.width, (bx + 1) * kx); ++x, ++n) sum += in.at(x, y, c);
        }
        out.at(bx, by, c) = std::floor((sum + std::floor(n / 2)) / n);
      }
    }
  }
  return out;
}

// The whole resample, in doubles: output pixel i centred on (i + 0.5) * covered / size, the
// kernel widened by the reduction, each averaged pixel weighing the kernel at the centre of the
// part of it the source covers times that part (a partial last box covers less than a pixel),
// weights normalised over the pixels that exist.
std::vector<uint8_t> Reference(PixelLayout layout, const std::vector<uint8_t>& bytes, int sw,
                               int sh, int w, int h) {
  auto factor = [](int s, int t) { return s / (2 * t) >= 2 ? s / (2 * t) : 1; };
  const int kx = factor(sw, w), ky = factor(sh, h);
  Image source = Decode(layout, bytes, sw, sh);
  Image reduced = BoxAverage(source, kx, ky);
  auto weights = [](int in, double covered, int out, int i, int* first) {
    const double scale = covered / out, stretch = std::max(scale, 1.0), centre = (i + 0.5) * scale;
    auto lanczos = [](double x) {
      if (std::fabs(x) >= 3) return 0.0;
      if (x == 0) return 1.0;
      const double pi = std::acos(-1.0);
      return std::sin(pi * x) / (pi * x) * std::sin(pi * x / 3) / (pi * x / 3);
    };
    *first = std::max(0, static_cast<int>(std::floor(centre - 3 * stretch + 0.5)));
    const int end = std::min(in, static_cast<int>(std::floor(centre + 3 * stretch + 0.5)));
    std::vector<double> wt;
    double total = 0;
    for (int x = *first; x < end; ++x) {
      const double right = std::min(x + 1.0, covered);
      total += wt.emplace_back((right - x) * lanczos(((x + right) / 2 - centre) / stretch));
    }
    for (double& v : wt) v /= total;
    return wt;
  };
  Image across{w, reduced.height, reduced.channels, std::vector<double>(static_cast<size_t>(w) * reduced.height * reduced.channels)};
  for (int x = 0; x < w; ++x) {
    int first = 0;
    const std::vector<double> wt = weights(reduced.width, double(sw) / kx, w, x, &first);
    for (int y = 0; y < reduced.height; ++y) {
      for (int c = 0; c < reduced.channels; ++c) {
        for (size_t k = 0; k < wt.size(); ++k) across.at(x, y, c) += wt[k] * reduced.at(first + int(k), y, c);
      }
    }
  }
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y) {
    int first = 0;
    const std::vector<double> wt = weights(reduced.height, double(sh) / ky, h, y, &first);
    for (int x = 0; x < w; ++x) {
      double value[4] = {0, 0, 0, 255};
      for (int c = 0; c < across.channels; ++c) {
        value[c] = 0;
        for (size_t k = 0; k < wt.size(); ++k) value[c] += wt[k] * across.at(x, first + int(k), c);
      }
      if (value[3] > 255) {
        for (int c = 0; c < 3; ++c) value[c] = std::max(0.0, value[c]) * 255 / value[3];
      }
      const double alpha = std::min(255.0, std::max(0.0, std::floor(value[3] + 0.5)));
      for (int c = 0; c < across.channels; ++c) {
        const double top = c < 3 ? alpha : 255.0;
        out.push_back(static_cast<uint8_t>(std::min(top, std::max(0.0, std::floor(value[c] + 0.5)))));
      }
    }
  }
  return out;
}

// Random pictures: noise, or noise over smooth ramps, so that both lobes overshoot.
std::vector<uint8_t> RandomPixels(std::mt19937* random, PixelLayout layout, int width, int height) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * BytesOf(layout));
  const bool noisy = (*random)() % 2 == 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(noisy ? (*random)() : (i / 7 % 256) ^ ((*random)() % 16));
  }
  return bytes;
}

// A light, slightly noisy picture whose last column and row contrast with it: black, and
// transparent in a layout with alpha half the time. A partial last box of them that weighs more
// than it covers darkens (or clears) the whole edge of the result.
std::vector<uint8_t> EdgedPixels(std::mt19937* random, PixelLayout layout, int width, int height) {
  const int bytesPerPixel = BytesOf(layout);
  const bool clear = AlphaIn(layout) && (*random)() % 2 == 0;
  std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * bytesPerPixel);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * bytesPerPixel];
      const bool edge = x == width - 1 || y == height - 1;
      for (int c = 0; c < 3; ++c) p[c] = edge ? 0 : static_cast<uint8_t>(180 + (*random)() % 40);
      if (bytesPerPixel == 4) p[3] = edge && clear ? 0 : 255;
    }
  }
  return bytes;
}

const PixelLayout kLayouts[] = {PixelLayout::kBgr24, PixelLayout::kBgrx32, PixelLayout::kBgra32,
                                PixelLayout::kPbgra32};

// The averager equals the plain average exactly, with its SSE2 column sums and without.
TEST(BoxAverage, EqualsAPlainAverage) {
  std::mt19937 random(11);
  for (int round = 0; round < 600; ++round) {
    const bool simd = round % 2 == 1;
    const PixelLayout layout = kLayouts[random() % 4];
    const int width = 1 + static_cast<int>(random() % 90), height = 1 + static_cast<int>(random() % 60);
    const int kx = 1 + static_cast<int>(random() % width), ky = 1 + static_cast<int>(random() % height);
    const std::vector<uint8_t> bytes = RandomPixels(&random, layout, width, height);
    Image source = Decode(layout, bytes, width, height);
    const Image expected = BoxAverage(source, kx, ky);
    BoxAverager averager = StartBoxAverager(layout, width, height, kx, ky, simd);
    std::vector<uint8_t> got;
    std::vector<uint8_t> row(static_cast<size_t>(expected.width) * expected.channels);
    for (int y = 0; y < height; ++y) {
      if (AddSourceRow(&averager, &bytes[static_cast<size_t>(y) * width * BytesOf(layout)])) {
        TakeReducedRow(&averager, row.data());
        got.insert(got.end(), row.begin(), row.end());
      }
    }
    std::vector<uint8_t> want(expected.v.begin(), expected.v.end());
    ASSERT_EQ(got, want) << "round " << round << ": " << width << "x" << height << " by " << kx << "x" << ky
                         << (simd ? " with SSE2" : "");
  }
}

// A box of more pixels than 32-bit sums can hold (255 times 2^24 and more) is averaged whole.
TEST(BoxAverage, BoxesOfMoreThan16MegapixelsAverageEveryPixel) {
  const int side = 4200;  // 17.6 million pixels in one box
  std::vector<uint8_t> row(side * 3);
  for (int x = 0; x < side; ++x) row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = x < side / 4 ? 0 : 255;
  BoxAverager averager = StartBoxAverager(PixelLayout::kBgr24, side, side, side, side, false);
  for (int y = 0; y < side; ++y) AddSourceRow(&averager, row.data());
  uint8_t out[3];
  TakeReducedRow(&averager, out);
  EXPECT_EQ(out[0], 191);  // three quarters of 255, rounded
}

// A side of k * 2 * target + r pixels: boxes of k with a partial last box of r.
int WithPartialBox(std::mt19937* random, int target) {
  const int k = 2 + static_cast<int>((*random)() % 6);
  return 2 * target * k + 1 + static_cast<int>((*random)() % static_cast<unsigned>(std::min(k, 2 * target) - 1));
}

// The resampler (with SSE2 and with AVX2 into memory, and in plain code handing rows on, which must agree
// exactly) equals the floating-point reference within a level, over sizes that shrink, keep and
// grow each side, with and without boxes, partial last boxes beside a contrasting edge, in every
// layout.
TEST(Resample, EqualsAFloatingPointLanczosWithinOneLevel) {
  std::mt19937 random(5);
  int worst = 0;
  for (int round = 0; round < 300; ++round) {
    const PixelLayout layout = kLayouts[random() % 4];
    int sw = 1 + static_cast<int>(random() % 160), sh = 1 + static_cast<int>(random() % 120);
    int w = 1 + static_cast<int>(random() % (round % 3 == 0 ? 4 * sw : sw));
    int h = 1 + static_cast<int>(random() % (round % 5 == 0 ? 4 * sh : sh));
    const bool edged = round % 4 == 1;
    if (edged) {
      w = 1 + static_cast<int>(random() % 12);
      h = 1 + static_cast<int>(random() % 12);
      sw = WithPartialBox(&random, w);
      sh = WithPartialBox(&random, h);
    }
    const std::vector<uint8_t> bytes =
        edged ? EdgedPixels(&random, layout, sw, sh) : RandomPixels(&random, layout, sw, sh);
    const int channels = AlphaIn(layout) ? 4 : 3;
    std::vector<uint8_t> got(static_cast<size_t>(w) * h * channels, 0xEE);
    const ResamplePlan plan = PlanResample(sw, sh, sw, sh, w, h);
    ASSERT_TRUE(plan.fits);
    // The plain passes hand each row on as it is finished; the SSE2 and AVX2 ones write into memory.
    struct Collected {
      std::vector<uint8_t> bytes;
      size_t rowBytes;
    } plain = {{}, static_cast<size_t>(w) * channels};
    const OutputRows handed = {nullptr, 0, [](void* c, const uint8_t* row) {
                                 auto* p = static_cast<Collected*>(c);
                                 p->bytes.insert(p->bytes.end(), row, row + p->rowBytes);
                               }, &plain};
    Resampler resampler = StartResampler(layout, plan, handed, Simd::kNone);
    for (int y = 0; y < sh; ++y) AddSourceRow(&resampler, &bytes[static_cast<size_t>(y) * sw * BytesOf(layout)]);
    for (const Simd simd : {Simd::kSse2, Simd::kAvx2}) {
      if (simd == Simd::kAvx2 && !__builtin_cpu_supports("avx2")) continue;
      std::fill(got.begin(), got.end(), uint8_t{0xEE});
      resampler = StartResampler(layout, plan, OutputRows{got.data(), w * channels, nullptr, nullptr}, simd);
      for (int y = 0; y < sh; ++y) AddSourceRow(&resampler, &bytes[static_cast<size_t>(y) * sw * BytesOf(layout)]);
      ASSERT_EQ(got, plain.bytes) << "round " << round << ": " << (simd == Simd::kAvx2 ? "AVX2" : "SSE2")
                                  << " and plain code differ";
    }
    const std::vector<uint8_t> want = Reference(layout, bytes, sw, sh, w, h);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      const int off = std::abs(got[i] - want[i]);
      worst = std::max(worst, off);
      ASSERT_LE(off, 1) << "round " << round << ": " << sw << "x" << sh << " to " << w << "x" << h
                        << ", layout " << static_cast<int>(layout) << ", byte " << i;
    }
  }
  std::printf("resample: 300 random reductions and enlargements, worst %d level\n", worst);
}
}  // namespace
