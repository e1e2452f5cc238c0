// The table of source formats: what each entry makes of files with known answers; each reader's
// picture against GDI+'s decode of the same file (as an independent reference), what a reader
// refuses given to no other decoder, and the corpus's files of the plug-in's formats, none of
// which reaches GDI+.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "corpus.h"
#include "image_codec.h"
#include "imaging/gdiplus/gdiplus_api.h"
#include "imaging/image_metrics.h"
#include "imaging/pixels/resample.h"
#include "imaging/read_ahead.h"
#include "imaging/resize_image_file.h"
#include "imaging/source_file.h"
#include "jpeg_encode.h"
#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "scratch_folder.h"
#include "source_loads.h"
#include "hostile_files.h"
#include "webp_encode.h"

namespace {
// Each entry of the table against a file of its format, and a file of each reason a file is not
// read: which reader took it (the source's decoder), and the picture it describes.
TEST(SourceFormats, EachEntryDescribesItsFileOrSaysWhy) {
  ScratchFolder folder;
  typedef std::vector<uint8_t> Bytes;
  const PixelSource translucent = [](int x, int y) { return Rgba{uint8_t(x * 9), uint8_t(y * 30), 90, uint8_t(x * 19)}; };
  // A 1 by 1 GIF of a black and white palette, its one pixel transparent; and one claiming a screen
  // of 65535 by 65535.
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255, '!', 0xF9, 4, 1, 0, 0, 0, 0,
                     ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'};
  Bytes hugeGif = gif;
  std::fill(hugeGif.begin() + 6, hugeGif.begin() + 10, 0xFF);
  const auto tiff = [](std::vector<TiffEntry> more) {
    std::vector<TiffEntry> entries = {{256, kLong, {4}}, {257, kLong, {2}}, {258, kShort, {8, 8, 8}}, {259, kShort, {1}},
                                      {262, kShort, {2}}, {273, kLong, {kData}}, {277, kShort, {3}}, {278, kLong, {2}},
                                      {279, kLong, {24}}};
    entries.insert(entries.end(), more.begin(), more.end());
    return HandMadeTiff(entries, Bytes(24, 0x80));
  };
  const struct {
    const char* what;
    Bytes file;
    ReadOutcome outcome;
    size_t reader;  // the decoder's place in the source's variant: 1 JPEG, 2 PNG, 3 BMP, 4 GIF, 5 TIFF, 6 WebP, 7 AVIF
    int32_t width, height;
    Channels channels;
  } cases[] = {
      {"JPEG", EncodeJpeg({37, 29, 1, 1, 1, false, false, 0}, Photo), ReadOutcome::kRead, 1, 37, 29, Channels::kGrey},
      {"PNG", EncodePng({13, 7, 6, 8, translucent, {}, {}}), ReadOutcome::kRead, 2, 13, 7, Channels::kColourAlpha},
      {"BMP", [] { Bytes b = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24};
                   b.resize(54, 0), b.resize(70, 0x40);
                   return b; }(), ReadOutcome::kRead, 3, 2, 2, Channels::kColour},
      {"GIF", gif, ReadOutcome::kRead, 4, 1, 1, Channels::kGreyAlpha},
      {"TIFF", tiff({}), ReadOutcome::kRead, 5, 4, 2, Channels::kColour},
      {"WebP", EncodeWebp(Bytes(5 * 3 * 4, 0x80), 5, 3, true), ReadOutcome::kRead, 6, 5, 3, Channels::kColourAlpha},
      {"AVIF", ReadBytes(std::string(QUINTARA_SOURCE_DIR) + "/tests/imaging/codecs/avif/grey.avif"), ReadOutcome::kRead, 7, 64, 48,
       Channels::kGrey},
      {"an icon: no entry's", {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0}, ReadOutcome::kOtherFormat, 0, 0, 0, Channels::kColour},
      {"TIFF of floats: refused", tiff({{339, kShort, {3, 3, 3}}}), ReadOutcome::kRefused, 0, 4, 2, Channels::kColour},
      {"GIF screen of 65535 by 65535: hostile", hugeGif, ReadOutcome::kHostile, 0, 0, 0, Channels::kColour},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBytes(folder / "source", c.file)) << c.what;
    SourceFile source;
    ASSERT_EQ(OpenSource(ToWideText(folder / "source"), &source), Opened::kDiskFile) << c.what;
    EXPECT_EQ(OpenSourceDecoder(&source), c.outcome) << c.what;
    EXPECT_EQ(source.decoder.index(), c.reader) << c.what;
    if (c.outcome != ReadOutcome::kRead) continue;
    EXPECT_EQ(source.picture.width, c.width) << c.what;
    EXPECT_EQ(source.picture.height, c.height) << c.what;
    EXPECT_EQ(source.picture.channels, c.channels) << c.what;
    EXPECT_EQ(source.picture.alpha, HasAlpha(c.channels)) << c.what;
  }
}

