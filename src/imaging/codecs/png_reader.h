// PNG files decoded by the plug-in itself with libpng, row by row, so that memory does not grow
// with the source, and written by it, row by row. The one file pair that speaks libpng's
// language. Platform-free: the bytes come from and go to the caller.
//
// Every colour type and depth: palettes (with tRNS), grey, grey with alpha, RGB (with a colour
// key), RGBA, 1 to 16 bits, delivered as 24-bit BGR rows where the file has no alpha, else as
// straight BGRA; 16-bit channels keep their high byte. Gamma, chromaticity and colour profiles
// (gAMA, cHRM, iCCP, sRGB) are not applied, as GDI+ applies none of them. An interlaced file is
// held whole while Adam7's passes come (up to 256 MB of rows; past that it is hostile). Every file
// on which libpng reports an error (a CRC or zlib error, a file cut short) is left to GDI+: a
// refusal after rows were delivered means those rows must be thrown away.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

// libpng's state for one file, between its header and its rows.
struct PngDecode;
struct PngDecodeEnd {
  void operator()(PngDecode* decode) const;
};
using PngDecoder = std::unique_ptr<PngDecode, PngDecodeEnd>;

// Reads the file up to its pixel data. kRead with the picture described and `decoder` ready for ReadPng;
// otherwise the decoder is null and nothing is held. The bytes' context must live as long as the
// decoder.
ReadOutcome OpenPng(const ByteSource& bytes, PngDecoder* decoder, Description* picture);

// Decodes every row of an opened file into `rows`, then reads the file to its end, checking
// every CRC. kRead, or kRefused where `start` answered false or libpng reports an error. Once only
// for each decoder. Lent a second thread, a large non-interlaced file's pixel data is inflated on
// it: the same rows and answer.
ReadOutcome ReadPng(PngDecode* decode, const DecodedRows& rows, const SecondThread* beside = nullptr);
