// The GIF writer's files as giflib's own decoder reads them. Built natively under the sanitizers
// (the Windows build links giflib's encoder alone).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gif_lib.h>

#include "imaging/codecs/gif_writer.h"
#include "memory_bytes.h"
#include "imaging/pixels/palette.h"

namespace {
// The writer's GIF as giflib's own decoder reads it, over sizes and palettes: every index back,
// the palette back (padded to a power of two), GIF89a, and a graphic control extension marking
// the transparent entry exactly where one was asked for.
TEST(GifWriter, GiflibReadsBackEveryIndexAndEntry) {
  const struct {
    int width, height, entries, transparent;
  } cases[] = {{1, 1, 1, -1}, {1, 1, 2, 0}, {1, 37, 2, 1},  {37, 1, 16, -1},
               {13, 7, 16, 15}, {61, 45, 256, -1}, {61, 45, 256, 200}, {300, 2, 3, 2}};
  for (const auto& c : cases) {
    std::vector<uint32_t> entries;
    for (int i = 0; i < c.entries; ++i) entries.push_back(i == c.transparent ? kTransparentEntry : 0xFF000000u | static_cast<uint32_t>(i * 0x010307));
    std::vector<uint8_t> indices(static_cast<size_t>(c.width) * c.height);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>((i * 7 + i / 3) % static_cast<size_t>(c.entries));
    std::vector<uint8_t> file;
    const ByteSink sink = AppendingTo(&file);
    ASSERT_TRUE(WriteGif(sink, c.width, c.height, entries, c.transparent, indices.data(), c.width));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
    struct Reading {
      const std::vector<uint8_t>* bytes;
      size_t at;
    } reading = {&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reading, [](GifFileType* g, GifByteType* buffer, int n) {
      auto* r = static_cast<Reading*>(g->UserData);
      const size_t k = std::min(static_cast<size_t>(n), r->bytes->size() - r->at);
      std::copy(r->bytes->begin() + static_cast<long>(r->at), r->bytes->begin() + static_cast<long>(r->at + k), buffer);
      r->at += k;
      return static_cast<int>(k);
    }, &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << c.width << "x" << c.height;
    ASSERT_EQ(gif->ImageCount, 1);
    EXPECT_EQ(gif->SWidth, c.width);
    EXPECT_EQ(gif->SHeight, c.height);
    const SavedImage& image = gif->SavedImages[0];
    EXPECT_EQ(std::vector<uint8_t>(image.RasterBits, image.RasterBits + indices.size()), indices);
    ASSERT_NE(gif->SColorMap, nullptr);
    int size = 2;
    while (size < c.entries) size *= 2;
    EXPECT_EQ(gif->SColorMap->ColorCount, size);
    for (int i = 0; i < c.entries; ++i) {
      const GifColorType colour = gif->SColorMap->Colors[i];
      EXPECT_EQ(0xFF000000u | static_cast<uint32_t>(colour.Red) << 16 | colour.Green << 8 | colour.Blue,
                entries[i] | 0xFF000000u) << i;
    }
    GraphicsControlBlock control = {};
    const bool marked = DGifSavedExtensionToGCB(gif, 0, &control) == GIF_OK;
    EXPECT_EQ(marked, c.transparent >= 0);
    if (marked) {
      EXPECT_EQ(control.TransparentColor, c.transparent);
    }
    DGifCloseFile(gif, &error);
  }
}
}  // namespace