// The Windows table with every opening of a JPEG, PNG, BMP or GIF for reading refused: the readers
// then leave the file and GDI+ reads it, as in a build without them.
struct ReadersRefused {
  static HANDLE Open(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) {
    const std::wstring n = name;
    if ((flags & FILE_FLAG_SEQUENTIAL_SCAN) != 0 && n.size() > 4 &&
        (n.substr(n.size() - 4) == L".jpg" || n.substr(n.size() - 4) == L".png" || n.substr(n.size() - 4) == L".bmp" ||
         n.substr(n.size() - 4) == L".gif" || n.substr(n.size() - 4) == L".tif" || n.substr(n.size() - 4) == L"tiff")) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return DefaultWindows().CreateFileW(name, access, share, security, disposition, flags, templateFile);
  }
  ReadersRefused() {
    WindowsApi refusing = {};
    refusing.CreateFileW = Open;
    UseWindows(&refusing);
  }
  ~ReadersRefused() { UseWindows(nullptr); }
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

// The largest difference of any channel, alpha included, of two BMPs of the same size; -1 where
// they are not.
int LargestDifference(const std::string& a, const std::string& b) {
  int wa = 0, ha = 0, wb = 0, hb = 0;
  const std::vector<Rgba> pa = ReadBmpPixels(ReadBytes(a), &wa, &ha), pb = ReadBmpPixels(ReadBytes(b), &wb, &hb);
  if (pa.empty() || wa != wb || ha != hb) return -1;
  int largest = 0;
  for (size_t i = 0; i < pa.size(); ++i) {
    for (const int d : {pa[i].r - pb[i].r, pa[i].g - pb[i].g, pa[i].b - pb[i].b, pa[i].a - pb[i].a}) {
      largest = std::max(largest, std::abs(d));
    }
  }
  return largest;
}

// At each scale the reader decodes at (1/1 to 1/8 of a 1609 by 1207 photo, 4:2:0 and 4:2:2), the
// picture is GDI+'s within the two decoders' difference: Wine's GDI+ decodes with the IJG
// library at full size, the reader with libjpeg-turbo's DCT scaling. Sides that are no multiple
// of 8 cover part of their last decoded pixel; a scale chosen with too small a reducing gap, or
// rows taken to cover the whole of their last pixel, are more than a level off.
TEST(JpegSource, EachScaleGivesGdiplusDecodesPicture) {
  ScratchFolder folder;
  const struct {
    int width, height, hSampling, vSampling;
  } cases[] = {{800, 600, 2, 2}, {400, 300, 2, 2}, {200, 150, 2, 2}, {100, 75, 2, 2}, {100, 75, 2, 1}};
  for (const auto& c : cases) {
    ASSERT_TRUE(EncodeJpegFile(folder / "source.jpg", {1609, 1207, 3, c.hSampling, c.vSampling, false, false, 0}, Photo));
    {
      SourceLoadsCounted counted;
      ASSERT_EQ(ResizeImageFile(folder / "source.jpg", folder / "read.bmp", c.width, c.height), ResizeStep::kConverted);
      EXPECT_EQ(SourceLoadsCounted::loads, 0) << c.width;
    }
    {
      // The plain passes, as on a processor without SSE2: the same picture.
      WindowsApi noSse2 = {};
      noSse2.IsProcessorFeaturePresent = [](DWORD) -> BOOL { return FALSE; };
      UseWindows(&noSse2);
      EXPECT_EQ(ResizeImageFile(folder / "source.jpg", folder / "plain.bmp", c.width, c.height), ResizeStep::kConverted);
      UseWindows(nullptr);
      EXPECT_EQ(ReadBytes(folder / "plain.bmp"), ReadBytes(folder / "read.bmp")) << c.width;
    }
    {
      ReadersRefused refused;
      ASSERT_EQ(ResizeImageFile(folder / "source.jpg", folder / "gdiplus.bmp", c.width, c.height),
                ResizeStep::kConverted);
    }
    const double difference = MeanDifference(folder / "read.bmp", folder / "gdiplus.bmp");
    // Above 0: the decoders differ, so the plug-in did read it; within 2 levels: the same picture.
    EXPECT_GT(difference, 0) << c.width;
    EXPECT_LE(difference, 1.2) << c.width << " " << c.hSampling << c.vSampling;
    std::printf("JPEG to %dx%d (%d%d): %.2f levels from GDI+'s decode\n", c.width, c.height,
                c.hSampling, c.vSampling, difference);
  }
}

// What the reader refuses no other decoder is given: a cut file, or one without its end marker,
// fails, leaving nothing (as Wine's GDI+ failed them); stray bytes before the end marker keep the
// reader's picture; a file of too many scans is hostile; a JPEG too large for GDI+ to hold
// decoded converts. Each is measured by its header.
TEST(JpegSource, RefusedFilesGoToNoOtherDecoderAndHugeOnesConvert) {
  ScratchFolder folder;
  ASSERT_TRUE(EncodeJpegFile(folder / "whole.jpg", {640, 480, 3, 2, 2, false, false, 0}, Photo));
  ASSERT_TRUE(EncodeJpegFile(folder / "many.jpg", {64, 48, 1, 1, 1, true, false, 0, 2}, Photo));
  ASSERT_TRUE(EncodeJpegFile(folder / "progressive.jpg", {64, 48, 1, 1, 1, true, false, 0}, Photo));
  ASSERT_EQ(ResizeImageFile(folder / "whole.jpg", folder / "whole.bmp", 64, 48), ResizeStep::kConverted);
  const std::vector<uint8_t> whole = ReadBytes(folder / "whole.jpg");
  std::vector<uint8_t> stray(whole.begin(), whole.end() - 2);
  stray.insert(stray.end(), 100, 0x55);
  stray.insert(stray.end(), {0xFF, 0xD9});
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    ResizeStep step;
    float width;
  } cases[] = {
      {"cut.jpg", {whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)}, ResizeStep::kSourceNotLoaded, 640},
      {"no-end.jpg", {whole.begin(), whole.end() - 2}, ResizeStep::kSourceNotLoaded, 640},
      {"stray.jpg", stray, ResizeStep::kConverted, 640},
      {"scans.jpg", ReadBytes(folder / "many.jpg"), ResizeStep::kSourceRefused, 64},
      {"repeated.jpg", LastScanRepeated(ReadBytes(folder / "progressive.jpg"), 1000), ResizeStep::kSourceNotLoaded, 64},
      {"no-frame.jpg", {whole.begin(), whole.begin() + 20}, ResizeStep::kSourceNotLoaded, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBytes(folder / c.name, c.bytes));
    EXPECT_EQ(ResizeImageFile(folder / c.name, folder / "out.bmp", 64, 48), c.step) << c.name;
    const bool converts = c.step == ResizeStep::kConverted;
    EXPECT_EQ(MeasureImageFile(folder / c.name).width, c.width) << c.name;
    if (converts) {
      EXPECT_EQ(ReadBytes(folder / "out.bmp"), ReadBytes(folder / "whole.bmp")) << c.name;
    }
    std::remove((folder / "out.bmp").c_str());
    std::remove((folder / c.name).c_str());
  }
  // One stray byte before the frame header: measured from the header, as libjpeg steps over it,
  // not by a decode.
  std::vector<uint8_t> strayFrame = whole;
  for (size_t at = 2; at + 1 < strayFrame.size(); ++at) {
    if (strayFrame[at] == 0xFF && strayFrame[at + 1] == 0xC0) {
      strayFrame.insert(strayFrame.begin() + static_cast<long>(at), 0x00);
      break;
    }
  }
  ASSERT_TRUE(WriteBytes(folder / "source.jpg", strayFrame));
  {
    SourceLoadsCounted counted;
    EXPECT_EQ(MeasureImageFile(folder / "source.jpg").width, 640);
    EXPECT_EQ(SourceLoadsCounted::loads, 0);
  }
  std::remove((folder / "source.jpg").c_str());
  std::remove((folder / "many.jpg").c_str());
  std::remove((folder / "progressive.jpg").c_str());
  std::remove((folder / "whole.bmp").c_str());
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"whole.jpg"}));

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
// A little-endian grey TIFF of one strip: the header, one IFD, then the strip's bytes given.
std::vector<uint8_t> GreyTiff(uint32_t width, uint32_t height, uint32_t stripAt, uint32_t stripBytes,
                              const std::vector<uint8_t>& strip) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
  auto put = [&b](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  const uint32_t entries[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                 {273, 4, stripAt}, {277, 3, 1}, {278, 4, height}, {279, 4, stripBytes}};
  for (const auto& e : entries) put(e[0], 2), put(e[1], 2), put(1, 4), put(e[2], 4);
  put(0, 4);
  b.insert(b.end(), strip.begin(), strip.end());
  return b;
}

