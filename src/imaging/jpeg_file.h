// JPEG sources read by the plug-in's own reader (pixels/jpeg_reader.h) through the platform's
// file calls, opened by the wide name GDI+ would be given, so that every name that converts
// through GDI+ converts here too.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/pixels/jpeg_reader.h"
#include "platform/windows_api.h"

// A JPEG file opened by the reader, its headers read: the file and the decoder reading it, both
// released when the owner ends. It stays where it was made: the decoder reads through it.
struct JpegFile {
  FileOwner file;
  JpegDecoder decoder;
  JpegHeader header;

  JpegFile() = default;
  JpegFile(const JpegFile&) = delete;
  JpegFile& operator=(const JpegFile&) = delete;
};

// Opens the file and reads its headers: kRead with `jpeg` ready for ReadJpeg, else the reader's
// answer (kNotJpeg where the file cannot be opened), holding nothing.
JpegOutcome OpenJpegFile(const std::wstring& name, JpegFile* jpeg);

// True for a JPEG file that no decoder should be given: its headers say so (see OpenJpeg), or a
// walk over its markers counts more scans than kJpegScanLimit (see CountJpegScans). Nothing is
// decoded.
bool JpegFileHostile(const std::wstring& name);

// The size of a JPEG that the reader reads whole without a warning (decoded at 1/8, the rows
// thrown away); false for every other file.
bool JpegFileSize(const std::wstring& name, int32_t* width, int32_t* height);
