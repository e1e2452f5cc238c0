// A source file opened once, by the wide name GDI+ would be given (so that every name that
// converts through GDI+ converts here too), and everything the plug-in asks of it through that one
// handle: its format by its first bytes, from one table of the formats the plug-in reads (JPEG,
// PNG, BMP, GIF, TIFF, WebP, AVIF: codecs/), each entry its reader's open, which describes the picture,
// the read of its rows, and what its header alone tells; the file's identity.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "imaging/codecs/avif_reader.h"
#include "imaging/codecs/bmp_reader.h"
#include "imaging/codecs/gif_reader.h"
#include "imaging/codecs/jpeg_reader.h"
#include "imaging/codecs/png_header.h"
#include "imaging/pixels/pixel_layout.h"
#include "imaging/codecs/png_reader.h"
#include "imaging/codecs/tiff_reader.h"
#include "imaging/codecs/webp_reader.h"
#include "platform/windows_api.h"

// A file's bytes as every reader takes them (see ByteSource), through one window of the file: its
// first bytes tell its format. The file's own position is set before each read, so nothing else
// that moves it (its size asked, say) matters.
constexpr int32_t kWindowBytes = 64 * 1024;
struct FileBytes {
  HANDLE file = INVALID_HANDLE_VALUE;
  int64_t size = 0;  // as it was when opened
  uint8_t head[kPngHeaderBytes] = {};
  int32_t headSize = 0;
  int64_t windowAt = 0;             // what of the file the window holds
  int32_t windowSize = 0;
  std::unique_ptr<uint8_t[]> window;  // kWindowBytes, or null where they could not be had
};

// An open source, and the reader's decoder once its headers are read: both released when the
// owner ends. It stays where it was made: the decoder reads through it.
struct SourceFile {
  HandleOwner owned;  // the file, where it was opened by name here
  FileBytes bytes;
  // The decoder of the format's reader, once its headers are read (see the readers' table).
  std::variant<std::monostate, JpegDecoder, PngDecoder, BmpDecoder, GifDecoder, TiffDecoder, WebpDecoder, AvifDecoder>
      decoder;
  Description picture;  // as its reader's open tells it

  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
};

// The layout of the rows its reader delivers.
inline PixelLayout RowLayout(const SourceFile& source) {
  return source.picture.alpha ? PixelLayout::kBgra32 : PixelLayout::kBgr24;
}

// Opens the named file for reading, once: kDiskFile with `source` holding it; kNotAFile for a
// device, pipe or FIFO, of which nothing is read (a read of a serial port never returns), and
// kFailed, both holding nothing. Others may read and write the file meanwhile, as they may while
// GDI+ reads it.
Opened OpenSource(const std::wstring& name, SourceFile* source);

// The same for a file already open for reading, which stays the caller's.
bool UseOpenFile(HANDLE file, SourceFile* source);

// Reads the headers from the start of the file with the reader its first bytes name, describing
// the picture: kRead with the decoder ready for ReadSourceFile, else the reader's answer
// (kOtherFormat for a file no reader takes) and no decoder. May be asked again, for a second read
// from the start.
ReadOutcome OpenSourceDecoder(SourceFile* source);

// Decodes an opened source at 1 / denominator (1, or one of its scales) into `rows`, once for
// each OpenSourceDecoder; a reader that splits its decode (TIFF's, PNG's) may use `beside`.
ReadOutcome ReadSourceFile(SourceFile* source, int denominator, const DecodedRows& rows,
                           const SecondThread* beside = nullptr);

// True where the source and the named file exist and are one and the same file, however the
// name is spelled (case, relative or absolute, links).
bool SameFileAs(const SourceFile& source, const std::wstring& name);

// True for a JPEG, PNG, BMP, GIF, TIFF, WebP or AVIF by its first bytes: a format whose reader is the
// only decoder it is given. A file it refuses or cannot read to its end is damaged, hostile or of
// a kind no reader here takes (a 12-bit JPEG), and GDI+ would only guess at it, at any cost in
// memory.
bool ReadByPluginAlone(const SourceFile& source);

// True for an ICO, EMF or WMF whose header GDI+ must not be given (see
// GdiplusHeaderHostile); false for every other file, and for one that is not open.
bool GdiplusSourceHostile(SourceFile* source);

// What a source's headers alone tell of its size.
enum class HeaderSize {
  kKnown,    // the first JPEG frame header, the PNG's IHDR chunk with its CRC, whole and valid, or
             // the headers of a BMP, GIF, TIFF, WebP or AVIF the reader reads (a GIF's logical screen,
             // a TIFF's first page, a WebP's canvas, an AVIF's primary picture)
  kRefused,  // a file no decoder here reads (a PNG whose rows do not fit (see RowFits), a lossless,
             // hierarchical or 12-bit JPEG, a BMP, GIF, TIFF, WebP or AVIF its reader refuses): as GDI+
             // measures a file it cannot load, 0 by 0
  kUnknown,  // a file of no format the plug-in reads
};
HeaderSize SizeFromHeader(SourceFile* source, int32_t* width, int32_t* height);
