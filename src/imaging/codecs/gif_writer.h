// GIF files written by the plug-in itself with giflib's encoder, in one pass: the one file pair
// that speaks giflib's language. Platform-free: the bytes go to the caller.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/codecs/decoded_rows.h"

// Writes a whole GIF of width by height: GIF89a, one image covering the screen, a global colour
// table of the palette's entries (0xAARRGGBB, see palette.h) padded with black to a power of two
// (2 at least), a graphic control extension marking entry `transparentIndex` transparent where
// it is 0 or more and none where it is -1; no loop, comment or animation blocks. Row y of the
// picture is `width` indices at indices + y * stride. False where a side passes 65535, giflib
// refuses or the sink fails: the bytes written so far are then no whole file.
bool WriteGif(const ByteSink& bytes, int32_t width, int32_t height,
              const std::vector<uint32_t>& entries, int transparentIndex, const uint8_t* indices,
              int32_t stride);
