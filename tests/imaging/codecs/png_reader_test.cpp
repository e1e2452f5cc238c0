// The PNG reader on files made here byte by byte, of every colour type and depth, against the
// pixels they were made of; on the shared corpus's PNGs against libpng's own full decode; and
// every file it must refuse refused. Built natively under the sanitizers, which also catch a leak
// on any path, and for Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "image_codec.h"
#include "memory_bytes.h"
#include "imaging/codecs/crc_fold.h"
#include "imaging/codecs/png_header.h"
#include "imaging/codecs/png_reader.h"
#include "imaging/codecs/png_writer.h"

namespace {
struct Decoded {
  Description header;
  std::vector<uint8_t> pixels;
};
ReadOutcome Read(const std::vector<uint8_t>& bytes, Decoded* out, long failAt = -1, const SecondThread* beside = nullptr) {
  MemoryBytes memory = {bytes.data(), bytes.size(), failAt};
  *out = Decoded{Description(), {}};
  PngDecoder decoder;
  const ReadOutcome opened = OpenPng(BytesOf(&memory), &decoder, &out->header);
  if (opened != ReadOutcome::kRead) return opened;
  const DecodedRows rows = {
      [](void* c, int32_t w, int32_t h) {
        auto* d = static_cast<Decoded*>(c);
        return w == d->header.width && h == d->header.height;
      },
      [](void* c, const uint8_t* row) {
        auto* d = static_cast<Decoded*>(c);
        d->pixels.insert(d->pixels.end(), row, row + static_cast<size_t>(d->header.width) * (d->header.alpha ? 4 : 3));
        return true;
      },
      out};
  return ReadPng(decoder.get(), rows, beside);
}

Rgba Pattern(int x, int y) {
  return Rgba{static_cast<uint8_t>(x * 37 + y * 11), static_cast<uint8_t>(x * 5 + y * 29),
              static_cast<uint8_t>(x * y * 3 + 7), static_cast<uint8_t>(x * 13 + y * 7)};
}

const std::vector<Rgba> kPalette = {{250, 0, 0, 255}, {0, 200, 0, 128}, {0, 0, 150, 0}, {90, 90, 90, 255}};

// The pixel a file made by EncodePng holds, as the reader must deliver it: BGR(A), 8 bits.
Rgba Expected(const PngImage& image, int x, int y) {
  if (image.colourType == 3) {
    const Rgba c = kPalette[image.index(x, y)];
    return image.palette == kPalette ? c : Rgba{c.r, c.g, c.b, 255};
  }
  Rgba p = image.pixel(x, y);
  const int depth = image.bitDepth;
  if (image.colourType == 0 || image.colourType == 4) {
    const int top = depth < 8 ? p.r >> (8 - depth) : p.r;
    const int grey = depth < 8 ? top * 255 / ((1 << depth) - 1) : p.r;
    bool transparent = image.keyed && top == (depth < 8 ? image.key.r >> (8 - depth) : image.key.r);
    return Rgba{static_cast<uint8_t>(grey), static_cast<uint8_t>(grey), static_cast<uint8_t>(grey),
                static_cast<uint8_t>(image.colourType == 4 ? p.a : transparent ? 0 : 255)};
  }
  const bool transparent = image.keyed && p.r == image.key.r && p.g == image.key.g && p.b == image.key.b;
  return Rgba{p.r, p.g, p.b, static_cast<uint8_t>(image.colourType == 6 ? p.a : transparent ? 0 : 255)};
}

PngImage Image(int width, int height, int colourType, int bitDepth) {
  PngImage image = {width, height, colourType, bitDepth, Pattern, {}, {}};
  if (colourType == 3) {
    image.palette = kPalette;
    for (Rgba& c : image.palette) c.a = 255;
    image.index = [](int x, int y) { return (x + y * 3) % 4; };
  }
  return image;
}

PngImage Keyed(PngImage image, Rgba key) {
  image.keyed = true;
  image.key = key;
  return image;
}

PngImage Interlaced(PngImage image) {
  image.interlaced = true;
  return image;
}

PngImage Translucent(PngImage image) {
  image.palette = kPalette;
  return image;
}

TEST(PngReader, EveryColourTypeAndDepthGivesItsPixels) {
  const struct {
    const char* what;
    PngImage image;
    bool alpha;
  } cases[] = {
      {"grey 1", Image(13, 7, 0, 1), false},
      {"grey 2", Image(13, 7, 0, 2), false},
      {"grey 4", Image(13, 7, 0, 4), false},
      {"grey 8", Image(13, 7, 0, 8), false},
      {"grey 16", Image(13, 7, 0, 16), false},
      {"grey 8 keyed", Keyed(Image(13, 7, 0, 8), Pattern(2, 1)), true},
      {"grey 4 keyed", Keyed(Image(13, 7, 0, 4), Pattern(2, 1)), true},
      {"grey and alpha 8", Image(13, 7, 4, 8), true},
      {"grey and alpha 16", Image(13, 7, 4, 16), true},
      {"RGB 8", Image(13, 7, 2, 8), false},
      {"RGB 16", Image(13, 7, 2, 16), false},
      {"RGB 8 keyed", Keyed(Image(13, 7, 2, 8), Pattern(3, 2)), true},
      {"RGBA 8", Image(13, 7, 6, 8), true},
      {"RGBA 16", Image(13, 7, 6, 16), true},
      {"palette 1", [] { PngImage i = Image(13, 7, 3, 1); i.index = [](int x, int y) { return (x + y) % 2; }; return i; }(), false},
      {"palette 2", Image(13, 7, 3, 2), false},
      {"palette 4", Image(13, 7, 3, 4), false},
      {"palette 8", Image(13, 7, 3, 8), false},
      {"palette 8 with tRNS", Translucent(Image(13, 7, 3, 8)), true},
      {"1 by 1", Image(1, 1, 2, 8), false},
      {"1 by 300", Image(1, 300, 6, 8), true},
      // Adam7: held whole while its passes come; every pass of a small picture, and the empty ones.
      {"interlaced RGB 8", Interlaced(Image(13, 7, 2, 8)), false},
      {"interlaced palette 2", Interlaced(Image(13, 7, 3, 2)), false},
      {"interlaced grey and alpha 16", Interlaced(Image(13, 7, 4, 16)), true},
      {"interlaced 3 by 2", Interlaced(Image(3, 2, 6, 8)), true},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = EncodePng(c.image);
    Decoded got;
    ASSERT_EQ(Read(bytes, &got), ReadOutcome::kRead) << c.what;
    EXPECT_EQ(got.header.width, c.image.width) << c.what;
    EXPECT_EQ(got.header.alpha, c.alpha) << c.what;
    int32_t w = 0, h = 0;
    EXPECT_TRUE(PngHeaderSize(bytes.data(), bytes.size(), &w, &h) && w == c.image.width && h == c.image.height) << c.what;
    const int channels = c.alpha ? 4 : 3;
    ASSERT_EQ(got.pixels.size(), static_cast<size_t>(c.image.width) * c.image.height * channels) << c.what;
    for (int y = 0; y < c.image.height; ++y) {
      for (int x = 0; x < c.image.width; ++x) {
        const Rgba want = Expected(c.image, x, y);
        const uint8_t* p = &got.pixels[(static_cast<size_t>(y) * c.image.width + x) * channels];
        const Rgba have = {p[2], p[1], p[0], c.alpha ? p[3] : uint8_t{255}};
        ASSERT_TRUE(have == Rgba({want.r, want.g, want.b, c.alpha ? want.a : uint8_t{255}}))
            << c.what << " at " << x << "," << y << ": " << int(have.r) << " " << int(have.g) << " "
            << int(have.b) << " " << int(have.a) << " for " << int(want.r) << " " << int(want.g) << " "
            << int(want.b) << " " << int(want.a);
      }
    }
  }
}

TEST(PngReader, RefusesWhatItDoesNotTake) {
  const std::vector<uint8_t> good = EncodePng(Image(40, 30, 2, 8));
  auto cut = [&](size_t at) { return std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(at)); };
  auto changed = [&](size_t at, uint8_t value, bool fixCrc) {
    std::vector<uint8_t> bytes = good;
    bytes[at] = value;
    if (fixCrc) {  // the IDAT chunk's CRC made right again, so that only zlib sees the damage
      const size_t chunk = 33, length = static_cast<size_t>(bytes[chunk] << 24 | bytes[chunk + 1] << 16 | bytes[chunk + 2] << 8 | bytes[chunk + 3]);
      uint32_t crc = ~0u;
      for (size_t i = chunk + 4; i < chunk + 8 + length; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
      }
      crc = ~crc;
      for (int k = 0; k < 4; ++k) bytes[chunk + 8 + length + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
    }
    return bytes;
  };
  // An unknown chunk before IHDR, which libpng alone would pass over.
  std::vector<uint8_t> early(good.begin(), good.begin() + 8);
  const uint8_t unknown[8] = {0, 0, 0, 0, 'a', 'b', 'C', 'd'};
  const uLong unknownCrc = crc32(0, unknown + 4, 4);
  early.insert(early.end(), unknown, unknown + 8);
  for (int k = 0; k < 4; ++k) early.push_back(static_cast<uint8_t>(unknownCrc >> (24 - 8 * k)));
  early.insert(early.end(), good.begin() + 8, good.end());
  // 1 KB declaring rows of 33554432 pixels: libpng would allocate them before reading a pixel.
  const std::vector<uint8_t> wide = WithPngChunks(good, {{"IHDR", {2, 0, 0, 0, 0, 0, 0, 2}}});
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    long failAt;
    ReadOutcome outcome;
    bool sized;  // its header alone still gives the size
  } cases[] = {
      {"empty", {}, -1, ReadOutcome::kOtherFormat, false},
      {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, -1, ReadOutcome::kOtherFormat, false},
      {"the signature alone", cut(8), -1, ReadOutcome::kRefused, false},
      {"cut inside IHDR", cut(20), -1, ReadOutcome::kRefused, false},
      {"cut after IHDR", cut(33), -1, ReadOutcome::kRefused, true},
      {"cut at half", cut(good.size() / 2), -1, ReadOutcome::kRefused, true},
      {"cut before IEND", cut(good.size() - 12), -1, ReadOutcome::kRefused, true},
      {"IHDR's CRC wrong", changed(29, 0xEE, false), -1, ReadOutcome::kRefused, false},
      {"a chunk before IHDR", early, -1, ReadOutcome::kRefused, false},
      {"IDAT's CRC wrong", changed(good.size() / 2, 0xEE, false), -1, ReadOutcome::kRefused, true},
      {"zlib stream damaged", changed(43, 0x00, true), -1, ReadOutcome::kRefused, true},
      // A pixel changed and the CRC made right: only zlib's Adler-32 sees it, which is not asked
      // (browsers do not ask it either); the CRCs guard the bytes.
      {"a pixel changed, CRC right", changed(50, 0x77, true), -1, ReadOutcome::kRead, true},
      {"rows past the cap", wide, -1, ReadOutcome::kHostile, true},
      {"a read that fails", good, 20, ReadOutcome::kRefused, true},
  };
  for (const auto& c : cases) {
    Decoded got;
    EXPECT_EQ(Read(c.bytes, &got, c.failAt), c.outcome) << c.what;
    int32_t w = 0, h = 0;
    EXPECT_EQ(PngHeaderSize(c.bytes.data(), c.bytes.size(), &w, &h), c.sized) << c.what;
  }
  Decoded whole;
  EXPECT_EQ(Read(good, &whole), ReadOutcome::kRead);  // the files above were made of a good one
  // 100 zTXt chunks of 7 MB of text each, inflated by no one.
  std::vector<uint8_t> text(7u << 20, 'a');
  uLongf packedSize = compressBound(static_cast<uLong>(text.size()));
  std::vector<uint8_t> zText = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
  zText.resize(zText.size() + packedSize);
  ASSERT_EQ(compress2(&zText[9], &packedSize, text.data(), static_cast<uLong>(text.size()), 9), Z_OK);
  zText.resize(9 + packedSize);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> texts(100, {"zTXt", zText});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Read(WithPngChunks(good, texts), &whole), ReadOutcome::kRead);
  std::printf("PNG of 100 zTXt chunks read in %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started).count()));
}

