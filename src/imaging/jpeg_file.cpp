#include "imaging/jpeg_file.h"

#include "platform/windows_api.h"

namespace {
int32_t ReadFromFile(void* context, uint8_t* buffer, int32_t size) {
  try {
    DWORD got = 0;
    if (!windows.ReadFile(*static_cast<HANDLE*>(context), buffer, static_cast<DWORD>(size), &got,
                          nullptr)) {
      return -1;
    }
    return static_cast<int32_t>(got);
  } catch (...) {  // the reader's C code cannot pass an exception on
    return -1;
  }
}
}  // namespace

JpegOutcome DecodeJpegFile(const std::wstring& name, const JpegSink& sink) {
  FileOwner file;
  // Others may read and write it meanwhile, as they may while GDI+ reads it.
  file.handle = windows.CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file.handle == INVALID_HANDLE_VALUE) return JpegOutcome::kRefused;
  return DecodeJpeg(JpegBytes{ReadFromFile, &file.handle}, sink);
}

bool JpegFileSize(const std::wstring& name, int32_t* width, int32_t* height) {
  struct Size {
    int32_t width, height;
  } size = {0, 0};
  const JpegSink measure = {
      [](void* context, int32_t w, int32_t h, int) {
        *static_cast<Size*>(context) = {w, h};
        return 8;
      },
      [](void*, int32_t, int32_t) { return true; }, [](void*, const uint8_t*) {}, &size};
  if (DecodeJpegFile(name, measure) != JpegOutcome::kRead) return false;
  *width = size.width;
  *height = size.height;
  return true;
}
