// Image files written and read byte by byte, without GDI+: test inputs of exactly known pixels
// and formats, and an independent reading of what the plug-in wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgba {
  uint8_t r, g, b, a;
  bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
typedef std::function<Rgba(int x, int y)> PixelSource;

std::vector<uint8_t> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Uncompressed BMP, bottom-up: 24-bit, or 1-bit with a two-colour palette (colours 0 and 1 of
// `palette`, the pixel function answering palette entries).
bool WriteBmp24(const std::string& path, int width, int height, const PixelSource& pixel);
bool WriteBmp1(const std::string& path, int width, int height, const Rgba palette[2],
               const std::function<int(int x, int y)>& index);

// PNG with stored (uncompressed) deflate blocks, of any colour type and depth: 0 (grey, from the
// pixel's r, 1 to 16 bits: the top bits), 2 (RGB), 4 (grey and alpha), 6 (RGBA), each of 8 or 16
// bits (each byte written twice); 3
// (palette, 1 to 8 bits) takes palette indices from index(), and a tRNS chunk where an entry is
// not opaque. `key`, where set, is the tRNS colour of grey or RGB (its r for grey, at the bit
// depth).
struct PngImage {
  int width, height, colourType, bitDepth;
  PixelSource pixel;
  std::vector<Rgba> palette;
  std::function<int(int x, int y)> index;
  bool keyed = false;
  Rgba key = {0, 0, 0, 0};
  bool interlaced = false;  // Adam7
};
std::vector<uint8_t> EncodePng(const PngImage& image);
bool WritePng(const std::string& path, const PngImage& image);
// A PNG chunk of `type` holding `data`, its CRC right, appended to `out`.
void PngChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data);
// The PNG with the chunks put right after its IHDR chunk (`type` and data each), or, for "IHDR",
// its IHDR's first bytes replaced by the data; CRCs made right.
std::vector<uint8_t> WithPngChunks(std::vector<uint8_t> png,
                                   const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks);

// What a file's own header says.
struct ImageHeader {
  std::string format;  // "BMP", "GIF", "JPEG", "PNG", "TIFF", "WEBP", or "" when none of these
  int width = 0, height = 0;
  int detail = 0;      // PNG colour type, BMP bits per pixel, JPEG components
  // GIF: the first frame's own size, which Wine's decoder reports instead of the screen's.
  int frameWidth = 0, frameHeight = 0;
};
ImageHeader ReadImageHeader(const std::vector<uint8_t>& bytes);

// The pixels of an uncompressed 24- or 32-bit BMP, top row first; empty for anything else.
std::vector<Rgba> ReadBmpPixels(const std::vector<uint8_t>& bytes, int* width, int* height);
