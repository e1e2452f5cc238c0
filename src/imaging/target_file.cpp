#include "imaging/target_file.h"

#include "platform/windows_api.h"

namespace {
// Like SQLite's Windows layer: 10 attempts, waiting 25 ms more before each next one.
constexpr int kAttempts = 10;
constexpr DWORD kRetryStepMilliseconds = 25;

// Runs an attempt at a rename or delete until it succeeds, fails for a reason that waiting does
// not mend, or the attempts are used up.
template <typename Attempt>
bool RetryWhileLocked(Attempt attempt) {
  for (int tries = 1;; ++tries) {
    if (attempt()) return true;
    const DWORD error = windows.GetLastError();
    const bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                           error == ERROR_ACCESS_DENIED;
    if (!transient || tries == kAttempts) return false;
    windows.Sleep(kRetryStepMilliseconds * static_cast<DWORD>(tries));
  }
}
}  // namespace

bool NamesSameFile(const std::wstring& a, const std::wstring& b) {
  HandleOwner first, second;
  if (OpenDiskFile(a, 0, FILE_FLAG_BACKUP_SEMANTICS, &first) != Opened::kDiskFile ||
      OpenDiskFile(b, 0, FILE_FLAG_BACKUP_SEMANTICS, &second) != Opened::kDiskFile) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION one, two;
  return windows.GetFileInformationByHandle(first.handle, &one) &&
         windows.GetFileInformationByHandle(second.handle, &two) &&
         one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
         one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

TargetStanding InspectTarget(const TargetName& target) {
  const DWORD attributes = windows.GetFileAttributesW(target.wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {kTargetAbsent, 0};
  const bool replaceable = !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  return {replaceable ? kTargetFile : kTargetNotReplaceable, attributes};
}


bool ReplaceTarget(const TemporaryFile& temporary, const TargetName& target,
                   uint32_t replacedAttributes) {
  const std::wstring& from = temporary.wideName;
  const DWORD carried =
      replacedAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  // Set before the rename, so that a hidden target never shows unhidden; a failure here costs
  // the attribute, not the picture.
  if (carried != 0) windows.SetFileAttributesW(from.c_str(), carried | FILE_ATTRIBUTE_ARCHIVE);
  return RetryWhileLocked([&] {
    return windows.MoveFileExW(from.c_str(), target.wide.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  });
}

bool TemporaryFile::CreateBeside(const TargetName& target) {
  Remove();
  if (target.wide.empty()) return false;
  static unsigned counter = 0;
  const std::wstring folder = target.wide.substr(0, target.wide.find_last_of(L"\\/:") + 1);
  const std::wstring process = std::to_wstring(windows.GetCurrentProcessId());
  for (int tries = 0; tries < 100; ++tries) {
    std::wstring name = folder + L"~qt" + process + L"-" + std::to_wstring(++counter) + L".tmp";
    const HANDLE file = windows.CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      wideName.swap(name);  // owned before anything else can fail
      windows.CloseHandle(file);
      return true;
    }
    const DWORD error = windows.GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void TemporaryFile::Remove() noexcept {
  if (!wideName.empty()) {
    RetryWhileLocked([&] { return windows.DeleteFileW(wideName.c_str()) != FALSE; });
  }
  Keep();
}

void TemporaryFile::Keep() noexcept { wideName.clear(); }
