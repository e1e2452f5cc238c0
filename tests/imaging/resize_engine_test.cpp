// The scaling worker with the platform's GDI+, judged by reading what it wrote byte by byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "corpus.h"
#include "image_codec.h"
#include "imaging/gdiplus/gdiplus_source.h"
#include "imaging/resize_image_file.h"
#include "imaging/target_writer.h"
#include "platform/windows_text.h"
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
               {640, 480, 1280, 7, "strip.png"},
               {640, 480, 1, 1, "dot.bmp"}};  // a file shorter than the longest BMP header
  for (const auto& c : cases) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteBmp24(folder / "source.bmp", c.sourceWidth, c.sourceHeight, Gradient()));
    ASSERT_EQ(ResizeImageFile(folder / "source.bmp", folder / c.target, c.width, c.height), ResizeStep::kConverted);
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
               {"a.emf", ""},     {"a.wmf", ""},     {"a.webp", "WEBP"}, {"a.WEBP", "WEBP"}};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "source.bmp", 64, 48, Gradient()));
  for (const auto& c : cases) {
    const std::string target = folder / c.target;
    ASSERT_TRUE(WriteBytes(target, kKeep));
    const ResizeStep result = ResizeImageFile(folder / "source.bmp", target, 32, 24);
    if (*c.format == '\0') {
      EXPECT_EQ(result, ResizeStep::kNoEncoder) << c.target;
      EXPECT_EQ(ReadBytes(target), kKeep) << c.target << " was changed";
    } else {
      EXPECT_EQ(result, ResizeStep::kConverted) << c.target;
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
  // Half-transparent: 200 at alpha 77 is 60 premultiplied, which is 198.7 straight; its fraction
  // is dropped, as Pillow and libvips drop it. Copied at its own size, it stays as it was.
  ASSERT_TRUE(WritePng(folder / "half.png", {160, 160, 6, 8, [](int, int) { return Rgba{200, 200, 200, 77}; }, {}, {}}));
  const struct {
    const char* source;
    Rgba colour, copied;
  } sources[] = {{"grey.bmp", kGrey, kGrey}, {"half.png", {198, 198, 198, 77}, {200, 200, 200, 77}}};
  for (const auto& source : sources) {
    for (const auto& size : sizes) {
      ASSERT_EQ(ResizeImageFile(folder / source.source, folder / "out.bmp", size.width, size.height), ResizeStep::kConverted);
      int w = 0, h = 0;
      const std::vector<Rgba> pixels = ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
      ASSERT_EQ(pixels.size(), static_cast<size_t>(size.width) * size.height);
      int off = 0;
      const Rgba colour = size.width == 160 && size.height == 160 ? source.copied : source.colour;
      for (const Rgba& p : pixels) off += !(p == colour);
      EXPECT_EQ(off, 0) << source.source << " to " << size.width << "x" << size.height << ": last pixel " << int(pixels.back().r);
    }
  }
}

// Resizes to out.bmp and answers its pixels, top row first (empty when the resize failed).
std::vector<Rgba> Resized(const ScratchFolder& folder, const std::string& source, int width,
                          int height) {
  if (ResizeImageFile(folder / source, folder / "out.bmp", width, height) != ResizeStep::kConverted) return {};
  int w = 0, h = 0;
  return ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
}

// Detail finer than the output's pixels averages to its mean instead of beating into moiré: a
// single draw that samples a few source pixels per output pixel fails this.
TEST(ResizeEngine, FineDetailReducesToAFlatGrey) {
  const struct {
    const char* pattern;
    PixelSource pixel;
  } patterns[] = {
      {"checkerboard", [](int x, int y) { return (x + y) % 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255}; }},
      {"slanted stripes", [](int x, int y) { return (3 * x + 2 * y) % 4 < 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255}; }},
  };
  // 424 reduced 8 and 5.3 times, and along one side only
  const int sizes[][2] = {{53, 53}, {80, 80}, {424, 53}};
  ScratchFolder folder;
  for (const auto& p : patterns) {
    ASSERT_TRUE(WriteBmp24(folder / "fine.bmp", 424, 424, p.pixel));
    for (const auto& size : sizes) {
      const std::vector<Rgba> pixels = Resized(folder, "fine.bmp", size[0], size[1]);
      ASSERT_EQ(pixels.size(), static_cast<size_t>(size[0]) * size[1]) << p.pattern;
      int worst = 0;
      for (const Rgba& q : pixels) worst = std::max(worst, std::abs(q.g - 128));
      EXPECT_LE(worst, 8) << p.pattern << " to " << size[0] << "x" << size[1] << ": strays "
                          << worst << " levels";
    }
  }
}

