// The JPEG reader on files made here with libjpeg's own encoder: its rows at every scale against
// libjpeg's plain full decode (equal at 1/1, its boxes' averages at 1/2 to 1/8), and every file it
// must refuse refused. Built natively under the sanitizers, which also catch a leak on any path,
// and for Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <jpeglib.h>
#define CMS_NO_REGISTER_KEYWORD 1
#include <lcms2.h>

#include "imaging/pixels/box_average.h"
#include "imaging/codecs/jpeg_reader.h"
#include "imaging/codecs/jpeg_writer.h"
#include "jpeg_encode.h"
#include "memory_bytes.h"

namespace {
struct Encoding {
  const char* what;
  JpegEncoding encoding;
  int scales;  // those the reader decodes it at, below 1/1
};
constexpr int kEvery = kJpegScaleHalf | kJpegScaleQuarter | kJpegScaleEighth;

// A layout of luma h by v, chroma ch by cv.
JpegEncoding Sampled(int h, int v, int ch, int cv) {
  JpegEncoding e = {45, 37, 3, h, v, false, false, 0};
  e.chromaH = ch;
  e.chromaV = cv;
  return e;
}

// A colourful picture with detail at several scales.
uint8_t Sample(int x, int y, int c) {
  const double v = 128 + 90 * std::sin(x * 0.21 + c) * std::cos(y * 0.17 - c) + (x * y % 7) * 3;
  return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

std::vector<uint8_t> Encode(const Encoding& e) { return EncodeJpeg(e.encoding, Sample); }

// libjpeg's own decode at full size, BGR (or CMYK as stored, where asked).
std::vector<uint8_t> FullDecode(const std::vector<uint8_t>& bytes, int* width, int* height, bool cmyk = false) {
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  const size_t bytesPerPixel = cmyk ? 4 : 3;
  std::vector<uint8_t> pixels(static_cast<size_t>(*width) * *height * bytesPerPixel);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row[1] = {&pixels[static_cast<size_t>(info.output_scanline) * *width * bytesPerPixel]};
    jpeg_read_scanlines(&info, row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pixels;
}

struct Decoded {
  int denominator, width, height;  // the denominator asked for, then the one used
  std::vector<uint8_t> pixels;
  bool headersRefused;  // the headers alone refused the file, before any decoding
};
ReadOutcome Read(const std::vector<uint8_t>& bytes, int denominator, Decoded* out, long failAt = -1,
                 const SecondThread* beside = nullptr) {
  MemoryBytes memory = {bytes.data(), bytes.size(), failAt};
  *out = Decoded{denominator, 0, 0, {}, true};
  JpegDecoder decoder;
  Description header;
  const ReadOutcome opened = OpenJpeg(BytesOf(&memory), &decoder, &header);
  if (opened != ReadOutcome::kRead) return opened;
  out->headersRefused = false;
  out->denominator = (header.scales & denominator) != 0 ? denominator : 1;
  const DecodedRows rows = {
      [](void* c, int32_t w, int32_t h) {
        static_cast<Decoded*>(c)->width = w;
        static_cast<Decoded*>(c)->height = h;
        return true;
      },
      [](void* c, const uint8_t* row) {
        auto* d = static_cast<Decoded*>(c);
        d->pixels.insert(d->pixels.end(), row, row + static_cast<size_t>(d->width) * 3);
        return true;
      },
      out};
  return ReadJpeg(decoder.get(), out->denominator, rows, beside);
}

const Encoding kBaseline = {"baseline 4:2:0", {64, 48, 3, 2, 2, false, false, 0}, kEvery};

TEST(JpegReader, RowsAtEveryScaleAreTheFullDecodeAveraged) {
  const Encoding encodings[] = {
      kBaseline,
      {"progressive 4:2:0, sides not a multiple of 16", {61, 45, 3, 2, 2, true, false, 0}, kEvery},
      {"grey", {37, 29, 1, 1, 1, false, false, 0}, kEvery},
      {"4:2:2", {50, 33, 3, 2, 1, false, false, 0}, kJpegScaleHalf},
      {"4:4:4", {41, 17, 3, 1, 1, false, false, 0}, kEvery},
      {"restart every row of blocks", {40, 40, 3, 2, 2, false, false, 1}, kEvery},
      {"arithmetic coding", {33, 35, 3, 2, 2, false, true, 0}, kEvery},
      {"progressive grey", {9, 7, 1, 1, 1, true, false, 0}, kEvery},
      {"64 scans", {24, 16, 1, 1, 1, true, false, 0, 1}, kEvery},
      // Every sampling layout: the scales where the colour stays within a level of 4:2:0's.
      {"4:4:0", Sampled(1, 2, 1, 1), kJpegScaleHalf},
      {"3x1", Sampled(3, 1, 1, 1), 0},
      {"3x2", Sampled(3, 2, 1, 1), 0},
      {"3x3", Sampled(3, 3, 1, 1), 0},
      {"4:1:1", Sampled(4, 1, 1, 1), 0},
      {"4x2", Sampled(4, 2, 1, 1), 0},
      {"4x4", Sampled(4, 4, 1, 1), kJpegScaleQuarter | kJpegScaleEighth},
      {"4x2, chroma 2x1", Sampled(4, 2, 2, 1), kEvery},
      {"2x2, chroma 1x2", Sampled(2, 2, 1, 2), kJpegScaleHalf},
      {"chroma finer both ways", Sampled(1, 1, 2, 2), kEvery},
      {"chroma finer across", Sampled(1, 1, 2, 1), 0},
      {"chroma finer down, luma across", Sampled(2, 1, 1, 2), 0},
  };
  for (const Encoding& e : encodings) {
    const std::vector<uint8_t> bytes = Encode(e);
    int fullWidth = 0, fullHeight = 0;
    const std::vector<uint8_t> full = FullDecode(bytes, &fullWidth, &fullHeight);
    for (const int asked : {1, 2, 4, 8}) {
      Decoded got;
      ASSERT_EQ(Read(bytes, asked, &got), ReadOutcome::kRead) << e.what << " at 1/" << asked;
      const int s = got.denominator;
      EXPECT_EQ(s, (e.scales & asked) != 0 ? asked : 1) << e.what;
      ASSERT_EQ(got.width, (e.encoding.width + s - 1) / s) << e.what << " at 1/" << s;
      ASSERT_EQ(got.height, (e.encoding.height + s - 1) / s) << e.what << " at 1/" << s;
      ASSERT_EQ(got.pixels.size(), static_cast<size_t>(got.width) * got.height * 3);
      if (s == 1) {
        EXPECT_EQ(got.pixels, full) << e.what;
        continue;
      }
      // Each pixel against the mean of the s by s pixels of the full decode it stands for.
      double total = 0;
      int worst = 0;
      for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
          for (int c = 0; c < 3; ++c) {
            double sum = 0, n = 0;
            for (int v = y * s; v < std::min(fullHeight, (y + 1) * s); ++v) {
              for (int u = x * s; u < std::min(fullWidth, (x + 1) * s); ++u, ++n) {
                sum += full[(static_cast<size_t>(v) * fullWidth + u) * 3 + c];
              }
            }
            const int off = std::abs(got.pixels[(static_cast<size_t>(y) * got.width + x) * 3 + c] -
                                     static_cast<int>(std::lround(sum / n)));
            total += off;
            worst = std::max(worst, off);
          }
        }
      }
      const double mean = total / static_cast<double>(got.pixels.size());
      EXPECT_LE(mean, 3.0) << e.what << " at 1/" << s;
      EXPECT_LE(worst, 40) << e.what << " at 1/" << s;
    }
  }
}

// 12 bits of precision where the encoder wrote 8: the first frame header's precision byte.
std::vector<uint8_t> TwelveBit(std::vector<uint8_t> bytes) {
  for (size_t i = 0; i + 4 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 4] = 12;
      break;
    }
  }
  return bytes;
}

