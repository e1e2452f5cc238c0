// What one resize costs without the plug-in's resampling, for job lines "source|target|width|height":
// - GDI+'s draw (no option): the single high-quality draw a GDI+ resize would make (start-up,
//   load, dimensions, pixel format, bitmap, context, modes, attributes, draw, encoder lookup,
//   save, releases, shut-down) straight into gdiplus.dll: the way the plug-in replaced;
// - the codecs' floor (--codecs): the source decoded by the plug-in's own reader at the scale it
//   chooses, its rows thrown away but for the top left corner of the target's size, which the
//   plug-in's own writer encodes into the target: the decode and the encode, nothing between.
// Nothing else: no parameter text, no name checks, no temporary file, no rename. Prints one line
// per job with its time, and the peak memory at the end, in the same form as quintara-host's
// batch command.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/gdiplus/gdiplus_flat.h"
#include "imaging/pixels/box_average.h"
#include "imaging/read_ahead.h"
#include "imaging/image_types.h"
#include "imaging/source_file.h"
#include "imaging/target_writer.h"

// GDI+'s encoders, which the plug-in never calls: the bench's GDI+ contenders alone save with them.
struct ImageCodecInfo {
  CLSID Clsid;
  GUID FormatID;
  const WCHAR* CodecName;
  const WCHAR* DllName;
  const WCHAR* FormatDescription;
  const WCHAR* FilenameExtension;
  const WCHAR* MimeType;
  DWORD Flags, Version, SigCount, SigSize;
  const BYTE* SigPattern;
  const BYTE* SigMask;
};
extern "C" {
GpStatus WINAPI GdipGetImageEncodersSize(UINT*, UINT*);
GpStatus WINAPI GdipGetImageEncoders(UINT, UINT, ImageCodecInfo*);
GpStatus WINAPI GdipSaveImageToFile(GpImage*, const WCHAR*, const CLSID*, const void*);
}

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

const wchar_t* MimeOf(const std::string& target) {
  const std::string extension = target.substr(target.find_last_of('.') + 1);
  if (_stricmp(extension.c_str(), "png") == 0) return L"image/png";
  if (_stricmp(extension.c_str(), "jpg") == 0) return L"image/jpeg";
  if (_stricmp(extension.c_str(), "bmp") == 0) return L"image/bmp";
  if (_stricmp(extension.c_str(), "gif") == 0) return L"image/gif";
  return nullptr;
}

// A GDI+ session for one job.
struct Session {
  ULONG_PTR token = 0;
  Session() {
    const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
    GdiplusStartup(&token, &input, nullptr);
  }
  ~Session() { GdiplusShutdown(token); }
};

// An image file loaded, with its whole rectangle and pixel format; image is null when it does
// not load.
struct Loaded {
  GpImage* image;
  GpRect all;
  int32_t format;
};
Loaded Load(const std::string& file) {
  Loaded loaded = {nullptr, {0, 0, 0, 0}, 0};
  GdipLoadImageFromFile(Wide(file).c_str(), &loaded.image);
  if (loaded.image != nullptr) {
    float width = 0, height = 0;
    GdipGetImageDimension(loaded.image, &width, &height);
    GdipGetImagePixelFormat(loaded.image, &loaded.format);
    loaded.all = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  }
  return loaded;
}

bool CodecFloor(const std::string& source, const std::string& target, int width, int height) {
  SourceFile file;
  if (OpenSource(Wide(source), &file) != Opened::kDiskFile || OpenSourceDecoder(&file) != ReadOutcome::kRead) {
    return false;
  }
  struct Corner {
    std::vector<uint8_t> pixels;
    size_t rowBytes, bytesPerPixel;
    int32_t rows, rowsWidth;
  } corner = {std::vector<uint8_t>(static_cast<size_t>(width) * 4 * height), 0,
              static_cast<size_t>(BytesPerPixel(RowLayout(file))), 0, 0};
  corner.rowBytes = static_cast<size_t>(width) * corner.bytesPerPixel;
  const DecodedRows rows = {
      [](void* context, int32_t w, int32_t) {
        static_cast<Corner*>(context)->rowsWidth = w;
        return true;
      },
      [](void* context, const uint8_t* row) {
        auto* c = static_cast<Corner*>(context);
        const int32_t y = c->rows++;
        if (static_cast<size_t>(y + 1) * c->rowBytes <= c->pixels.size()) {
          std::memcpy(&c->pixels[static_cast<size_t>(y) * c->rowBytes], row,
                      std::min(c->rowBytes, static_cast<size_t>(c->rowsWidth) * c->bytesPerPixel));
        }
        return true;
      },
      &corner};
  const int denominator = JpegScale(file.picture.width, file.picture.height, width, height, file.picture.scales);
  // The second thread a reader that splits its decode (TIFF's) is lent, as the plug-in lends it.
  Lent lent;
  const SecondThread second = Lend(&lent);
  if (ReadSourceFile(&file, denominator, rows, &second) != ReadOutcome::kRead) return false;
  const HANDLE out = CreateFileW(Wide(target).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  TargetWriter writer;
  bool written = StartTargetWriter(out, WritableMimeType(target), width, height, RowLayout(file), file.picture.channels,
                                   Carried(), &writer);
  for (int32_t y = 0; written && y < height; ++y) WriteTargetRow(&writer, &corner.pixels[static_cast<size_t>(y) * corner.rowBytes]);
  written = written && FinishTargetWriter(&writer);
  CloseHandle(out);
  return written;
}

double Milliseconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Resize(const std::string& source, const std::string& target, int width, int height) {
  const wchar_t* mime = MimeOf(target);
  if (mime == nullptr) return false;

  Session session;
  const Loaded loaded = Load(source);
  GpImage* image = loaded.image;
  bool saved = false;
  if (image != nullptr) {
    int32_t format = loaded.format;
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
                           loaded.all.Width, loaded.all.Height,
                           kUnitPixel, attributes, nullptr, nullptr);
    GdipDisposeImageAttributes(attributes);
    GdipDeleteGraphics(graphics);
    CLSID encoder;
    saved = FindEncoder(mime, &encoder) &&
            GdipSaveImageToFile(bitmap, Wide(target).c_str(), &encoder, nullptr) == 0;
    GdipDisposeImage(image);
    GdipDisposeImage(bitmap);
  }
  return saved;
}
}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (argc < 2 || argc > 3 ||
      !(mode.empty() || mode == "--codecs")) {
    std::fprintf(stderr, "usage: floor [--codecs] JOBS-FILE   "
                         "(lines: source|target|width|height)\n");
    return 2;
  }
  std::ifstream jobs(argv[argc - 1]);
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
    const double started = Milliseconds();
    const int width = std::atoi(fields[2].c_str()), height = std::atoi(fields[3].c_str());
    const bool ok = mode == "--codecs" ? CodecFloor(fields[0], fields[1], width, height)
                                       : Resize(fields[0], fields[1], width, height);
    const double whole = Milliseconds() - started;
    failed += !ok;
    std::printf("%d: floor -- %s [%.2f ms]\n", number, ok ? "ok" : "failed", whole);
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  // The peak working set: Wine 8 keeps no peak of the commit charge.
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  FILETIME created, ended, kernel, user;
  double processor = 0;
  if (GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
    for (const FILETIME& t : {kernel, user}) {
      processor += static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    }
  }
  std::printf("ran %d, failed %d, processor %.3f s, peak memory %.1f MB\n", number, failed, processor,
              static_cast<double>(memory.PeakWorkingSetSize) / (1024 * 1024));
  return failed == 0 ? 0 : 1;
}
