#include "imaging/source_file.h"

#include <algorithm>
#include <cstring>

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

// The head first, then the file.
int32_t ReadBytes(void* context, uint8_t* buffer, int32_t size) {
  auto* bytes = static_cast<FileBytes*>(context);
  if (bytes->headAt < bytes->headSize) {
    const int32_t step = std::min(size, bytes->headSize - bytes->headAt);
    std::memcpy(buffer, bytes->head + bytes->headAt, static_cast<size_t>(step));
    bytes->headAt += step;
    return step;
  }
  return ReadFromFile(*bytes->file, buffer, size);
}

// Opens a disk file for reading and reads its head; others may read and write it meanwhile, as
// they may while GDI+ reads it.
bool OpenForReading(const std::wstring& name, HandleOwner* file, FileBytes* bytes) {
  if (OpenDiskFile(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, file) != Opened::kDiskFile) {
    return false;
  }
  *bytes = {&file->handle, {}, 0, 0};
  bytes->headSize = ReadFromFile(file->handle, bytes->head, static_cast<int32_t>(kPngHeaderBytes));
  return bytes->headSize > 0;
}

ReadOutcome OpenDecoder(SourceFile* source) {
  const ByteSource bytes = {ReadBytes, &source->bytes};
  const FileBytes& head = source->bytes;
  if (StartsAsJpeg(head.head, head.headSize)) {
    JpegHeader header = {};
    const ReadOutcome outcome = OpenJpeg(bytes, &source->jpeg, &header);
    source->width = header.width;
    source->height = header.height;
    source->layout = PixelLayout::kBgr24;
    source->scales = header.scales;
    source->keepsAlpha = false;
    return outcome;
  }
  if (StartsAsPng(head.head, static_cast<size_t>(head.headSize))) {
    PngHeader header = {};
    const ReadOutcome outcome = OpenPng(bytes, &source->png, &header);
    source->width = header.width;
    source->height = header.height;
    source->layout = header.alpha ? PixelLayout::kBgra32 : PixelLayout::kBgr24;
    source->scales = 0;
    source->keepsAlpha = !header.opaqueRgb8;
    return outcome;
  }
  return ReadOutcome::kOtherFormat;
}
}  // namespace

ReadOutcome OpenSourceFile(const std::wstring& name, SourceFile* source) {
  // What the readers cannot open, they have not seen: GDI+ may open it.
  if (!OpenForReading(name, &source->file, &source->bytes)) return ReadOutcome::kOtherFormat;
  const ReadOutcome outcome = OpenDecoder(source);
  if (outcome != ReadOutcome::kRead) {
    source->jpeg.reset();
    source->png.reset();
    source->file.Close();
  }
  return outcome;
}

ReadOutcome ReadSourceFile(SourceFile* source, int denominator, const DecodedRows& rows) {
  if (source->jpeg) return ReadJpeg(source->jpeg.get(), denominator, rows);
  if (source->png && denominator == 1) return ReadPng(source->png.get(), rows);
  return ReadOutcome::kRefused;
}

bool JpegFileHostile(const std::wstring& name) {
  {
    SourceFile source;
    const ReadOutcome opened = OpenSourceFile(name, &source);
    if (opened == ReadOutcome::kHostile) return true;
    if (opened == ReadOutcome::kOtherFormat || source.png) return false;
  }
  HandleOwner file;
  FileBytes bytes = {};
  return OpenForReading(name, &file, &bytes) && StartsAsJpeg(bytes.head, bytes.headSize) &&
         CountJpegScans(ByteSource{ReadBytes, &bytes}) == ReadOutcome::kHostile;
}

bool SizeFromHeader(const std::wstring& name, int32_t* width, int32_t* height) {
  HandleOwner file;
  FileBytes bytes = {};
  if (!OpenForReading(name, &file, &bytes)) return false;
  if (StartsAsPng(bytes.head, static_cast<size_t>(bytes.headSize))) {
    return PngHeaderSize(bytes.head, static_cast<size_t>(bytes.headSize), width, height);
  }
  return JpegFrameSize(ByteSource{ReadBytes, &bytes}, width, height);
}
