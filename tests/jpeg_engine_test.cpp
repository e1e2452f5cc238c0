// JPEG sources with the platform's GDI+: the plug-in's own reader against GDI+'s decode of the
// same file, what the reader refuses left to GDI+ as before, and a JPEG too large for GDI+.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image_codec.h"
#include "imaging/image_metrics.h"
#include "imaging/resize_image_file.h"
#include "jpeg_encode.h"
#include "platform/windows_api.h"
#include "scratch_folder.h"

namespace {
uint8_t Photo(int x, int y, int c) {
  const double v = 128 + 70 * std::sin(x * 0.013 + c) * std::cos(y * 0.011 - c) +
                   30 * std::sin((x + 2 * y) * 0.19 + c);
  return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

// The Windows table with every opening of a JPEG for reading refused: the reader then refuses
// the file and GDI+ reads it, as in a build without the reader.
struct JpegReaderRefused {
  static HANDLE Open(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) {
    const std::wstring n = name;
    if ((flags & FILE_FLAG_SEQUENTIAL_SCAN) != 0 && n.size() > 4 && n.substr(n.size() - 4) == L".jpg") {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return DefaultWindows().CreateFileW(name, access, share, security, disposition, flags, templateFile);
  }
  JpegReaderRefused() {
    WindowsApi refusing = {};
    refusing.CreateFileW = Open;
    UseWindows(&refusing);
  }
  ~JpegReaderRefused() { UseWindows(nullptr); }
};

// Mean difference per channel, in levels, of two BMPs of the same size; -1 where they are not.
double MeanDifference(const std::string& a, const std::string& b) {
  int wa = 0, ha = 0, wb = 0, hb = 0;
  const std::vector<Rgba> pa = ReadBmpPixels(ReadBytes(a), &wa, &ha), pb = ReadBmpPixels(ReadBytes(b), &wb, &hb);
  if (pa.empty() || wa != wb || ha != hb) return -1;
  double sum = 0;
  for (size_t i = 0; i < pa.size(); ++i) {
    sum += std::abs(pa[i].r - pb[i].r) + std::abs(pa[i].g - pb[i].g) + std::abs(pa[i].b - pb[i].b);
  }
  return sum / (3.0 * static_cast<double>(pa.size()));
}

// At each scale the reader decodes at (1/1 to 1/8 of a 1600 by 1200 photo, 4:2:0 and 4:2:2), the
// picture is GDI+'s within the two decoders' difference: Wine's GDI+ decodes with the IJG
// library at full size, the reader with libjpeg-turbo's DCT scaling.
TEST(JpegSource, EachScaleGivesGdiplusDecodesPicture) {
  ScratchFolder folder;
  const struct {
    int width, height, hSampling, vSampling;
  } cases[] = {{800, 600, 2, 2}, {400, 300, 2, 2}, {200, 150, 2, 2}, {100, 75, 2, 2}, {100, 75, 2, 1}};
  for (const auto& c : cases) {
    ASSERT_TRUE(EncodeJpegFile(folder / "photo.jpg", {1600, 1200, 3, c.hSampling, c.vSampling, false, false, 0}, Photo));
    ASSERT_EQ(ResizeImageFile(folder / "photo.jpg", folder / "read.bmp", c.width, c.height), ResizeStep::kConverted);
    {
      JpegReaderRefused refused;
      ASSERT_EQ(ResizeImageFile(folder / "photo.jpg", folder / "gdiplus.bmp", c.width, c.height),
                ResizeStep::kConverted);
    }
    const double difference = MeanDifference(folder / "read.bmp", folder / "gdiplus.bmp");
    // Above 0: the decoders differ, so the plug-in did read it; within 2 levels: the same picture.
    EXPECT_GT(difference, 0) << c.width;
    EXPECT_LE(difference, 2.0) << c.width << " " << c.hSampling << c.vSampling;
    std::printf("JPEG to %dx%d (%d%d): %.2f levels from GDI+'s decode\n", c.width, c.height,
                c.hSampling, c.vSampling, difference);
  }
}

// What the reader refuses goes the way it went before: a cut file fails as GDI+ fails it,
// leaving nothing; a JPEG too large for GDI+ to hold decoded converts and is measured.
TEST(JpegSource, RefusedFilesGoToGdiplusAndHugeOnesConvert) {
  ScratchFolder folder;
  ASSERT_TRUE(EncodeJpegFile(folder / "whole.jpg", {640, 480, 3, 2, 2, false, false, 0}, Photo));
  std::vector<uint8_t> bytes = ReadBytes(folder / "whole.jpg");
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(WriteBytes(folder / "cut.jpg", bytes));
  EXPECT_EQ(ResizeImageFile(folder / "cut.jpg", folder / "out.png", 64, 48), ResizeStep::kSourceNotLoaded);
  EXPECT_EQ(MeasureImageFile(folder / "cut.jpg").width, 0);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"cut.jpg", "whole.jpg"}));

  // 262 megapixels, about 1 GB decoded.
  ASSERT_TRUE(EncodeJpegFile(folder / "huge.jpg", {20480, 12800, 3, 2, 2, false, false, 0},
                             [](int x, int y, int c) { return static_cast<uint8_t>((x / 64 + y / 64 + c * 40) % 256); }));
  const DWORD started = GetTickCount();
  EXPECT_EQ(ResizeImageFile(folder / "huge.jpg", folder / "huge.png", 800, 500), ResizeStep::kConverted);
  const DWORD took = GetTickCount() - started;
  const ImageHeader header = ReadImageHeader(ReadBytes(folder / "huge.png"));
  EXPECT_EQ(header.width, 800);
  EXPECT_EQ(header.height, 500);
  const ImageMeasure measure = MeasureImageFile(folder / "huge.jpg");
  EXPECT_EQ(measure.width, 20480);
  EXPECT_EQ(measure.height, 12800);
  std::printf("20480 by 12800 JPEG to 800 by 500: %lu ms\n", static_cast<unsigned long>(took));
}
}  // namespace
