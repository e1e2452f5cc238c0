#include "imaging/codecs/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include <jerror.h>  // after jpeglib.h, which it needs

#include <jpegint.h>  // the library's own parts, for the split decode (see JpegSplit)

#include "imaging/codecs/colour_engine.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/box_average.h"

namespace {
constexpr size_t kInputBytes = 64 * 1024;

// The library's errors and warnings end in a longjmp back to the function that called it: to
// `escape`, or, on the split decode's second thread, to the split's own (see JpegSplit).
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf escape;
  std::jmp_buf* jump;  // where the next error goes
  bool hostile;        // the jump was for one scan too many
  bool warningsPass;   // while a profile is put together: a malformed one is dropped, not fatal
};

struct SourceManager {
  jpeg_source_mgr pub;
  ByteSource bytes;
  int64_t at;  // where the next bytes are read
  JOCTET buffer[kInputBytes];
};

// A single-scan file's Huffman (or arithmetic) decoding, most of a large JPEG's time, on the
// thread lent to the reader, a batch of iMCU rows ahead of the inverse DCT, upsampling and colour
// conversion of the batch before it on the reader's own: the library's one-pass coefficient
// controller in two halves, the first a batch at a time into one of two buffers of coefficients
// (from the library's pool). Only the first half reads the file, raises the library's errors and
// warnings, or touches the entropy decoder while a batch is in flight; its error is raised again
// on the reader's thread, where the one-thread decode would have raised it, after the rows before.
// Where the thread cannot be had, the reader decodes the batch itself, in the same order.
struct JpegSplit {
  InFlight flight{nullptr};
  JBLOCKROW blocks[2];
  JDIMENSION blocksPerRow, rowsPerBatch;  // a row of iMCUs' blocks, and the rows of a batch
  JDIMENSION next;                        // the first row of the batch to decode next
  int filling;                            // into which buffer
  JDIMENSION heldFrom, heldTo;            // the rows decoded in the other one
  bool failed;
  JDIMENSION failedRow;
  std::jmp_buf escape;
};
}  // namespace

// Everything a decode keeps, held by its decoder: no longjmp skips a destructor of it.
struct JpegDecode {
  jpeg_decompress_struct info;
  ErrorManager error;
  JpegSplit split;
  SourceManager source;
  jpeg_progress_mgr progress;
  size_t kept[2];  // the bytes of EXIF and of profile chunks kept (see KeepMarker)
  void* transform;  // CMYK to sRGB through the file's profile (a ColourTransform's), or null
  jpeg_saved_marker_ptr last;  // the last of them
};

