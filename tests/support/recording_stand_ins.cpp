#include "recording_stand_ins.h"

#include "image_codec.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <regex>

#include "imaging/gdiplus/gdiplus_source.h"
#include "platform/windows_api.h"

namespace {
GdiplusScript script;
std::vector<std::string> calls;
std::map<const void*, std::string> live;  // handle -> its name in the log
std::map<const void*, int32_t> formats;   // bitmap -> its pixel format
std::map<const void*, std::pair<float, float>> sizes;  // bitmap or loaded file -> its size
std::map<const void*, std::vector<BYTE>> locks;  // bitmap -> the pixels it has handed out
int sessions = 0;
uintptr_t nextHandle = 0x1000;
int bitmaps = 0, contexts = 0, attributeSets = 0;

// A wide name as a narrow path (the tests' names are ASCII).
std::string Path(const WCHAR* text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text & 0xFF);
  return narrow;
}

// A wide name as the log shows it, every temporary name alike.
std::string Narrow(const WCHAR* text) {
  return std::regex_replace(Path(text), std::regex("~qt[0-9]+-[0-9]+"), "~qt#");
}

std::string Name(const void* handle) {
  if (handle == nullptr) return "0";
  const auto found = live.find(handle);
  return found == live.end() ? "released?" : found->second;
}

void* NewHandle(const std::string& name) {
  void* handle = reinterpret_cast<void*>(nextHandle += 0x10);
  live[handle] = name;
  return handle;
}

void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  calls.push_back(line);
}

std::map<std::string, int> failedSoFar;

// Asked by each function right after it has logged its call: whether to fail it. Throws where
// the script says so, except for a release.
bool Fails(const char* function, bool release = false) {
  const size_t call = calls.size();
  if (!release && call == script.throwAt) throw std::bad_alloc();
  const bool byNumber =
      script.failAt != 0 && (call == script.failAt || (script.failFromThen && call > script.failAt));
  const auto first = script.failFirst.find(function);
  const bool early = first != script.failFirst.end() && failedSoFar[function]++ < first->second;
  return byNumber || early || script.failing.count(function) != 0;
}