// A picture of `width` by `height` in the frame header (rows first, as the header has them).
std::vector<uint8_t> Resized(std::vector<uint8_t> bytes, int width, int height) {
  for (size_t i = 0; i + 8 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
      bytes[i + 5] = static_cast<uint8_t>(height >> 8);
      bytes[i + 6] = static_cast<uint8_t>(height);
      bytes[i + 7] = static_cast<uint8_t>(width >> 8);
      bytes[i + 8] = static_cast<uint8_t>(width);
      break;
    }
  }
  return bytes;
}

// A single-scan file's entropy decoding on a second thread, batch by batch: the rows and the answer
// of the decode on one thread, up to the row where damage or a failed read stops it; a file of
// several scans is decoded on one. The runs given to the second thread show which path ran.
TEST(JpegReader, EntropyDecodedOnASecondThreadGivesTheRowsOfOne) {
  const JpegEncoding colour = {512, 2048, 3, 2, 2, false, false, 0};  // 3 batches of coefficients
  JpegEncoding grey = colour, cmyk = colour, restarts = colour, arithmetic = colour, progressive = colour;
  grey.components = 1, cmyk.components = 4, restarts.restartRows = 1, arithmetic.arithmetic = true;
  progressive.progressive = true;
  const std::vector<uint8_t> good = EncodeJpeg(colour, Sample);
  std::vector<uint8_t> damaged = good;
  damaged[damaged.size() * 4 / 5] = 0xFF, damaged[damaged.size() * 4 / 5 + 1] = 0xD5;  // a stray restart marker
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int denominator;
    long failAt;
    bool refuses;  // no thread to be had
    ReadOutcome read;
    bool split;
  } cases[] = {
      {"4:2:0", good, 1, -1, false, ReadOutcome::kRead, true},
      {"4:2:0 at 1/4", good, 4, -1, false, ReadOutcome::kRead, true},
      {"grey", EncodeJpeg(grey, Sample), 1, -1, false, ReadOutcome::kRead, true},
      {"CMYK", EncodeJpeg(cmyk, Sample), 2, -1, false, ReadOutcome::kRead, true},
      {"a restart marker every row", EncodeJpeg(restarts, Sample), 1, -1, false, ReadOutcome::kRead, true},
      {"arithmetic coding", EncodeJpeg(arithmetic, Sample), 1, -1, false, ReadOutcome::kRead, true},
      {"progressive", EncodeJpeg(progressive, Sample), 1, -1, false, ReadOutcome::kRead, false},
      {"no second thread", good, 1, -1, true, ReadOutcome::kRead, false},
      {"damaged late", damaged, 1, -1, false, ReadOutcome::kRefused, true},
      {"a read that fails in the scan", good, 1, static_cast<long>(good.size() * 3 / 5), false, ReadOutcome::kRefused, true},
      {"cut short", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), 1, -1, false,
       ReadOutcome::kRefused, true},
  };
  for (const auto& c : cases) {
    Decoded alone, split;
    EXPECT_EQ(Read(c.bytes, c.denominator, &alone, c.failAt), c.read) << c.what;
    TestThread thread;
    thread.refuses = c.refuses;
    const SecondThread second = Lend(&thread);
    EXPECT_EQ(Read(c.bytes, c.denominator, &split, c.failAt, &second), c.read) << c.what;
    EXPECT_EQ(thread.runs > 0, c.split) << c.what;
    EXPECT_GT(alone.pixels.size(), 0u) << c.what;
    EXPECT_TRUE(split.pixels == alone.pixels) << c.what << ": " << split.pixels.size() << " bytes, " << alone.pixels.size() << " alone";
  }
}

