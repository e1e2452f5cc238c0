// AVIF sources made by the machine's encoder (avifenc, libaom) and committed beside their pictures
// as libavif's own decoder gives them (avifdec, bilinear chroma, 8 bits): the reader's rows against
// those, what the boxes carry, and files cut short or lying in their boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>

#include "image_codec.h"
#include "imaging/codecs/avif_reader.h"
#include "imaging/image_metrics.h"
#include "memory_bytes.h"
#include "scratch_folder.h"

namespace {
typedef std::vector<uint8_t> Bytes;
const std::string kFolder = std::string(QUINTARA_SOURCE_DIR) + "/tests/imaging/codecs/avif/";

// libpng's own decode of a PNG, as BGR or BGRA.
Bytes PngPixels(const std::string& path, bool alpha) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

ReadOutcome Decode(const Bytes& file, Description* picture, Bytes* pixels) {
  CapturedRows rows;
  const ReadOutcome read = ReadWhole<AvifDecoder, OpenAvif, ReadAvif>(file, picture, &rows);
  *pixels = rows.bytes;
  return read;
}

TEST(AvifReader, EachKindGivesLibavifsPicture) {
  const struct {
    const char* name;
    int32_t width, height;
    Channels channels;
    int orientation;
  } cases[] = {
      {"yuv420", 64, 48, Channels::kColour, 1},          {"yuv444-10", 64, 48, Channels::kColour, 1},
      {"yuv422-12-limited", 64, 48, Channels::kColour, 1}, {"grey", 64, 48, Channels::kGrey, 1},
      {"alpha", 64, 48, Channels::kColourAlpha, 1},      {"premultiplied", 64, 48, Channels::kColourAlpha, 1},
      {"grid", 128, 128, Channels::kColour, 1},          {"irot", 64, 48, Channels::kColour, 8},
      {"imir", 64, 48, Channels::kColour, 2},            {"sequence", 64, 48, Channels::kColourAlpha, 1},
  };
  for (const auto& c : cases) {
    const Bytes file = ReadBytes(kFolder + c.name + ".avif");
    Description picture;
    Bytes pixels;
    ASSERT_EQ(Decode(file, &picture, &pixels), ReadOutcome::kRead) << c.name;
    EXPECT_EQ(picture.width, c.width) << c.name;
    EXPECT_EQ(picture.height, c.height) << c.name;
    EXPECT_EQ(picture.channels, c.channels) << c.name;
    EXPECT_EQ(picture.carried.orientation, c.orientation) << c.name;
    const Bytes expected = PngPixels(kFolder + c.name + ".png", picture.alpha);
    ASSERT_EQ(pixels.size(), expected.size()) << c.name;
    // Colour as it shows over black: a level of a premultiplied colour is many levels of a
    // nearly transparent straight one.
    int largest = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
      const int a = picture.alpha && i % 4 != 3 ? expected[i | 3] : 255;
      largest = std::max(largest, std::abs(pixels[i] * a - expected[i] * a) / 255);
    }
    EXPECT_LE(largest, 2) << c.name;
    const ImageMeasure measured = MeasureImageFile(kFolder + c.name + ".avif");
    EXPECT_EQ(measured.width, c.width) << c.name;
    EXPECT_EQ(measured.height, c.height) << c.name;
  }
}

// Bytes cut short or lying in a box: refused at the boxes, before any allocation they claim.
TEST(AvifReader, CutAndLyingBoxesAreRefused) {
  const Bytes file = ReadBytes(kFolder + "alpha.avif");
  ASSERT_FALSE(file.empty());
  // The byte just after the first `code` in the file, and the file with the 4 bytes there set.
  const auto after = [&file](const char* code) {
    return static_cast<size_t>(std::search(file.begin(), file.end(), code, code + 4) - file.begin()) + 4;
  };
  const auto patched = [&file](size_t at, uint32_t value) {
    Bytes b = file;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return b;
  };
  const size_t meta = after("meta"), mdat = after("mdat");
  const struct {
    const char* what;
    Bytes bytes;
    ReadOutcome outcome;
  } cases[] = {
      {"cut inside the file type box", Bytes(file.begin(), file.begin() + 12), ReadOutcome::kOtherFormat},
      {"cut inside the meta box", Bytes(file.begin(), file.begin() + static_cast<long>(meta + 40)), ReadOutcome::kRefused},
      {"cut inside the pixels", Bytes(file.begin(), file.begin() + static_cast<long>(mdat + 100)), ReadOutcome::kRefused},
      {"a meta box past the file's end", patched(meta - 8, 0x7FFFFFF0), ReadOutcome::kRefused},
      {"a picture 0 wide", patched(after("ispe") + 4, 0), ReadOutcome::kRefused},
      {"an item location past the file's end", patched(after("iloc") + 14, 0x7FFF0000), ReadOutcome::kRefused},
  };
  for (const auto& c : cases) {
    Description picture;
    Bytes pixels;
    EXPECT_EQ(Decode(c.bytes, &picture, &pixels), c.outcome) << c.what;
  }
  ScratchFolder folder;
  ASSERT_TRUE(WriteBytes(folder / "cut.avif", cases[2].bytes));
  EXPECT_EQ(MeasureImageFile(folder / "cut.avif").width, 0);
}
}  // namespace