// TIFF sources read by the plug-in, never by GDI+, and each measured by its header: one its reader
// refuses measures 0 by 0.
TEST(TiffSource, HostileAndDamagedFilesAndMetricsFromTheHeader) {
  ScratchFolder folder;
  std::vector<uint8_t> pixels(64 * 48);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  const uint32_t at = 8 + 2 + 9 * 12 + 4;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    ResizeStep step;
    float width;
  } cases[] = {
      {"whole", GreyTiff(64, 48, at, 64 * 48, pixels), ResizeStep::kConverted, 64},
      {"strip past the file's end", GreyTiff(64, 48, 1u << 30, 64 * 48, pixels), ResizeStep::kSourceRefused, 0},
      {"100000 by 100000 in 1 KB", GreyTiff(100000, 100000, at, 1000, std::vector<uint8_t>(1000, 1)), ResizeStep::kSourceRefused, 0},
  };
  for (const auto& c : cases) {
    SourceLoadsCounted counted;
    // A file of its own each: Wine's GDI+ keeps a TIFF it failed to load open.
    const std::string source = folder / ("source-" + std::string(c.what) + ".tif");
    ASSERT_TRUE(WriteBytes(source, c.bytes)) << c.what;
    EXPECT_EQ(ResizeImageFile(source, folder / "out.png", 32, 24), c.step) << c.what;
    EXPECT_EQ(MeasureImageFile(source).width, c.width) << c.what;
    EXPECT_EQ(SourceLoadsCounted::loads, 0) << c.what;
  }
}

