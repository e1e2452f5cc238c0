// Every size change computed by the plug-in: the source's rows, read through GDI+ locks or by the
// plug-in's own readers, resampled (see pixels/resample.h) and written through a lock into a
// bitmap of the target's size. GDI+ only decodes what the plug-in does not, converts and encodes,
// so the picture is the same on every GDI+.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/gdiplus_owners.h"
#include "imaging/codecs/carried.h"
#include "imaging/codecs/decoded_rows.h"

struct SourceFile;

struct ResampledPicture {
  ImageOwner bitmap;  // null when the resampler could not run
  int32_t format;     // the bitmap's pixel format
};

// The whole source bitmap (not a metafile) of sourceWidth by sourceHeight pixels at exactly
// width by height: resampled into 24-bit RGB for an opaque source and 32-bit premultiplied ARGB
// for one that may have alpha (a palette may); at the same size, copied as it is read (see
// source_rows.h), which keeps straight alpha exact. Null, holding nothing, when the rows are
// longer than any picture's, the resampler's buffers would not fit, or GDI+ refuses the bitmap
// or a lock. The caller has checked that a bitmap of width by height fits.
ResampledPicture ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                                 int32_t sourceHeight, int32_t width, int32_t height);

// A source opened by the plug-in's own reader, decoded at the smallest scale that still leaves
// the resampler a reduction of 2 (see JpegScale), streamed through the resampler, or copied at
// the same size, into a bitmap of exactly width by height, 24-bit RGB for an opaque source, else
// 32-bit ARGB where copied and premultiplied where resampled. Null, holding nothing, where the
// reader refuses the file at any point (its rows are then thrown away; `outcome` says why) or the
// memory cannot be had (`outcome` kRead). The caller has checked that a bitmap of width by height
// fits.
ResampledPicture ResampledSource(SourceFile* source, int32_t width, int32_t height,
                                 ReadOutcome* outcome);

// The same source streamed straight into the plug-in's own writer of `mimeType` (see
// target_writer.h), writing the (temporary) file `target`: neither the source's picture nor the
// target's is ever held whole, with the source's channels and what it carries. `outcome` as
// above.
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
