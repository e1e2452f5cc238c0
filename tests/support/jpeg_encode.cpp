#include "jpeg_encode.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {
// `destination` sets the compressor's destination.
template <typename Destination>
void Encode(const JpegEncoding& e, const SampleSource& sample, const Destination& destination) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  destination(&info);
  info.image_width = static_cast<JDIMENSION>(e.width);
  info.image_height = static_cast<JDIMENSION>(e.height);
  info.input_components = e.components;
  info.in_color_space = e.components == 1 ? JCS_GRAYSCALE : e.components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 92, TRUE);
  info.comp_info[0].h_samp_factor = e.hSampling;
  info.comp_info[0].v_samp_factor = e.vSampling;
  for (int c = 1; c < e.components && e.components == 3; ++c) {
    info.comp_info[c].h_samp_factor = e.chromaH;
    info.comp_info[c].v_samp_factor = e.chromaV;
  }
  if (e.progressive) jpeg_simple_progression(&info);
  info.arith_code = e.arithmetic;
  info.restart_in_rows = e.restartRows;
  std::vector<jpeg_scan_info> scans;
  for (int k = 0; k < 64 && e.scanBits > 0; ++k) {
    const int bits = k < e.splitBefore ? e.scanBits : 1;
    scans.push_back({1, {0, 0, 0, 0}, k, k, 0, bits - 1});
    for (int bit = bits - 2; bit >= 0; --bit) scans.push_back({1, {0, 0, 0, 0}, k, k, bit + 1, bit});
  }
  if (e.components == 3 && e.hSampling * e.vSampling + 2 * e.chromaH * e.chromaV > 10) {
    for (int c = 0; c < 3; ++c) scans.push_back({1, {c, 0, 0, 0}, 0, 63, 0, 0});
  }
  if (!scans.empty()) {
    info.scan_info = scans.data();
    info.num_scans = static_cast<int>(scans.size());
  }
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(e.width) * e.components);
  for (int y = 0; y < e.height; ++y) {
    for (int x = 0; x < e.width; ++x) {
      for (int c = 0; c < e.components; ++c) row[static_cast<size_t>(x) * e.components + c] = sample(x, y, c);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
}
}  // namespace

std::vector<uint8_t> EncodeJpeg(const JpegEncoding& encoding, const SampleSource& sample) {
  unsigned char* out = nullptr;
  unsigned long size = 0;
  Encode(encoding, sample, [&](jpeg_compress_struct* info) { jpeg_mem_dest(info, &out, &size); });
  std::vector<uint8_t> bytes(out, out + size);
  std::free(out);
  return bytes;
}

bool EncodeJpegFile(const std::string& path, const JpegEncoding& encoding, const SampleSource& sample) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  Encode(encoding, sample, [&](jpeg_compress_struct* info) { jpeg_stdio_dest(info, file); });
  return std::fclose(file) == 0;
}

std::vector<uint8_t> LastScanRepeated(const std::vector<uint8_t>& bytes, int times) {
  size_t at = bytes.size() - 2;
  while (!(bytes[at] == 0xFF && bytes[at + 1] == 0xDA)) --at;
  std::vector<uint8_t> out(bytes.begin(), bytes.end() - 2);
  for (int i = 0; i < times; ++i) out.insert(out.end(), bytes.begin() + static_cast<long>(at), bytes.end() - 2);
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}