// PNG sources of every colour type, read by the plug-in, give the picture GDI+'s decode gives,
// reduced and copied at the same size (which keeps straight alpha exact).
TEST(PngSource, EveryColourTypeGivesGdiplusDecodesPicture) {
  ScratchFolder folder;
  const PixelSource pattern = [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 5), static_cast<uint8_t>(x * y),
                static_cast<uint8_t>(x * 3 + y * 2 + 40)};
  };
  std::vector<Rgba> palette;
  for (int i = 0; i < 16; ++i) palette.push_back({static_cast<uint8_t>(i * 16), 90, static_cast<uint8_t>(255 - i * 9), static_cast<uint8_t>(i * 17)});
  PngImage keyed = {67, 45, 2, 8, pattern, {}, {}};
  keyed.keyed = true;
  keyed.key = pattern(3, 3);
  const PngImage images[] = {
      {67, 45, 2, 8, pattern, {}, {}},
      {67, 45, 6, 8, pattern, {}, {}},
      {67, 45, 0, 16, pattern, {}, {}},
      {67, 45, 4, 8, pattern, {}, {}},
      {67, 45, 3, 4, pattern, palette, [](int x, int y) { return (x / 3 + y) % 16; }},
      keyed,
  };
  for (const PngImage& image : images) {
    ASSERT_TRUE(WritePng(folder / "source.png", image));
    for (const int width : {20, 67}) {
      const int height = width == 67 ? 45 : 15;
      const std::string trace = std::to_string(image.colourType) + "/" + std::to_string(image.bitDepth) +
                                (image.keyed ? " keyed" : "") + " to " + std::to_string(width);
      {
        SourceLoadsCounted counted;
        ASSERT_EQ(ResizeImageFile(folder / "source.png", folder / "read.bmp", width, height), ResizeStep::kConverted) << trace;
        EXPECT_EQ(SourceLoadsCounted::loads, 0) << trace;
      }
      {
        // libpng's plain row filters and the plain passes, as on a processor without SSE2.
        WindowsApi noSse2 = {};
        noSse2.IsProcessorFeaturePresent = [](DWORD) -> BOOL { return FALSE; };
        UseWindows(&noSse2);
        EXPECT_EQ(ResizeImageFile(folder / "source.png", folder / "plain.bmp", width, height), ResizeStep::kConverted);
        UseWindows(nullptr);
        EXPECT_EQ(ReadBytes(folder / "plain.bmp"), ReadBytes(folder / "read.bmp")) << trace;
      }
      {
        ReadersRefused refused;
        ASSERT_EQ(ResizeImageFile(folder / "source.png", folder / "gdiplus.bmp", width, height), ResizeStep::kConverted) << trace;
      }
      // Exactly, but for straight colours from premultiplied ones, which GDI+ rounds otherwise.
      EXPECT_LE(LargestDifference(folder / "read.bmp", folder / "gdiplus.bmp"), image.colourType >= 4 || image.keyed || image.colourType == 3 ? 1 : 0) << trace;
    }
  }
  // An ancillary chunk's CRC wrong, after the pixels: the chunk is dropped, the picture whole.
  std::vector<uint8_t> damagedTail = EncodePng(images[0]);
  damagedTail.insert(damagedTail.end() - 12, {0, 0, 0, 1, 't', 'e', 'S', 't', 0, 1, 2, 3, 4});
  ASSERT_TRUE(WriteBytes(folder / "source.png", damagedTail));
  EXPECT_EQ(ResizeImageFile(folder / "source.png", folder / "out.png", 20, 15), ResizeStep::kConverted);
}
// No corpus file of a format the plug-in reads (JPEG, PNG, BMP, GIF, TIFF, WebP, by its first
// bytes) is given to GDI+, whatever becomes of it.
TEST(CorpusSources, NoFileOfAFormatThePluginReadsReachesGdiplus) {
  SKIP_WITHOUT_CORPUS(corpus);
  std::vector<std::string> files;
  ListFiles(corpus, &files, 1 << 20);
  ScratchFolder folder;
  int tried = 0, loaded = 0;
  for (const std::string& file : files) {
    const std::vector<uint8_t> head = ReadBytes(file);
    const std::string format = ReadImageHeader(head).format;
    const bool webp = head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WEBP", 4) == 0;
    if (format.empty() && !webp) continue;
    SourceLoadsCounted counted(L"");
    ResizeImageFile(file, folder / "out.png", 16, 12);
    ++tried;
    loaded += SourceLoadsCounted::loads;
    EXPECT_EQ(SourceLoadsCounted::loads, 0) << file;
  }
  std::printf("corpus files of the plug-in's formats: %d, given to GDI+: %d\n", tried, loaded);
}

