// JPEG sources read by the plug-in's own reader (pixels/jpeg_reader.h) through the platform's
// file calls, opened by the wide name GDI+ would be given, so that every name that converts
// through GDI+ converts here too.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/pixels/jpeg_reader.h"

// Opens the file for reading, decodes it into the sink and closes it, on every path. kRefused
// where the file cannot be opened or read.
JpegOutcome DecodeJpegFile(const std::wstring& name, const JpegSink& sink);

// The size of a JPEG that the reader reads whole without a warning (decoded at 1/8, the rows
// thrown away); false for every other file.
bool JpegFileSize(const std::wstring& name, int32_t* width, int32_t* height);
