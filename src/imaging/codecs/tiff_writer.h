// TIFF files written by the plug-in itself, as GDI+'s TIFF encoder writes them (measured on Wine's):
// little-endian, one uncompressed strip right after the header, 8 bits a sample, RGB, grey
// (MinIsBlack) where the picture is grey, with unassociated alpha as an extra sample where it has
// alpha, 96 dots per inch; then the one IFD, with
// what the source carried: its orientation and its ICC profile. No library: the rows go out as
// they come, top first. Platform-free: the caller places the bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/codecs/carried.h"

// The 8-byte header, which points at the IFD after the rows.
std::vector<uint8_t> TiffFileHeader(int32_t width, int32_t height, Channels channels);

// The IFD and the values it points to, written after the rows.
std::vector<uint8_t> TiffDirectory(int32_t width, int32_t height, Channels channels, const Carried& carried);
