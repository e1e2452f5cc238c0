// How a new image reaches its target file without ever destroying what was there: GDI+ writes a
// temporary file beside the target, and only a complete, successful save replaces the target, in
// one rename. Names are ANSI texts, as everywhere in the plug-in.
#pragma once

#include <string>

// True when the target's file name is a reserved device name (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9), with or without an extension: "CON.png", "c:\\out\\nul.bmp". Writing there
// would not make a file.
bool NamesDevice(const std::string& target);

// True when both names exist and are one and the same file, however they are spelled (case,
// relative or absolute, links).
bool NamesSameFile(const std::string& a, const std::string& b);

// What stands at the target's name now. A folder or a read-only file must not be replaced by a
// new image (Windows refuses to replace a read-only file; Wine's MoveFileEx does it anyway).
enum TargetKind { kTargetAbsent, kTargetFile, kTargetNotReplaceable };
TargetKind InspectTarget(const std::string& target);

// A name beside the target for the new image while it is written, unique within the process:
// "photo.png" -> "photo.png.~qt1234-1.tmp".
std::string TemporaryNameBeside(const std::string& target);

// Renames the temporary file to the target, replacing an existing one. False when that cannot
// be done; the target is then as it was.
bool ReplaceTarget(const std::string& temporary, const std::string& target);

// Deletes the temporary file, if it is still there.
void RemoveTemporary(const std::string& temporary);