// The file with its pixel data deflated again (level 1) and cut into IDAT chunks of `size` bytes,
// CRCs right: `damage`, where given, changes the deflated bytes first; `more` goes after the last
// IDAT chunk; the chunk numbered `wrongCrc` (from 0) gets a wrong CRC.
std::vector<uint8_t> Redeflated(const std::vector<uint8_t>& png, size_t size, void (*damage)(std::vector<uint8_t>* z) = nullptr,
                                const std::vector<uint8_t>& more = {}, int wrongCrc = -1) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
  std::vector<uint8_t> z;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = static_cast<size_t>(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
    const auto data = png.begin() + static_cast<long>(at) + 8;
    const std::string type(png.begin() + static_cast<long>(at) + 4, data);
    if (type != "IDAT") chunks.push_back({type, {data, data + static_cast<long>(length)}});
    if (type == "IDAT") z.insert(z.end(), data, data + static_cast<long>(length));
    at += 12 + length;
  }
  std::vector<uint8_t> raw(static_cast<size_t>(16) << 20);
  uLongf rawSize = static_cast<uLongf>(raw.size());
  EXPECT_EQ(uncompress(raw.data(), &rawSize, z.data(), static_cast<uLong>(z.size())), Z_OK);
  uLongf packedSize = compressBound(rawSize);
  z.assign(packedSize, 0);
  EXPECT_EQ(compress2(z.data(), &packedSize, raw.data(), rawSize, 1), Z_OK);
  z.resize(packedSize);
  if (damage != nullptr) damage(&z);
  auto at = chunks.end() - 1;  // before IEND
  for (size_t from = 0; from < z.size(); from += size) {
    at = chunks.insert(at, {"IDAT", {z.begin() + static_cast<long>(from), z.begin() + static_cast<long>(std::min(z.size(), from + size))}}) + 1;
  }
  if (!more.empty()) chunks.insert(at, {"IDAT", more});
  std::vector<uint8_t> out(png.begin(), png.begin() + 8);
  for (size_t i = 0; i < chunks.size(); ++i) {
    PngChunk(out, chunks[i].first.c_str(), chunks[i].second);
    if (static_cast<int>(i) == wrongCrc) out.back() ^= 1;
  }
  return out;
}

