// A palette of at most 256 colours made for one picture, and the picture in indices into it:
// what a GIF holds. Plain integer code over rows of pixels; platform-free.
//
// The palette is made by a variance-splitting median cut: the picture's colours, counted in
// bins of 6 bits per channel with their exact means, are split box by box, always the box whose
// colours stray most from their mean, along its widest channel, where the split leaves the
// least error. Unlike an octree, whose cuts sit at fixed powers of two, the cuts follow the
// picture, so a sky of close blues gets as many entries as it needs. A picture of 256 colours or
// fewer gets exactly its own colours.
#pragma once

#include <cstdint>
#include <vector>

// Rows of straight (not premultiplied) BGRA pixels, as a 32bppARGB lock hands them out.
struct PixelRows {
  const uint8_t* first;  // the top row
  int32_t stride;        // bytes from one row to the next
  int32_t width, height;
};

// Palette entries are 0xAARRGGBB. A picture with any pixel of alpha below half (128) gets one
// fully transparent entry, 0x00000000, which every such pixel maps to; every other entry is
// opaque and takes the straight colour of the pixels it stands for.
constexpr uint32_t kTransparentEntry = 0;

struct Palette {
  std::vector<uint32_t> entries;  // at most 256; never empty for a picture of 1 pixel or more
  bool exact;                     // every colour of the picture is an entry
};

// The index of the palette's transparent entry, or -1 where it has none.
int TransparentIndex(const Palette& palette);

// The picture's palette: its own colours when there are 256 or fewer (255 beside a transparent
// entry), else 256 entries made by the median cut.
Palette MakePalette(const PixelRows& picture);

// Writes each pixel's palette index, one byte per pixel, row y at out + y * outStride: with an
// exact palette, each pixel's own entry; else the nearest entry (squared distance, looked up
// for 6 bits of each channel), with three quarters of the error diffused to the neighbours yet
// to come (Floyd and Steinberg's weights), so that a smooth sky does not break into bands while
// the picture stays as close to the original as an undithered one.
void MapToPalette(const PixelRows& picture, const Palette& palette, uint8_t* out,
                  int32_t outStride);
