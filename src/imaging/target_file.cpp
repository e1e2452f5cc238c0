#include "imaging/target_file.h"

#include <windows.h>

#include "plugin/fpu.h"
#include "text/text.h"
#include "text/text_windows.h"

bool NamesDevice(const std::string& target) {
  const size_t slash = target.find_last_of("\\/:");
  std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1);
  base = UpperCase(base.substr(0, base.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();  // "NUL .png" is NUL too
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

namespace {
// Opens a file or folder for nothing but its identity.
HANDLE OpenForIdentity(const std::string& name) {
  const HANDLE file = CreateFileW(ToWideText(name).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  UsePluginFpu();
  return file;
}
}  // namespace

bool NamesSameFile(const std::string& a, const std::string& b) {
  const HANDLE first = OpenForIdentity(a);
  if (first == INVALID_HANDLE_VALUE) return false;
  const HANDLE second = OpenForIdentity(b);
  bool same = false;
  if (second != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION one, two;
    same = GetFileInformationByHandle(first, &one) && GetFileInformationByHandle(second, &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
    CloseHandle(second);
  }
  CloseHandle(first);
  UsePluginFpu();
  return same;
}

std::string ReserveTemporaryBeside(const std::string& target) {
  static unsigned counter = 0;
  const std::string stem = target + ".~qt" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(++counter) + ".tmp";
    const HANDLE file = CreateFileW(ToWideText(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    UsePluginFpu();
    if (file != INVALID_HANDLE_VALUE) return name;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

bool ReplaceTarget(const std::string& temporary, const std::string& target) {
  const std::wstring wideTarget = ToWideText(target);
  // Windows refuses to replace a read-only file; Wine's MoveFileEx does it anyway.
  const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
  const bool readOnly =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  const BOOL moved = !readOnly && MoveFileExW(ToWideText(temporary).c_str(), wideTarget.c_str(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  UsePluginFpu();
  return moved != FALSE;
}

void RemoveTemporary(const std::string& temporary) {
  if (temporary.empty()) return;
  DeleteFileW(ToWideText(temporary).c_str());
  UsePluginFpu();
}
