// How a new image reaches its target file without ever destroying what was there: GDI+ writes a
// temporary file beside the target, and only a complete, successful save replaces the target, in
// one rename.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/windows_api.h"

// A target's name in the wide form every file call takes, converted once where the saving steps
// begin; empty where the name could not be converted, and then nothing is written.
struct TargetName {
  std::wstring wide;
};

// What stands at the target's name now, with its file attributes. A folder or a read-only file
// must not be replaced by a new image (Windows refuses to replace a read-only file; Wine's
// MoveFileEx does it anyway).
enum TargetKind { kTargetAbsent, kTargetFile, kTargetNotReplaceable };
struct TargetStanding {
  TargetKind kind;
  uint32_t attributes;  // 0 when absent
};
TargetStanding InspectTarget(const TargetName& target);

// The new image's file while it is written: deleted when the owner ends, unless kept. It is
// written, read back and deleted through its own handle, so that a folder renamed meanwhile
// leaves nothing behind; renamed over the target by its wide name, made once, up front. Deleting
// it needs no memory and cannot throw.
struct TemporaryFile {
  std::wstring wideName;  // empty while there is none
  HandleOwner file;       // for reading, writing and deleting; closed while GDI+ has the file

  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { Remove(); }

  // Creates a new, empty file in the target's folder for the new image, under a name of the
  // process's own that no file had, as short whatever the target's name (so that every name
  // the folder can hold can be a target): "C:\pics\photo.png" -> "C:\pics\~qt1234-1.tmp".
  // The file is created exclusively, so the name is the plug-in's from the first moment and
  // nothing another program made is ever written over or deleted. False, owning nothing and
  // having made nothing, when 100 names are taken or the folder refuses a new file.
  bool CreateBeside(const TargetName& target);
  // GDI+ opens the file by its name, and may not share it with a handle that writes: the handle
  // is closed while `use` runs, and the file opened again by its name afterwards. False where
  // `use` answers false or the file cannot be opened again.
  bool LendToGdiplus(const std::function<bool()>& use);
  // Deletes the file, if there is one: through its handle, else by its name, retrying as
  // ReplaceTarget does; nothing is owned afterwards.
  void Remove() noexcept;
  // The file has become the target: nothing to delete any more.
  void Keep() noexcept;
};

// Renames the temporary file to the target, replacing an existing one, and hands on the
// replaced file's hidden, system and not-indexed attributes (the new file is marked for archiving
// anyway, as every new file is). The target is looked at again first: one made read-only or a
// folder while the picture was made is kept. A rename refused for a sharing, lock or access
// error, as when a virus scanner or the indexer has just opened the new file, is tried again, 10
// times at most with a wait growing by 25 ms each time (1.1 seconds in all). False when it cannot
// be done; the target is then as it was.
bool ReplaceTarget(const TemporaryFile& temporary, const TargetName& target);
