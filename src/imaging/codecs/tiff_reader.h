// TIFF files decoded by libtiff: the first page, as GDI+ gives it, a band of rows at a time (one
// strip, or one row of tiles), so that memory follows the band and not the picture. libtiff's
// RGBA interface turns every layout GDI+ reads into 8-bit RGBA (palettes, grey of 1 to 16 bits,
// RGB, CMYK, YCbCr, separate planes, the JPEG, LZW, deflate and fax codecs); its rows are taken
// as stored, whatever the Orientation tag says, which is carried instead, as a JPEG's is.
// Platform-free: the bytes come from the caller, at any offset.
//
// A page whose band or rows would not fit (see BandFits and RowFits) is not read:
// hostile where no 32-bit process could hold the page (see BitmapFits), refused otherwise (GDI+,
// which holds the whole page, may still read it). So is a page past that size that claims more
// than 4096 pixels per byte of the file. libtiff itself allocates nothing larger than a band may
// be.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

// True where the bytes begin as a TIFF or a BigTIFF, in either byte order.
inline bool StartsAsTiff(const uint8_t* h, int64_t size) {
  return size >= 4 && ((h[0] == 'I' && h[1] == 'I' && (h[2] == 42 || h[2] == 43) && h[3] == 0) ||
                       (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && (h[3] == 42 || h[3] == 43)));
}

struct TiffDecode;
struct TiffDecodeEnd {
  void operator()(TiffDecode* decode) const;
};
using TiffDecoder = std::unique_ptr<TiffDecode, TiffDecodeEnd>;

// Reads the first page's directory from a file of `size` bytes. kRead with `header` set and
// `decoder` ready; kOtherFormat for bytes that do not begin as a TIFF or BigTIFF; kHostile or
// kRefused as above, the header's sides set where they were read.
ReadOutcome OpenTiff(const ByteSource& bytes, TiffDecoder* decoder, Description* picture);

// Decodes every row, top first, as 24-bit BGR, or 32-bit BGRA with straight alpha where the
// header says alpha, into `rows`. kRead, or kRefused where `start` or `row` answered false, a
// strip or tile could not be decoded, or the band's memory could not be had.
// Lent a second thread, it decodes the compressed strips of 8-bit RGB or grey two runs at a time,
// one on each thread: the same rows, and the same answer.
ReadOutcome ReadTiff(TiffDecode* decode, const DecodedRows& rows, const SecondThread* beside = nullptr);
