#include "imaging/codecs/png_reader.h"

#include <csetjmp>
#include <cstdlib>

#include <png.h>

#include "imaging/codecs/png_header.h"
#include "imaging/pixels/bitmap_size.h"

// Everything a decode keeps: plain data, nothing with a destructor that a longjmp could skip.
struct PngDecode {
  png_structp png;
  png_infop info;
  ByteSource bytes;
  int64_t at;     // where the next bytes are read
  png_bytep row;  // one row as delivered, from malloc
  // An interlaced picture, whole (Adam7's passes each touch every part of it), and its rows; from
  // malloc. Null for a picture read row by row.
  png_bytep picture;
  png_bytepp rows;
};

namespace {
// What libpng keeps of an ancillary chunk (a colour profile, inflated, among them): no real
// profile comes near it. A larger chunk is dropped with a warning.
constexpr png_alloc_size_t kChunkCap = png_alloc_size_t{1} << 20;

// Text nobody reads, which a file may hold hundreds of megabytes of, compressed.
const png_byte kTextChunks[] = "tEXt\0zTXt\0iTXt";

void Read(png_structp png, png_bytep buffer, png_size_t size) {
  auto* decode = static_cast<PngDecode*>(png_get_io_ptr(png));
  while (size > 0) {
    const int32_t step = size > (1u << 30) ? (1 << 30) : static_cast<int32_t>(size);
    const int32_t got = ReadOn(decode->bytes, &decode->at, buffer, step);
    if (got <= 0) png_error(png, "the file ends before the picture does");
    buffer += got;
    size -= static_cast<png_size_t>(got);
  }
}

// Errors end in libpng's longjmp; warnings (an unknown profile, say) are neither fatal nor shown.
void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void Warn(png_structp, png_const_charp) {}

// Grey pictures, with or without alpha: grey types, and palettes of grey entries alone.
Channels ChannelsOf(png_structp png, png_infop info, png_byte type, bool alpha) {
  bool grey = (type & PNG_COLOR_MASK_COLOR) == 0;
  png_colorp palette = nullptr;
  int entries = 0;
  if (type == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &palette, &entries)) {
    grey = true;
    for (int i = 0; i < entries; ++i) grey = grey && palette[i].red == palette[i].green && palette[i].green == palette[i].blue;
  }
  if (grey) return alpha ? Channels::kGreyAlpha : Channels::kGrey;
  return alpha ? Channels::kColourAlpha : Channels::kColour;
}

// What the file carries. libpng reports a gamma and chromaticities wherever sRGB implies them:
// beside sRGB they are not carried, sRGB says them.
void ReadCarried(png_structp png, png_infop info, Carried* carried) {
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 size = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &size) && size <= kProfileCap) {
    carried->profile.assign(profile, profile + size);
  }
  int intent = 0;
  if (png_get_sRGB(png, info, &intent)) {
    carried->srgbIntent = intent;
  } else {
    png_fixed_point gamma = 0;
    if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) carried->gamma = static_cast<uint32_t>(gamma);
    png_fixed_point* c = carried->chromaticity;
    carried->chromaticities =
        png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0;
  }
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifSize, &exif)) carried->orientation = OrientationOfExif(exif, exifSize);
}

