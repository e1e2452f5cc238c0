// JPEG files written by the plug-in itself with libjpeg-turbo, row by row. Platform-free: the
// bytes go to the caller.
#pragma once

#include <cstdint>
#include <memory>

#include "imaging/codecs/decoded_rows.h"

// libjpeg's state for one file being written.
struct JpegEncode;
struct JpegEncodeEnd {
  void operator()(JpegEncode* encode) const;
};
using JpegEncoder = std::unique_ptr<JpegEncode, JpegEncodeEnd>;

// Starts a JPEG of width by height as GDI+'s encoder writes one by default: baseline, YCbCr with
// chroma halved both ways (4:2:0), quality 75 with the standard tables, a JFIF 1.01 header of
// 96 dots per inch. Rows are BGR, or BGRX (`padded`, the fourth byte not read). False, holding
// nothing, where the library refuses.
bool StartJpeg(const ByteSink& bytes, int32_t width, int32_t height, bool padded,
               JpegEncoder* encoder);
// Each row, top first; then the end. False where the library or the sink fails: the file is
// then not whole.
bool WriteJpegRow(JpegEncode* encode, const uint8_t* row);
bool FinishJpeg(JpegEncode* encode);
