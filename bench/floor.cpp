// The floor: what one resize costs in GDI+ alone. For each job line "source|target|width|height"
// it makes the scaling worker's GDI+ calls (start-up, load, dimensions, pixel format, bitmap,
// context, modes, attributes, draw, encoder lookup, save, releases, shut-down) straight into
// gdiplus.dll, and nothing else: no parameter text, no name checks, no temporary file, no
// rename. Prints one line per job with its time, and the peak memory at the end, in the same
// form as quintara-host's batch command.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/gdiplus_flat.h"

namespace {
std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size()));
  wide.resize(static_cast<size_t>(n));
  return wide;
}

// The encoder whose MIME type is `mime`, looked up the way the worker does: list, then scan.
bool FindEncoder(const wchar_t* mime, CLSID* clsid) {
  UINT count = 0, size = 0;
  GdipGetImageEncodersSize(&count, &size);
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (GdipGetImageEncoders(count, size, encoders) != 0) return false;
  for (UINT i = 0; i < count; ++i) {
    if (_wcsicmp(encoders[i].MimeType, mime) == 0) {
      *clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

bool Resize(const std::string& source, const std::string& target, int width, int height) {
  const wchar_t* mime = nullptr;
  const std::string extension = target.substr(target.find_last_of('.') + 1);
  if (_stricmp(extension.c_str(), "png") == 0) mime = L"image/png";
  if (_stricmp(extension.c_str(), "jpg") == 0) mime = L"image/jpeg";
  if (_stricmp(extension.c_str(), "bmp") == 0) mime = L"image/bmp";
  if (mime == nullptr) return false;

  ULONG_PTR token = 0;
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  GdiplusStartup(&token, &input, nullptr);
  GpImage* image = nullptr;
  GdipLoadImageFromFile(Wide(source).c_str(), &image);
  bool saved = false;
  if (image != nullptr) {
    float sourceWidth = 0, sourceHeight = 0;
    GdipGetImageDimension(image, &sourceWidth, &sourceHeight);
    int32_t format = 0;
    GdipGetImagePixelFormat(image, &format);
    if (format & kPixelFormatIndexed) format = kPixelFormat32bppARGB;
    GpImage* bitmap = nullptr;
    GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipSetInterpolationMode(graphics, kInterpolationModeHighQuality);
    GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);
    GpImageAttributes* attributes = nullptr;
    GdipCreateImageAttributes(&attributes);
    GdipSetImageAttributesWrapMode(attributes, kWrapModeTileFlipXY, 0, FALSE);
    GdipDrawImageRectRectI(graphics, image, 0, 0, width, height, 0, 0,
                           static_cast<INT>(sourceWidth + 0.5f), static_cast<INT>(sourceHeight + 0.5f),
                           kUnitPixel, attributes, nullptr, nullptr);
    GdipDisposeImageAttributes(attributes);
    GdipDeleteGraphics(graphics);
    CLSID encoder;
    saved = FindEncoder(mime, &encoder) &&
            GdipSaveImageToFile(bitmap, Wide(target).c_str(), &encoder, nullptr) == 0;
    GdipDisposeImage(image);
    GdipDisposeImage(bitmap);
  }
  GdiplusShutdown(token);
  return saved;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor JOBS-FILE   (lines: source|target|width|height)\n");
    return 2;
  }
  std::ifstream jobs(argv[1]);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  int number = 0, failed = 0;
  for (std::string line; std::getline(jobs, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    size_t begin = 0;
    for (size_t bar; (bar = line.find('|', begin)) != std::string::npos; begin = bar + 1) {
      fields.push_back(line.substr(begin, bar - begin));
    }
    fields.push_back(line.substr(begin));
    if (fields.size() != 4) continue;
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    const bool ok = Resize(fields[0], fields[1], std::atoi(fields[2].c_str()), std::atoi(fields[3].c_str()));
    QueryPerformanceCounter(&after);
    failed += !ok;
    std::printf("%d: floor -- %s [%.2f ms]\n", number, ok ? "ok" : "failed",
                1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                    static_cast<double>(frequency.QuadPart));
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  // The peak working set: Wine 8 keeps no peak of the commit charge.
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("ran %d, failed %d, peak memory %.1f MB\n", number, failed,
              static_cast<double>(memory.PeakWorkingSetSize) / (1024 * 1024));
  return failed == 0 ? 0 : 1;
}
