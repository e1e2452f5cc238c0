// GIF files decoded by the plug-in itself with giflib's decoder: the first image, as GDI+ gives
// it. Platform-free: the bytes come from the caller.
//
// The picture is the logical screen; the first image lies in it where its descriptor puts it,
// and what lies outside it is the first image's transparent colour where its graphic control
// extension names one, else the screen's background colour (black without a global palette).
// The transparent index is alpha 0; indices past the palette are black. Interlaced rows are put in
// their order. Refused as hostile (given to no decoder; GDI+'s faults on some): a GIF whose first
// image has no palette at all, a screen or an interlaced image (held as indices) past what a
// 32-bit process holds; a screen of no pixels is refused. A file cut short, or whose codes break
// off, is not read.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

struct GifDecode;
struct GifDecodeEnd {
  void operator()(GifDecode* decode) const;
};
using GifDecoder = std::unique_ptr<GifDecode, GifDecodeEnd>;

// Reads the file up to the first image's pixels. kRead with the picture described and `decoder` ready;
// kOtherFormat for bytes that do not begin "GIF87a" or "GIF89a"; kHostile or kRefused otherwise.
ReadOutcome OpenGif(const ByteSource& bytes, GifDecoder* decoder, Description* picture);

// Decodes the first image's rows, top first, into `rows`. kRead, or kRefused where `start` or
// `row` answered false, the image's codes do not reach its end block, or the memory could not be
// had.
ReadOutcome ReadGif(GifDecode* decode, const DecodedRows& rows);
