// The scaling worker with the platform's GDI+, judged by reading what it wrote byte by byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "corpus.h"
#include "image_codec.h"
#include "imaging/resize_worker.h"
#include "scratch_folder.h"

namespace {
const Rgba kRed = {255, 0, 0, 255}, kBlue = {0, 0, 255, 255}, kGrey = {128, 128, 128, 255};
const std::vector<uint8_t> kKeep = {'k', 'e', 'e', 'p'};

PixelSource Gradient() {
  return [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), 255};
  };
}

bool Near(const Rgba& a, const Rgba& b, int tolerance = 8) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

TEST(ResizeEngine, ExactSizeWhateverTheShapeOfTheSource) {
  const struct {
    int sourceWidth, sourceHeight, width, height;
    const char* target;
  } cases[] = {{640, 480, 320, 240, "half.png"},
               {640, 480, 100, 100, "square.bmp"},
               {480, 640, 320, 240, "landscape.png"},
               {640, 480, 1280, 7, "strip.png"}};
  for (const auto& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBmp24(folder / "source.bmp", c.sourceWidth, c.sourceHeight, Gradient()));
    ASSERT_EQ(ResizeImageFile(folder / "source.bmp", folder / c.target, c.width, c.height), 0);
    const ImageHeader h = ReadImageHeader(ReadBytes(folder / c.target));
    EXPECT_EQ(h.width, c.width) << c.target;
    EXPECT_EQ(h.height, c.height) << c.target;
    std::vector<std::string> expected = {c.target, "source.bmp"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder.Entries(), expected);
  }
}

TEST(ResizeEngine, EachExtensionWritesItsFormatOrKeepsTheOldFile) {
  const struct {
    const char* target;
    const char* format;  // "" where no encoder exists and -1 is the answer
  } cases[] = {{"a.bmp", "BMP"},  {"a.gif", "GIF"}, {"a.jpg", "JPEG"}, {"a.JPEG", "JPEG"},
               {"a.png", "PNG"},  {"a.tif", "TIFF"}, {"a.TIFF", "TIFF"}, {"a.ico", ""},
               {"a.emf", ""},     {"a.wmf", ""}};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "source.bmp", 64, 48, Gradient()));
  for (const auto& c : cases) {
    const std::string target = folder / c.target;
    ASSERT_TRUE(WriteBytes(target, kKeep));
    const int32_t result = ResizeImageFile(folder / "source.bmp", target, 32, 24);
    if (*c.format == '\0') {
      EXPECT_EQ(result, -1) << c.target;
      EXPECT_EQ(ReadBytes(target), kKeep) << c.target << " was changed";
    } else {
      EXPECT_EQ(result, 0) << c.target;
      const ImageHeader h = ReadImageHeader(ReadBytes(target));
      EXPECT_EQ(h.format, c.format) << c.target;
      EXPECT_EQ(h.width, 32) << c.target;
      EXPECT_EQ(h.height, 24) << c.target;
    }
    DeleteFileA(target.c_str());
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"source.bmp"});  // no temporary files
}

TEST(ResizeEngine, OneColourSourceStaysOneColourToItsLastPixel) {
  const struct {
    int width, height;
  } sizes[] = {{333, 251}, {50, 37}, {160, 160}, {7, 301}};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "grey.bmp", 160, 160, [](int, int) { return kGrey; }));
  for (const auto& size : sizes) {
    ASSERT_EQ(ResizeImageFile(folder / "grey.bmp", folder / "out.bmp", size.width, size.height), 0);
    int w = 0, h = 0;
    const std::vector<Rgba> pixels = ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(size.width) * size.height);
    int off = 0;
    for (const Rgba& p : pixels) off += !(p == kGrey);
    EXPECT_EQ(off, 0) << size.width << "x" << size.height << ": last pixel " << int(pixels.back().r);
  }
}

TEST(ResizeEngine, AlphaSourceKeepsAnAlphaChannel) {
  ScratchFolder folder;
  PngImage png{40, 30, 6, 8, [](int x, int) { return Rgba{0, 128, 0, static_cast<uint8_t>(x * 6)}; }, {}, {}};
  ASSERT_TRUE(WritePng(folder / "alpha.png", png));
  ASSERT_EQ(ResizeImageFile(folder / "alpha.png", folder / "out.png", 20, 15), 0);
  const ImageHeader h = ReadImageHeader(ReadBytes(folder / "out.png"));
  EXPECT_EQ(h.detail, 6) << "PNG colour type 6 is RGB with alpha";
  EXPECT_EQ(h.width, 20);
}