TEST(JpegReader, RefusesWhatItDoesNotTake) {
  const std::vector<uint8_t> good = Encode(kBaseline), progressive = Encode({"p", {64, 48, 3, 2, 2, true, false, 0}, kEvery});
  const std::vector<uint8_t> progressiveGrey = Encode({"pg", {16, 16, 1, 1, 1, true, false, 0}, kEvery});
  std::mt19937 random(3);
  std::vector<uint8_t> randomTail(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  while (randomTail.size() < good.size()) randomTail.push_back(static_cast<uint8_t>(random()));
  auto cut = [](const std::vector<uint8_t>& bytes, size_t at) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(at));
  };
  // Stray bytes before the quantisation tables, as some editors leave them.
  std::vector<uint8_t> strayInHeader = good;
  for (size_t at = 2; at + 1 < strayInHeader.size(); ++at) {
    if (strayInHeader[at] == 0xFF && strayInHeader[at + 1] == 0xDB) {
      strayInHeader.insert(strayInHeader.begin() + static_cast<long>(at), {0x00, 0x12, 0x34});
      break;
    }
  }
  const ReadOutcome kRefused = ReadOutcome::kRefused, kHostile = ReadOutcome::kHostile, kRead = ReadOutcome::kRead;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    long failAt;
    ReadOutcome outcome;
    bool byHeaders;  // refused before any decoding
  } cases[] = {
      {"12-bit", TwelveBit(good), -1, kRefused, true},
      {"empty", {}, -1, ReadOutcome::kOtherFormat, true},
      {"not a JPEG", {'B', 'M', 0xFF, 0xD8, 0xFF, 0xE0}, -1, ReadOutcome::kOtherFormat, true},
      {"cut after its start", cut(good, 3), -1, kRefused, true},
      {"cut inside its headers", cut(good, 100), -1, kRefused, true},
      {"cut at half", cut(good, good.size() / 2), -1, kRefused, false},
      {"cut before its end marker", cut(good, good.size() - 2), -1, kRefused, false},
      {"progressive, cut at half", cut(progressive, progressive.size() / 2), -1, kRefused, false},
      {"a random tail", randomTail, -1, kRefused, false},
      {"stray bytes between its header's segments", strayInHeader, -1, kRead, false},
      {"a read that fails", good, 0, kRefused, true},
      // Each scan a pass over the picture: 100 and 101 valid scans, and a scan repeated 1000 times
      // (a warning each: the reader stops at the first).
      {"100 scans", Encode({"100", {64, 48, 1, 1, 1, true, false, 0, 2, 1, 1, 36}, kEvery}), -1, kRead, false},
      {"101 scans", Encode({"101", {64, 48, 1, 1, 1, true, false, 0, 2, 1, 1, 37}, kEvery}), -1, kHostile, false},
      {"a scan repeated", LastScanRepeated(progressiveGrey, 1000), -1, kRefused, false},
      // 65500 by 32792: coefficients of 4.3 GB, which libjpeg's size_t wraps to 1 MB in 32 bits.
      {"coefficients past 4 GiB", Resized(progressiveGrey, 65500, 32792), -1, kHostile, true},
      {"coefficients of 300 MB", Resized(progressiveGrey, 16000, 9600), -1, kRefused, true},
  };
  for (const auto& c : cases) {
    for (const int s : {1, 8}) {
      Decoded got;
      EXPECT_EQ(Read(c.bytes, s, &got, c.failAt), c.outcome) << c.what << " at 1/" << s;
      EXPECT_EQ(got.headersRefused, c.byHeaders) << c.what;
    }
  }
  // The files above were made of good ones, read whole; stray bytes before the end marker pass.
  for (const std::vector<uint8_t>& bytes : {good, progressive, progressiveGrey}) {
    std::vector<uint8_t> stray(bytes.begin(), bytes.end() - 2);
    for (int i = 1; i <= 100; ++i) stray.push_back(static_cast<uint8_t>(i));
    stray.insert(stray.end(), {0xFF, 0xD9});
    for (const std::vector<uint8_t>& b : {bytes, stray}) {
      Decoded whole;
      EXPECT_EQ(Read(b, 2, &whole), kRead) << b.size();
    }
  }
}