GpStatus Startup(ULONG_PTR* token, const GdiplusStartupInput* input, void* output) {
  Log("GdiplusStartup(version %u, callback %p, suppress %d %d, output %p)",
      input->GdiplusVersion, input->DebugEventCallback, input->SuppressBackgroundThread,
      input->SuppressExternalCodecs, output);
  if (script.startup != kGpOk) return script.startup;
  if (Fails("GdiplusStartup")) return 2;
  ++sessions;
  *token = 77;
  return kGpOk;
}
void Shutdown(ULONG_PTR token) {
  Log("GdiplusShutdown(%lu)", static_cast<unsigned long>(token));
  Fails("GdiplusShutdown", true);  // answers nothing, so a failure cannot show
  if (token == 77) --sessions;
}
GpStatus Load(const WCHAR* name, GpImage** image) {
  Log("GdipLoadImageFromFile(%s)", Narrow(name).c_str());
  if (!script.sourceLoads || Fails("GdipLoadImageFromFile")) return 10;  // FileNotFound
  *image = static_cast<GpImage*>(NewHandle("source"));
  return kGpOk;
}
GpStatus Dispose(GpImage* image) {
  Log("GdipDisposeImage(%s)", Name(image).c_str());
  // A failed release still releases: nothing the caller could do would free it otherwise.
  const bool fails = Fails("GdipDisposeImage", true);
  return live.erase(image) && !fails ? kGpOk : 2;
}
GpStatus Dimension(GpImage* image, float* width, float* height) {
  Log("GdipGetImageDimension(%s)", Name(image).c_str());
  if (Fails("GdipGetImageDimension")) return 2;
  const auto known = sizes.find(image);
  *width = known != sizes.end() ? known->second.first : script.width;
  *height = known != sizes.end() ? known->second.second : script.height;
  return kGpOk;
}
GpStatus PixelFormat(GpImage* image, int32_t* format) {
  Log("GdipGetImagePixelFormat(%s)", Name(image).c_str());
  if (Fails("GdipGetImagePixelFormat")) return 2;
  *format = script.pixelFormat;
  return kGpOk;
}
GpStatus ImageType(GpImage* image, int* type) {
  Log("GdipGetImageType(%s)", Name(image).c_str());
  if (Fails("GdipGetImageType")) return 2;
  *type = script.imageType;
  return kGpOk;
}
int BytesPerPixel(int32_t format) { return format == 0x21808 ? 3 : format == 0x30803 ? 1 : 4; }
// Hands out a buffer of the rectangle in the asked format, filled with a pattern; a second lock
// before the unlock is refused, as GDI+ does (WrongState).
GpStatus LockBits(GpImage* bitmap, const GpRect* rect, UINT flags, int32_t format,
                  GpBitmapData* data) {
  Log("GdipBitmapLockBits(%s, %d %d %d %d, %u, 0x%X)", Name(bitmap).c_str(), rect->X, rect->Y,
      rect->Width, rect->Height, flags, format);
  if (Fails("GdipBitmapLockBits") || locks.count(bitmap)) return 8;
  const INT stride = (rect->Width * BytesPerPixel(format) + 3) & ~3;
  std::vector<BYTE>& pixels = locks[bitmap];
  pixels.assign(static_cast<size_t>(stride) * rect->Height, 0);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i * 7);
  *data = GpBitmapData{static_cast<UINT>(rect->Width),
                       static_cast<UINT>(rect->Height - (script.shortLocks ? 1 : 0)), stride,
                       format, pixels.data(), 0};
  return kGpOk;
}
GpStatus UnlockBits(GpImage* bitmap, GpBitmapData*) {
  Log("GdipBitmapUnlockBits(%s)", Name(bitmap).c_str());
  const bool fails = Fails("GdipBitmapUnlockBits", true);  // and still ends the lock
  if (locks.erase(bitmap) == 0) return 7;
  return fails ? 2 : kGpOk;
}
GpStatus CreateBitmap(INT width, INT height, INT stride, int32_t format, BYTE* scan0,
                      GpImage** bitmap) {
  Log("GdipCreateBitmapFromScan0(%d, %d, %d, 0x%X, %p)", width, height, stride, format, scan0);
  if (width <= 0 || height <= 0 || script.noBitmapFormats.count(format) ||
      Fails("GdipCreateBitmapFromScan0")) {
    return 2;
  }
  char name[32];
  std::snprintf(name, sizeof name, "bitmap%d:0x%X", ++bitmaps, format);
  *bitmap = static_cast<GpImage*>(NewHandle(name));
  formats[*bitmap] = format;
  sizes[*bitmap] = {static_cast<float>(width), static_cast<float>(height)};
  return kGpOk;
}
GpStatus Context(GpImage* image, GpGraphics** graphics) {
  Log("GdipGetImageGraphicsContext(%s)", Name(image).c_str());
  // As on Windows: no drawing context on palette formats, 16-bit grey or ARGB 1555.
  const int32_t format = formats.count(image) ? formats[image] : 0;
  if ((format & kPixelFormatIndexed) || format == 0x101004 || format == 0x61007 ||
      Fails("GdipGetImageGraphicsContext")) {
    return 7;  // Win32Error, as Windows answers
  }
  *graphics = static_cast<GpGraphics*>(NewHandle("graphics" + std::to_string(++contexts)));
  return kGpOk;
}
GpStatus DeleteGraphics(GpGraphics* graphics) {
  Log("GdipDeleteGraphics(%s)", Name(graphics).c_str());
  const bool fails = Fails("GdipDeleteGraphics", true);
  return live.erase(graphics) && !fails ? kGpOk : 2;
}
GpStatus Interpolation(GpGraphics* graphics, int mode) {
  Log("GdipSetInterpolationMode(%s, %d)", Name(graphics).c_str(), mode);
  return Fails("GdipSetInterpolationMode") ? 2 : kGpOk;
}
GpStatus Smoothing(GpGraphics* graphics, int mode) {
  Log("GdipSetSmoothingMode(%s, %d)", Name(graphics).c_str(), mode);
  return Fails("GdipSetSmoothingMode") ? 2 : kGpOk;
}
GpStatus CreateAttributes(GpImageAttributes** attributes) {
  Log("GdipCreateImageAttributes");
  if (Fails("GdipCreateImageAttributes")) return 3;
  *attributes =
      static_cast<GpImageAttributes*>(NewHandle("attributes" + std::to_string(++attributeSets)));
  return kGpOk;
}
GpStatus WrapMode(GpImageAttributes* attributes, int wrap, DWORD argb, BOOL clamp) {
  Log("GdipSetImageAttributesWrapMode(%s, %d, %lu, %d)", Name(attributes).c_str(), wrap,
      static_cast<unsigned long>(argb), clamp);
  return Fails("GdipSetImageAttributesWrapMode") ? 2 : kGpOk;
}
GpStatus DisposeAttributes(GpImageAttributes* attributes) {
  Log("GdipDisposeImageAttributes(%s)", Name(attributes).c_str());
  const bool fails = Fails("GdipDisposeImageAttributes", true);
  return live.erase(attributes) && !fails ? kGpOk : 2;
}
GpStatus Draw(GpGraphics* graphics, GpImage* image, INT dx, INT dy, INT dw, INT dh, INT sx, INT sy,
              INT sw, INT sh, int unit, const GpImageAttributes* attributes, void* abort,
              void* data) {
  Log("GdipDrawImageRectRectI(%s, %s, %d %d %d %d, %d %d %d %d, %d, %s, %p, %p)",
      Name(graphics).c_str(), Name(image).c_str(), dx, dy, dw, dh, sx, sy, sw, sh, unit,
      Name(attributes).c_str(), abort, data);
  return Fails("GdipDrawImageRectRectI") ? 2 : kGpOk;
}
GpStatus DrawWhole(GpGraphics* graphics, GpImage* image, INT x, INT y, INT width, INT height) {
  Log("GdipDrawImageRectI(%s, %s, %d %d %d %d)", Name(graphics).c_str(), Name(image).c_str(), x, y,
      width, height);
  return Fails("GdipDrawImageRectI") ? 2 : kGpOk;
}
// A bitmap's sides in whole pixels, as GDI+ counts them.
GpStatus Side(const char* function, GpImage* image, bool width, UINT* side) {
  Log("%s(%s)", function, Name(image).c_str());
  if (Fails(function)) return 2;
  const auto known = sizes.find(image);
  const float value = known != sizes.end() ? (width ? known->second.first : known->second.second)
                                           : (width ? script.width : script.height);
  *side = value > 0 ? static_cast<UINT>(value) : 0;
  return kGpOk;
}
GpStatus Width(GpImage* image, UINT* width) { return Side("GdipGetImageWidth", image, true, width); }
GpStatus Height(GpImage* image, UINT* height) { return Side("GdipGetImageHeight", image, false, height); }