// A small bright square lands where scaling puts it, at the edges too, shrinking and growing
// (within a tenth of an output pixel away from the edges, where the square is whole).
TEST(ResizeEngine, ScalingKeepsPlaces) {
  ScratchFolder folder;
  const struct {
    int x, y, width, height;
    double tolerance;
  } cases[] = {
      {500, 400, 130, 100, 0.1}, {123, 77, 130, 100, 0.1}, {991, 13, 130, 100, 0.25},
      {3, 795, 130, 100, 0.25},
      {500, 400, 667, 533, 0.1},  // a reduction below 2, which Wine's draw shifts
      {123, 77, 667, 533, 0.1},
      {500, 400, 111, 71, 0.25},  // boxes of 9 by 11 cover 111.1 by 72.7 of 112 by 73 pixels
      {991, 13, 111, 71, 0.25},  {500, 770, 111, 71, 0.25},
      {123, 77, 1500, 1200, 0.1},  // an enlargement, which Wine's draw shifts
      {500, 400, 1000, 100, 0.1},  // one side only
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBmp24(folder / "square.bmp", 1000, 800, [&](int x, int y) {
      const bool lit = x >= c.x && x < c.x + 6 && y >= c.y && y < c.y + 6;
      return lit ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255};
    }));
    const std::vector<Rgba> pixels = Resized(folder, "square.bmp", c.width, c.height);
    const std::string where = std::to_string(c.x) + "," + std::to_string(c.y) + " to " +
                              std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(c.width) * c.height) << where;
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const int v = pixels[y * c.width + x].g;
        sum += v;
        sx += v * x;
        sy += v * y;
      }
    }
    ASSERT_GT(sum, 0) << where << " vanished";
    // The centre of the square's lit pixels (the edge may cut it), in output pixels whose
    // centres are at whole numbers.
    const double centreX = (c.x + std::min(c.x + 6, 1000)) / 2.0;
    const double centreY = (c.y + std::min(c.y + 6, 800)) / 2.0;
    EXPECT_NEAR(sx / sum, centreX * c.width / 1000 - 0.5, c.tolerance) << where;
    EXPECT_NEAR(sy / sum, centreY * c.height / 800 - 0.5, c.tolerance) << where;
  }
}