TEST(JpegReader, ScaleLeavesTheResamplerItsGap) {
  const struct {
    int32_t sourceWidth, sourceHeight, width, height, denominator;
  } cases[] = {{4000, 3000, 800, 600, 2}, {4000, 3000, 250, 188, 4}, {4000, 3000, 1000, 750, 2},
               {4000, 3000, 1001, 750, 1}, {16000, 12000, 100, 100, 8}, {20480, 12800, 800, 500, 8},
               {4000, 100, 100, 100, 1}, {160, 120, 640, 480, 1}, {64, 48, 16, 12, 2},
               {64, 48, 8, 6, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(JpegScale(c.sourceWidth, c.sourceHeight, c.width, c.height, kEvery), c.denominator)
        << c.sourceWidth << "x" << c.sourceHeight << " to " << c.width << "x" << c.height;
  }
  EXPECT_EQ(JpegScale(16000, 12000, 100, 100, kJpegScaleHalf), 2);  // 4:2:2
  EXPECT_EQ(JpegScale(16000, 12000, 100, 100, 0), 1);               // 3x3
  EXPECT_EQ(JpegScale(4000, 3000, 800, 600, kJpegScaleQuarter | kJpegScaleEighth), 1);  // 4x4
}
// The writer's files as libjpeg decodes them, at several sizes: the picture within JPEG's loss,
// and what GDI+'s encoder writes by default: baseline, 4:2:0, quality 75's tables, JFIF of 96 dpi.
TEST(JpegWriter, RoundTripsThroughLibjpeg) {
  for (const std::pair<int, int>& size : {std::pair<int, int>{1, 1}, {1, 9}, {17, 3}, {64, 48}, {333, 101}}) {
    for (const bool padded : {false, true}) {
      const int w = size.first, h = size.second, channels = padded ? 4 : 3;
      std::vector<uint8_t> bytes;
      const ByteSink sink = AppendingTo(&bytes);
      JpegEncoder encoder;
      ASSERT_TRUE(StartJpeg(sink, w, h, padded ? JpegRows::kBgrx : JpegRows::kBgr, Carried(), &encoder));
      std::vector<uint8_t> row(static_cast<size_t>(w) * channels);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          for (int c = 0; c < 3; ++c) row[static_cast<size_t>(x) * channels + c] = Sample(x, y, 2 - c);
        }
        ASSERT_TRUE(WriteJpegRow(encoder.get(), row.data()));
      }
      ASSERT_TRUE(FinishJpeg(encoder.get()));
      int fw = 0, fh = 0;
      const std::vector<uint8_t> back = FullDecode(bytes, &fw, &fh);
      ASSERT_EQ(fw, w);
      ASSERT_EQ(fh, h);
      double total = 0;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          for (int c = 0; c < 3; ++c) total += std::abs(back[(static_cast<size_t>(y) * w + x) * 3 + c] - Sample(x, y, 2 - c));
        }
      }
      EXPECT_LE(total / (3.0 * w * h), 7.0) << w << "x" << h;  // quality 75 on a busy picture: about 5
      // JFIF 1.01, dots per inch, 96 by 96; quantisation of quality 75 (the first luma entry 8); SOF0 with
      // luma sampled 2x2.
      const std::vector<uint8_t> jfif = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 96, 0, 96};
      EXPECT_TRUE(std::equal(jfif.begin(), jfif.end(), bytes.begin() + 2)) << w << "x" << h;
      const uint8_t marker[] = {0xFF, 0xDB};
      const auto dqt = std::search(bytes.begin(), bytes.end(), std::begin(marker), std::end(marker));
      ASSERT_NE(dqt, bytes.end());
      EXPECT_EQ(dqt[5], 8);
      const uint8_t sof0[] = {0xFF, 0xC0};
      const auto frame = std::search(bytes.begin(), bytes.end(), std::begin(sof0), std::end(sof0));
      ASSERT_NE(frame, bytes.end());
      EXPECT_EQ(frame[11], 0x22);
    }
  }
}
// A CMYK output profile of a plain model (each ink takes away its colour of a white paper, black
// all three, in Lab), made by Little CMS.
std::vector<uint8_t> CmykProfile() {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);  // a lut16, which takes a grid alone
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
  cmsStageSampleCLut16bit(grid, [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
    cmsCIELab lab = {100.0 * (1 - in[3] / 65535.0) * (1 - 0.3 * (in[0] + in[1] + in[2]) / 196605.0),
                     60.0 * (in[1] - in[0] / 2.0) / 65535.0, 60.0 * (in[2] - in[1] / 2.0) / 65535.0};
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
  }, nullptr, 0);
  cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(lut);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// An Adobe CMYK JPEG (libjpeg writes Adobe's marker, and the samples are read inverted), with the