namespace {
void Fail(j_common_ptr info) {
  std::longjmp(*reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Every warning ends the decode where it arises, as djpeg -strict does, so that no file makes the
// reader read on through a thousand of them. Stray bytes between the header's segments (editors
// leave them before the quantisation tables or EXIF) come before any pixel, and stray bytes just
// before the end marker (cameras leave them) after every scan was read: both pass, as every
// decoder lets them pass.
void Emit(j_common_ptr info, int level) {
  if (level >= 0 || reinterpret_cast<ErrorManager*>(info->err)->warningsPass) return;
  const jpeg_error_mgr* error = info->err;
  const bool beforeScans = reinterpret_cast<j_decompress_ptr>(info)->input_scan_number == 0;
  if (error->msg_code == JWRN_EXTRANEOUS_DATA && (error->msg_parm.i[1] == JPEG_EOI || beforeScans)) return;
  Fail(info);
}
void Silent(j_common_ptr) {}

// Called as the library reads and decodes; stops at the first scan past the limit.
void Monitor(j_common_ptr common) {
  const auto* info = reinterpret_cast<j_decompress_ptr>(common);
  if (info->input_scan_number > kJpegScanLimit) {
    auto* error = reinterpret_cast<ErrorManager*>(common->err);
    error->hostile = true;
    std::longjmp(error->escape, 1);
  }
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info) {
  SourceManager* source = reinterpret_cast<SourceManager*>(info->src);
  const int32_t got = ReadOn(source->bytes, &source->at, source->buffer, static_cast<int32_t>(kInputBytes));
  if (got < 0) ERREXIT(info, JERR_FILE_READ);
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = static_cast<size_t>(got);
  if (got == 0) {
    // The file ends before the picture does: a warning, which refuses it. Should the warning
    // ever be let pass, the library must still find bytes, as libjpeg's own source managers give
    // it: an end marker.
    WARNMS(info, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    source->pub.bytes_in_buffer = 2;
  }
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  if (count <= 0) return;  // nothing to skip, as libjpeg's source managers must take it
  jpeg_source_mgr* source = info->src;
  if (count > static_cast<long>(source->bytes_in_buffer)) {
    // What the buffer does not hold is stepped over in the file, not read.
    reinterpret_cast<SourceManager*>(source)->at += count - static_cast<long>(source->bytes_in_buffer);
    source->bytes_in_buffer = 0;
    FillInput(info);
    return;
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<size_t>(count);
}

// 8-bit samples of grey, YCbCr, RGB, CMYK or YCCK.
bool Takes(const jpeg_decompress_struct& info) {
  if (info.data_precision != 8) return false;
  if (info.num_components == 1) return info.jpeg_color_space == JCS_GRAYSCALE;
  if (info.num_components == 4) return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  return info.num_components == 3 &&
         (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
}

// CMYK without a profile, as GDI+ turns it into RGB: each colour is what its ink and the black
// leave of white. Adobe's files store both inverted (255 no ink).
void NaiveCmyk(const uint8_t* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int c = 0; c < 3; ++c) {
      const unsigned left = inverted ? cmyk[c] : 255u - cmyk[c];
      bgr[2 - c] = static_cast<uint8_t>((left * k + 127) / 255);
    }
  }
}

uint8_t NextByte(j_decompress_ptr info) {
  jpeg_source_mgr* source = info->src;
  if (source->bytes_in_buffer == 0) FillInput(info);  // never suspends
  --source->bytes_in_buffer;
  return *source->next_input_byte++;
}

// The APP1 and APP2 segments kept for what the photo carries: the first EXIF segment, and ICC
// profile chunks up to kProfileCap in all, into the list jpeg_read_icc_profile reads; every other
// one is stepped over, so that a thousand segments of 64 KB cost nothing. Past the cap a chunk is
// dropped, and with it the profile (its chunks no longer add up), not the picture.
boolean KeepMarker(j_decompress_ptr info) {
  const uint32_t length = (uint32_t{NextByte(info)} << 8 | NextByte(info));
  if (length < 2) ERREXIT(info, JERR_BAD_LENGTH);
  const uint32_t size = length - 2;
  static const char kExif[] = "Exif\0", kProfile[] = "ICC_PROFILE";
  uint8_t head[sizeof kProfile] = {};
  const uint32_t headSize = size < sizeof head ? size : sizeof head;
  for (uint32_t i = 0; i < headSize; ++i) head[i] = NextByte(info);
  auto* decode = static_cast<JpegDecode*>(info->client_data);
  size_t* kept = decode->kept;
  bool keep;
  if (info->unread_marker == JPEG_APP0 + 1) {
    keep = headSize >= sizeof kExif && std::memcmp(head, kExif, sizeof kExif) == 0 && kept[0] == 0;
  } else {
    keep = headSize == sizeof kProfile && std::memcmp(head, kProfile, sizeof kProfile) == 0 && kept[1] + size <= kProfileCap;
  }
  if (!keep) {
    SkipInput(info, static_cast<long>(size - headSize));
    return TRUE;
  }
  kept[info->unread_marker == JPEG_APP0 + 1 ? 0 : 1] += size;
  auto* marker = static_cast<jpeg_saved_marker_ptr>((*info->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, sizeof(jpeg_marker_struct) + size));
  marker->next = nullptr;
  marker->marker = static_cast<UINT8>(info->unread_marker);
  marker->original_length = marker->data_length = size;
  marker->data = reinterpret_cast<JOCTET*>(marker + 1);
  std::memcpy(marker->data, head, headSize);
  for (uint32_t i = headSize; i < size; ++i) marker->data[i] = NextByte(info);
  (decode->last == nullptr ? info->marker_list : decode->last->next) = marker;
  decode->last = marker;
  return TRUE;
}

// A progressive or multi-scan file is decoded into coefficients for the whole picture first:
// their bytes, added up in 64 bits, as the library rounds them. libjpeg adds them up in size_t,
// which wraps at 4 GiB in a 32-bit process (a 118-byte header of 65500 by 32792 asks for 4.3 GB
// and is counted as 1 MB), and asks for its large buffers without checking max_memory_to_use.
int64_t CoefficientBytes(const jpeg_decompress_struct& info) {
  if (!info.progressive_mode && info.comps_in_scan == info.num_components) return 0;
  int64_t bytes = 0;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    const int64_t across = component.h_samp_factor, down = component.v_samp_factor;
    bytes += (component.width_in_blocks + across - 1) / across * across *
             ((component.height_in_blocks + down - 1) / down * down) * DCTSIZE2 *
             static_cast<int64_t>(sizeof(JCOEF));
  }
  return bytes;
}

// The scales below 1/1 at which the library's DCT scaling keeps the colour, by the ratio of each
// component's sampling to the finest (rx across, ry down), as measured over every layout it takes
// against its full decode averaged (see docs/formats.md, JPEG sources): a scale is used only where its
// picture stays within a level of 4:2:0's at that scale, on a photo and on random colour tiles.
// 4:4:4, 4:2:0 and alike (rx = ry, at most 2) at every scale; chroma at a quarter both ways at
// 1/4 and 1/8 only; chroma halved one way only (4:2:2, 4:4:0) at 1/2; everything else (thirds,
// 4:1:1, luma coarser than chroma one way) is off by up to 30 levels and decodes whole.
int UsableScales(const jpeg_decompress_struct& info) {
  bool equal = true, lumaWhole = false, chromaHalvedOneWay = info.num_components == 3;
  int largest = 1;
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    if (info.max_h_samp_factor % component.h_samp_factor != 0 ||
        info.max_v_samp_factor % component.v_samp_factor != 0) {
      return 0;
    }
    const int across = info.max_h_samp_factor / component.h_samp_factor;
    const int down = info.max_v_samp_factor / component.v_samp_factor;
    equal = equal && across == down;
    largest = across > largest ? across : largest;
    largest = down > largest ? down : largest;
    if (c == 0) {
      lumaWhole = across == 1 && down == 1;
    } else {
      chromaHalvedOneWay = chromaHalvedOneWay && across * down == 2;
    }
  }
  if (equal && largest <= 2) return kJpegScaleHalf | kJpegScaleQuarter | kJpegScaleEighth;
  if (equal && largest == 4 && lumaWhole) return kJpegScaleQuarter | kJpegScaleEighth;
  if (lumaWhole && chromaHalvedOneWay) return kJpegScaleHalf;
  return 0;
}

// What the photo carries: the orientation of its first EXIF segment, and its ICC profile where
// its chunks are whole (no gaps, no duplicates; libjpeg-turbo checks) and within kProfileCap.
void ReadCarried(JpegDecode* decode, Carried* carried) {
  jpeg_decompress_struct* info = &decode->info;
  for (jpeg_saved_marker_ptr m = info->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0", 6) == 0) {
      carried->orientation = OrientationOfExif(m->data + 6, m->data_length - 6);
      break;
    }
  }
  JOCTET* profile = nullptr;
  unsigned size = 0;
  decode->error.warningsPass = true;
  const bool whole = jpeg_read_icc_profile(info, &profile, &size);
  decode->error.warningsPass = false;
  if (whole && size <= kProfileCap) carried->profile.assign(profile, profile + size);
  std::free(profile);
}

// The MCU rows of iMCU row `row`: one for an interleaved scan, else the component's block rows.
int McuRows(const jpeg_decompress_struct& info, JDIMENSION row) {
  if (info.comps_in_scan > 1) return 1;
  const jpeg_component_info& c = *info.cur_comp_info[0];
  return row + 1 < info.total_iMCU_rows ? c.v_samp_factor : c.last_row_height;
}

// The split's first half: the next batch's coefficients, as decompress_onepass decodes them, into
// blocks the second half left zeroed (the decoder writes only the coefficients that are not 0).
// Where it fails, `failedRow` is the row it was decoding.
void DecodeBatch(void* argument) {
  auto* decode = static_cast<JpegDecode*>(argument);
  jpeg_decompress_struct* info = &decode->info;
  JpegSplit& s = decode->split;
  decode->error.jump = &s.escape;
  if (setjmp(s.escape) != 0) {
    decode->error.jump = &decode->error.escape;
    s.failed = true;
    return;
  }
  const JDIMENSION end = std::min(s.next + s.rowsPerBatch, info->total_iMCU_rows);
  JBLOCKROW pointers[D_MAX_BLOCKS_IN_MCU];
  for (s.failedRow = s.next; s.failedRow < end; ++s.failedRow) {
    JBLOCKROW mcu = s.blocks[s.filling] + (s.failedRow - s.next) * s.blocksPerRow;
    for (int y = 0; y < McuRows(*info, s.failedRow); ++y) {
      for (JDIMENSION x = 0; x < info->MCUs_per_row; ++x, mcu += info->blocks_in_MCU) {
        for (int b = 0; b < info->blocks_in_MCU; ++b) pointers[b] = mcu + b;
        // The source never suspends: a decoder that does has failed.
        if (!(*info->entropy->decode_mcu)(info, pointers)) ERREXIT(info, JERR_CANT_SUSPEND);
      }
    }
  }
  decode->error.jump = &decode->error.escape;
}

// Decodes the next batch on the second thread, or here where it cannot be had.
void StartBatch(JpegDecode* decode) {
  decode->split.flight.Start(DecodeBatch, decode);
  if (!decode->split.flight.running) DecodeBatch(decode);
}

// The split's second half, in the library's place: each iMCU row's inverse DCT from the batch
// that holds it, the batch after it started on the second thread as this one is taken.
int DecompressSplit(j_decompress_ptr info, JSAMPIMAGE output) {
  auto* decode = static_cast<JpegDecode*>(info->client_data);
  JpegSplit& s = decode->split;
  const JDIMENSION row = info->input_iMCU_row;
  if (row == s.heldTo) {
    s.flight.Wait();
    if (s.failed && s.failedRow == row) {
      decode->error.jump = &decode->error.escape;
      std::longjmp(decode->error.escape, 1);
    }
    s.heldFrom = s.next;
    s.heldTo = s.failed ? s.failedRow : std::min(s.next + s.rowsPerBatch, info->total_iMCU_rows);
    s.next = s.heldTo;
    s.filling ^= 1;
    if (!s.failed && s.next < info->total_iMCU_rows) StartBatch(decode);
  }
  JBLOCKROW const blocks = s.blocks[s.filling ^ 1] + (row - s.heldFrom) * s.blocksPerRow;
  JBLOCKROW mcu = blocks;
  const JDIMENSION lastColumn = info->MCUs_per_row - 1;
  for (int y = 0; y < McuRows(*info, row); ++y) {
    for (JDIMENSION x = 0; x <= lastColumn; ++x) {
      for (int c = 0; c < info->comps_in_scan; ++c) {
        jpeg_component_info* component = info->cur_comp_info[c];
        if (!component->component_needed) {
          mcu += component->MCU_blocks;
          continue;
        }
        const inverse_DCT_method_ptr inverse = info->idct->inverse_DCT[component->component_index];
        const int size = component->DCT_scaled_size;
        const int across = x < lastColumn ? component->MCU_width : component->last_col_width;
        JSAMPARRAY to = output[component->component_index] + y * size;
        for (int down = 0; down < component->MCU_height; ++down, mcu += component->MCU_width, to += size) {
          if (row + 1 < info->total_iMCU_rows || y + down < component->last_row_height) {
            for (int k = 0; k < across; ++k) {
              (*inverse)(info, component, mcu[k], to, x * component->MCU_sample_width + static_cast<JDIMENSION>(k * size));
            }
          }
        }
      }
    }
  }
  // Zeroed for the batch decoded into them next, here where they are in the cache (on the
  // first half's thread, the clearing cost a seventh of its time).
  std::memset(blocks, 0, sizeof(JBLOCK) * s.blocksPerRow);
  info->output_iMCU_row++;
  if (++info->input_iMCU_row < info->total_iMCU_rows) return JPEG_ROW_COMPLETED;
  (*info->inputctl->finish_input_pass)(info);
  return JPEG_SCAN_COMPLETED;
}

// About this many bytes of coefficients a batch.
constexpr size_t kBatchBytes = 1 << 20;

// The split in the library's place, for a single-scan file on the thread lent.
void StartSplit(JpegDecode* decode, const SecondThread* beside) {
  jpeg_decompress_struct* info = &decode->info;
  if (beside == nullptr || jpeg_has_multiple_scans(info)) return;
  JpegSplit& s = decode->split;
  const int mcuRows = info->comps_in_scan > 1 ? 1 : info->cur_comp_info[0]->v_samp_factor;
  s.blocksPerRow = info->MCUs_per_row * static_cast<JDIMENSION>(info->blocks_in_MCU * mcuRows);
  s.rowsPerBatch = static_cast<JDIMENSION>(std::max<size_t>(1, kBatchBytes / (s.blocksPerRow * sizeof(JBLOCK))));
  const size_t bytes = s.blocksPerRow * s.rowsPerBatch * sizeof(JBLOCK);
  for (JBLOCKROW& buffer : s.blocks) {
    buffer = static_cast<JBLOCKROW>((*info->mem->alloc_large)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, bytes));
    std::memset(buffer, 0, bytes);
  }
  s.flight = InFlight{beside};
  s.next = s.heldFrom = s.heldTo = 0;
  s.filling = 0;
  s.failed = false;
  info->coef->decompress_data = DecompressSplit;
  StartBatch(decode);
}