// A picture that is its own mirror image, left to right and top to bottom, stays so: no edge
// weighs more than its opposite, shrinking with a partial last box (a frame of 1 pixel, boxes of
// 10 with 1 pixel left over) or growing (bands of equal width). The boxes start at the left and
// top: there the frame is averaged into a whole box, which the filter sees at the box's centre,
// a level or two darker than the frame's own place (a whole picture's Lanczos gives 193).
TEST(ResizeEngine, MirroredPicturesStayMirrored) {
  const struct {
    int sourceWidth, sourceHeight, width, height;
    uint8_t inside, frame;
    int tolerance;
  } cases[] = {{3001, 2001, 150, 100, 200, 0, 3}, {40, 30, 80, 60, 0, 255, 1}, {40, 30, 400, 300, 0, 255, 1}};
  ScratchFolder folder;
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBmp24(folder / "frame.bmp", c.sourceWidth, c.sourceHeight, [&](int x, int y) {
      const bool edge = x == 0 || y == 0 || x == c.sourceWidth - 1 || y == c.sourceHeight - 1;
      const uint8_t v = edge ? c.frame : c.inside;
      return Rgba{v, v, v, 255};
    }));
    const std::vector<Rgba> pixels = Resized(folder, "frame.bmp", c.width, c.height);
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(c.width) * c.height) << size;
    auto at = [&](int x, int y) { return static_cast<int>(pixels[y * c.width + x].g); };
    int worst = 0;
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        worst = std::max({worst, std::abs(at(x, y) - at(c.width - 1 - x, y)),
                          std::abs(at(x, y) - at(x, c.height - 1 - y))});
      }
    }
    EXPECT_LE(worst, c.tolerance) << size;
    std::printf("mirrored %dx%d to %s: edges %d %d %d %d (left, right, top, bottom), worst %d\n",
                c.sourceWidth, c.sourceHeight, size.c_str(), at(0, c.height / 2),
                at(c.width - 1, c.height / 2), at(c.width / 2, 0), at(c.width / 2, c.height - 1), worst);
  }
}

// Any image file's pixels as straight ARGB, read by the platform's GDI+ (the test's own reader
// writes no PNG decoder); empty when it cannot be read.
std::vector<Rgba> DecodedPixels(const std::string& path) {
  std::vector<Rgba> pixels;
  SessionOwner session;
  StartGdiplusSession(&session);
  GpImage* image = nullptr;
  LoadImageFile(ToWideText(path), &image);
  float w = 0, h = 0;
  if (image != nullptr && gdiplus.GdipGetImageDimension(image, &w, &h) == kGpOk) {
    const GpRect all = {0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    GpBitmapData data = {};
    if (gdiplus.GdipBitmapLockBits(image, &all, kImageLockModeRead, kPixelFormat32bppARGB, &data) == kGpOk) {
      for (int y = 0; y < all.Height; ++y) {
        const BYTE* row = static_cast<const BYTE*>(data.Scan0) + y * data.Stride;
        for (int x = 0; x < all.Width; ++x) {
          pixels.push_back({row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]});
        }
      }
      gdiplus.GdipBitmapUnlockBits(image, &data);
    }
  }
  if (image != nullptr) gdiplus.GdipDisposeImage(image);
  return pixels;
}

// An opaque disc of colour kDisc on a transparent green ground, in a square of the given side.
const Rgba kDisc = {200, 40, 90, 255};
bool WriteDisc(const std::string& path, int side) {
  return WritePng(path, PngImage{side, side, 6, 8, [side](int x, int y) {
                                   const int dx = x - side / 2, dy = y - side / 2;
                                   return 9 * (dx * dx + dy * dy) < side * side ? kDisc : Rgba{0, 255, 0, 0};
                                 }, {}, {}});
}

// Transparent pixels lend no colour: an opaque disc on a transparent green ground keeps its own
// colour out to its edge, softened in a PNG; a GIF the plug-in writes keeps the ground transparent
// too. (Below a
// quarter opacity the 8-bit premultiplied pixels that GDI+ draws with cannot hold a colour to a
// few levels, with or without averaging.)
TEST(ResizeEngine, TransparentGroundLeavesNoFringe) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteDisc(folder / "disc.png", 600));
  const struct {
    const char* target;
    bool softEdge;  // GIF has only opaque and transparent pixels
  } cases[] = {{"out.png", true}, {"out.gif", false}};
  for (const auto& c : cases) {
    // GDI+'s GIF encoder, in a build without the plug-in's, marks no entry transparent.
    if (!c.softEdge && !WritesOwnFormat("image/gif")) continue;
    ASSERT_EQ(ResizeImageFile(folder / "disc.png", folder / c.target, 100, 100), ResizeStep::kConverted);
    const std::vector<Rgba> pixels = DecodedPixels(folder / c.target);
    ASSERT_EQ(pixels.size(), 10000u) << c.target;
    int edge = 0;
    for (const Rgba& p : pixels) {
      if (p.a < 64) continue;
      edge += p.a < 255;
      EXPECT_TRUE(Near(p, kDisc, 4))
          << c.target << ": " << int(p.r) << " " << int(p.g) << " " << int(p.b) << " alpha " << int(p.a);
    }
    EXPECT_EQ(edge > 20, c.softEdge) << c.target << ": " << edge << " pixels of the edge half opaque";
    EXPECT_EQ(pixels[0].a, 0) << c.target << ": corner";
    EXPECT_EQ(pixels[99 * 100 + 99].a, 0) << c.target << ": corner";
    EXPECT_EQ(pixels[50 * 100 + 50], kDisc) << c.target;  // an opaque source stays exactly opaque
  }
}

