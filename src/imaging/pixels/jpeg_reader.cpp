#include "imaging/pixels/jpeg_reader.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE
#include <memory>

#include <jpeglib.h>

#include <jerror.h>  // after jpeglib.h, which it needs

namespace {
constexpr size_t kInputBytes = 64 * 1024;

// The library's errors end in a longjmp back to Run; its warnings are counted, never printed.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf escape;
  int warnings;
};

struct SourceManager {
  jpeg_source_mgr pub;
  JpegBytes bytes;
  JOCTET buffer[kInputBytes];
};

// Everything a decode keeps: plain data, nothing with a destructor that a longjmp could skip.
struct Decode {
  jpeg_decompress_struct info;
  ErrorManager error;
  SourceManager source;
};

void Fail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}
void Emit(j_common_ptr info, int level) {
  if (level < 0) ++reinterpret_cast<ErrorManager*>(info->err)->warnings;
}
void Silent(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info) {
  SourceManager* source = reinterpret_cast<SourceManager*>(info->src);
  int32_t got = source->bytes.read(source->bytes.context, source->buffer,
                                   static_cast<int32_t>(kInputBytes));
  if (got < 0) ERREXIT(info, JERR_FILE_READ);
  if (got == 0) {
    // The file ends before the picture does: as libjpeg's own sources do, a warning (which
    // refuses the file) and an end marker, so that the library stops cleanly.
    WARNMS(info, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    got = 2;
  }
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = static_cast<size_t>(got);
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  jpeg_source_mgr* source = info->src;
  while (count > static_cast<long>(source->bytes_in_buffer)) {
    count -= static_cast<long>(source->bytes_in_buffer);
    FillInput(info);
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<size_t>(count);
}

// 8-bit samples of grey, YCbCr or RGB; CMYK and YCCK are left to GDI+.
bool Takes(const jpeg_decompress_struct& info) {
  if (info.data_precision != 8) return false;
  if (info.num_components == 1) return info.jpeg_color_space == JCS_GRAYSCALE;
  return info.num_components == 3 &&
         (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
}

// The library's DCT scaling of chroma sampled unevenly across and down (4:2:2, 4:4:0) strays
// below 1/2: measured on a colourful picture against the full decode averaged, chroma off by 6
// levels on average at 1/4 and 12 at 1/8, where 4:2:0 and 4:4:4 stay within about 1.
int FinestScale(const jpeg_decompress_struct& info) {
  for (int c = 0; c < info.num_components; ++c) {
    if (info.comp_info[c].h_samp_factor != info.comp_info[c].v_samp_factor) return 2;
  }
  return 8;
}

bool StartsAsJpeg(jpeg_source_mgr* source) {
  return source->bytes_in_buffer >= 3 && source->next_input_byte[0] == 0xFF &&
         source->next_input_byte[1] == 0xD8 && source->next_input_byte[2] == 0xFF;
}

// The one function that calls setjmp. Between it and a longjmp there is only plain data (the
// Decode record and the pointers into it), and the library's memory, all of which
// jpeg_destroy_decompress releases on every path.
JpegOutcome Run(Decode* decode, const JpegSink& sink) {
  jpeg_decompress_struct* info = &decode->info;
  info->err = jpeg_std_error(&decode->error.pub);
  decode->error.pub.error_exit = Fail;
  decode->error.pub.emit_message = Emit;
  decode->error.pub.output_message = Silent;
  decode->error.warnings = 0;
  if (setjmp(decode->error.escape) != 0) {
    jpeg_destroy_decompress(info);
    return JpegOutcome::kRefused;
  }
  jpeg_create_decompress(info);
  info->mem->max_memory_to_use = kJpegMemoryCap;
  jpeg_source_mgr* source = &decode->source.pub;
  source->init_source = InitSource;
  source->fill_input_buffer = FillInput;
  source->skip_input_data = SkipInput;
  source->resync_to_restart = jpeg_resync_to_restart;
  source->term_source = TermSource;
  source->bytes_in_buffer = 0;
  source->next_input_byte = nullptr;
  info->src = source;

  JpegOutcome outcome = JpegOutcome::kRefused;
  FillInput(info);
  if (!StartsAsJpeg(source) || jpeg_read_header(info, TRUE) != JPEG_HEADER_OK ||
      decode->error.warnings != 0 || !Takes(*info)) {
    jpeg_destroy_decompress(info);
    return outcome;
  }
  const int denominator = sink.scale(sink.context, static_cast<int32_t>(info->image_width),
                                     static_cast<int32_t>(info->image_height), FinestScale(*info));
  outcome = JpegOutcome::kStopped;
  if (denominator != 0) {
    info->scale_num = 1;
    info->scale_denom = static_cast<unsigned>(denominator);
    info->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(info);
    if (decode->error.warnings == 0 &&
        sink.start(sink.context, static_cast<int32_t>(info->output_width),
                   static_cast<int32_t>(info->output_height))) {
      JSAMPARRAY band = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info),
                                                   JPOOL_IMAGE, info->output_width * 3,
                                                   static_cast<JDIMENSION>(info->rec_outbuf_height));
      while (info->output_scanline < info->output_height && decode->error.warnings == 0) {
        const JDIMENSION rows =
            jpeg_read_scanlines(info, band, static_cast<JDIMENSION>(info->rec_outbuf_height));
        for (JDIMENSION y = 0; y < rows; ++y) sink.row(sink.context, band[y]);
      }
      // A stream whose damage shows only at its end (a random tail) is an error here.
      if (decode->error.warnings == 0) jpeg_finish_decompress(info);
      outcome = JpegOutcome::kRead;
    }
  }
  if (decode->error.warnings != 0) outcome = JpegOutcome::kRefused;
  jpeg_destroy_decompress(info);
  return outcome;
}
}  // namespace

JpegOutcome DecodeJpeg(const JpegBytes& bytes, const JpegSink& sink) {
  const std::unique_ptr<Decode> decode(new Decode());
  decode->source.bytes = bytes;
  return Run(decode.get(), sink);
}
