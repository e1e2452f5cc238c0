// What a PNG file's first chunk says, read by the plug-in itself: no codec library. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

// The signature and a whole IHDR chunk: the bytes a PNG's size needs.
constexpr size_t kPngHeaderBytes = 33;


// True where a row of `width` pixels of the colour type and bit depth fits, as the file holds it
// and as it is delivered (see RowFits).
bool PngRowFits(uint32_t width, int colourType, int bitDepth);

// The same of a header PngHeaderSize takes.
bool PngHeaderRowsFit(const uint8_t* bytes);

// True when the bytes begin with the PNG signature.
bool StartsAsPng(const uint8_t* bytes, size_t size);

// The picture's size from the signature and the IHDR chunk that must follow it: true where both
// are whole and valid (the chunk's length 13 and its CRC, sides of 1 to 2^31 - 1, a bit depth the
// colour type takes, compression and filter method 0, interlacing 0 or 1), whatever follows.
bool PngHeaderSize(const uint8_t* bytes, size_t size, int32_t* width, int32_t* height);
