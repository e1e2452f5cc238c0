// TIFF variants against what the file means, worked out here from its samples: alpha associated
// or not at 8 and 16 bits, grey and RGB; CMYK planes without alpha; CIELab by the CIE's formula;
// deflated strips decoded on two threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "hostile_files.h"
#include "imaging/codecs/tiff_reader.h"
#include "memory_bytes.h"

namespace {
typedef std::vector<uint8_t> Bytes;

ReadOutcome ReadOnOneThread(TiffDecode* decode, const DecodedRows& rows) { return ReadTiff(decode, rows); }

// The first pixel's BGR(A) of the rows the reader gives, or nothing where it did not read.
Bytes FirstPixel(const Bytes& file, bool* alpha) {
  Description picture;
  CapturedRows rows;
  if (ReadWhole<TiffDecoder, OpenTiff, ReadOnOneThread>(file, &picture, &rows) != ReadOutcome::kRead) return {};
  *alpha = picture.alpha;
  return Bytes(rows.bytes.begin(), rows.bytes.begin() + rows.pixelBytes);
}

// A 4 by 2 page, one strip, every pixel the samples given (16-bit ones little-endian).
Bytes Page(uint16_t photometric, uint16_t bits, std::vector<uint32_t> samples, int extra, bool planes = false) {
  const uint16_t count = static_cast<uint16_t>(samples.size());
  Bytes data;
  for (int plane = 0; plane < (planes ? count : 1); ++plane) {
    for (int pixel = 0; pixel < 8; ++pixel) {
      for (uint16_t s = 0; s < count; ++s) {
        if (planes && s != plane) continue;
        for (int b = 0; b < bits / 8; ++b) data.push_back(static_cast<uint8_t>(samples[s] >> (8 * b)));
      }
    }
  }
  std::vector<TiffEntry> entries = {{256, kLong, {4}}, {257, kLong, {2}}, {258, kShort, std::vector<uint32_t>(count, bits)},
                                    {259, kShort, {1}}, {262, kShort, {photometric}}, {277, kShort, {count}},
                                    {278, kLong, {2}}};
  if (planes) {
    const uint32_t plane = static_cast<uint32_t>(data.size() / count);
    std::vector<uint32_t> offsets, counts;
    for (uint32_t p = 0; p < count; ++p) offsets.push_back(kData + p * plane), counts.push_back(plane);
    entries.push_back({273, kLong, offsets}), entries.push_back({279, kLong, counts}), entries.push_back({284, kShort, {2}});
  } else {
    entries.push_back({273, kLong, {kData}}), entries.push_back({279, kLong, {static_cast<uint32_t>(data.size())}});
  }
  if (extra > 0) entries.push_back({338, kShort, {static_cast<uint32_t>(extra)}});
  return HandMadeTiff(entries, data);
}

// CIELab (D50) to sRGB, by the CIE's formula and sRGB's matrix for D50 white.
Bytes LabToBgr(double l, double a, double b) {
  auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  const double fy = (l + 16) / 116;
  const double x = 0.9642 * f(fy + a / 500), y = f(fy), z = 0.8249 * f(fy - b / 200);
  const double rgb[3] = {3.1338561 * x - 1.6168667 * y - 0.4906146 * z, -0.9787684 * x + 1.9161415 * y + 0.0334540 * z,
                         0.0719453 * x - 0.2289914 * y + 1.4052427 * z};
  Bytes bgr(3);
  for (int c = 0; c < 3; ++c) {
    const double v = std::min(1.0, std::max(0.0, rgb[c]));
    bgr[2 - c] = static_cast<uint8_t>(std::lround(255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055)));
  }
  return bgr;
}

