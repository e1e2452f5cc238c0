// Every size change computed by the plug-in: the source's rows, read by the plug-in's own readers
// or through GDI+ locks, resampled (see pixels/resample.h) straight into the plug-in's writer of
// the target's format. GDI+ only decodes what the plug-in does not, so the picture is the same on
// every GDI+.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/gdiplus/gdiplus_api.h"
#include "platform/windows_api.h"
#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

struct SourceFile;

// A source opened by the plug-in's own reader, decoded at the smallest scale that still leaves
// the resampler a reduction of 2 (see JpegScale), resampled to exactly width by height (copied at
// the same size, which keeps straight alpha exact) straight into the plug-in's own writer of
// `mimeType` (see target_writer.h), writing the (temporary) file `target`: neither the source's
// picture nor the target's is ever held whole, with the source's channels and what it carries.
// `outcome` says why the reader refused the file, where it did (kRead where memory failed).
enum class Streamed {
  kWritten,      // the file holds the whole picture
  kNotRead,      // the reader refused the file or the memory could not be had: nothing to keep
  kNotWritten,   // the writer or the file failed
};
Streamed StreamedSource(SourceFile* source, int32_t width, int32_t height,
                        const std::string& mimeType, HANDLE target,
                        ReadOutcome* outcome);

// The same for a whole source bitmap GDI+ decoded (not a metafile), its rows read through locks
// (see source_rows.h), written with the channels given and what the file carries. kNotRead where
// its rows are longer than any picture's, a lock is refused or the resampler's memory cannot be had.
Streamed StreamedBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth, int32_t sourceHeight,
                        int32_t width, int32_t height, const std::string& mimeType, Channels channels,
                        const Carried& carried, HANDLE target);
