// WebP files decoded by libwebp: lossy, lossless, with alpha, and an animation's first frame in
// its canvas (outside it transparent), as GDI+ gives a GIF's. A still picture is decoded
// incrementally, its rows handed on as libwebp finishes them, and may be shrunk while it decodes
// by libwebp's own area-averaging scaler, at 1/2, 1/4 or 1/8, as a JPEG is (see JpegScale: the
// plug-in's resampler keeps its reducing gap); libwebp holds the picture it decodes whole, at
// that scale. What it carries: the ICCP chunk's profile and the EXIF chunk's orientation.
// Platform-free: the bytes come from the caller, at any offset.
//
// A file whose canvas passes what a 32-bit process holds (see BitmapFits) is hostile; so is
// every file that begins as a WebP and that libwebp cannot read (cut short, damaged): GDI+ has
// no WebP decoder, so no other reader is tried.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

struct WebpDecode;
struct WebpDecodeEnd {
  void operator()(WebpDecode* decode) const;
};
using WebpDecoder = std::unique_ptr<WebpDecode, WebpDecodeEnd>;

// True where the bytes begin "RIFF", a size, "WEBP".
inline bool StartsAsWebp(const uint8_t* head, int64_t size) {
  return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

// Reads the RIFF chunks' headers and the picture's features from a file of `size` bytes. kRead
// with `header` set and `decoder` ready; kOtherFormat for bytes that do not begin as a WebP;
// kHostile as above, the header's sides set where they were read.
ReadOutcome OpenWebp(const ByteSource& bytes, WebpDecoder* decoder, Description* picture);

// Decodes every row at 1 / denominator (1, or one of the header's scales), top first, as 24-bit
// BGR, or 32-bit BGRA with straight alpha where the header says alpha, into `rows`: the canvas's
// size divided by the denominator, rounded up. kRead, kHostile where libwebp cannot decode the
// file, or kRefused where `start` or `row` answered false, a read failed or the memory could not
// be had.
ReadOutcome ReadWebp(WebpDecode* decode, int denominator, const DecodedRows& rows);