// A large non-interlaced file's pixel data is inflated on a second thread: the rows and the answer
// of the read on one thread, whatever its IDAT chunks hold, however it is damaged, and where the
// stream is unusual (data after its end, which libpng passes over: the file is read again on one
// thread). The runs given to the second thread show which path ran.
TEST(PngReader, PixelDataInflatedOnASecondThreadGivesTheRowsOfOne) {
  const std::vector<uint8_t> stored = EncodePng(Image(1000, 700, 6, 16));  // 6 runs of inflated data
  const std::vector<uint8_t> good = Redeflated(stored, 8192);
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    long failAt;
    bool refuses;  // no thread to be had
    ReadOutcome read;
  } cases[] = {
      {"IDAT chunks of 8 KB", good, -1, false, ReadOutcome::kRead},
      {"one IDAT chunk", Redeflated(stored, 64u << 20), -1, false, ReadOutcome::kRead},
      {"no second thread", good, -1, true, ReadOutcome::kRead},
      {"a late IDAT chunk's CRC wrong", Redeflated(stored, 8192, nullptr, {}, 150), -1, false, ReadOutcome::kRefused},
      {"the deflated data damaged late", Redeflated(stored, 8192, [](std::vector<uint8_t>* z) {
         std::fill(z->end() - 3000, z->end() - 2000, uint8_t{0xFF});
       }), -1, false, ReadOutcome::kRefused},
      {"an IDAT chunk after the stream's end", Redeflated(stored, 8192, nullptr, {1, 2, 3}), -1, false, ReadOutcome::kRead},
      {"a read that fails in the pixel data", good, static_cast<long>(good.size() * 4 / 5), false, ReadOutcome::kRefused},
  };
  for (const auto& c : cases) {
    Decoded alone, split;
    EXPECT_EQ(Read(c.bytes, &alone, c.failAt), c.read) << c.what;
    TestThread thread;
    thread.refuses = c.refuses;
    const SecondThread second = Lend(&thread);
    EXPECT_EQ(Read(c.bytes, &split, c.failAt, &second), c.read) << c.what;
    EXPECT_EQ(thread.runs > 0, !c.refuses) << c.what;
    if (c.read == ReadOutcome::kRead) {
      EXPECT_TRUE(split.pixels == alone.pixels) << c.what;
    }
  }
}

