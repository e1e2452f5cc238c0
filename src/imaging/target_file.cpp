#include "imaging/target_file.h"

#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "text/text.h"

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

TargetStanding InspectTarget(const std::string& target) {
  const DWORD attributes = windows.GetFileAttributesW(ToWideText(target).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {kTargetAbsent, 0};
  const bool replaceable = !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
  return {replaceable ? kTargetFile : kTargetNotReplaceable, attributes};
}

std::string TemporaryNameBeside(const std::string& target) {
  static unsigned counter = 0;
  const std::string folder = target.substr(0, target.find_last_of("\\/:") + 1);
  const std::string process = std::to_string(windows.GetCurrentProcessId());
  std::string name;
  // A file of that name left by another program is not ours to overwrite.
  for (int tries = 0; tries < 100; ++tries) {
    name = folder + "~qt" + process + "-" + std::to_string(++counter) + ".tmp";
    if (windows.GetFileAttributesW(ToWideText(name).c_str()) == INVALID_FILE_ATTRIBUTES) break;
  }
  return name;
}

bool ReplaceTarget(const TemporaryFile& temporary, const std::string& target,
                   uint32_t replacedAttributes) {
  const std::wstring& from = temporary.wideName;
  const std::wstring to = ToWideText(target);
  const DWORD carried =
      replacedAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  // Set before the rename, so that a hidden target never shows unhidden; a failure here costs
  // the attribute, not the picture.
  if (carried != 0) windows.SetFileAttributesW(from.c_str(), carried | FILE_ATTRIBUTE_ARCHIVE);
  return RetryWhileLocked([&] {
    return windows.MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  });
}

bool TemporaryFile::Name(const std::string& temporary) {
  Remove();
  wideName = ToWideText(temporary);
  return !wideName.empty();
}

void TemporaryFile::Remove() noexcept {
  if (!wideName.empty()) {
    RetryWhileLocked([&] { return windows.DeleteFileW(wideName.c_str()) != FALSE; });
  }
  Keep();
}

void TemporaryFile::Keep() noexcept { wideName.clear(); }
