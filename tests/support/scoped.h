// Undoes what a test changes in the process when the test's scope ends, also when an assertion
// ends it early: the floating-point setting, the current folder, an import of a loaded module.
// (The host's entries in a linked-in plug-in: scoped_host_entries.h.)
#pragma once

#include <windows.h>

#include <string>

#include "import_patch.h"
#include "platform/fpu.h"

struct ScopedFpu {
  uint16_t x87 = CurrentX87Control();
  uint32_t mxcsr = CurrentMxcsr();
  ~ScopedFpu() {
    SetX87Control(x87);
    SetMxcsr(mxcsr);
  }
};

struct ScopedCurrentFolder {
  std::string before;
  explicit ScopedCurrentFolder(const std::string& folder) {
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    before = current;
    SetCurrentDirectoryA(folder.c_str());
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryA(before.c_str()); }
};

// `module`'s import of `function` replaced for the scope; `previous` is what was there (null when
// the module imports no such name).
struct ScopedImportPatch {
  HMODULE module;
  const char* function;
  void* previous;
  ScopedImportPatch(HMODULE m, const char* f, void* replacement)
      : module(m), function(f), previous(PatchImport(m, f, replacement)) {}
  ~ScopedImportPatch() {
    if (previous != nullptr) PatchImport(module, function, previous);
  }
};
