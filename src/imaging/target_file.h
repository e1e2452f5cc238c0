// How a new image reaches its target file without ever destroying what was there: GDI+ writes a
// temporary file beside the target, and only a complete, successful save replaces the target, in
// one rename. Names are ANSI texts, as everywhere in the plug-in.
#pragma once

#include <string>

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

// The new image's file while it is written: deleted when the owner ends, unless kept. Its wide
// name is made up front, so that deleting it needs no memory and cannot throw.
struct TemporaryFile {
  std::string name;        // "" while there is none
  std::wstring wideName;

  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { Remove(); }

  // Takes on the name of a file about to be written.
  void Name(const std::string& temporary);
  // Deletes the file, if there is one; nothing is owned afterwards.
  void Remove() noexcept;
  // The file has become the target: nothing to delete any more.
  void Keep() noexcept;
};