// An opaque picture whose last column and row are transparent, reduced with partial last boxes
// of 1 pixel in 120 and in 100: such a box weighs what it covers, so no edge of the result
// becomes see-through (a whole picture's Lanczos gives 254).
TEST(ResizeEngine, TransparentLastColumnLeavesAnOpaqueEdge) {
  ScratchFolder folder;
  ASSERT_TRUE(WritePng(folder / "edge.png", PngImage{6001, 2001, 6, 8, [](int x, int y) {
                                                        return x == 6000 || y == 2000 ? Rgba{0, 0, 0, 0} : kGrey;
                                                      }, {}, {}}));
  ASSERT_EQ(ResizeImageFile(folder / "edge.png", folder / "out.png", 25, 10), ResizeStep::kConverted);
  const std::vector<Rgba> pixels = DecodedPixels(folder / "out.png");
  ASSERT_EQ(pixels.size(), 250u);
  int lowest = 255;
  for (const Rgba& p : pixels) lowest = std::min(lowest, static_cast<int>(p.a));
  EXPECT_GE(lowest, 250);
  std::printf("transparent last column: right column alpha %d, corner %d\n", pixels[5 * 25 + 24].a,
              pixels[249].a);
}

TEST(ResizeEngine, AlphaSourceKeepsAnAlphaChannel) {
  ScratchFolder folder;
  PngImage png{40, 30, 6, 8, [](int x, int) { return Rgba{0, 128, 0, static_cast<uint8_t>(x * 6)}; }, {}, {}};
  ASSERT_TRUE(WritePng(folder / "alpha.png", png));
  ASSERT_EQ(ResizeImageFile(folder / "alpha.png", folder / "out.png", 20, 15), ResizeStep::kConverted);
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
    ASSERT_EQ(ResizeImageFile(folder / source, folder / "out.bmp", 32, 16), ResizeStep::kConverted) << source;
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
    bool sixteenBits;  // the reduction keeps levels between the source's 32 red levels
  } cases[] = {{"pil_sample_cmyk.jpg", false}, {"hopper.gif", false}, {"bmp\\g\\pal1.bmp", false},
               {"bmp\\g\\pal8.bmp", false},  {"bmp\\g\\rgb16-565.bmp", true},
               {"bmp\\g\\rgb16.bmp", true},  {"bmp\\g\\pal4.bmp", false}};
  ScratchFolder folder;
  for (const auto& c : cases) {
    const std::string source = corpus + "\\" + c.file;
    const std::vector<uint8_t> before = ReadBytes(source);
    ASSERT_FALSE(before.empty()) << c.file;
    ASSERT_EQ(ResizeImageFile(source, folder / "out.bmp", 30, 20), ResizeStep::kConverted) << c.file;
    int w = 0, h = 0;
    const std::vector<Rgba> pixels = ReadBmpPixels(ReadBytes(folder / "out.bmp"), &w, &h);
    ASSERT_EQ(pixels.size(), 600u) << c.file;
    int distinct = 0;
    for (const Rgba& p : pixels) distinct += !Near(p, pixels[0], 2);
    EXPECT_GT(distinct, 0) << c.file << " came out as one flat colour";
    if (c.sixteenBits) {
      int between = 0;  // red levels that 5 bits widened to 8 cannot hold
      for (const Rgba& p : pixels) between += p.r != ((p.r >> 3) << 3 | p.r >> 5);
      EXPECT_GT(between, 60) << c.file;
    }
    EXPECT_EQ(ReadBytes(source), before) << c.file << " was changed";
  }
}

