#include "imaging/target_writer.h"

#include <cstring>
#include <new>
#include <utility>

#include "imaging/codecs/bmp_writer.h"
#include "imaging/codecs/gif_writer.h"
#include "imaging/codecs/tiff_writer.h"
#include "imaging/codecs/webp_writer.h"
#include "imaging/pixels/palette.h"

namespace {
bool WriteToFile(void* context, const uint8_t* bytes, int32_t size) {
  try {
    DWORD done = 0;
    return windows.WriteFile(*static_cast<HANDLE*>(context), bytes, static_cast<DWORD>(size), &done,
                             nullptr) &&
           done == static_cast<DWORD>(size);
  } catch (...) {  // the writers' C code cannot pass an exception on
    return false;
  }
}

// Straight colour from premultiplied: c * 255 / a, its fraction dropped, as Pillow and libvips
// drop it. Rounded, half-transparent pixels came out half a level brighter than theirs (the
// premultiplied colour was rounded once already).
inline uint8_t Straight(uint8_t colour, uint8_t alpha) {
  return alpha == 0 ? 0 : static_cast<uint8_t>(colour * 255 / alpha);
}

// A TIFF's rows go to the file in bands of about this many bytes: a write call per row costs.
constexpr size_t kTiffBand = 256 * 1024;

// A BMP's bits a pixel: 32 where it keeps alpha.
int BmpBits(const TargetWriter& writer) { return writer.channels == Channels::kColourAlpha ? 32 : 24; }

// The bytes a pixel of the file's rows has.
int BytesOf(Channels channels) {
  return channels == Channels::kGrey ? 1 : channels == Channels::kGreyAlpha ? 2
                                         : channels == Channels::kColour ? 3 : 4;
}

// One row of `input` turned into the file's channels: straight alpha, opaque where the input has
// none.
void Convert(PixelLayout input, const uint8_t* in, int32_t width, Channels channels, uint8_t* out) {
  const int inBytes = BytesPerPixel(input), outBytes = BytesOf(channels);
  for (int32_t x = 0; x < width; ++x, in += inBytes, out += outBytes) {
    const uint8_t alpha = HasAlpha(input) ? in[3] : 255;
    uint8_t colour[3];
    for (int c = 0; c < 3; ++c) colour[c] = input == PixelLayout::kPbgra32 ? Straight(in[c], alpha) : in[c];
    if (outBytes <= 2) {
      out[0] = colour[1];
    } else {
      for (int c = 0; c < 3; ++c) out[c] = colour[c];
    }
    if (outBytes == 2 || outBytes == 4) out[outBytes - 1] = alpha;
  }
}
}  // namespace

namespace {
const struct {
  const char* mimeType;
  TargetFormat format;
} kTargetTypes[] = {{"image/jpeg", TargetFormat::kJpeg}, {"image/png", TargetFormat::kPng}, {"image/bmp", TargetFormat::kBmp},
                    {"image/tiff", TargetFormat::kTiff}, {"image/gif", TargetFormat::kGif},  {"image/webp", TargetFormat::kWebp}};

bool TargetFormatOf(const std::string& mimeType, TargetFormat* format) {
  for (const auto& type : kTargetTypes) {
    if (mimeType == type.mimeType) return *format = type.format, true;
  }
  return false;
}
}  // namespace

bool WritesOwnFormat(const std::string& mimeType) {
  TargetFormat format;
  return TargetFormatOf(mimeType, &format);
}

bool StartTargetWriter(HANDLE file, const std::string& mimeType, int32_t width, int32_t height,
                       PixelLayout input, Channels channels, const Carried& carried,
                       TargetWriter* writer) {
  writer->file = file;
  writer->input = input;
  writer->failed = false;
  writer->width = width;
  writer->height = height;
  writer->rowsDone = 0;
  if (!TargetFormatOf(mimeType, &writer->format)) return false;
  Written written = WhatIsWritten(writer->format, channels, carried);
  writer->channels = written.channels;
  writer->carried = std::move(written.carried);
  const ByteSink sink = {WriteToFile, &writer->file};
  switch (writer->format) {
    case TargetFormat::kGif:
    case TargetFormat::kWebp:  // the whole picture, as BGRA, then the file
      writer->webpAlpha = HasAlpha(writer->channels);
      writer->channels = Channels::kColourAlpha;
      try {
        writer->pending.resize(static_cast<size_t>(width) * 4 * static_cast<size_t>(height));
      } catch (const std::bad_alloc&) {
        return false;
      }
      return true;
    case TargetFormat::kBmp:
    case TargetFormat::kTiff: {
      const std::vector<uint8_t> header = writer->format == TargetFormat::kBmp
                                              ? BmpFileHeader(width, height, BmpBits(*writer))
                                              : TiffFileHeader(width, height, writer->channels);
      writer->row.assign(writer->format == TargetFormat::kBmp ? static_cast<size_t>(BmpRowBytes(width, BmpBits(*writer)))
                                                              : static_cast<size_t>(width) * 4,
                         0);
      return WriteToFile(&writer->file, header.data(), static_cast<int32_t>(header.size()));
    }
    case TargetFormat::kPng:
    case TargetFormat::kJpeg: {
      const bool grey = writer->channels == Channels::kGrey;
      const bool started =
          writer->format == TargetFormat::kPng
              ? StartPng(sink, width, height, writer->channels, writer->carried, &writer->png)
              : StartJpeg(sink, width, height, grey ? JpegRows::kGrey : input == PixelLayout::kBgr24 ? JpegRows::kBgr : JpegRows::kBgrx,
                          writer->carried, &writer->jpeg);
      // A JPEG's 32-bit rows go as they are, their fourth byte unread.
      if (writer->format == TargetFormat::kJpeg && !grey && input != PixelLayout::kBgr24) writer->channels = Channels::kColourAlpha;
      writer->row.resize(static_cast<size_t>(width) * 4);
      return started;
    }
  }
  return false;
}

