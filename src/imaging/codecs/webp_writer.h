// WebP files written by the plug-in itself with libwebp's encoder and mux library, in one pass
// over the whole picture (libwebp's encoder takes the picture whole, in its own YUV planes). The
// file pair that writes libwebp's language. Platform-free: the bytes go to the caller.
#pragma once

#include <cstdint>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

// The largest side a WebP holds.
constexpr int32_t kWebpLargestSide = 16383;

// Writes a whole WebP of width by height from straight BGRA rows (row y at bgra + y * stride):
// lossy at libwebp's default quality (75) and method (4), as cwebp writes by default; with an
// alpha plane where `alpha` (lossless, as cwebp's default), and where the picture carries an ICC
// profile or an orientation, an `ICCP` chunk and a minimal `EXIF` chunk in an extended file.
// False where a side passes kWebpLargestSide, libwebp refuses or the sink fails: the bytes written
// so far are then no whole file.
bool WriteWebp(const ByteSink& bytes, int32_t width, int32_t height, bool alpha, const uint8_t* bgra,
               int32_t stride, const Carried& carried);
