#include "imaging/codecs/webp_writer.h"

#include <memory>

#include <webp/encode.h>
#include <webp/mux.h>

namespace {
struct PictureEnd {
  void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};
struct MuxEnd {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
}  // namespace

bool WriteWebp(const ByteSink& bytes, int32_t width, int32_t height, bool alpha, const uint8_t* bgra,
               int32_t stride, const Carried& carried) {
  if (width < 1 || height < 1 || width > kWebpLargestSide || height > kWebpLargestSide) return false;
  WebPConfig config;
  WebPPicture picture;
  if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return false;
  picture.width = width;
  picture.height = height;
  const std::unique_ptr<WebPPicture, PictureEnd> owned(&picture);
  // Opaque pixels need no alpha plane: imported as BGRX.
  if (!(alpha ? WebPPictureImportBGRA(&picture, bgra, stride) : WebPPictureImportBGRX(&picture, bgra, stride))) {
    return false;
  }
  WebPMemoryWriter encoded;
  WebPMemoryWriterInit(&encoded);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &encoded;
  const bool done = WebPEncode(&config, &picture) != 0;
  std::unique_ptr<uint8_t, void (*)(void*)> file(encoded.mem, WebPFree);
  if (!done) return false;
  if (carried.profile.empty() && carried.orientation == 1) {
    return bytes.write(bytes.context, encoded.mem, static_cast<int32_t>(encoded.size));
  }
  // The profile and the orientation in the extended form's chunks, VP8X's flags set by the mux.
  const WebPData image = {encoded.mem, encoded.size};
  const std::unique_ptr<WebPMux, MuxEnd> mux(WebPMuxCreate(&image, 0));
  if (mux == nullptr) return false;
  const ExifBytes exif = ExifOfOrientation(carried.orientation, false);
  const WebPData profile = {carried.profile.data(), carried.profile.size()}, tiff = {exif.bytes, exif.size};
  if ((!carried.profile.empty() && WebPMuxSetChunk(mux.get(), "ICCP", &profile, 0) != WEBP_MUX_OK) ||
      (carried.orientation != 1 && WebPMuxSetChunk(mux.get(), "EXIF", &tiff, 0) != WEBP_MUX_OK)) {
    return false;
  }
  WebPData assembled;
  WebPDataInit(&assembled);
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) return false;
  const bool written = bytes.write(bytes.context, assembled.bytes, static_cast<int32_t>(assembled.size));
  WebPDataClear(&assembled);
  return written;
}
