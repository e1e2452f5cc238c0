// BMP files decoded by the plug-in itself: the format is a header, a palette and rows, so no
// library. Platform-free: the bytes come from the caller, at any offset (a bottom-up file's top
// row is its last).
//
// The core (OS/2) header and the info headers of 40 to 124 bytes; 1, 2, 4 and 8 bits with a
// palette (shorter than its depth allows, or none: missing entries are black), 16 bits (5-5-5, or
// the masks of BI_BITFIELDS), 24 and 32 bits (BI_RGB, or masks); BI_RLE8 and BI_RLE4; bottom-up and
// top-down. A 16- or 32-bit picture with an alpha mask (BI_BITFIELDS with a v3 to v5 header, or
// BI_ALPHABITFIELDS) has straight alpha by it, as Pillow, ImageMagick and browsers read it, unless
// every pixel's alpha is 0 (writers that set the mask and leave the byte 0): that, and every other
// BMP, is read opaque, as Windows' GDI+ reads 32-bit BMPs whatever their fourth byte holds. Every header field is checked before anything is allocated: rows of
// more than 16 million pixels, an RLE picture past what a 32-bit process holds, a width of 0 or
// below, a height of 0, a depth or compression no BMP has, is hostile; rows past the file's end,
// a palette or masks inside the header, JPEG or PNG inside, are refused. An RLE picture's rows
// come bottom-up, one after the other: a first pass notes where each row's codes begin (memory in
// proportion to the rows, not the picture), then each row is decoded top first from there. Codes
// that run past a row are cut at its end, codes past the picture end it, and pixels no code reaches
// take the first entry; a file that ends before its picture does is cut, and not read.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

struct BmpDecode;
struct BmpDecodeEnd {
  void operator()(BmpDecode* decode) const;
};
using BmpDecoder = std::unique_ptr<BmpDecode, BmpDecodeEnd>;

// Reads the headers, the palette and the masks. kRead with the picture described and `decoder` ready;
// kOtherFormat for bytes that do not begin "BM"; kHostile or kRefused as above, the header's
// sides set where it was read.
ReadOutcome OpenBmp(const ByteSource& bytes, BmpDecoder* decoder, Description* picture);

// Decodes every row, top first, as 24-bit BGR (32-bit BGRA where the header says alpha), into
// `rows`. kRead, or kRefused where `start` or `row` answered false, a read failed, an RLE file is
// cut, or memory could not be had.
ReadOutcome ReadBmp(BmpDecode* decode, const DecodedRows& rows);