TEST(TiffReader, VariantsGiveWhatTheFileMeans) {
  const uint16_t kGrey = 1, kRgb = 2, kCmyk = 5, kLab = 8;
  const int kAssociated = 1, kUnassociated = 2;
  const struct {
    const char* what;
    Bytes file;
    Bytes bgra;  // the first pixel, straight
    int within;
  } cases[] = {
      {"grey and alpha", Page(kGrey, 8, {88, 128}, kUnassociated), {88, 88, 88, 128}, 1},
      {"grey and associated alpha", Page(kGrey, 8, {44, 128}, kAssociated), {88, 88, 88, 128}, 1},
      {"16-bit grey and alpha", Page(kGrey, 16, {88 * 257, 128 * 257}, kUnassociated), {88, 88, 88, 128}, 1},
      {"16-bit grey and associated alpha", Page(kGrey, 16, {44 * 257, 128 * 257}, kAssociated), {88, 88, 88, 128}, 1},
      {"RGB and alpha", Page(kRgb, 8, {200, 100, 50, 128}, kUnassociated), {50, 100, 200, 128}, 1},
      {"RGB and associated alpha", Page(kRgb, 8, {100, 50, 25, 128}, kAssociated), {50, 100, 200, 128}, 1},
      {"16-bit RGB and alpha", Page(kRgb, 16, {200 * 257, 100 * 257, 50 * 257, 128 * 257}, kUnassociated), {50, 100, 200, 128}, 1},
      {"RGB", Page(kRgb, 8, {200, 100, 50}, 0), {50, 100, 200}, 0},
      {"grey, white as 0", Page(0, 8, {55}, 0), {200, 200, 200}, 0},
      {"CMYK", Page(kCmyk, 8, {0, 255, 255, 0}, 0), {0, 0, 255}, 0},
      {"CMYK in planes", Page(kCmyk, 8, {0, 255, 255, 0}, 0, true), {0, 0, 255}, 0},
      {"CIELab", Page(kLab, 8, {128, 20, static_cast<uint8_t>(-30)}, 0), LabToBgr(128 * 100.0 / 255, 20, -30), 2},
  };
  for (const auto& c : cases) {
    bool alpha = false;
    const Bytes got = FirstPixel(c.file, &alpha);
    ASSERT_EQ(got.size(), c.bgra.size()) << c.what;
    EXPECT_EQ(alpha, c.bgra.size() == 4) << c.what;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_LE(std::abs(got[i] - c.bgra[i]), c.within) << c.what << ", byte " << i;
  }
}

// A page of `width` by `height` 8-bit samples, each strip of `rowsPerStrip` rows deflated on its
// own; `damaged` strip's bytes garbled (none where it is -1).
uint8_t Sample(int x, int y, int c) { return static_cast<uint8_t>(x * 7 + y * 3 + c * 85 + (x * y) % 13); }
Bytes DeflatedPage(int width, int height, int samples, int rowsPerStrip, int damaged) {
  Bytes data;
  std::vector<uint32_t> offsets, counts;
  for (int top = 0, strip = 0; top < height; top += rowsPerStrip, ++strip) {
    Bytes raw;
    for (int y = top; y < std::min(height, top + rowsPerStrip); ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < samples; ++c) raw.push_back(Sample(x, y, c));
      }
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
    packed.resize(size);
    if (strip == damaged) std::fill(packed.begin() + 2, packed.end(), uint8_t{0x55});
    offsets.push_back(kData + static_cast<uint32_t>(data.size()));
    counts.push_back(static_cast<uint32_t>(packed.size()));
    data.insert(data.end(), packed.begin(), packed.end());
  }
  return HandMadeTiff({{256, kLong, {static_cast<uint32_t>(width)}}, {257, kLong, {static_cast<uint32_t>(height)}},
                       {258, kShort, std::vector<uint32_t>(static_cast<size_t>(samples), 8)}, {259, kShort, {8}},
                       {262, kShort, {samples == 1 ? 1u : 2u}}, {273, kLong, offsets}, {277, kShort, {static_cast<uint32_t>(samples)}},
                       {278, kLong, {static_cast<uint32_t>(rowsPerStrip)}}, {279, kLong, counts}},
                      data);
}

TEST(TiffReader, StripsOnTwoThreadsGiveTheRowsOfOne) {
  const struct {
    const char* what;
    int width, height, samples, rowsPerStrip, damaged;
    bool refuses;     // the thread cannot be had
    ReadOutcome read;
    int runs;         // given to the second thread
  } cases[] = {
      {"RGB, three runs", 1000, 700, 3, 16, -1, false, ReadOutcome::kRead, 1},
      {"grey, runs of one strip", 3000, 1500, 1, 500, -1, false, ReadOutcome::kRead, 1},
      {"no second thread", 1000, 700, 3, 16, -1, true, ReadOutcome::kRead, 0},
      {"a strip of the second thread's run damaged", 1000, 700, 3, 16, 25, false, ReadOutcome::kRefused, 1},
      {"a strip of the first run damaged", 1000, 700, 3, 16, 3, false, ReadOutcome::kRefused, 1},
  };
  for (const auto& c : cases) {
    const Bytes file = DeflatedPage(c.width, c.height, c.samples, c.rowsPerStrip, c.damaged);
    TestThread test;
    test.refuses = c.refuses;
    const SecondThread second = Lend(&test);
    MemoryBytes memory = {file.data(), file.size(), -1};
    TiffDecoder decoder;
    Description picture;
    ASSERT_EQ(OpenTiff(BytesOf(&memory), &decoder, &picture), ReadOutcome::kRead) << c.what;
    CapturedRows rows;
    EXPECT_EQ(ReadTiff(decoder.get(), Capturing(&rows), &second), c.read) << c.what;
    EXPECT_EQ(test.runs, c.runs) << c.what;
    if (c.read != ReadOutcome::kRead) continue;
    Bytes expected;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        for (int b = 0; b < 3; ++b) expected.push_back(Sample(x, y, c.samples == 1 ? 0 : 2 - b));
      }
    }
    EXPECT_TRUE(rows.bytes == expected) << c.what;
  }
}
}  // namespace
