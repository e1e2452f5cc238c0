// The Windows call table: one row per Windows function the product calls, and the only place
// that names them. Each default calls Windows and then puts the plug-in's floating-point setting
// back. Tests replace rows with UseWindows (see platform/call_table.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct WindowsApi {
  HANDLE (*CreateFileW)(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                        DWORD disposition, DWORD flags, HANDLE templateFile);
  BOOL (*CloseHandle)(HANDLE handle);
  BOOL (*GetFileInformationByHandle)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  DWORD (*GetFileAttributesW)(LPCWSTR name);
  BOOL (*SetFileAttributesW)(LPCWSTR name, DWORD attributes);
  BOOL (*MoveFileExW)(LPCWSTR from, LPCWSTR to, DWORD flags);
  BOOL (*DeleteFileW)(LPCWSTR name);
  DWORD (*GetLastError)();
  void (*Sleep)(DWORD milliseconds);
  DWORD (*GetCurrentProcessId)();
  HGLOBAL (*GlobalAlloc)(UINT flags, SIZE_T bytes);
  HGLOBAL (*GlobalFree)(HGLOBAL block);
  int (*MultiByteToWideChar)(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide,
                             int wideLength);
  int (*MessageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
  BOOL (*ReadFile)(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped);
  BOOL (*WriteFile)(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
                    LPOVERLAPPED overlapped);
  BOOL (*IsProcessorFeaturePresent)(DWORD feature);
  DWORD (*GetFileType)(HANDLE file);
  HANDLE (*CreateThread)(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                         LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD id);
  HANDLE (*CreateSemaphoreW)(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                             LPCWSTR name);
  BOOL (*ReleaseSemaphore)(HANDLE semaphore, LONG count, LPLONG previous);
  DWORD (*WaitForSingleObject)(HANDLE object, DWORD milliseconds);
  BOOL (*SetFilePointerEx)(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position,
                           DWORD method);
  BOOL (*SetFileInformationByHandle)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                     DWORD bytes);
};

extern WindowsApi windows;

// Puts the stand-in's non-null rows in place of the defaults; null puts every default back.
void UseWindows(const WindowsApi* standIn);

// The table as it ships: every row calls Windows.
const WindowsApi& DefaultWindows();

// A handle from the table (a file, a semaphore, a thread), closed through the table when the owner
// ends, on every path; Close() answers whether the close succeeded.
struct HandleOwner {
  HANDLE handle = INVALID_HANDLE_VALUE;

  HandleOwner() = default;
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  ~HandleOwner() { Close(); }

  bool Close() {
    if (handle == INVALID_HANDLE_VALUE) return true;
    const BOOL closed = windows.CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }
};

// Opens an existing file or folder by its wide name, sharing everything, for `access` (0: for
// nothing but its identity), keeping the handle only where it is a disk file: a device, pipe or
// FIFO (a serial port opens at once, then its first read never returns) is closed at once. Asked
// of the open handle, so that every spelling of every device is caught.
enum class Opened { kDiskFile, kNotAFile, kFailed };
Opened OpenDiskFile(const std::wstring& name, DWORD access, DWORD flags, HandleOwner* file);

// Moves the file's position to `offset` bytes from its start; false where it cannot.
bool SeekFile(HANDLE file, int64_t offset);

// The file's size in bytes, or -1 where it cannot be told; the file's position is then at its end.
int64_t FileSize(HANDLE file);

// Waits until the thread has ended, through the table; where the table's wait is refused, with
// the system's own: memory the thread writes into may not be released while it runs.
void WaitForThreadEnd(HANDLE thread);

// True where the processor has SSE2, or AVX2 (and the system saves its registers: Windows 10 and
// later report it); asked of the table at each call, so that a test can deny it.
bool ProcessorHasSse2();
bool ProcessorHasAvx2();
