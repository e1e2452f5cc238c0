#include "imaging/codecs/gif_writer.h"

#include <gif_lib.h>

namespace {
int Write(GifFileType* gif, const GifByteType* bytes, int size) {
  const ByteSink* sink = static_cast<const ByteSink*>(gif->UserData);
  return sink->write(sink->context, bytes, size) ? size : 0;
}

// The picture after the screen's header: the extension, the image and its rows.
bool WriteImage(GifFileType* gif, int32_t width, int32_t height, int transparentIndex,
                const uint8_t* indices, int32_t stride) {
  if (transparentIndex >= 0) {
    // Transparency flag set, no delay, the entry.
    const GifByteType control[4] = {1, 0, 0, static_cast<GifByteType>(transparentIndex)};
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_OK) return false;
  }
  if (EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) != GIF_OK) return false;
  for (int32_t y = 0; y < height; ++y) {
    auto* row = const_cast<GifPixelType*>(indices + static_cast<intptr_t>(y) * stride);
    if (EGifPutLine(gif, row, width) != GIF_OK) return false;
  }
  return true;
}
}  // namespace

bool WriteGif(const ByteSink& bytes, int32_t width, int32_t height,
              const std::vector<uint32_t>& entries, int transparentIndex, const uint8_t* indices,
              int32_t stride) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535 || entries.empty() ||
      entries.size() > 256) {
    return false;
  }
  int size = 2;
  while (size < static_cast<int>(entries.size())) size *= 2;
  ColorMapObject* colours = GifMakeMapObject(size, nullptr);
  if (colours == nullptr) return false;
  for (int i = 0; i < size; ++i) {
    const uint32_t entry = i < static_cast<int>(entries.size()) ? entries[i] : 0;
    colours->Colors[i] = {static_cast<GifByteType>(entry >> 16), static_cast<GifByteType>(entry >> 8),
                          static_cast<GifByteType>(entry)};
  }
  int error = 0;
  GifFileType* gif = EGifOpen(const_cast<ByteSink*>(&bytes), Write, &error);
  bool written = gif != nullptr;
  if (written) {
    EGifSetGifVersion(gif, true);
    written = EGifPutScreenDesc(gif, width, height, 8, 0, colours) == GIF_OK &&
              WriteImage(gif, width, height, transparentIndex, indices, stride);
    // Closing writes the trailer and releases the encoder, whatever came before.
    written = EGifCloseFile(gif, &error) == GIF_OK && written;
  }
  GifFreeMapObject(colours);
  return written;
}
