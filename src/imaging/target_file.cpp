#include "imaging/target_file.h"

#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "text/text.h"

namespace {
// Opens a file or folder for nothing but its identity.
HANDLE OpenForIdentity(const std::string& name) {
  return windows.CreateFileW(ToWideText(name).c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
}  // namespace

bool NamesSameFile(const std::string& a, const std::string& b) {
  const HANDLE first = OpenForIdentity(a);
  if (first == INVALID_HANDLE_VALUE) return false;
  const HANDLE second = OpenForIdentity(b);
  bool same = false;
  if (second != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION one, two;
    same = windows.GetFileInformationByHandle(first, &one) &&
           windows.GetFileInformationByHandle(second, &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
    windows.CloseHandle(second);
  }
  windows.CloseHandle(first);
  return same;
}

TargetKind InspectTarget(const std::string& target) {
  const DWORD attributes = windows.GetFileAttributesW(ToWideText(target).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kTargetAbsent;
  return attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY) ? kTargetNotReplaceable
                                                                         : kTargetFile;
}

std::string TemporaryNameBeside(const std::string& target) {
  static unsigned counter = 0;
  return target + ".~qt" + std::to_string(windows.GetCurrentProcessId()) + "-" + std::to_string(++counter) +
         ".tmp";
}

bool ReplaceTarget(const std::string& temporary, const std::string& target) {
  return windows.MoveFileExW(ToWideText(temporary).c_str(), ToWideText(target).c_str(),
                             MOVEFILE_REPLACE_EXISTING) != FALSE;
}

void TemporaryFile::Name(const std::string& temporary) {
  Remove();
  std::wstring wide = ToWideText(temporary);
  std::string copy = temporary;
  wideName.swap(wide);
  name.swap(copy);
}

void TemporaryFile::Remove() noexcept {
  if (!wideName.empty()) windows.DeleteFileW(wideName.c_str());
  Keep();
}

void TemporaryFile::Keep() noexcept {
  name.clear();
  wideName.clear();
}
