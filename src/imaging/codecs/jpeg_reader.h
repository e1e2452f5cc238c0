// JPEG files decoded by the plug-in itself, shrunk by 2, 4 or 8 while they decode (libjpeg's
// DCT scaling), so that a thumbnail costs a fraction of a full decode and its memory does not
// grow with the source; and written by it, row by row. The one file pair that speaks libjpeg's
// language. Platform-free: the bytes come from and go to the caller.
//
// The reader takes 8-bit baseline, progressive and arithmetic-coded files with 1 (grey), 3 (YCbCr
// or RGB) or 4 components (CMYK or YCCK, Adobe's inverted form where its marker says so) and
// delivers 24-bit BGR rows: CMYK through its embedded CMYK profile by the colour engine, or,
// without one, by the formula GDI+ uses (each colour's ink and black multiplied away). It refuses
// every other file (12-bit, lossless, one that does not begin as a JPEG file does), every file on which the
// library raises an error or a warning, at the first one (a file cut short, a corrupt stream;
// only stray bytes just before the end marker are let pass, as every decoder lets them pass), a
// file whose coefficients for the whole picture would not fit a band (see BandFits: 2 bytes for each of 64 coefficients per 8 by 8 block of each component, 144 MB for a 48-megapixel 4:2:0 photo), and, as hostile, one
// of more scans than kJpegScanLimit or whose coefficients would pass 2 GiB. The caller then reads the file some other way (a hostile
// one not at all): a refusal after rows were delivered means those rows must be thrown away.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/jpeg_markers.h"

// libjpeg's state for one file, between its headers and its rows.
struct JpegDecode;
struct JpegDecodeEnd {
  void operator()(JpegDecode* decode) const;
};
using JpegDecoder = std::unique_ptr<JpegDecode, JpegDecodeEnd>;

// Reads the file's headers, up to its first scan. kRead with the picture described and `decoder`
// ready for ReadJpeg; otherwise the decoder is null and nothing is held. The bytes' context must
// live as long as the decoder. Its scales are those below 1/1 it decodes well at (see JpegScale),
// fewer where the library's scaled chroma strays (see the reader); it carries the EXIF orientation
// of its first APP1 "Exif" segment and its ICC profile (none for CMYK: the rows are sRGB).
ReadOutcome OpenJpeg(const ByteSource& bytes, JpegDecoder* decoder, Description* picture);

// Decodes an opened file at 1 / denominator (1, or one of the header's scales) into
// `rows`. kRead when every row was delivered and the file read to its end; kRefused where `start`
// answered false or the file is refused at any point; kHostile past kJpegScanLimit scans, as soon
// as the scan is reached. Once only for each decoder. A single-scan file's entropy decoding goes
// to `beside` where one is lent: the same rows and answer.
ReadOutcome ReadJpeg(JpegDecode* decode, int denominator, const DecodedRows& rows,
                     const SecondThread* beside = nullptr);
