// How a new image reaches its target file without ever destroying what was there: GDI+ writes a
// temporary file beside the target, and only a complete, successful save replaces the target, in
// one rename. Names are ANSI texts, as everywhere in the plug-in.
#pragma once

#include <cstdint>
#include <string>

// True when both names exist and are one and the same file, however they are spelled (case,
// relative or absolute, links).
bool NamesSameFile(const std::string& a, const std::string& b);

// What stands at the target's name now, with its file attributes. A folder or a read-only file
// must not be replaced by a new image (Windows refuses to replace a read-only file; Wine's
// MoveFileEx does it anyway).
enum TargetKind { kTargetAbsent, kTargetFile, kTargetNotReplaceable };
struct TargetStanding {
  TargetKind kind;
  uint32_t attributes;  // 0 when absent
};
TargetStanding InspectTarget(const std::string& target);

// A name in the target's folder for the new image while it is written, unique within the
// process and among the folder's files, and as short whatever the target's own name, so that
// every name the folder can hold can be a target: "C:\pics\photo.png" ->
// "C:\pics\~qt1234-1.tmp".
std::string TemporaryNameBeside(const std::string& target);

// The new image's file while it is written: deleted when the owner ends, unless kept. Its wide
// name is made once, up front: the file is saved, renamed and deleted by that one name, and
// deleting it needs no memory and cannot throw.
struct TemporaryFile {
  std::wstring wideName;  // empty while there is none

  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { Remove(); }

  // Takes on the name of a file about to be written; false, owning nothing, when the name has no
  // wide form (then nothing may be written under it).
  bool Name(const std::string& temporary);
  // Deletes the file, if there is one, retrying as ReplaceTarget does; nothing is owned
  // afterwards.
  void Remove() noexcept;
  // The file has become the target: nothing to delete any more.
  void Keep() noexcept;
};

// Renames the temporary file to the target, replacing an existing one, and hands on the
// replaced file's hidden, system and not-indexed attributes (the new file is marked for archiving
// anyway, as every new file is). A rename refused for a sharing, lock or access error, as when a
// virus scanner or the indexer has just opened the new file, is tried again, 10 times at most
// with a wait growing by 25 ms each time (1.1 seconds in all). False when it cannot be done; the
// target is then as it was.
bool ReplaceTarget(const TemporaryFile& temporary, const std::string& target,
                   uint32_t replacedAttributes);
