// What the headers of the formats GDI+ still decodes (BMP, GIF, ICO, TIFF, EMF) say before GDI+ is
// given the file: some headers make GDI+'s decoders fault inside the caller's process (a BMP of
// width 0x7FFFFFFF, a GIF without any palette, under Wine), and none of them holds a picture a
// 32-bit process could decode. Platform-free, no library: a walk over the bytes.
#pragma once

#include <cstdint>

#include "imaging/codecs/decoded_rows.h"

// True for a BMP, GIF, ICO, TIFF or EMF whose header no decoder should be given: a picture past
// what a 32-bit process holds (see BitmapFits), a BMP of a width of 0 or below or a bit depth or
// compression no BMP has, a GIF whose first image has no palette at all, an ICO entry or TIFF
// first page past that size, an EMF whose records do not follow one another whole up to its end
// record, and every WebP. False for every other file, and for one whose header cannot be read at all (the
// decoder's own refusal is then safe).
bool GdiplusHeaderHostile(const RandomBytes& bytes);
