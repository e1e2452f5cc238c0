// What a JPEG file's markers say before any of it is decoded. Platform-free, and no codec
// library: a walk over the bytes.
#pragma once

#include <cstdint>

#include "imaging/codecs/decoded_rows.h"

// Every scan is a pass over the whole picture's coefficients, so a file of hundreds of scans
// holds any decoder, GDI+'s too, for seconds to minutes, and a scan repeated a thousand times
// costs a kilobyte each. Ordinary progressive files have about 10 scans, optimised ones a few
// dozen; the largest script of distinct scans that libjpeg accepts for one component is 704.
constexpr int32_t kJpegScanLimit = 100;

// True when the first three bytes are those of a JPEG file.
bool StartsAsJpeg(const uint8_t* bytes, int32_t size);

// Walks the markers from the start of the file to its end marker or its end, counting its scans
// (the bytes of each scan's entropy-coded data are skipped, not decoded): kHostile as soon as
// the count passes kJpegScanLimit, kOtherFormat for bytes that do not begin as a JPEG's, else kRead,
// whatever the rest of the file is.
ReadOutcome CountJpegScans(const ByteSource& bytes);

// The picture's size as the first frame header gives it, read up to that header and no further:
// true where the header is whole and valid (a precision of 2 to 16 bits, 1 to 4 components, its
// length as they need, both sides above 0), whatever follows it. Stray bytes between segments are
// stepped over. `decodable` tells whether a decoder here reads such a frame: 8 bits of precision,
// sequential or progressive, not lossless or hierarchical.
bool JpegFrameSize(const ByteSource& bytes, int32_t* width, int32_t* height, bool* decodable);
