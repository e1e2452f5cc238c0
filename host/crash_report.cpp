#include "host/crash_report.h"

void AppendText(char** at, const char* text) {
  while (*text) *(*at)++ = *text++;
}

void AppendHex(char** at, uintptr_t value) {
  AppendText(at, "0x");
  for (int shift = 28; shift >= 0; shift -= 4) *(*at)++ = "0123456789ABCDEF"[(value >> shift) & 15];
}

namespace {
// The module that holds this address, with its file's base name ("gdiplus.dll") copied into
// `name` and pointed to by `base`; null when no module holds it.
HMODULE ModuleAt(const void* address, char* name, DWORD size, const char** base) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const char*>(address), &module) ||
      GetModuleFileNameA(module, name, size) == 0) {
    return nullptr;
  }
  *base = name;
  for (const char* c = name; *c; ++c) {
    if (*c == '\\' || *c == '/') *base = c + 1;
  }
  return module;
}

// The base name of the module that holds executable code at this address, or null.
const char* CodeModule(uintptr_t address, char* name, DWORD size) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region) == 0 ||
      region.Type != MEM_IMAGE ||
      !(region.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE))) {
    return nullptr;
  }
  const char* base = nullptr;
  return ModuleAt(reinterpret_cast<const void*>(address), name, size, &base) ? base : nullptr;
}

bool SameText(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}
}  // namespace

void AppendPlace(char** at, const void* address) {
  char name[MAX_PATH];
  const char* base = "unknown module";
  const HMODULE module = ModuleAt(address, name, MAX_PATH, &base);
  AppendText(at, " in ");
  AppendText(at, base);
  AppendText(at, " at offset ");
  AppendHex(at, reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(module));
}

void AppendCallers(char** at, const char* end, uintptr_t stack) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<const void*>(stack), &region, sizeof region) == 0) return;
  const uintptr_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
  char last[MAX_PATH] = "";
  AppendText(at, ", called from");
  const char* separator = " ";
  int named = 0;
  for (uintptr_t slot = stack & ~uintptr_t{3}; slot + sizeof(uintptr_t) <= top; slot += sizeof(uintptr_t)) {
    char name[MAX_PATH];
    const char* module = CodeModule(*reinterpret_cast<const uintptr_t*>(slot), name, MAX_PATH);
    if (module == nullptr || SameText(module, last)) continue;
    size_t length = 0;
    while (module[length]) ++length;
    if (*at + length + 4 >= end || ++named > 6) break;
    AppendText(at, separator);
    AppendText(at, module);
    separator = ", ";
    for (size_t i = 0; i <= length; ++i) last[i] = module[i];
  }
}

void WriteReport(const char* report, const char* end) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), report, static_cast<DWORD>(end - report), &written, nullptr);
}


// A crash in the plug-in or in what it calls is reported with the module it happened in, so that
// a crash in the platform's decoders can be told from one in the plug-in. The heap may be what
// was damaged, so the report is made without the C runtime.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  char report[2048];
  char* at = report;
  AppendText(&at, "\nquintara-host: crash: exception ");
  AppendHex(&at, record->ExceptionCode);
  AppendPlace(&at, record->ExceptionAddress);
#if defined(_M_IX86) || defined(__i386__)
  AppendCallers(&at, report + sizeof report - 2, exception->ContextRecord->Esp);
#endif
  AppendText(&at, "\n");
  WriteReport(report, at);
  // Ended here and now: an orderly exit would run the libraries' detach code, which can wait
  // forever for a lock the crashed code still holds.
  TerminateProcess(GetCurrentProcess(), kCrashExitStatus);
  return EXCEPTION_EXECUTE_HANDLER;
}