// Sizes whose bitmap would not fit a 32-bit process fail before any bitmap is made: Wine makes
// a far too small bitmap where width * 4 * height passes 2^32, and its draw then writes past
// the end inside the host's process.
TEST(ResizeEngine, ImpossibleSizesFailQuicklyAndWriteNothing) {
  const int sizes[][2] = {{0, 10},        {10, 0},        {-5, 10},       {10, -5},
                          {60000, 60000}, {INT32_MIN, 1}, {32768, 32768}, {46341, 46341},
                          {65536, 16384}, {40000, 30000}, {16385, 16384}};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "source.bmp", 16, 16, Gradient()));
  ASSERT_TRUE(WritePng(folder / "source.png", PngImage{16, 16, 6, 8, Gradient(), {}, {}}));
  for (const char* source : {"source.bmp", "source.png"}) {
    for (const auto& size : sizes) {
      EXPECT_EQ(ResizeImageFile(folder / source, folder / "out.bmp", size[0], size[1]),
                ResizeStep::kSizeRejected)
          << source << " to " << size[0] << "x" << size[1];
      EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"source.bmp", "source.png"}));
    }
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
    EXPECT_NE(ResizeImageFile(folder / "source.bmp", target, 8, 8), ResizeStep::kConverted) << target;
  }
  EXPECT_EQ(ReadBytes(readOnly), kKeep);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"folder.png", "read-only.png", "source.bmp"}));
}

// Every name the folder can hold is a target: the temporary file's name does not grow with the
// target's.
TEST(ResizeEngine, LongestFileNamesConvert) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "s.bmp", 16, 16, Gradient()));
  for (size_t length : {200u, 239u, 249u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".png";
    EXPECT_EQ(ResizeImageFile(folder / "s.bmp", folder / name, 8, 8), ResizeStep::kConverted) << length;
    EXPECT_EQ(ReadImageHeader(ReadBytes(folder / name)).width, 8) << length;
    // The whole path is past MAX_PATH, which the ANSI calls do not reach.
    const std::string full = "\\\\?\\" + folder / name;
    EXPECT_TRUE(DeleteFileW(std::wstring(full.begin(), full.end()).c_str())) << length;
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"s.bmp"});
}

// A replaced file keeps its hidden, system and not-indexed marks.
TEST(ResizeEngine, ReplacedTargetKeepsItsAttributes) {
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD cases[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, FILE_ATTRIBUTE_NORMAL};
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "s.bmp", 16, 16, Gradient()));
  std::string unsupported;
  for (const DWORD attributes : cases) {
    const std::string target = folder / "marked.png";
    ASSERT_TRUE(WriteBytes(target, kKeep));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), attributes));
    if ((GetFileAttributesA(target.c_str()) & kept) != (attributes & kept)) {
      unsupported += " " + std::to_string(attributes);  // Wine keeps no not-indexed mark
      DeleteFileA(target.c_str());
      continue;
    }
    EXPECT_EQ(ResizeImageFile(folder / "s.bmp", target, 8, 8), ResizeStep::kConverted) << attributes;
    EXPECT_EQ(GetFileAttributesA(target.c_str()) & kept, attributes & kept) << attributes;
    EXPECT_EQ(ReadImageHeader(ReadBytes(target)).format, "PNG") << attributes;
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target.c_str());
  }
  if (!unsupported.empty()) GTEST_SKIP() << "the file system keeps no attributes" << unsupported;
}

