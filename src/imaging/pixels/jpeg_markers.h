// What a JPEG file's markers say before any of it is decoded. Platform-free, and no codec
// library: a walk over the bytes.
#pragma once

#include <cstdint>

// Where a JPEG's bytes come from: `read` fills at most `size` bytes at `buffer` and answers how
// many, 0 at the end of the file, -1 when the file cannot be read. It must not throw.
struct JpegBytes {
  int32_t (*read)(void* context, uint8_t* buffer, int32_t size);
  void* context;
};

enum class JpegOutcome {
  kRead,     // read as asked, without an error or a warning
  kNotJpeg,  // the bytes do not begin as a JPEG file's (FF D8 FF)
  kRefused,  // a JPEG file the reader does not take: another decoder may try it
  kHostile,  // more scans than kJpegScanLimit, or more than a 32-bit process can hold: no
             // decoder is given it
};

// Every scan is a pass over the whole picture's coefficients, so a file of hundreds of scans
// holds any decoder, GDI+'s too, for seconds to minutes, and a scan repeated a thousand times
// costs a kilobyte each. Ordinary progressive files have about 10 scans, optimised ones a few
// dozen; the largest script of distinct scans that libjpeg accepts for one component is 704.
constexpr int32_t kJpegScanLimit = 100;

// True when the first three bytes are those of a JPEG file.
bool StartsAsJpeg(const uint8_t* bytes, int32_t size);

// Walks the markers from the start of the file to its end marker or its end, counting its scans
// (the bytes of each scan's entropy-coded data are skipped, not decoded): kHostile as soon as
// the count passes kJpegScanLimit, kNotJpeg for bytes that do not begin as a JPEG's, else kRead,
// whatever the rest of the file is.
JpegOutcome CountJpegScans(const JpegBytes& bytes);
