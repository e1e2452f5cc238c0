// What a JPEG file's markers say before any of it is decoded. Platform-free, and no codec
// library: a walk over the bytes.
#pragma once

#include <cstdint>

#include "imaging/codecs/decoded_rows.h"

// Every scan is a pass over the whole picture's coefficients, so a file of hundreds of scans
// holds a decoder for seconds to minutes, and a scan repeated a thousand times costs a kilobyte
// each. Ordinary progressive files have about 10 scans, optimised ones a few
// dozen; the largest script of distinct scans that libjpeg accepts for one component is 704.
constexpr int32_t kJpegScanLimit = 100;

// True when the first three bytes are those of a JPEG file.
bool StartsAsJpeg(const uint8_t* bytes, int32_t size);

// The picture's size as the first frame header gives it, read up to that header and no further:
// true where the header is whole and valid (a precision of 2 to 16 bits, 1 to 4 components, its
// length as they need, both sides above 0), whatever follows it. Stray bytes between segments are
// stepped over. `decodable` tells whether a decoder here reads such a frame: 8 bits of precision,
// sequential or progressive, not lossless or hierarchical.
bool JpegFrameSize(const ByteSource& bytes, int32_t* width, int32_t* height, bool* decodable);
