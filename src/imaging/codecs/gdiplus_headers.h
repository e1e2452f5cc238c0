// What the headers of the formats GDI+ still decodes (ICO, EMF, WMF) say before GDI+ is given the
// file: some headers make GDI+'s decoders fault or spin inside the caller's process (an ICO entry
// of width 0x7FFFFFFF, an EMF of no handles, under Wine), and none of them holds a picture a
// 32-bit process could decode. Platform-free, no library: a walk over the bytes.
#pragma once

#include <cstdint>

#include "imaging/codecs/decoded_rows.h"

// True for an ICO whose entries' headers claim a picture past what a 32-bit process holds (see
// BitmapFits) or a BMP no BMP is, an EMF or a placeable WMF whose header or records are not as
// they must be (see the walks); false for every other file, and for one whose header cannot be
// read at all (GDI+'s own refusal is then safe).
bool GdiplusHeaderHostile(const ByteSource& bytes);
