// JPEG, PNG, BMP, TIFF and GIF targets written by the plug-in's own writers
// (codecs/jpeg_writer.h, codecs/png_writer.h, codecs/bmp_writer.h, codecs/tiff_writer.h,
// codecs/gif_writer.h) into the temporary file, through the platform's file calls, row by row as
// the resampler or a finished bitmap gives them: JPEG, PNG, BMP and TIFF as they come (a BMP's each
// in its place, bottom-up), GIF gathered whole, since its palette needs every pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/codecs/jpeg_writer.h"
#include "imaging/pixels/pixel_layout.h"
#include "imaging/codecs/png_writer.h"
#include "platform/windows_api.h"

// True where the plug-in writes files of this MIME type: BMP, TIFF, JPEG, PNG and GIF. GDI+ writes
// none.
bool WritesOwnFormat(const std::string& mimeType);

// A JPEG, PNG, BMP, TIFF, GIF or WebP being written. Rows come in any PixelLayout and are turned into what the file
// holds, of the channels the source needs (see Channels): a JPEG's grey or colours (straight,
// where they came premultiplied), a PNG's grey, grey and alpha, RGB or RGBA (opaque pixels where
// the rows have none). Grey is read from the rows' green, which a grey source's resample leaves
// equal to its red and blue. It stays where it was made: the encoder writes through it.
struct TargetWriter {
  HANDLE file;
  TargetFormat format;
  JpegEncoder jpeg;
  PngEncoder png;
  PixelLayout input;
  Channels channels;  // of the file's rows: a JPEG's are grey, or colour (its fourth byte unread)
  int32_t width, height;
  std::vector<uint8_t> pending;  // a TIFF's rows not yet written, in bands; a GIF's or WebP's picture
  Carried carried;    // what the format takes (see WhatIsWritten): a TIFF's and a WebP's written last
  bool webpAlpha;     // a WebP's alpha plane
  int32_t rowsDone;
  std::vector<uint8_t> row;  // a row turned into the file's layout
  bool failed;               // a row could not be written

  TargetWriter() = default;
  TargetWriter(const TargetWriter&) = delete;
  TargetWriter& operator=(const TargetWriter&) = delete;
};

// Starts the file of `mimeType` in the (temporary, empty) file open for writing; false, holding
// nothing, where it cannot.
bool StartTargetWriter(HANDLE file, const std::string& mimeType, int32_t width, int32_t height,
                       PixelLayout input, Channels channels, const Carried& carried,
                       TargetWriter* writer);

// Writes the next row; a failure is kept in `failed`.
void WriteTargetRow(TargetWriter* writer, const uint8_t* row);

// Ends the file: true where every byte reached it.
bool FinishTargetWriter(TargetWriter* writer);