// The IDAT chunks' CRC folded by carry-less multiplication: zlib's own CRC at every length around
// the folds' 16 and 64 bytes, from every alignment, after any CRC before. A wrong fold would pass
// the split's table above unseen: every chunk would fail its check and the file be read again.
TEST(PngReader, FoldedChunkCrcIsZlibs) {
  if (!CarrylessMultiplyPresent()) GTEST_SKIP() << "the processor has no PCLMULQDQ and SSE4.1";
  std::vector<uint8_t> bytes(4096 + 16);
  uint32_t seed = 1;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  for (size_t from : {0, 1, 7, 15}) {
    for (size_t size : {0, 15, 63, 64, 65, 79, 80, 127, 128, 129, 143, 1000, 4096}) {
      for (uint32_t before : {0u, 0xFFFFFFFFu, 0x1D2C3B4Au}) {
        EXPECT_EQ(ChunkCrc(before, bytes.data() + from, size, true),
                  static_cast<uint32_t>(crc32(before, bytes.data() + from, static_cast<uInt>(size))))
            << from << " " << size << " " << before;
      }
    }
  }
}

// libpng's own decode with the transforms a GDI+ source needs, BGR or BGRA.
std::vector<uint8_t> LibpngDecode(const std::string& path, bool alpha) {
  std::vector<uint8_t> pixels;
  FILE* file = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                           [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_GRAY_TO_RGB |
                                PNG_TRANSFORM_BGR | (alpha ? 0 : PNG_TRANSFORM_STRIP_ALPHA), nullptr);
    const png_bytepp rows = png_get_rows(png, info);
    const size_t bytes = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) pixels.insert(pixels.end(), rows[y], rows[y] + bytes);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return pixels;
}

