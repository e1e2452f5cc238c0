// BMP files written by the plug-in itself, as GDI+'s encoder writes them (measured on Wine's): a
// BITMAPINFOHEADER of 40 bytes, bottom-up rows padded to 4 bytes, no compression, 96 dots per inch
// (3780 per metre); 24 bits where the picture has no alpha, 32 (blue, green, red, straight alpha)
// where it has. Platform-free: the caller places the bytes.
#pragma once

#include <cstdint>
#include <vector>

// The file header and the info header, 54 bytes.
std::vector<uint8_t> BmpFileHeader(int32_t width, int32_t height, int bits);

// The bytes of a row, and where the row `y` (0 the top one) begins in the file.
int64_t BmpRowBytes(int32_t width, int bits);
int64_t BmpRowOffset(int32_t width, int32_t height, int bits, int32_t y);