// A target that another program holds open without delete sharing cannot be replaced: after the
// retries the resize gives up cleanly, the target as it was and no temporary file left.
TEST(ResizeEngine, TargetHeldOpenByAnotherProgramIsKept) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "s.bmp", 16, 16, Gradient()));
  const std::string target = folder / "held.png";
  ASSERT_TRUE(WriteBytes(target, kKeep));
  const HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const DWORD started = GetTickCount();
  const ResizeStep result = ResizeImageFile(folder / "s.bmp", target, 8, 8);
  const DWORD took = GetTickCount() - started;
  CloseHandle(held);
  EXPECT_EQ(result, ResizeStep::kNotReplaced);
  EXPECT_EQ(ReadBytes(target), kKeep);
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"held.png", "s.bmp"}));
  std::printf("held target: gave up after %lu ms\n", static_cast<unsigned long>(took));
}

// Whether a file deleted through its handle goes where its folder was renamed after it was
// opened: Windows deletes the file itself; Wine unlinks the name it was opened by.
bool DeletesFollowRenamedFolders(const ScratchFolder& folder) {
  CreateDirectoryA((folder / "probe").c_str(), nullptr);
  const HANDLE file = CreateFileA((folder / "probe\\file").c_str(), DELETE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, 0, nullptr);
  MoveFileA((folder / "probe").c_str(), (folder / "probe-moved").c_str());
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
  return folder.Entries("probe-moved").empty();
}

// What another program does while the plug-in works (its stand-in: the new file's creation,
// after the target was looked at): a target made read-only meanwhile is kept, and a folder
// renamed meanwhile is left with no temporary file in it.
TEST(ResizeEngine, ChangesWhileWritingLoseNothing) {
  static std::string folderPath;
  static bool readOnly;

  for (const bool makeReadOnly : {true, false}) {
    ScratchFolder folder;
    folderPath = folder / "sub";
    readOnly = makeReadOnly;
    ASSERT_TRUE(CreateDirectoryA(folderPath.c_str(), nullptr));
    ASSERT_TRUE(WritePng(folder / "source.png", PngImage{64, 64, 6, 8, Gradient(), {}, {}}));
    ASSERT_TRUE(WriteBytes(folderPath + "\\out.png", kKeep));
    WindowsApi meanwhile = {};
    meanwhile.CreateFileW = [](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
      const HANDLE file = DefaultWindows().CreateFileW(name, access, share, security, disposition, flags, templateFile);
      if (disposition == CREATE_NEW && readOnly) {
        SetFileAttributesA((folderPath + "\\out.png").c_str(), FILE_ATTRIBUTE_READONLY);
      } else if (disposition == CREATE_NEW) {
        MoveFileA(folderPath.c_str(), (folderPath + "-moved").c_str());
      }
      return file;
    };
    UseWindows(&meanwhile);
    const ResizeStep step = ResizeImageFile(folder / "source.png", folderPath + "\\out.png", 32, 32);
    UseWindows(nullptr);
    const std::string now = readOnly ? "sub" : "sub-moved";
    EXPECT_NE(step, ResizeStep::kConverted) << now;
    EXPECT_EQ(ReadBytes(folder / now + "\\out.png"), kKeep) << now;
    if (!readOnly && !DeletesFollowRenamedFolders(folder)) {
      GTEST_SKIP() << "this platform deletes a file through its handle by the name it was opened by, "
                      "not where its folder was renamed to";
    }
    EXPECT_EQ(folder.Entries(now), std::vector<std::string>{"out.png"}) << now;
  }
}

TEST(ResizeEngine, TargetThatIsTheSourceKeepsIt) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteBmp24(folder / "photo.bmp", 16, 16, Gradient()));
  const std::vector<uint8_t> before = ReadBytes(folder / "photo.bmp");
  for (const std::string& target : {folder / "photo.bmp", folder / "PHOTO.BMP", folder / ".\\photo.bmp"}) {
    EXPECT_EQ(ResizeImageFile(folder / "photo.bmp", target, 8, 8), ResizeStep::kTargetRefused) << target;
    EXPECT_EQ(ReadBytes(folder / "photo.bmp"), before);
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"photo.bmp"});
}
}  // namespace

