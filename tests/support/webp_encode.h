// WebP files made by libwebp's own encoder, for the tests of the plug-in's WebP reader: a still
// picture of RGBA pixels, lossless or lossy, with an ICCP and an EXIF chunk where given (libwebp's
// mux).
#pragma once

#include <cstdint>
#include <vector>

#include <webp/encode.h>
#include <webp/mux.h>

inline std::vector<uint8_t> EncodeWebp(const std::vector<uint8_t>& rgba, int width, int height, bool lossless,
                                       const std::vector<uint8_t>& profile = {},
                                       const std::vector<uint8_t>& exif = {}) {
  uint8_t* encoded = nullptr;
  const size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &encoded)
                               : WebPEncodeRGBA(rgba.data(), width, height, width * 4, 80, &encoded);
  std::vector<uint8_t> file(encoded, encoded + size);
  WebPFree(encoded);
  if (profile.empty() && exif.empty()) return file;
  const WebPData image = {file.data(), file.size()};
  WebPMux* mux = WebPMuxCreate(&image, 1);
  const WebPData icc = {profile.data(), profile.size()}, tiff = {exif.data(), exif.size()};
  if (!profile.empty()) WebPMuxSetChunk(mux, "ICCP", &icc, 1);
  if (!exif.empty()) WebPMuxSetChunk(mux, "EXIF", &tiff, 1);
  WebPData assembled;
  WebPDataInit(&assembled);
  WebPMuxAssemble(mux, &assembled);
  file.assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return file;
}