// The two functions that call setjmp, one for each of the library's phases. Between either and a
// longjmp there is only plain data (the JpegDecode record and the pointers into it) and the
// library's memory, which jpeg_destroy_decompress releases on every path.
ReadOutcome ReadHeaders(JpegDecode* decode, Description* picture) {
  jpeg_decompress_struct* info = &decode->info;
  decode->error.jump = &decode->error.escape;
  if (setjmp(decode->error.escape) != 0) {
    return decode->error.hostile ? ReadOutcome::kHostile : ReadOutcome::kRefused;
  }
  jpeg_create_decompress(info);
  info->mem->max_memory_to_use = kMaxBandBytes;
  info->progress = &decode->progress;
  info->src = &decode->source.pub;
  info->client_data = decode;
  jpeg_set_marker_processor(info, JPEG_APP0 + 1, KeepMarker);
  jpeg_set_marker_processor(info, JPEG_APP0 + 2, KeepMarker);
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK || !Takes(*info)) return ReadOutcome::kRefused;
  const int64_t coefficients = CoefficientBytes(*info);
  // Past half the address space no decoder in a 32-bit process holds them, GDI+'s neither, which
  // would try for seconds: given to none.
  if (!BandFits(coefficients)) {
    return coefficients >= (int64_t{1} << 31) ? ReadOutcome::kHostile : ReadOutcome::kRefused;
  }
  picture->width = static_cast<int32_t>(info->image_width);
  picture->height = static_cast<int32_t>(info->image_height);
  picture->scales = UsableScales(*info);
  picture->channels = info->num_components == 1 ? Channels::kGrey : Channels::kColour;
  ReadCarried(decode, &picture->carried);
  return ReadOutcome::kRead;
}

