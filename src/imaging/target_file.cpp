#include "imaging/target_file.h"

#include "platform/windows_api.h"

namespace {
// Like SQLite's Windows layer: 10 attempts, waiting 25 ms more before each next one.
constexpr int kAttempts = 10;
constexpr DWORD kRetryStepMilliseconds = 25;

// What the plug-in does with its temporary file through the one handle.
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

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

TargetStanding InspectTarget(const TargetName& target) {
  const DWORD attributes = windows.GetFileAttributesW(target.wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {kTargetAbsent, 0};
  const bool replaceable = !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  return {replaceable ? kTargetFile : kTargetNotReplaceable, attributes};
}

bool ReplaceTarget(const TemporaryFile& temporary, const TargetName& target) {
  const TargetStanding standing = InspectTarget(target);
  if (standing.kind == kTargetNotReplaceable) return false;
  const std::wstring& from = temporary.wideName;
  const DWORD carried =
      standing.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
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
    // Shared for deleting, so that the rename by name is not refused while the handle is open.
    file.handle = windows.CreateFileW(name.c_str(), kAccess, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle != INVALID_HANDLE_VALUE) {
      wideName.swap(name);  // owned before anything else can fail
      return true;
    }
    const DWORD error = windows.GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool TemporaryFile::LendToGdiplus(const std::function<bool()>& use) {
  file.Close();
  return use() && OpenDiskFile(wideName, kAccess, 0, &file) == Opened::kDiskFile;
}

void TemporaryFile::Remove() noexcept {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (file.handle != INVALID_HANDLE_VALUE &&
      windows.SetFileInformationByHandle(file.handle, FileDispositionInfo, &disposition,
                                         sizeof disposition)) {
    file.Close();  // the file goes with its last handle
  } else if (!wideName.empty()) {
    file.Close();
    RetryWhileLocked([&] { return windows.DeleteFileW(wideName.c_str()) != FALSE; });
  }
  Keep();
}

void TemporaryFile::Keep() noexcept {
  file.Close();
  wideName.clear();
}