// The two functions that call setjmp, one for each phase. Between either and a longjmp there is
// only plain data and libpng's own memory, which the decoder's end releases on every path.
ReadOutcome ReadHeader(PngDecode* decode, Description* picture) {
  png_structp png = decode->png;
  png_infop info = decode->info;
  if (setjmp(png_jmpbuf(png)) != 0) return ReadOutcome::kRefused;
  // The plug-in's row cap is the limit (see below), not libpng's million pixels.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, kChunkCap);
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);  // profiles carried as they came
  // The chunks' CRCs guard the bytes already; zlib's Adler-32 of the inflated data costs a tenth of
  // a large PNG's decode (browsers skip it too).
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kTextChunks, 3);
  // A damaged critical chunk refuses the file; a damaged ancillary one is dropped, as browsers drop
  // it: the pixels are whole.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_WARN_DISCARD);
  png_set_read_fn(png, decode, Read);
  png_read_info(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  const png_byte type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  // Refused before libpng or the plug-in allocates a row; no other decoder is given it either.
  if (!PngRowFits(png_get_image_width(png, info), type, depth)) return ReadOutcome::kHostile;
  const bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS);
  png_set_expand(png);  // palettes to RGB, grey of 1 to 4 bits to 8, tRNS to alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (!alpha) png_set_strip_alpha(png);
  if (interlaced) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_size_t rowBytes = png_get_rowbytes(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  if (rowBytes != width * (alpha ? 4u : 3u)) return ReadOutcome::kRefused;
  decode->row = static_cast<png_bytep>(std::malloc(rowBytes));
  if (decode->row == nullptr) return ReadOutcome::kRefused;
  if (interlaced) {
    const png_uint_32 height = png_get_image_height(png, info);
    if (!BandFits(static_cast<int64_t>(rowBytes) * height)) return ReadOutcome::kHostile;
    decode->picture = static_cast<png_bytep>(std::malloc(rowBytes * height));
    decode->rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
    if (decode->picture == nullptr || decode->rows == nullptr) return ReadOutcome::kRefused;
    for (png_uint_32 y = 0; y < height; ++y) decode->rows[y] = decode->picture + rowBytes * y;
  }
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(png_get_image_height(png, info));
  picture->alpha = alpha;
  picture->channels = ChannelsOf(png, info, type, alpha);
  ReadCarried(png, info, &picture->carried);
  return ReadOutcome::kRead;
}

ReadOutcome DecodeRows(PngDecode* decode, const DecodedRows& rows) {
  png_structp png = decode->png;
  if (setjmp(png_jmpbuf(png)) != 0) return ReadOutcome::kRefused;
  const png_uint_32 height = png_get_image_height(png, decode->info);
  if (!rows.start(rows.context, static_cast<int32_t>(png_get_image_width(png, decode->info)),
                  static_cast<int32_t>(height))) {
    return ReadOutcome::kRefused;
  }
  if (decode->picture != nullptr) png_read_image(png, decode->rows);
  for (png_uint_32 y = 0; y < height; ++y) {
    if (decode->picture == nullptr) png_read_row(png, decode->row, nullptr);
    if (!rows.row(rows.context, decode->picture != nullptr ? decode->rows[y] : decode->row)) return ReadOutcome::kRefused;
  }
  // The chunks after the pixels, to the end, their CRCs checked.
  png_read_end(png, nullptr);
  return ReadOutcome::kRead;
}
}  // namespace

void PngDecodeEnd::operator()(PngDecode* decode) const {
  png_destroy_read_struct(&decode->png, &decode->info, nullptr);
  std::free(decode->row);
  std::free(decode->picture);
  std::free(decode->rows);
  delete decode;
}

ReadOutcome OpenPng(const ByteSource& bytes, PngDecoder* decoder, Description* picture) {
  decoder->reset();
  uint8_t signature[8];
  const int32_t got = bytes.readAt(bytes.context, 0, signature, sizeof signature);
  if (got < 0) return ReadOutcome::kRefused;
  if (!StartsAsPng(signature, static_cast<size_t>(got))) return ReadOutcome::kOtherFormat;
  PngDecoder owned(new PngDecode{nullptr, nullptr, bytes, sizeof signature, nullptr, nullptr, nullptr});
  owned->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Warn);
  if (owned->png == nullptr) return ReadOutcome::kRefused;
  owned->info = png_create_info_struct(owned->png);
  if (owned->info == nullptr) return ReadOutcome::kRefused;
  png_set_sig_bytes(owned->png, sizeof signature);
  const ReadOutcome outcome = ReadHeader(owned.get(), picture);
  if (outcome == ReadOutcome::kRead) *decoder = std::move(owned);
  return outcome;
}

ReadOutcome ReadPng(PngDecode* decode, const DecodedRows& rows) { return DecodeRows(decode, rows); }