ReadOutcome DecodeRows(JpegDecode* decode, int denominator, const DecodedRows& rows, const SecondThread* beside) {
  jpeg_decompress_struct* info = &decode->info;
  decode->error.jump = &decode->error.escape;
  if (setjmp(decode->error.escape) != 0) {
    decode->split.flight.Wait();
    return decode->error.hostile ? ReadOutcome::kHostile : ReadOutcome::kRefused;
  }
  info->scale_num = 1;
  info->scale_denom = static_cast<unsigned>(denominator);
  const bool cmyk = info->num_components == 4;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(info);
  if (!rows.start(rows.context, static_cast<int32_t>(info->output_width),
                  static_cast<int32_t>(info->output_height))) {
    return ReadOutcome::kRefused;
  }
  StartSplit(decode, beside);
  const auto common = reinterpret_cast<j_common_ptr>(info);
  JSAMPARRAY band = (*info->mem->alloc_sarray)(common, JPOOL_IMAGE, info->output_width * (cmyk ? 4 : 3),
                                               static_cast<JDIMENSION>(info->rec_outbuf_height));
  JSAMPARRAY bgr = cmyk ? (*info->mem->alloc_sarray)(common, JPOOL_IMAGE, info->output_width * 3, 1) : nullptr;
  while (info->output_scanline < info->output_height) {
    const JDIMENSION got =
        jpeg_read_scanlines(info, band, static_cast<JDIMENSION>(info->rec_outbuf_height));
    for (JDIMENSION y = 0; y < got; ++y) {
      const uint8_t* row = band[y];
      if (cmyk) {
        if (decode->transform != nullptr) {
          TransformRow(decode->transform, band[y], bgr[0], static_cast<int32_t>(info->output_width));
        } else {
          NaiveCmyk(band[y], bgr[0], info->output_width, info->saw_Adobe_marker != 0);
        }
        row = bgr[0];
      }
      if (!rows.row(rows.context, row)) {
        decode->split.flight.Wait();
        return ReadOutcome::kRefused;
      }
    }
  }
  // A stream whose damage shows only at its end (a random tail) is an error here.
  jpeg_finish_decompress(info);
  return ReadOutcome::kRead;
}
}  // namespace