TEST(PngReader, CorpusFilesGiveLibpngsOwnRows) {
  const std::string folder = std::string(QUINTARA_SOURCE_DIR) + "/../shared/corpus";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) GTEST_SKIP() << "the shared image corpus (../shared/corpus) is absent";
  int read = 0, refused = 0;
  for (dirent* entry; (entry = readdir(dir)) != nullptr;) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".png") != 0) continue;
    const std::string path = folder + "/" + name;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) continue;
    std::vector<uint8_t> bytes;
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    if (bytes.size() > (8u << 20)) continue;
    Decoded got;
    const ReadOutcome outcome = Read(bytes, &got);
    if (outcome != ReadOutcome::kRead) {
      ++refused;
      continue;
    }
    ++read;
    EXPECT_EQ(got.pixels, LibpngDecode(path, got.header.alpha)) << name;
  }
  closedir(dir);
  std::printf("PNG reader: %d corpus files read, %d refused\n", read, refused);
  EXPECT_GT(read, 100);
}
// The writer's files as libpng decodes them, at several sizes, RGB and RGBA: the rows exactly,
// and the chunks GDI+'s encoder writes (IHDR, pHYs of 96 dpi, IDAT, IEND).
TEST(PngWriter, RoundTripsThroughLibpng) {
  for (const std::pair<int, int>& size : {std::pair<int, int>{1, 1}, {1, 9}, {17, 3}, {333, 101}, {1000001, 1}}) {
    for (const bool alpha : {false, true}) {
      const int w = size.first, h = size.second, channels = alpha ? 4 : 3;
      std::vector<uint8_t> bytes, rows;
      const ByteSink sink = AppendingTo(&bytes);
      PngEncoder encoder;
      ASSERT_TRUE(StartPng(sink, w, h, alpha ? Channels::kColourAlpha : Channels::kColour, Carried(), &encoder));
      for (int y = 0; y < h; ++y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < w; ++x) {
          const Rgba p = Pattern(x, y);
          row.insert(row.end(), {p.b, p.g, p.r});
          if (alpha) row.push_back(p.a);
        }
        ASSERT_TRUE(WritePngRow(encoder.get(), row.data()));
        rows.insert(rows.end(), row.begin(), row.end());
      }
      ASSERT_TRUE(FinishPng(encoder.get()));
      Decoded got;
      ASSERT_EQ(Read(bytes, &got), ReadOutcome::kRead) << w << "x" << h;
      EXPECT_EQ(got.header.alpha, alpha);
      EXPECT_EQ(got.pixels, rows) << w << "x" << h;
      EXPECT_EQ(bytes[25], alpha ? 6 : 2);  // IHDR's colour type
      const std::vector<uint8_t> phys = {0, 0, 0, 9, 'p', 'H', 'Y', 's', 0, 0, 0x0E, 0xC4, 0, 0, 0x0E, 0xC4, 1};
      EXPECT_TRUE(std::equal(phys.begin(), phys.end(), bytes.begin() + 33)) << w << "x" << h;
      EXPECT_EQ(channels * w * h, static_cast<int>(rows.size()));
    }
  }
}
}  // namespace
