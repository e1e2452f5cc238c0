// GDI+'s part in image files: sessions, and loading by file name. GDI+ decodes what the plug-in's
// readers do not (ICO, the metafiles) and encodes nothing.
#pragma once

#include <windows.h>

#include <string>

#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/image_types.h"

// Opens a GDI+ session with the fixed start-up record (version 1, nothing suppressed, no output
// record) and answers GdiplusStartup's status; the session is the owner's only when it is 0.
GpStatus StartGdiplusSession(SessionOwner* session);

// GdipLoadImageFromFile on the wide name. A failed load leaves *image as it was (callers set it to
// 0 first).
GpStatus LoadImageFile(const std::wstring& name, GpImage** image);

// True where the source's (wide) name opens as something other than a disk file: a device, a
// pipe, a FIFO. No reader is given it, GDI+'s neither: a read of a serial port never returns. A
// name that does not open at all is left to the readers, whose answer it is.
bool SourceIsNoFile(const std::wstring& name);
