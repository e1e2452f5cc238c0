#include "platform/windows_api.h"

#include "platform/call_table.h"

namespace {
const WindowsApi kDefaults = {
    ThenPluginFpu<::CreateFileW>,
    ThenPluginFpu<::CloseHandle>,
    ThenPluginFpu<::GetFileInformationByHandle>,
    ThenPluginFpu<::GetFileAttributesW>,
    ThenPluginFpu<::SetFileAttributesW>,
    ThenPluginFpu<::MoveFileExW>,
    ThenPluginFpu<::DeleteFileW>,
    ThenPluginFpu<::GetLastError>,
    ThenPluginFpu<::Sleep>,
    ThenPluginFpu<::GetCurrentProcessId>,
    ThenPluginFpu<::GlobalAlloc>,
    ThenPluginFpu<::GlobalFree>,
    ThenPluginFpu<::MultiByteToWideChar>,
    ThenPluginFpu<::MessageBoxA>,
    ThenPluginFpu<::ReadFile>,
    ThenPluginFpu<::WriteFile>,
    ThenPluginFpu<::IsProcessorFeaturePresent>,
    ThenPluginFpu<::GetFileType>,
    ThenPluginFpu<::CreateThread>,
    ThenPluginFpu<::CreateSemaphoreW>,
    ThenPluginFpu<::ReleaseSemaphore>,
    ThenPluginFpu<::WaitForSingleObject>,
    ThenPluginFpu<::SetFilePointerEx>,
    ThenPluginFpu<::SetFileInformationByHandle>,
};
}  // namespace

WindowsApi windows = kDefaults;

void UseWindows(const WindowsApi* standIn) { windows = WithRowsOf(kDefaults, standIn); }

const WindowsApi& DefaultWindows() { return kDefaults; }

bool ProcessorHasSse2() {
  return windows.IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
}

bool ProcessorHasAvx2() {
  constexpr DWORD kAvx2 = 40;  // PF_AVX2_INSTRUCTIONS_AVAILABLE, which older SDKs lack
  return windows.IsProcessorFeaturePresent(kAvx2) != FALSE;
}

Opened OpenDiskFile(const std::wstring& name, DWORD access, DWORD flags, HandleOwner* file) {
  file->Close();
  file->handle = windows.CreateFileW(name.c_str(), access,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, flags, nullptr);
  if (file->handle == INVALID_HANDLE_VALUE) return Opened::kFailed;
  if (windows.GetFileType(file->handle) == FILE_TYPE_DISK) return Opened::kDiskFile;
  file->Close();
  return Opened::kNotAFile;
}

bool SeekFile(HANDLE file, int64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  return windows.SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}

int64_t FileSize(HANDLE file) {
  LARGE_INTEGER end, none;
  none.QuadPart = 0;
  return windows.SetFilePointerEx(file, none, &end, FILE_END) != FALSE ? end.QuadPart : -1;
}

void WaitForThreadEnd(HANDLE thread) {
  if (windows.WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0) {
    ::WaitForSingleObject(thread, INFINITE);
  }
}
