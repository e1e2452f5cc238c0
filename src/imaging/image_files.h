// The plug-in's whole contact with image files: GDI+ sessions, loading and saving by ANSI file
// name, the format a target's extension names, and the encoder for it.
#pragma once

#include <windows.h>

#include <string>

#include "imaging/gdiplus_api.h"
#include "imaging/image_types.h"

// Opens a GDI+ session with the fixed start-up record (version 1, nothing suppressed, no output
// record) and answers GdiplusStartup's status. Every session is closed with EndGdiplusSession.
GpStatus StartGdiplusSession(ULONG_PTR* token);
void EndGdiplusSession(ULONG_PTR token);

// GdipLoadImageFromFile on the wide form of the name. A failed load leaves *image as it was
// (callers set it to 0 first).
GpStatus LoadImageFile(const std::string& name, GpImage** image);

// GdipSaveImageToFile on the wide form of the name, with the encoder and parameter list given.
GpStatus SaveImageFile(GpImage* image, const std::string& name, const CLSID* encoder,
                       const void* parameters);

// The identifier text of the first GDI+ encoder whose MIME type contains `mimeType`, compared
// without regard to case: "{557CF406-1A04-11D3-9A73-0000F81EF32E}" for "image/png". "" when none
// matches or the list cannot be had.
std::string FindEncoderClsid(const std::string& mimeType);

// The low-order byte of each UTF-16 unit, up to the first unit whose low byte is 0:
// L"image/png" -> "image/png". Null gives "".
std::string NarrowFromWide(const WCHAR* text);

// The 38-character registry form of a class identifier, capital hex digits, the first three
// groups read little-endian.
std::string ClsidText(const CLSID& clsid);

// The class identifier an identifier text was written from. The empty text (no encoder) gives a
// fresh unique identifier, which names no encoder, so a save with it fails; so does any text
// that is not in the registry form.
CLSID ClsidFromText(const std::string& text);
