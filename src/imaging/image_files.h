// The plug-in's whole contact with image files: GDI+ sessions, loading and saving by ANSI file
// name, the format a target's extension names, and the encoder for it.
#pragma once

#include <windows.h>

#include <string>

#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"
#include "imaging/image_types.h"

// Opens a GDI+ session with the fixed start-up record (version 1, nothing suppressed, no output
// record) and answers GdiplusStartup's status; the session is the owner's only when it is 0.
GpStatus StartGdiplusSession(SessionOwner* session);

// GdipLoadImageFromFile on the wide form of the name. A failed load leaves *image as it was
// (callers set it to 0 first).
GpStatus LoadImageFile(const std::string& name, GpImage** image);
GpStatus LoadImageFile(const std::wstring& name, GpImage** image);

// True where the source's (wide) name opens as something other than a disk file: a device, a
// pipe, a FIFO. No reader is given it, GDI+'s neither: a read of a serial port never returns. A
// name that does not open at all is left to the readers, whose answer it is.
bool SourceIsNoFile(const std::wstring& name);

// GdipSaveImageToFile with the encoder and parameter list given. The name is wide already: the
// file saved is the one its owner renames or deletes (see TemporaryFile).
GpStatus SaveImageFile(GpImage* image, const std::wstring& name, const CLSID* encoder,
                       const void* parameters);

// The class identifier of the first GDI+ encoder whose MIME type contains `mimeType`, compared
// without regard to case: "image/png" finds GDI+'s PNG encoder. False, leaving *encoder as it
// was, when none matches or the list cannot be had.
bool FindEncoder(const std::string& mimeType, CLSID* encoder);

// The low-order byte of each UTF-16 unit, up to the first unit whose low byte is 0:
// L"image/png" -> "image/png". Null gives "".
std::string NarrowFromWide(const WCHAR* text);
