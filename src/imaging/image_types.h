// Which formats the plug-in can write, chosen by a target name's extension. Platform-free.
#pragma once

#include <string>

// The MIME type that a target name's extension names, or "" when the plug-in cannot write it.
// The extension is everything after the last "." of the whole name, upper-cased and untrimmed:
// "photo.Jpeg" -> "image/jpeg", "png" -> "image/png", "photo.png " -> "", "a.png.bak" -> "".
std::string WritableMimeType(const std::string& name);

// True when a resize fails before any image work: a blank source or target name (only blanks,
// 0x20, make a name blank), or a target extension the plug-in cannot write.
bool ResizeRejectedByNames(const std::string& source, const std::string& target);