const GdiplusApi kRecording = {
    Startup,  Shutdown,       Load,          Dispose,    Dimension,        PixelFormat,
    ImageType, LockBits,      UnlockBits,    CreateBitmap, Context,        DeleteGraphics,
    Interpolation, Smoothing, CreateAttributes, WrapMode, DisposeAttributes, Draw,
    DrawWhole, Width, Height};
// The Windows rows: the real call unless the script fails it, with the error it names.
template <typename Result>
Result Failed(Result value) {
  SetLastError(script.windowsError);
  return value;
}
HANDLE RecordedCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  Log("CreateFileW(%s, 0x%lX)", Narrow(name).c_str(), static_cast<unsigned long>(access));
  if (Fails("CreateFileW")) return Failed(INVALID_HANDLE_VALUE);
  return CreateFileW(name, access, share, security, disposition, flags, templateFile);
}
BOOL RecordedCloseHandle(HANDLE handle) {
  Log("CloseHandle");
  const bool fails = Fails("CloseHandle", true);
  const BOOL closed = CloseHandle(handle);
  return fails ? Failed(FALSE) : closed;
}
BOOL RecordedGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  Log("GetFileInformationByHandle");
  if (Fails("GetFileInformationByHandle")) return Failed(FALSE);
  return GetFileInformationByHandle(file, information);
}
DWORD RecordedGetFileAttributesW(LPCWSTR name) {
  Log("GetFileAttributesW(%s)", Narrow(name).c_str());
  if (Fails("GetFileAttributesW")) return Failed(INVALID_FILE_ATTRIBUTES);
  return GetFileAttributesW(name);
}
BOOL RecordedSetFileAttributesW(LPCWSTR name, DWORD attributes) {
  Log("SetFileAttributesW(%s, 0x%lX)", Narrow(name).c_str(), static_cast<unsigned long>(attributes));
  if (Fails("SetFileAttributesW")) return Failed(FALSE);
  return SetFileAttributesW(name, attributes);
}
BOOL RecordedMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  Log("MoveFileExW(%s, %s, %lu)", Narrow(from).c_str(), Narrow(to).c_str(),
      static_cast<unsigned long>(flags));
  if (Fails("MoveFileExW")) return Failed(FALSE);
  return MoveFileExW(from, to, flags);
}
BOOL RecordedDeleteFileW(LPCWSTR name) {
  Log("DeleteFileW(%s)", Narrow(name).c_str());
  if (Fails("DeleteFileW", true)) return Failed(FALSE);
  return DeleteFileW(name);
}
DWORD RecordedGetLastError() { return GetLastError(); }  // not logged: it only reads
void RecordedSleep(DWORD milliseconds) {
  Log("Sleep(%lu)", static_cast<unsigned long>(milliseconds));
}
DWORD RecordedGetCurrentProcessId() {
  Log("GetCurrentProcessId");
  Fails("GetCurrentProcessId");  // cannot fail, but may throw
  return GetCurrentProcessId();
}
HGLOBAL RecordedGlobalAlloc(UINT flags, SIZE_T bytes) {
  Log("GlobalAlloc(0x%X, %lu)", flags, static_cast<unsigned long>(bytes));
  if (Fails("GlobalAlloc")) return Failed<HGLOBAL>(nullptr);
  return GlobalAlloc(flags, bytes);
}
HGLOBAL RecordedGlobalFree(HGLOBAL block) {
  Log("GlobalFree");
  const bool fails = Fails("GlobalFree", true);
  const HGLOBAL left = GlobalFree(block);
  return fails ? Failed(block) : left;
}
int RecordedMultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide,
                               int wideLength) {
  Log("MultiByteToWideChar(%d)", length);
  if (Fails("MultiByteToWideChar")) return Failed(0);
  return MultiByteToWideChar(codePage, flags, text, length, wide, wideLength);
}
int RecordedMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  Log("MessageBoxA(%s, %s, %u)", text, caption, type);  // never a window in a test
  if (Fails("MessageBoxA")) return Failed(0);
  return IDOK;
}

