#include "imaging/source_file.h"

#include "imaging/codecs/gdiplus_headers.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {
int32_t ReadFromFile(HANDLE file, uint8_t* buffer, int32_t size) {
  try {
    DWORD got = 0;
    if (!windows.ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<int32_t>(got);
  } catch (...) {  // the readers' C code cannot pass an exception on
    return -1;
  }
}

// Up to `size` bytes read from the file at `offset`, as many as it gives; -1 where it fails.
int32_t ReadDirect(HANDLE file, int64_t offset, uint8_t* buffer, int32_t size) {
  if (!SeekFile(file, offset)) return -1;
  int32_t done = 0;
  while (done < size) {
    const int32_t got = ReadFromFile(file, buffer + done, size - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

// Up to `size` bytes at `offset`, from the window (filled there first where it does not hold
// them) or, for a read as large as the window, from the file itself; 0 at the file's end.
int32_t ReadSome(FileBytes* bytes, int64_t offset, uint8_t* buffer, int32_t size) {
  if (offset < 0) return -1;
  if (offset < bytes->windowAt || offset >= bytes->windowAt + bytes->windowSize) {
    if (size >= kWindowBytes || bytes->window == nullptr) return ReadDirect(bytes->file, offset, buffer, size);
    bytes->windowAt = offset;
    bytes->windowSize = std::max(ReadDirect(bytes->file, offset, bytes->window.get(), kWindowBytes), 0);
    if (bytes->windowSize == 0) return 0;
  }
  const int32_t step = static_cast<int32_t>(std::min<int64_t>(size, bytes->windowAt + bytes->windowSize - offset));
  std::memcpy(buffer, bytes->window.get() + (offset - bytes->windowAt), static_cast<size_t>(step));
  return step;
}

// In order, from `at`.
int32_t ReadBytes(void* context, uint8_t* buffer, int32_t size) {
  auto* bytes = static_cast<FileBytes*>(context);
  const int32_t got = ReadSome(bytes, bytes->at, buffer, size);
  if (got > 0) bytes->at += got;
  return got;
}

// Whatever decoder the source holds is released.
void CloseDecoders(SourceFile* source) {
  source->jpeg.reset();
  source->png.reset();
  source->bmp.reset();
  source->gif.reset();
  source->tiff.reset();
  source->webp.reset();
}

// The bytes again from the start.
ByteSource FromStart(SourceFile* source) {
  CloseDecoders(source);
  source->bytes.at = 0;
  return ByteSource{ReadBytes, &source->bytes};
}

// The file's bytes at any offset, for the readers that seek: every one asked for, or false.
RandomBytes AtAnyOffset(FileBytes* bytes) {
  return {[](void* context, int64_t offset, uint8_t* buffer, int32_t size) {
            auto* b = static_cast<FileBytes*>(context);
            for (int32_t got = 0; size > 0; buffer += got, offset += got, size -= got) {
              got = ReadSome(b, offset, buffer, size);
              if (got <= 0) return false;
            }
            return true;
          },
          bytes};
}
}  // namespace

bool UseOpenFile(HANDLE file, SourceFile* source) {
  FileBytes& bytes = source->bytes;
  bytes.file = file;
  bytes.at = bytes.windowAt = 0;
  bytes.windowSize = 0;
  if (bytes.window == nullptr) bytes.window.reset(new (std::nothrow) uint8_t[kWindowBytes]);
  bytes.headSize = std::max(ReadSome(&bytes, 0, bytes.head, static_cast<int32_t>(kPngHeaderBytes)), 0);
  return bytes.headSize > 0;
}

Opened OpenSource(const std::wstring& name, SourceFile* source) {
  const Opened opened = OpenDiskFile(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, &source->owned);
  if (opened != Opened::kDiskFile) return opened;
  // A file whose first bytes cannot be read is one no reader takes; GDI+ may still be given it.
  if (!UseOpenFile(source->owned.handle, source)) source->bytes.headSize = 0;
  return opened;
}

namespace {
// What the rows will be: their size and layout, the scales below 1/1, the channels written.
void Describe(SourceFile* s, int32_t width, int32_t height, bool alpha, int scales, Channels channels) {
  s->width = width;
  s->height = height;
  s->layout = alpha ? PixelLayout::kBgra32 : PixelLayout::kBgr24;
  s->scales = scales;
  s->scalesWhole = false;
  s->channels = channels;
}

bool StartsAsBmp(const FileBytes& head) { return head.headSize >= 2 && head.head[0] == 'B' && head.head[1] == 'M'; }
bool StartsAsGif(const FileBytes& head) { return head.headSize >= 6 && std::memcmp(head.head, "GIF8", 4) == 0; }
}  // namespace

ReadOutcome OpenSourceDecoder(SourceFile* source) {
  const ByteSource bytes = FromStart(source);
  const FileBytes& head = source->bytes;
  ReadOutcome outcome = ReadOutcome::kOtherFormat;
  source->carried = Carried();
  if (StartsAsJpeg(head.head, head.headSize)) {
    JpegHeader h = {};
    outcome = OpenJpeg(bytes, &source->jpeg, &h);
    Describe(source, h.width, h.height, false, h.scales, h.grey ? Channels::kGrey : Channels::kColour);
    source->carried = std::move(h.carried);
  } else if (StartsAsPng(head.head, static_cast<size_t>(head.headSize))) {
    PngHeader h = {};
    outcome = OpenPng(bytes, &source->png, &h);
    Describe(source, h.width, h.height, h.alpha, 0, h.channels);
    source->carried = std::move(h.carried);
  } else if (StartsAsBmp(head)) {
    BmpHeader h = {};
    outcome = OpenBmp(AtAnyOffset(&source->bytes), &source->bmp, &h);
    Describe(source, h.width, h.height, h.alpha, 0, h.channels);
  } else if (StartsAsGif(head)) {
    GifHeader h = {};
    outcome = OpenGif(bytes, &source->gif, &h);
    Describe(source, h.width, h.height, h.alpha, 0, h.channels);
  } else if (StartsAsTiff(head.head, head.headSize)) {
    TiffHeader h = {};
    outcome = OpenTiff(AtAnyOffset(&source->bytes), FileSize(head.file), &source->tiff, &h);
    Describe(source, h.width, h.height, h.alpha, 0, h.channels);
    source->carried = std::move(h.carried);
  } else if (StartsAsWebp(head.head, head.headSize)) {
    WebpHeader h = {};
    outcome = OpenWebp(AtAnyOffset(&source->bytes), FileSize(head.file), &source->webp, &h);
    Describe(source, h.width, h.height, h.alpha, h.scales, h.alpha ? Channels::kColourAlpha : Channels::kColour);
    source->scalesWhole = true;
    source->carried = std::move(h.carried);
  }
  return outcome;
}

ReadOutcome ReadSourceFile(SourceFile* source, int denominator, const DecodedRows& rows) {
  if (source->jpeg) return ReadJpeg(source->jpeg.get(), denominator, rows);
  if (source->png && denominator == 1) return ReadPng(source->png.get(), rows);
  if (source->bmp && denominator == 1) return ReadBmp(source->bmp.get(), rows);
  if (source->gif && denominator == 1) return ReadGif(source->gif.get(), rows);
  if (source->tiff && denominator == 1) return ReadTiff(source->tiff.get(), rows);
  if (source->webp) return ReadWebp(source->webp.get(), denominator, rows);
  return ReadOutcome::kRefused;
}

bool ReadByPluginAlone(const SourceFile& source) {
  const FileBytes& head = source.bytes;
  return StartsAsJpeg(head.head, head.headSize) || StartsAsPng(head.head, static_cast<size_t>(head.headSize)) ||
         StartsAsBmp(head) || StartsAsGif(head) || StartsAsTiff(head.head, head.headSize) ||
         StartsAsWebp(head.head, head.headSize);
}

bool GdiplusSourceHostile(SourceFile* source) {
  return source->bytes.headSize > 0 && GdiplusHeaderHostile(AtAnyOffset(&source->bytes));
}

bool SameFileAs(const SourceFile& source, const std::wstring& name) {
  HandleOwner other;
  if (OpenDiskFile(name, 0, FILE_FLAG_BACKUP_SEMANTICS, &other) != Opened::kDiskFile) return false;
  BY_HANDLE_FILE_INFORMATION one, two;
  return windows.GetFileInformationByHandle(source.bytes.file, &one) &&
         windows.GetFileInformationByHandle(other.handle, &two) &&
         one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
         one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

HeaderSize SizeFromHeader(SourceFile* source, int32_t* width, int32_t* height) {
  const FileBytes& head = source->bytes;
  if (StartsAsPng(head.head, static_cast<size_t>(head.headSize))) {
    if (!PngHeaderSize(head.head, static_cast<size_t>(head.headSize), width, height)) {
      return HeaderSize::kUnknown;
    }
    return PngHeaderRowsFit(head.head) ? HeaderSize::kKnown : HeaderSize::kRefused;
  }
  if (StartsAsBmp(head) || StartsAsGif(head) || StartsAsTiff(head.head, head.headSize) || StartsAsWebp(head.head, head.headSize)) {
    // What the reader reads it measures; what it refuses, nothing measures.
    const ReadOutcome opened = OpenSourceDecoder(source);
    CloseDecoders(source);
    *width = source->width;
    *height = source->height;
    return opened == ReadOutcome::kRead          ? HeaderSize::kKnown
           : opened == ReadOutcome::kOtherFormat ? HeaderSize::kUnknown
                                                 : HeaderSize::kRefused;
  }
  bool decodable = false;
  if (!JpegFrameSize(FromStart(source), width, height, &decodable)) return HeaderSize::kUnknown;
  return decodable ? HeaderSize::kKnown : HeaderSize::kRefused;
}
