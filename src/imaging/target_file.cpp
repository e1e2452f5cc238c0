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

bool ReadWholeFile(const std::wstring& name, std::vector<uint8_t>* bytes) {
  constexpr LONGLONG kMaxBytes = LONGLONG{1} << 28;
  const HANDLE file = windows.CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  DWORD done = 0;
  bool ok = windows.GetFileSizeEx(file, &size) && size.QuadPart <= kMaxBytes;
  if (ok) {
    try {
      bytes->resize(static_cast<size_t>(size.QuadPart));
    } catch (...) {
      windows.CloseHandle(file);
      throw;
    }
    ok = windows.ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &done,
                          nullptr) &&
         done == bytes->size();
  }
  windows.CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const std::wstring& name, const std::vector<uint8_t>& bytes) {
  const HANDLE file = windows.CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok =
      windows.WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
      done == bytes.size();
  return windows.CloseHandle(file) && ok;
}

bool TemporaryFile::CreateBeside(const std::string& target) {
  Remove();
  static unsigned counter = 0;
  const std::string folder = target.substr(0, target.find_last_of("\\/:") + 1);
  const std::string process = std::to_string(windows.GetCurrentProcessId());
  for (int tries = 0; tries < 100; ++tries) {
    std::wstring name =
        ToWideText(folder + "~qt" + process + "-" + std::to_string(++counter) + ".tmp");
    if (name.empty()) return false;
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
