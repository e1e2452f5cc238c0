// AVIF files decoded by the plug-in itself: its own reading of the boxes (avif_boxes.h), dav1d's
// decode of each AV1 item, tile row by tile row (the decoded frames are dav1d's), and the YUV to
// RGB conversion by the file's matrix (BT.601, BT.709, BT.2020, SMPTE 240 or identity; full or
// limited range; 8, 10 or 12 bits, reduced to 8 as they are converted), its chroma upsampled
// bilinearly as libavif upsamples it, row by row into 24-bit BGR rows, or 32-bit BGRA with the
// alpha item's plane (straight; premultiplied colour made straight). The orientation of irot and
// imir is carried, not applied, as a JPEG's EXIF orientation is. Platform-free.
#pragma once

#include <memory>

#include "imaging/codecs/avif_boxes.h"
#include "imaging/codecs/decoded_rows.h"

struct AvifDecode;
struct AvifDecodeEnd {
  void operator()(AvifDecode* decode) const;
};
using AvifDecoder = std::unique_ptr<AvifDecode, AvifDecodeEnd>;

// Reads the boxes. kRead with the picture described and `decoder` ready for ReadAvif;
// kOtherFormat, kRefused (see ReadAvifLayout; a matrix it does not take), or kHostile for a
// picture whose decoded tiles would not fit a band (see BandFits) or whose rows do not fit.
ReadOutcome OpenAvif(const ByteSource& bytes, AvifDecoder* decoder, Description* picture);

// Decodes every row into `rows`. kRead, or kRefused where `start` answered false, dav1d fails or
// a decoded frame is not what the boxes said. Once only for each decoder.
ReadOutcome ReadAvif(AvifDecode* decode, const DecodedRows& rows);
