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
    ThenPluginFpu<::GetFileSizeEx>,
    ThenPluginFpu<::ReadFile>,
    ThenPluginFpu<::WriteFile>,
    ThenPluginFpu<::IsProcessorFeaturePresent>,
};
}  // namespace

WindowsApi windows = kDefaults;

void UseWindows(const WindowsApi* standIn) { windows = WithRowsOf(kDefaults, standIn); }

const WindowsApi& DefaultWindows() { return kDefaults; }

bool ProcessorHasSse2() {
  return windows.IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
}
