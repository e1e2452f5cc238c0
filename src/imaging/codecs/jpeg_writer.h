// JPEG files written by the plug-in itself with libjpeg-turbo, row by row. Platform-free: the
// bytes go to the caller.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

// libjpeg's state for one file being written.
struct JpegEncode;
struct JpegEncodeEnd {
  void operator()(JpegEncode* encode) const;
};
using JpegEncoder = std::unique_ptr<JpegEncode, JpegEncodeEnd>;

// The rows a JPEG is written from: BGR, BGRX (the fourth byte not read), or grey, which makes a
// JPEG of one component.
enum class JpegRows { kBgr, kBgrx, kGrey };

// Starts a JPEG of width by height as GDI+'s encoder writes one by default: baseline, YCbCr with
// chroma halved both ways (4:2:0) or grey, quality 75 with the standard tables, a JFIF 1.01 header
// of 96 dots per inch; then what the source carried: an APP1 "Exif" segment of its orientation
// alone (see ExifOfOrientation) where that is not 1, its ICC profile in APP2 chunks. False,
// holding nothing, where the library refuses.
bool StartJpeg(const ByteSink& bytes, int32_t width, int32_t height, JpegRows rows,
               const Carried& carried, JpegEncoder* encoder);
// Each row, top first; then the end. False where the library or the sink fails: the file is
// then not whole.
bool WriteJpegRow(JpegEncode* encode, const uint8_t* row);
bool FinishJpeg(JpegEncode* encode);
