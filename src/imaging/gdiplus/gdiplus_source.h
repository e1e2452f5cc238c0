// What GDI+ still does for the plug-in: sessions and loads, and the decode of the files none of
// the plug-in's readers takes (ICO and the metafiles), behind the checks of their headers, into
// the plug-in's writer of the target's format. GDI+ encodes nothing. The one place, with the call
// table beside it, that calls GDI+.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/codecs/decoded_rows.h"
#include "imaging/gdiplus/gdiplus_api.h"
#include "imaging/gdiplus/gdiplus_owners.h"
#include "imaging/resize_image_file.h"
#include "imaging/target_file.h"

struct SourceFile;

// Opens a GDI+ session with the fixed start-up record (version 1, nothing suppressed, no output
// record) and answers GdiplusStartup's status; the session is the owner's only when it is 0.
GpStatus StartGdiplusSession(SessionOwner* session);

// GdipLoadImageFromFile on the wide name. A failed load leaves *image as it was (callers set it to
// 0 first).
GpStatus LoadImageFile(const std::wstring& name, GpImage** image);

// The named file's dimensions as GDI+ reports them (a metafile's in its own units); false where it
// does not load. Needs a session.
bool MeasuredByGdiplus(const std::wstring& name, float* width, float* height);

// GDI+'s decode of the source `name` (opened as `file`; `read` the plug-in's reader's answer, if
// any) into the plug-in's writer of `mimeType`: a bitmap's rows through the resampler straight
// into the temporary file that `prepare` makes; a metafile rendered by GDI+ at the target's size,
// and GDI+'s own draw where the resampler cannot run (its memory, or a lock of the source,
// refused), written from the picture GDI+ made, into a new file. A metafile is rendered before the
// temporary file is made: should GDI+ fault on it, nothing is left beside the target. A file of a
// format the plug-in reads is never given to GDI+. Needs a session.
ResizeStep WrittenFromGdiplus(SourceFile* file, const std::wstring& name, int32_t width, int32_t height,
                              bool fits, ReadOutcome read, const std::string& mimeType,
                              const std::function<ResizeStep()>& prepare, TemporaryFile* temporary);