void JpegDecodeEnd::operator()(JpegDecode* decode) const {
  decode->split.flight.Wait();
  jpeg_destroy_decompress(&decode->info);
  ColourTransform owned(decode->transform);
  delete decode;
}

ReadOutcome OpenJpeg(const ByteSource& bytes, JpegDecoder* decoder, Description* picture) {
  decoder->reset();
  std::unique_ptr<JpegDecode> decode(new JpegDecode());
  SourceManager& source = decode->source;
  source.bytes = bytes;
  // A file that does not begin as a JPEG's never reaches the library.
  const int32_t got = ReadOn(bytes, &source.at, source.buffer, static_cast<int32_t>(kInputBytes));
  if (got < 0) return ReadOutcome::kRefused;
  if (!StartsAsJpeg(source.buffer, got)) return ReadOutcome::kOtherFormat;
  source.pub = {source.buffer, static_cast<size_t>(got), InitSource, FillInput, SkipInput,
                jpeg_resync_to_restart, TermSource};
  decode->info.err = jpeg_std_error(&decode->error.pub);
  decode->error.pub.error_exit = Fail;
  decode->error.pub.emit_message = Emit;
  decode->error.pub.output_message = Silent;
  decode->progress = {Monitor, 0, 0, 0, 0};
  // From here the library's state is the decoder's to destroy, on every path.
  JpegDecoder owned(decode.release());
  const ReadOutcome outcome = ReadHeaders(owned.get(), picture);
  if (outcome != ReadOutcome::kRead) return outcome;
  // CMYK's rows are sRGB: its profile is the engine's, not the thumbnail's.
  if (owned->info.num_components == 4) {
    const ColourInput input = owned->info.saw_Adobe_marker ? ColourInput::kInvertedCmyk : ColourInput::kCmyk;
    owned->transform = SrgbTransform(input, picture->carried.profile).release();
    picture->carried.profile.clear();
  }
  *decoder = std::move(owned);
  return outcome;
}

ReadOutcome ReadJpeg(JpegDecode* decode, int denominator, const DecodedRows& rows, const SecondThread* beside) {
  return DecodeRows(decode, denominator, rows, beside);
}
