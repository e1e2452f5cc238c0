// Sources read by the plug-in's own readers (codecs/jpeg_reader.h, codecs/png_reader.h) through
// the platform's file calls, opened by the wide name GDI+ would be given, so that every name that
// converts through GDI+ converts here too; and what a source's headers alone tell.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/codecs/jpeg_reader.h"
#include "imaging/pixels/pixel_layout.h"
#include "imaging/codecs/png_header.h"
#include "imaging/codecs/png_reader.h"
#include "platform/windows_api.h"

// A file's bytes as a reader takes them: its first bytes, read once to tell its format, then the
// rest as the file gives them.
struct FileBytes {
  HANDLE* file;
  uint8_t head[kPngHeaderBytes];
  int32_t headSize, headAt;
};

// A JPEG or PNG source opened by the plug-in's reader for it, its headers read: the file and the
// decoder reading it, both released when the owner ends. It stays where it was made: the decoder
// reads through it.
struct SourceFile {
  HandleOwner file;
  FileBytes bytes;
  JpegDecoder jpeg;
  PngDecoder png;
  int32_t width, height;
  PixelLayout layout;  // of the rows it delivers
  int scales;          // those it decodes at below 1/1 (see JpegScale)
  // An alpha channel is kept in what is written: GDI+ loads every PNG but 8-bit RGB without a
  // colour key in 32-bit ARGB.
  bool keepsAlpha;

  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
};

// Opens the file and reads its headers: kRead with `source` ready for ReadSourceFile, else the
// reader's answer, holding nothing: kOtherFormat for a file neither reader takes by its first bytes,
// or one that cannot be opened.
ReadOutcome OpenSourceFile(const std::wstring& name, SourceFile* source);

// Decodes an opened source at 1 / denominator (1, or one of its scales) into `rows`.
ReadOutcome ReadSourceFile(SourceFile* source, int denominator, const DecodedRows& rows);

// True for a JPEG file that no decoder should be given: its headers say so (see OpenJpeg), or a
// walk over its markers counts more scans than kJpegScanLimit (see CountJpegScans). Nothing is
// decoded.
bool JpegFileHostile(const std::wstring& name);

// The size of a JPEG or PNG file as its header gives it (the first frame header; the IHDR chunk
// with its CRC), where the header is whole and valid; false for every other file.
bool SizeFromHeader(const std::wstring& name, int32_t* width, int32_t* height);