void WriteTargetRow(TargetWriter* writer, const uint8_t* row) {
  if (writer->failed) return;
  const int32_t width = writer->width;
  const Channels channels = writer->channels;
  switch (writer->format) {
    case TargetFormat::kBmp: {  // each row in its place, bottom-up
      Convert(writer->input, row, width, channels, writer->row.data());
      const int32_t y = writer->rowsDone++;
      writer->failed = y >= writer->height ||
                       !SeekFile(writer->file, BmpRowOffset(width, writer->height, BmpBits(*writer), y)) ||
                       !WriteToFile(&writer->file, writer->row.data(), static_cast<int32_t>(writer->row.size()));
      return;
    }
    case TargetFormat::kGif:
    case TargetFormat::kWebp: {
      const int32_t y = writer->rowsDone++;
      writer->failed = y >= writer->height;
      if (!writer->failed) Convert(writer->input, row, width, channels, &writer->pending[static_cast<size_t>(y) * width * 4]);
      return;
    }
    case TargetFormat::kTiff: {  // RGB or grey, in bands
      Convert(writer->input, row, width, channels, writer->row.data());
      const int bytes = BytesOf(channels);
      for (int32_t x = 0; HasColourChannels(channels) && x < width; ++x) {
        std::swap(writer->row[static_cast<size_t>(x) * bytes], writer->row[static_cast<size_t>(x) * bytes + 2]);
      }
      ++writer->rowsDone;
      writer->pending.insert(writer->pending.end(), writer->row.begin(), writer->row.begin() + width * bytes);
      if (writer->pending.size() >= kTiffBand) {
        writer->failed = !WriteToFile(&writer->file, writer->pending.data(), static_cast<int32_t>(writer->pending.size()));
        writer->pending.clear();
      }
      return;
    }
    case TargetFormat::kPng:
    case TargetFormat::kJpeg: {
      // Rows already as the file wants them go as they are.
      const bool asIs = (channels == Channels::kColour && writer->input == PixelLayout::kBgr24) ||
                        (channels == Channels::kColourAlpha &&
                         (writer->input == PixelLayout::kBgra32 ||
                          (writer->jpeg && writer->input == PixelLayout::kBgrx32)));
      if (!asIs) Convert(writer->input, row, width, channels, writer->row.data());
      const uint8_t* out = asIs ? row : writer->row.data();
      writer->failed = writer->png ? !WritePngRow(writer->png.get(), out) : !WriteJpegRow(writer->jpeg.get(), out);
      return;
    }
  }
}

bool FinishTargetWriter(TargetWriter* writer) {
  const bool whole = !writer->failed && writer->rowsDone == writer->height;
  switch (writer->format) {
    case TargetFormat::kGif: {
      if (!whole) return false;
      // A palette made for the picture, the picture mapped to it, the transparent entry marked in
      // the same pass.
      const PixelRows picture = {writer->pending.data(), writer->width * 4, writer->width, writer->height};
      const Palette palette = MakePalette(picture);
      std::vector<uint8_t> indices(static_cast<size_t>(picture.width) * picture.height);
      MapToPalette(picture, palette, indices.data(), picture.width);
      return WriteGif(ByteSink{WriteToFile, &writer->file}, picture.width, picture.height, palette.entries,
                      TransparentIndex(palette), indices.data(), picture.width);
    }
    case TargetFormat::kWebp:
      return whole && WriteWebp(ByteSink{WriteToFile, &writer->file}, writer->width, writer->height, writer->webpAlpha,
                                writer->pending.data(), writer->width * 4, writer->carried);
    case TargetFormat::kTiff: {
      const int64_t rows = int64_t{writer->width} * BytesOf(writer->channels) * writer->height;
      const uint8_t pad = 0;
      const std::vector<uint8_t> directory = TiffDirectory(writer->width, writer->height, writer->channels, writer->carried);
      return whole &&
             (writer->pending.empty() ||
              WriteToFile(&writer->file, writer->pending.data(), static_cast<int32_t>(writer->pending.size()))) &&
             (rows % 2 == 0 || WriteToFile(&writer->file, &pad, 1)) &&
             WriteToFile(&writer->file, directory.data(), static_cast<int32_t>(directory.size()));
    }
    case TargetFormat::kBmp:
      return whole;
    case TargetFormat::kPng:
    case TargetFormat::kJpeg: {
      const bool finished = !writer->failed &&
                            (writer->png ? FinishPng(writer->png.get()) : FinishJpeg(writer->jpeg.get()));
      writer->png.reset();
      writer->jpeg.reset();
      return finished;
    }
  }
  return false;
}
