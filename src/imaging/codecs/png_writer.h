// PNG files written by the plug-in itself with libpng, row by row. Platform-free: the bytes go to
// the caller.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

// libpng's state for one file being written.
struct PngEncode;
struct PngEncodeEnd {
  void operator()(PngEncode* encode) const;
};
using PngEncoder = std::unique_ptr<PngEncode, PngEncodeEnd>;

// Starts a PNG of width by height, 8 bits a channel, of the channels given: grey from rows of one
// byte a pixel, grey and alpha from two (grey first), RGB from BGR rows, RGBA from straight BGRA
// rows; a pHYs chunk of 96 dots per inch, as GDI+'s encoder writes, and what the source carried:
// iCCP, sRGB, gAMA and cHRM as they came, an eXIf chunk of the orientation alone (see
// ExifOfOrientation) where that is not 1; no other ancillary chunk; zlib's level 1 and the Sub
// filter. False, holding nothing, where the library refuses.
bool StartPng(const ByteSink& bytes, int32_t width, int32_t height, Channels channels,
              const Carried& carried, PngEncoder* encoder);
// Each row, top first; then the end. False where the library or the sink fails: the file is
// then not whole.
bool WritePngRow(PngEncode* encode, const uint8_t* row);
bool FinishPng(PngEncode* encode);