BOOL RecordedReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
  Log("ReadFile(%lu)", static_cast<unsigned long>(bytes));
  if (Fails("ReadFile")) return Failed(FALSE);
  return ReadFile(file, buffer, bytes, read, overlapped);
}
BOOL RecordedWriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
  Log("WriteFile(%lu)", static_cast<unsigned long>(bytes));
  if (Fails("WriteFile")) return Failed(FALSE);
  return WriteFile(file, buffer, bytes, written, overlapped);
}
BOOL RecordedIsProcessorFeaturePresent(DWORD feature) {  // not logged: asked once per process
  return IsProcessorFeaturePresent(feature);
}

DWORD RecordedGetFileType(HANDLE file) {
  Log("GetFileType");
  if (Fails("GetFileType")) return Failed<DWORD>(FILE_TYPE_UNKNOWN);
  return GetFileType(file);
}

BOOL RecordedSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
  Log("SetFilePointerEx(%lld)", static_cast<long long>(distance.QuadPart));
  if (Fails("SetFilePointerEx")) return Failed(FALSE);
  return SetFilePointerEx(file, distance, position, method);
}
BOOL RecordedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                        DWORD bytes) {
  Log("SetFileInformationByHandle(%d)", static_cast<int>(kind));
  if (Fails("SetFileInformationByHandle", true)) return Failed(FALSE);
  return SetFileInformationByHandle(file, kind, information, bytes);
}

const WindowsApi kRecordingWindows = {
    RecordedCreateFileW,         RecordedCloseHandle,         RecordedGetFileInformationByHandle,
    RecordedGetFileAttributesW,  RecordedSetFileAttributesW,  RecordedMoveFileExW,
    RecordedDeleteFileW,         RecordedGetLastError,        RecordedSleep,
    RecordedGetCurrentProcessId, RecordedGlobalAlloc,         RecordedGlobalFree,
    RecordedMultiByteToWideChar, RecordedMessageBoxA,
    RecordedReadFile,            RecordedWriteFile,           RecordedIsProcessorFeaturePresent,
    RecordedGetFileType,
    // A worker thread's calls come from two threads at once: Windows' own, not logged (the
    // threads' own tests refuse them).
    nullptr, nullptr, nullptr, nullptr,
    RecordedSetFilePointerEx, RecordedSetFileInformationByHandle,
};
}  // namespace

RecordingWindows::RecordingWindows() { UseWindows(&kRecordingWindows); }
RecordingWindows::~RecordingWindows() { UseWindows(nullptr); }

RecordingGdiplus::RecordingGdiplus() : script(::script), calls(::calls) {
  ::script = GdiplusScript();
  ::calls.clear();
  live.clear();
  formats.clear();
  sizes.clear();
  locks.clear();
  failedSoFar.clear();
  sessions = bitmaps = contexts = attributeSets = 0;
  UseGdiplus(&kRecording);
}

RecordingGdiplus::~RecordingGdiplus() { UseGdiplus(nullptr); }

int RecordingGdiplus::Unreleased() const {
  return sessions + static_cast<int>(live.size() + locks.size());
}

std::string LoggedTemporaryName(const std::string& target) {
  return target.substr(0, target.find_last_of("\\/:") + 1) + "~qt#.tmp";
}
