// Which formats the plug-in can write, chosen by a target name's extension, and which names are
// no files at all. Platform-free.
#pragma once

#include <cstdint>
#include <string>

// The MIME type that a target name's extension names, or "" when the plug-in cannot write it.
// The extension is everything after the last "." of the whole name, upper-cased and untrimmed:
// "photo.Jpeg" -> "image/jpeg", "png" -> "image/png", "photo.png " -> "", "a.png.bak" -> "".
std::string WritableMimeType(const std::string& name);

// True when a resize fails before any image work: a blank source or target name (only blanks,
// 0x20, make a name blank), or a target extension the plug-in cannot write.
bool ResizeRejectedByNames(const std::string& source, const std::string& target);

// The longest side a file of the MIME type holds: a JPEG's 65500 (libjpeg's limit), a GIF's 65535
// (the format's); the other formats' limits lie past what a 32-bit process can hold.
int32_t LargestSide(const std::string& mimeType);

// True when the file name part of a (wide) target name is a reserved device name: CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM and LPT with a digit 1 to 9 or a superscript 1, 2 or 3, in any
// case, with any extension and with blanks or dots before it: L"CON.png", L"c:\\out\\nul .bmp",
// L"COM\u00B9.jpg", L"conout$..gif". Writing there would make no file. The name is taken in its
// wide form, since which byte is a superscript depends on the ANSI code page.
bool NamesDevice(const std::wstring& target);