// The corpus's BMPs, GIFs and TIFFs read by the plug-in give GDI+'s picture of them, copied at their own
// size (a GIF's where its first image covers its screen: Wine's GDI+ gives the image alone).
// Where Wine's GDI+ reads a BMP as Windows' does not (a 32-bit BMP's fourth byte as alpha, RLE
// pixels no code reaches as transparent), the reader's picture is that of the file's uncompressed
// twin in the suite instead.
TEST(BmpAndGifSources, CorpusFilesGiveGdiplusDecodesPicture) {
  const std::map<std::string, std::string> twins = {
      {"pal4rle.bmp", "pal4.bmp"}, {"pal8rle.bmp", "pal8.bmp"}, {"rgb32.bmp", "rgb24.bmp"},
      {"rgb32fakealpha.bmp", "rgb24.bmp"}, {"pal4rletrns.bmp", "pal4.bmp"}, {"pal8rletrns.bmp", "pal8.bmp"}};
  SKIP_WITHOUT_CORPUS(corpus);
  std::vector<std::string> files;
  ListFiles(corpus, &files, 1 << 20);
  ScratchFolder folder;
  for (const char* extension : {".bmp", ".gif", ".tif", "tiff"}) {
  int same = 0, gdiplusOnly = 0, neither = 0, readerOnly = 0;
  for (const std::string& file : files) {
    if (file.size() < 4 || file.substr(file.size() - 4) != extension) continue;
    const ImageHeader header = ReadImageHeader(ReadBytes(file));
    if (header.width <= 0 || header.height == 0) continue;
    if (header.format == "GIF" && (header.frameWidth != header.width || header.frameHeight != header.height)) continue;
    const int height = std::abs(header.height);
    std::remove((folder / "read.bmp").c_str());
    std::remove((folder / "gdiplus.bmp").c_str());
    const ResizeStep read = ResizeImageFile(file, folder / "read.bmp", header.width, height);
    if (read == ResizeStep::kSourceRefused) {  // hostile: GDI+ is given it in no case
      ++neither;
      continue;
    }
    ResizeStep decoded;
    const std::string name = file.substr(file.find_last_of("\\/") + 1);
    const auto twin = twins.find(name);
    // A 16-bit file against the suite's own rendering of it (its html folder's PNG, read by the PNG
    // reader): Wine widens 5 bits otherwise than by repeating them.
    const std::string rendered = corpus + "\\bmp\\html\\" + name.substr(0, name.size() - 4) + ".png";
    const bool sixteen = name.find("rgb16") == 0 && !ReadBytes(rendered).empty();
    if (sixteen) {
      decoded = ResizeImageFile(rendered, folder / "gdiplus.bmp", header.width, height);
    } else {
      ReadersRefused refused;
      const std::string reference = twin == twins.end() ? file : corpus + "\\bmp\\g\\" + twin->second;
      decoded = ResizeImageFile(reference, folder / "gdiplus.bmp", header.width, height);
    }
    if (read != ResizeStep::kConverted || decoded != ResizeStep::kConverted) {
      ++(read == ResizeStep::kConverted ? readerOnly : decoded == ResizeStep::kConverted ? gdiplusOnly : neither);
      continue;
    }
    const int largest = LargestDifference(folder / "read.bmp", folder / "gdiplus.bmp");
    // Not compared: RLE files whose codes leave pixels unreached (black here, transparent under
    // Wine; the hand-made BMPs pin them), 16-bit files without a rendering of the suite's, and indices
    // past the palette (black here), big-endian 16-bit TIFFs (Wine's decoder reads their samples otherwise)
    // and damaged TIFFs that libtiff decodes as far as they go.
    if (name.find("rletrns") != std::string::npos || name == "badrle.bmp" || name.find("hopper_rle8") == 0 ||
        name == "mmap_error.bmp" || (name.find("rgb16") == 0 && !sixteen) || name == "pal8badindex.bmp" ||
        name.find("16bit.MM") == 0 || name.find("crash-") == 0) {
      continue;
    }
    EXPECT_TRUE(largest >= 0 && largest <= 1) << file << ": " << largest;
    same += largest >= 0 && largest <= 1;
  }
  std::printf("%s corpus: %d the same as GDI+'s, %d read by GDI+ alone, %d by the reader alone, %d by neither\n",
              extension, same, gdiplusOnly, readerOnly, neither);
  }
}
}  // namespace