namespace {
// Every written format from every source layout: each output loads back with GDI+ at the size
// asked for, within its format's tolerance of the lossless PNG of the same resize (mean
// difference per channel, in levels). A GIF that holds no pixels, as Wine's encoder writes from
// a 32-bit bitmap, fails here.
TEST(ResizeEngine, EveryLayoutIntoEveryWrittenFormatLoadsBackWhole) {
  ScratchFolder folder;
  const PixelSource smooth = [](int x, int y) {
    return Rgba{static_cast<uint8_t>(40 + 2 * x), static_cast<uint8_t>(60 + 2 * y),
                static_cast<uint8_t>(200 - x), 255};
  };
  const auto quarters = [](int x, int y) { return (x < 48 ? 0 : 1) + (y < 32 ? 0 : 2); };
  ASSERT_TRUE(WriteBmp24(folder / "rgb24.bmp", 96, 64, smooth));
  ASSERT_TRUE(WritePng(folder / "rgba.png", PngImage{96, 64, 6, 8, smooth, {}, {}}));
  ASSERT_TRUE(WritePng(folder / "palette.png",
                       PngImage{96, 64, 3, 8, nullptr, {kRed, kBlue, kGrey, {0, 200, 0, 255}}, quarters}));
  ASSERT_TRUE(WritePng(folder / "grey.png", PngImage{96, 64, 0, 8, smooth, {}, {}}));
  ASSERT_TRUE(WritePng(folder / "grey16.png", PngImage{96, 64, 0, 16, smooth, {}, {}}));
  ASSERT_TRUE(WritePng(folder / "rgb48.png", PngImage{96, 64, 2, 16, smooth, {}, {}}));
  // A JPEG and a GIF source, as the plug-in writes them.
  ASSERT_EQ(ResizeImageFile(folder / "rgb24.bmp", folder / "photo.jpg", 96, 64), ResizeStep::kConverted);
  ASSERT_EQ(ResizeImageFile(folder / "rgb24.bmp", folder / "frame.gif", 96, 64), ResizeStep::kConverted);
  // The PNG and JPEG targets are the plug-in's own writers', the others GDI+'s encoders': the
  // lossless ones agree to the level, alpha included where the format keeps it.
  const struct {
    const char* extension;
    double tolerance;
    bool alpha;
  } formats[] = {{"bmp", 0, false}, {"png", 0, true}, {"tif", 0, true}, {"jpg", 4, false}, {"gif", 3, false}};
  for (const char* source : {"rgb24.bmp", "rgba.png", "palette.png", "grey.png", "grey16.png",
                             "rgb48.png", "photo.jpg", "frame.gif"}) {
    ASSERT_EQ(ResizeImageFile(folder / source, folder / "canvas.png", 48, 32), ResizeStep::kConverted) << source;
    const std::vector<Rgba> canvas = DecodedPixels(folder / "canvas.png");
    ASSERT_EQ(canvas.size(), 48u * 32u) << source;
    for (const auto& format : formats) {
      const std::string target = folder / (std::string("out.") + format.extension);
      ASSERT_EQ(ResizeImageFile(folder / source, target, 48, 32), ResizeStep::kConverted)
          << source << " to " << format.extension;
      const std::vector<Rgba> out = DecodedPixels(target);
      ASSERT_EQ(out.size(), canvas.size()) << source << " to " << format.extension << " does not load back";
      double difference = 0;
      for (size_t i = 0; i < out.size(); ++i) {
        difference += std::abs(out[i].r - canvas[i].r) + std::abs(out[i].g - canvas[i].g) +
                      std::abs(out[i].b - canvas[i].b) + (format.alpha ? std::abs(out[i].a - canvas[i].a) : 0);
      }
      EXPECT_LE(difference / (3.0 * static_cast<double>(out.size())), format.tolerance)
          << source << " to " << format.extension;
    }
  }
}
}  // namespace