// profile in APP2 chunks where there is one.
std::vector<uint8_t> CmykJpeg(const std::vector<uint8_t>& profile) {
  std::vector<uint8_t> bytes = EncodeJpeg({24, 16, 4, 1, 1, false, false, 0}, Sample);
  if (profile.empty()) return bytes;
  std::vector<uint8_t> with = {0xFF, 0xD8, 0xFF, JPEG_APP0 + 2, static_cast<uint8_t>((profile.size() + 16) >> 8),
                               static_cast<uint8_t>(profile.size() + 16), 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F',
                               'I', 'L', 'E', 0, 1, 1};
  with.insert(with.end(), profile.begin(), profile.end());
  with.insert(with.end(), bytes.begin() + 2, bytes.end());
  return with;
}

// CMYK and YCCK files are read: through their CMYK profile, as Little CMS renders libjpeg's own
// decode of them; without one, by the formula GDI+ uses.
TEST(JpegReader, CmykThroughItsProfileOrGdiplusFormula) {
  const std::vector<uint8_t> profile = CmykProfile();
  for (const bool withProfile : {true, false}) {
    const std::vector<uint8_t> bytes = CmykJpeg(withProfile ? profile : std::vector<uint8_t>());
    int width = 0, height = 0;
    const std::vector<uint8_t> cmyk = FullDecode(bytes, &width, &height, true);
    std::vector<uint8_t> expected(24 * 16 * 3);
    if (withProfile) {
      cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
      cmsHPROFILE to = cmsCreate_sRGBProfile();
      cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_CMYK_8_REV, to, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
      cmsDoTransform(t, cmyk.data(), expected.data(), 24 * 16);
      cmsDeleteTransform(t), cmsCloseProfile(from), cmsCloseProfile(to);
    } else {
      for (size_t i = 0; i < 24 * 16; ++i) {
        for (int c = 0; c < 3; ++c) expected[i * 3 + 2 - c] = static_cast<uint8_t>((cmyk[i * 4 + c] * cmyk[i * 4 + 3] + 127) / 255);
      }
    }
    Decoded got;
    ASSERT_EQ(Read(bytes, 1, &got), ReadOutcome::kRead);
    EXPECT_TRUE(got.pixels == expected) << (withProfile ? "with" : "without") << " a profile";
  }
}
}  // namespace
