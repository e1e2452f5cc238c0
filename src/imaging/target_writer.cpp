#include "imaging/target_writer.h"

#include <cstring>

#include "imaging/codecs/gif_writer.h"

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

// Straight colour from premultiplied, rounded: c * 255 / a.
inline uint8_t Straight(uint8_t colour, uint8_t alpha) {
  return alpha == 0 ? 0 : static_cast<uint8_t>((colour * 255 + alpha / 2) / alpha);
}

// One row of `input` turned into BGRA (straight alpha; opaque where the input has none), or BGR
// where `out` has 3 bytes a pixel.
void Convert(PixelLayout input, const uint8_t* in, int32_t width, int outBytes, uint8_t* out) {
  const int inBytes = BytesPerPixel(input);
  for (int32_t x = 0; x < width; ++x, in += inBytes, out += outBytes) {
    const uint8_t alpha = input == PixelLayout::kBgra32 || input == PixelLayout::kPbgra32 ? in[3] : 255;
    for (int c = 0; c < 3; ++c) out[c] = input == PixelLayout::kPbgra32 ? Straight(in[c], alpha) : in[c];
    if (outBytes == 4) out[3] = alpha;
  }
}

// The bytes a pixel of the file's rows has: 3 where the input is BGR as the file wants it, else
// 4 (a JPEG reads BGRX, its fourth byte unused).
int FileBytesPerPixel(const TargetWriter& writer) {
  if (writer.png) return writer.alpha ? 4 : 3;
  return writer.input == PixelLayout::kBgr24 ? 3 : 4;
}
}  // namespace

bool WritesOwnFormat(const std::string& mimeType) {
  PngEncoder png;
  JpegEncoder jpeg;
  const ByteSink none = {[](void*, const uint8_t*, int32_t) { return true; }, nullptr};
  // A build without a library refuses every start; one with it starts, writing nowhere.
  if (mimeType == "image/png") return StartPng(none, 1, 1, false, &png);
  if (mimeType == "image/jpeg") return StartJpeg(none, 1, 1, false, &jpeg);
  const uint8_t pixel = 0;
  if (mimeType == "image/gif") return WriteGif(none, 1, 1, {0xFF000000u}, -1, &pixel, 1);
  return false;
}

bool StartTargetWriter(HANDLE file, const std::string& mimeType, int32_t width, int32_t height,
                       PixelLayout input, bool alpha, TargetWriter* writer) {
  writer->file = file;
  writer->input = input;
  writer->alpha = alpha;
  writer->failed = false;
  const ByteSink sink = {WriteToFile, &writer->file};
  const bool started = mimeType == "image/png"
                           ? StartPng(sink, width, height, alpha, &writer->png)
                           : StartJpeg(sink, width, height, input != PixelLayout::kBgr24, &writer->jpeg);
  if (!started) return false;
  writer->row.resize(static_cast<size_t>(width) * 4);
  return true;
}

void WriteTargetRow(TargetWriter* writer, const uint8_t* row) {
  if (writer->failed) return;
  const int32_t width = static_cast<int32_t>(writer->row.size() / 4);
  const int bytes = FileBytesPerPixel(*writer);
  // Rows already as the file wants them go as they are.
  const bool asIs = (bytes == 3 && writer->input == PixelLayout::kBgr24) ||
                    (bytes == 4 && (writer->input == PixelLayout::kBgra32 ||
                                    (writer->jpeg && writer->input == PixelLayout::kBgrx32)));
  if (!asIs) Convert(writer->input, row, width, bytes, writer->row.data());
  const uint8_t* out = asIs ? row : writer->row.data();
  writer->failed = writer->png ? !WritePngRow(writer->png.get(), out) : !WriteJpegRow(writer->jpeg.get(), out);
}

bool FinishTargetWriter(TargetWriter* writer) {
  const bool finished = !writer->failed &&
                        (writer->png ? FinishPng(writer->png.get()) : FinishJpeg(writer->jpeg.get()));
  writer->png.reset();
  writer->jpeg.reset();
  return finished;
}

bool WriteGifTarget(HANDLE file, const PixelRows& picture) {
  const Palette palette = MakePalette(picture);
  std::vector<uint8_t> indices(static_cast<size_t>(picture.width) * picture.height);
  MapToPalette(picture, palette, indices.data(), picture.width);
  return WriteGif(ByteSink{WriteToFile, &file}, picture.width, picture.height, palette.entries,
                  TransparentIndex(palette), indices.data(), picture.width);
}
