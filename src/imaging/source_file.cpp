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

// Whatever decoder the source holds is released.
void CloseDecoders(SourceFile* source) { source->decoder = std::monostate(); }

ByteSource BytesOf(FileBytes* bytes) {
  return {[](void* context, int64_t offset, uint8_t* buffer, int32_t size) {
            return ReadSome(static_cast<FileBytes*>(context), offset, buffer, size);
          },
          bytes, bytes->size};
}
}  // namespace

bool UseOpenFile(HANDLE file, SourceFile* source) {
  FileBytes& bytes = source->bytes;
  bytes.file = file;
  bytes.size = FileSize(file);
  bytes.windowAt = 0;
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
// A reader's open into the source's decoder and description; its read of every row at 1/1
// (the readers that do not scale), or at 1/d, on two threads where it is lent a second.
template <typename Decoder, ReadOutcome (*Open)(const ByteSource&, Decoder*, Description*)>
ReadOutcome OpenWith(SourceFile* source) {
  return Open(BytesOf(&source->bytes), &source->decoder.template emplace<Decoder>(), &source->picture);
}
template <typename Decoder, ReadOutcome (*Read)(typename Decoder::pointer, const DecodedRows&)>
ReadOutcome ReadWhole(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread*) {
  return denominator != 1 ? ReadOutcome::kRefused : Read(std::get<Decoder>(source->decoder).get(), rows);
}
template <typename Decoder, ReadOutcome (*Read)(typename Decoder::pointer, int, const DecodedRows&)>
ReadOutcome ReadScaled(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread*) {
  return Read(std::get<Decoder>(source->decoder).get(), denominator, rows);
}
template <typename Decoder, ReadOutcome (*Read)(typename Decoder::pointer, int, const DecodedRows&, const SecondThread*)>
ReadOutcome ReadScaledSplit(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread* beside) {
  return Read(std::get<Decoder>(source->decoder).get(), denominator, rows, beside);
}
template <typename Decoder, ReadOutcome (*Read)(typename Decoder::pointer, const DecodedRows&, const SecondThread*)>
ReadOutcome ReadSplit(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread* beside) {
  return denominator != 1 ? ReadOutcome::kRefused : Read(std::get<Decoder>(source->decoder).get(), rows, beside);
}

// What a header alone tells of a JPEG's or PNG's size, read without a decoder, as Windows' GDI+
// measures them.
HeaderSize JpegSize(SourceFile* source, int32_t* width, int32_t* height) {
  bool decodable = false;
  if (!JpegFrameSize(BytesOf(&source->bytes), width, height, &decodable)) return HeaderSize::kRefused;
  return decodable ? HeaderSize::kKnown : HeaderSize::kRefused;
}
HeaderSize PngSize(SourceFile* source, int32_t* width, int32_t* height) {
  const FileBytes& head = source->bytes;
  if (!PngHeaderSize(head.head, static_cast<size_t>(head.headSize), width, height)) return HeaderSize::kRefused;
  return PngHeaderRowsFit(head.head) ? HeaderSize::kKnown : HeaderSize::kRefused;
}

// Every format the plug-in reads, tried in turn by its first bytes: its reader's open, which holds
// the decoder in the source and describes the picture; the read of its rows (at 1/d only where
// the reader scales); and, where its header alone gives its size, that measure.
struct SourceFormat {
  bool (*sniff)(const FileBytes& head);
  ReadOutcome (*open)(SourceFile* source);
  ReadOutcome (*read)(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread* beside);
  HeaderSize (*measure)(SourceFile* source, int32_t* width, int32_t* height);
};

const SourceFormat kFormats[] = {
    {[](const FileBytes& h) { return StartsAsJpeg(h.head, h.headSize); }, OpenWith<JpegDecoder, OpenJpeg>,
     ReadScaledSplit<JpegDecoder, ReadJpeg>, JpegSize},
    {[](const FileBytes& h) { return StartsAsPng(h.head, static_cast<size_t>(h.headSize)); }, OpenWith<PngDecoder, OpenPng>,
     ReadSplit<PngDecoder, ReadPng>, PngSize},
    {[](const FileBytes& h) { return h.headSize >= 2 && h.head[0] == 'B' && h.head[1] == 'M'; },
     OpenWith<BmpDecoder, OpenBmp>, ReadWhole<BmpDecoder, ReadBmp>, nullptr},
    {[](const FileBytes& h) { return h.headSize >= 6 && std::memcmp(h.head, "GIF8", 4) == 0; },
     OpenWith<GifDecoder, OpenGif>, ReadWhole<GifDecoder, ReadGif>, nullptr},
    {[](const FileBytes& h) { return StartsAsTiff(h.head, h.headSize); }, OpenWith<TiffDecoder, OpenTiff>,
     ReadSplit<TiffDecoder, ReadTiff>, nullptr},
    {[](const FileBytes& h) { return StartsAsWebp(h.head, h.headSize); }, OpenWith<WebpDecoder, OpenWebp>,
     ReadScaled<WebpDecoder, ReadWebp>, nullptr},
    {[](const FileBytes& h) { return StartsAsAvif(h.head, h.headSize); }, OpenWith<AvifDecoder, OpenAvif>,
     ReadWhole<AvifDecoder, ReadAvif>, nullptr},
};

const SourceFormat* FormatOf(const SourceFile& source) {
  for (const SourceFormat& format : kFormats) {
    if (format.sniff(source.bytes)) return &format;
  }
  return nullptr;
}
}  // namespace

ReadOutcome OpenSourceDecoder(SourceFile* source) {
  CloseDecoders(source);
  source->picture = Description();
  const SourceFormat* format = FormatOf(*source);
  const ReadOutcome opened = format == nullptr ? ReadOutcome::kOtherFormat : format->open(source);
  if (opened != ReadOutcome::kRead) CloseDecoders(source);
  return opened;
}

ReadOutcome ReadSourceFile(SourceFile* source, int denominator, const DecodedRows& rows, const SecondThread* beside) {
  const SourceFormat* format = FormatOf(*source);
  if (format == nullptr || std::holds_alternative<std::monostate>(source->decoder)) return ReadOutcome::kRefused;
  return format->read(source, denominator, rows, beside);
}

bool ReadByPluginAlone(const SourceFile& source) { return FormatOf(source) != nullptr; }

bool GdiplusSourceHostile(SourceFile* source) {
  return source->bytes.headSize > 0 && GdiplusHeaderHostile(BytesOf(&source->bytes));
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
  const SourceFormat* format = FormatOf(*source);
  if (format == nullptr) return HeaderSize::kUnknown;
  if (format->measure != nullptr) return format->measure(source, width, height);
  // What the reader reads it measures; what it refuses, nothing measures.
  const ReadOutcome opened = OpenSourceDecoder(source);
  CloseDecoders(source);
  *width = source->picture.width;
  *height = source->picture.height;
  return opened == ReadOutcome::kRead ? HeaderSize::kKnown : HeaderSize::kRefused;
}