// Palette sources are drawn in 32-bit ARGB: the result has the source's colours, not a blank.
TEST(ResizeEngine, PaletteSourcesKeepTheirColours) {
  ScratchFolder folder;
  const Rgba twoColours[2] = {kRed, kBlue};
  auto leftRed = [](int x, int) { return x < 32 ? 0 : 1; };
  ASSERT_TRUE(WriteBmp1(folder / "one-bit.bmp", 64, 32, twoColours, leftRed));
  ASSERT_TRUE(WritePng(folder / "palette.png", PngImage{64, 32, 3, 8, nullptr, {kRed, kBlue}, leftRed}));
  for (const char* source : {"one-bit.bmp", "palette.png"}) {
    ASSERT_EQ(ResizeImageFile(folder / source, folder / "out.bmp", 32, 16), 0) << source;
    int w = 0, h = 0;
    const std::vector<Rgba> pixels = ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
    ASSERT_EQ(pixels.size(), 32u * 16u) << source;
    EXPECT_TRUE(Near(pixels[8 * 32 + 4], kRed)) << source;
    EXPECT_TRUE(Near(pixels[8 * 32 + 28], kBlue)) << source;
    EXPECT_TRUE(Near(pixels[15 * 32 + 31], kBlue)) << source << ": last pixel";
  }
}

TEST(ResizeEngine, CorpusSourcesOfOtherPixelFormats) {
  SKIP_WITHOUT_CORPUS(corpus);
  const struct {
    const char* file;
  } cases[] = {{"pil_sample_cmyk.jpg"}, {"hopper.gif"}, {"bmp\\g\\pal1.bmp"}, {"bmp\\g\\pal8.bmp"},
               {"bmp\\g\\rgb16-565.bmp"}, {"bmp\\g\\pal4.bmp"}};
  ScratchFolder folder;
  for (const auto& c : cases) {
    const std::string source = corpus + "\\" + c.file;
    const std::vector<uint8_t> before = ReadBytes(source);
    ASSERT_FALSE(before.empty()) << c.file;
    ASSERT_EQ(ResizeImageFile(source, folder / "out.bmp", 30, 20), 0) << c.file;
    int w = 0, h = 0;
    const std::vector<Rgba> pixels = ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
    ASSERT_EQ(pixels.size(), 600u) << c.file;
    int distinct = 0;
    for (const Rgba& p : pixels) distinct += !Near(p, pixels[0], 2);
    EXPECT_GT(distinct, 0) << c.file << " came out as one flat colour";
    EXPECT_EQ(ReadBytes(source), before) << c.file << " was changed";
  }
}

TEST(ResizeEngine, ImpossibleSizesFailQuicklyAndWriteNothing) {
  const int sizes[][2] = {{0, 10}, {10, 0}, {-5, 10}, {10, -5}, {60000, 60000}, {INT32_MIN, 1}};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "source.bmp", 16, 16, Gradient()));
  for (const auto& size : sizes) {
    EXPECT_EQ(ResizeImageFile(folder / "source.bmp", folder / "out.png", size[0], size[1]), -1)
        << size[0] << "x" << size[1];
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"source.bmp"});
  }
}

TEST(ResizeEngine, UnwritablePlacesFailAndLoseNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "source.bmp", 16, 16, Gradient()));
  CreateDirectoryA((folder / "folder.png").c_str(), nullptr);
  const std::string readOnly = folder / "read-only.png";
  ASSERT_TRUE(WriteBytes(readOnly, kKeep));
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  for (const std::string& target : {folder / "missing\\out.png", folder / "folder.png", readOnly}) {
    EXPECT_EQ(ResizeImageFile(folder / "source.bmp", target, 8, 8), -1) << target;
  }
  EXPECT_EQ(ReadBytes(readOnly), kKeep);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"folder.png", "read-only.png", "source.bmp"}));
}

TEST(ResizeEngine, TargetThatIsTheSourceKeepsIt) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 16, 16, Gradient()));
  const std::vector<uint8_t> before = ReadBytes(folder / "photo.bmp");
  for (const std::string& target : {folder / "photo.bmp", folder / "PHOTO.BMP", folder / ".\\photo.bmp"}) {
    EXPECT_EQ(ResizeImageFile(folder / "photo.bmp", target, 8, 8), -1) << target;
    EXPECT_EQ(ReadBytes(folder / "photo.bmp"), before);
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"photo.bmp"});
}
}  // namespace
