#include "imaging/codecs/jpeg_writer.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <jerror.h>  // after jpeglib.h, which it needs

namespace {
// The library's errors end in a longjmp back to the function that called it.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf escape;
};

void Fail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}
void Silent(j_common_ptr) {}
void Quiet(j_common_ptr, int) {}

constexpr size_t kOutputBytes = 64 * 1024;

struct DestinationManager {
  jpeg_destination_mgr pub;
  ByteSink bytes;
  JOCTET buffer[kOutputBytes];
};

void InitDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<DestinationManager*>(info->dest);
  destination->pub.next_output_byte = destination->buffer;
  destination->pub.free_in_buffer = kOutputBytes;
}

boolean EmptyOutput(j_compress_ptr info) {
  auto* destination = reinterpret_cast<DestinationManager*>(info->dest);
  if (!destination->bytes.write(destination->bytes.context, destination->buffer,
                                static_cast<int32_t>(kOutputBytes))) {
    ERREXIT(info, JERR_FILE_WRITE);
  }
  InitDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<DestinationManager*>(info->dest);
  const size_t used = kOutputBytes - destination->pub.free_in_buffer;
  if (used > 0 && !destination->bytes.write(destination->bytes.context, destination->buffer,
                                            static_cast<int32_t>(used))) {
    ERREXIT(info, JERR_FILE_WRITE);
  }
}
}  // namespace

// Plain data only, as for decoding.
struct JpegEncode {
  jpeg_compress_struct info;
  ErrorManager error;
  DestinationManager destination;
};

namespace {
bool StartCompress(JpegEncode* encode, int32_t width, int32_t height, JpegRows rows,
                   const Carried& carried) {
  jpeg_compress_struct* info = &encode->info;
  if (setjmp(encode->error.escape) != 0) return false;
  jpeg_create_compress(info);
  info->dest = &encode->destination.pub;
  info->image_width = static_cast<JDIMENSION>(width);
  info->image_height = static_cast<JDIMENSION>(height);
  info->input_components = rows == JpegRows::kGrey ? 1 : rows == JpegRows::kBgrx ? 4 : 3;
  info->in_color_space = rows == JpegRows::kGrey ? JCS_GRAYSCALE
                         : rows == JpegRows::kBgrx ? JCS_EXT_BGRX : JCS_EXT_BGR;
  jpeg_set_defaults(info);  // quality 75, 4:2:0, baseline, JFIF 1.01, the standard tables
  info->density_unit = 1;
  info->X_density = info->Y_density = 96;
  jpeg_start_compress(info, TRUE);
  if (carried.orientation != 1) {
    const ExifBytes exif = ExifOfOrientation(carried.orientation, true);
    jpeg_write_marker(info, JPEG_APP0 + 1, exif.bytes, exif.size);
  }
  if (!carried.profile.empty()) {
    jpeg_write_icc_profile(info, carried.profile.data(), static_cast<unsigned>(carried.profile.size()));
  }
  return true;
}

bool CompressRow(JpegEncode* encode, const uint8_t* row) {
  if (setjmp(encode->error.escape) != 0) return false;
  JSAMPROW rows[1] = {const_cast<JSAMPROW>(row)};
  return jpeg_write_scanlines(&encode->info, rows, 1) == 1;
}

bool FinishCompress(JpegEncode* encode) {
  if (setjmp(encode->error.escape) != 0) return false;
  jpeg_finish_compress(&encode->info);
  return true;
}
}  // namespace

void JpegEncodeEnd::operator()(JpegEncode* encode) const {
  jpeg_destroy_compress(&encode->info);
  delete encode;
}

bool StartJpeg(const ByteSink& bytes, int32_t width, int32_t height, JpegRows rows,
               const Carried& carried, JpegEncoder* encoder) {
  encoder->reset();
  JpegEncoder owned(new JpegEncode());
  owned->info.err = jpeg_std_error(&owned->error.pub);
  owned->error.pub.error_exit = Fail;
  owned->error.pub.emit_message = Quiet;  // the compressor warns of nothing that matters here
  owned->error.pub.output_message = Silent;
  owned->destination.bytes = bytes;
  owned->destination.pub.init_destination = InitDestination;
  owned->destination.pub.empty_output_buffer = EmptyOutput;
  owned->destination.pub.term_destination = TermDestination;
  if (!StartCompress(owned.get(), width, height, rows, carried)) return false;
  *encoder = std::move(owned);
  return true;
}

bool WriteJpegRow(JpegEncode* encode, const uint8_t* row) { return CompressRow(encode, row); }

bool FinishJpeg(JpegEncode* encode) { return FinishCompress(encode); }
