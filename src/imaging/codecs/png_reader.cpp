#include "imaging/codecs/png_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/crc_fold.h"
#include "imaging/codecs/png_header.h"
#include "imaging/pixels/bitmap_size.h"

struct PngSplit;

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
  int64_t filtered;  // bytes of the inflated pixel data: each row as filtered, with its filter byte
  PngSplit* split;   // where the pixel data is inflated on a second thread, else null
  bool splitFailed;  // the read was stopped because the second thread's inflate did not end well
};

namespace {
// The pixel data goes to libpng in stored deflate blocks, the largest one holds, and IDAT chunks
// of the reader's own; the second thread inflates whole blocks, 1 MB, a run at a time.
constexpr int64_t kStoredBlock = 65535;
constexpr int64_t kStoredHead = 5;  // a block's first byte, its length and the length's complement
constexpr int64_t kRunBytes = kStoredBlock * 16;
constexpr int64_t kChunkBytes = int64_t{1} << 20;
constexpr uint32_t kInBytes = 1u << 16;
}  // namespace

// A non-interlaced file's pixel data inflated on a second thread, a run at a time, while this
// thread has libpng unfilter and convert the run before: zlib's inflate was half of a large PNG's
// time, on one thread. libpng is given the inflated bytes as stored (uncompressed) deflate blocks,
// which its inflate only copies, in IDAT chunks whose CRCs it is told not to check. The second
// thread checks what libpng would have: each IDAT chunk's CRC, and that the stream holds exactly
// the rows and ends with the chunks. Where anything else happens (a damaged or unusual file, a
// failed read) the file is decoded again on this thread alone, past the rows already delivered:
// the same rows and the same answer as libpng's own.
struct PngSplit {
  // The second thread's, during a run: the compressed bytes and their inflate.
  ByteSource bytes;
  int64_t at;          // the next byte of the current IDAT chunk's data
  uint32_t chunkLeft;  // of its data
  uLong crc;           // of its type and data so far
  bool fold;           // the CRC folded by carry-less multiplication (crc_fold.h)
  z_stream z;
  bool inflating = false;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out[2];  // the runs, in turn
  int64_t runs;
  int64_t next = 0;    // the run inflated next
  bool failed = false;
  int64_t after = 0;   // where the file's chunks go on after the pixel data
  // This thread's: the stored stream libpng is given, and where it is in it.
  InFlight flight;       // the run on the second thread
  int64_t filtered;      // bytes of inflated pixel data
  int64_t stream;        // bytes of the stored stream
  int64_t streamAt = 0;
  int64_t chunkData;     // what is left of the current chunk's data
  uint8_t framing[12];   // between chunks: a CRC, then the next one's length and type
  int framingAt = 0, framingSize = 0;
  bool lastCrc = false;  // the last chunk's CRC has been given
  bool trailing = false; // past it: the file's own bytes again
  int64_t have = -1;     // the run whose bytes are in hand

  explicit PngSplit(const SecondThread* beside) : flight{beside} {}
  ~PngSplit() {
    flight.Wait();  // before the inflate it uses ends
    if (inflating) inflateEnd(&z);
  }
};

namespace {
void PutBig32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The next compressed bytes into the inflate's input, across IDAT chunks, each chunk's CRC checked
// at its end; false at a read error, a CRC that does not match, or a chunk other than IDAT (the
// pixel data ended short of the rows).
bool Refill(PngSplit* s) {
  while (s->chunkLeft == 0) {
    uint8_t end[12];  // the CRC, then the next chunk's length and type
    if (!ReadExactly(s->bytes, s->at, end, 12) || ReadNumber(end, 4, true) != s->crc || std::memcmp(end + 8, "IDAT", 4) != 0 ||
        ReadNumber(end + 4, 4, true) > 0x7FFFFFFFu) {
      return false;
    }
    s->chunkLeft = ReadNumber(end + 4, 4, true);
    s->at += 12;
    s->crc = crc32(0, end + 8, 4);
  }
  const uint32_t size = std::min(s->chunkLeft, kInBytes);
  if (!ReadExactly(s->bytes, s->at, s->in.data(), static_cast<int32_t>(size))) return false;
  s->at += size;
  s->chunkLeft -= size;
  s->crc = ChunkCrc(static_cast<uint32_t>(s->crc), s->in.data(), size, s->fold);
  s->z.next_in = s->in.data();
  s->z.avail_in = size;
  return true;
}

// After the stream's end: nothing more in its chunk, the chunk's CRC right, and the next chunk not
// IDAT (libpng warns of data beyond the rows and goes on: such files are left to it).
bool EndsWithTheChunks(PngSplit* s) {
  uint8_t end[12];
  if (s->z.avail_in != 0 || s->chunkLeft != 0 || !ReadExactly(s->bytes, s->at, end, 12)) return false;
  if (ReadNumber(end, 4, true) != s->crc || std::memcmp(end + 8, "IDAT", 4) == 0) return false;
  s->after = s->at + 4;
  return true;
}

// One run: the next 1 MB of the inflated pixel data (the last run, the rest, and one byte of room
// that must stay empty). The second thread's work, or this thread's where it had none.
void InflateRun(void* argument) {
  auto* s = static_cast<PngSplit*>(argument);
  const int64_t run = s->next++;
  const int64_t size = std::min(kRunBytes, s->filtered - run * kRunBytes);
  const bool last = run + 1 == s->runs;
  s->z.next_out = s->out[run % 2].data();
  s->z.avail_out = static_cast<uInt>(size + (last ? 1 : 0));
  while (!s->failed && (last || s->z.avail_out > 0)) {
    if (s->z.avail_out == 0 || (s->z.avail_in == 0 && !Refill(s))) {
      s->failed = true;
      break;
    }
    const int inflated = inflate(&s->z, Z_NO_FLUSH);
    if (inflated == Z_STREAM_END) {
      s->failed = !last || s->z.avail_out != 1 || !EndsWithTheChunks(s);
      break;
    }
    s->failed = inflated != Z_OK;
  }
}

// Starts the next run on the second thread, if there is one to start and a thread to be had.
void Launch(PngSplit* s) {
  if (s->next < s->runs) s->flight.Start(InflateRun, s);
}

// The run that holds byte `run` * kRunBytes of the pixel data in hand, the one after it started;
// false where it failed. Runs are asked for in turn.
bool Have(PngSplit* s, int64_t run) {
  if (run == s->have) return true;
  s->flight.Wait();
  if (s->next == run) InflateRun(s);  // it had no thread
  if (s->failed) return false;
  s->have = run;
  Launch(s);
  return true;
}

// Up to `size` bytes of the stored stream from where libpng is: its zlib header, each block's head
// and data, its Adler-32 (which libpng is told not to check); 0 where the data failed.
int64_t StoredBytes(PngSplit* s, uint8_t* to, int64_t size) {
  static const uint8_t kHeader[2] = {0x78, 0x01};
  static const uint8_t kCheck[4] = {0, 0, 0, 0};
  if (s->streamAt < 2) {
    const int64_t n = std::min(size, 2 - s->streamAt);
    std::memcpy(to, kHeader + s->streamAt, static_cast<size_t>(n));
    return n;
  }
  const int64_t at = s->streamAt - 2, block = at / (kStoredBlock + kStoredHead), in = at % (kStoredBlock + kStoredHead);
  const int64_t blocks = (s->filtered + kStoredBlock - 1) / kStoredBlock;
  const int64_t checkAt = at - s->filtered - blocks * kStoredHead;
  if (checkAt >= 0) {
    const int64_t n = std::min(size, 4 - checkAt);
    std::memcpy(to, kCheck + checkAt, static_cast<size_t>(n));
    return n;
  }
  const uint32_t length = static_cast<uint32_t>(std::min(kStoredBlock, s->filtered - block * kStoredBlock));
  if (in < kStoredHead) {
    const uint8_t head[kStoredHead] = {static_cast<uint8_t>(block + 1 == blocks), static_cast<uint8_t>(length),
                                       static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(~length),
                                       static_cast<uint8_t>(~length >> 8)};
    const int64_t n = std::min(size, kStoredHead - in);
    std::memcpy(to, head + in, static_cast<size_t>(n));
    return n;
  }
  const int64_t byte = block * kStoredBlock + in - kStoredHead;
  if (!Have(s, byte / kRunBytes)) return 0;
  const int64_t n = std::min(size, length - (in - kStoredHead));
  std::memcpy(to, &s->out[byte / kRunBytes % 2][static_cast<size_t>(byte % kRunBytes)], static_cast<size_t>(n));
  return n;
}

// Up to `size` bytes of what libpng reads from the first IDAT chunk's data on (it has read that
// chunk's length): the stored stream in chunks, up to the last one's CRC, after which `trailing`
// holds. Fewer where the data failed.
size_t Serve(PngSplit* s, uint8_t* to, size_t size) {
  size_t done = 0;
  while (done < size && !s->trailing) {
    if (s->framingAt < s->framingSize) {
      const size_t n = std::min(size - done, static_cast<size_t>(s->framingSize - s->framingAt));
      std::memcpy(to + done, s->framing + s->framingAt, n);
      s->framingAt += static_cast<int>(n);
      done += n;
    } else if (s->chunkData > 0) {
      const int64_t n = StoredBytes(s, to + done, std::min(static_cast<int64_t>(size - done), s->chunkData));
      if (n == 0) break;
      s->streamAt += n;
      s->chunkData -= n;
      done += static_cast<size_t>(n);
    } else if (s->streamAt < s->stream) {
      s->chunkData = std::min(kChunkBytes, s->stream - s->streamAt);
      std::memset(s->framing, 0, 4);
      PutBig32(s->framing + 4, static_cast<uint32_t>(s->chunkData));
      std::memcpy(s->framing + 8, "IDAT", 4);
      s->framingAt = 0;
      s->framingSize = 12;
    } else if (!s->lastCrc) {
      std::memset(s->framing, 0, 4);
      s->framingAt = 0;
      s->framingSize = 4;
      s->lastCrc = true;
    } else {
      s->trailing = true;
    }
  }
  return done;
}

// Errors end in libpng's longjmp; warnings (an unknown profile, say) are neither fatal nor shown.
void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void Warn(png_structp, png_const_charp) {}

// What libpng keeps of an ancillary chunk (a colour profile, inflated, among them): no real
// profile comes near it. A larger chunk is dropped with a warning.
constexpr png_alloc_size_t kChunkCap = png_alloc_size_t{1} << 20;

// Text nobody reads, which a file may hold hundreds of megabytes of, compressed.
const png_byte kTextChunks[] = "tEXt\0zTXt\0iTXt";

// A damaged critical chunk refuses the file; a damaged ancillary one is dropped, as browsers drop
// it: the pixels are whole.
void CheckCrcs(png_structp png) { png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_WARN_DISCARD); }

void Read(png_structp png, png_bytep buffer, png_size_t size) {
  auto* decode = static_cast<PngDecode*>(png_get_io_ptr(png));
  PngSplit* split = decode->split;
  if (split != nullptr && !split->trailing) {
    const size_t served = Serve(split, buffer, size);
    buffer += served;
    size -= served;
    if (!split->trailing && size > 0) {
      decode->splitFailed = true;
      png_error(png, "the pixel data did not inflate on the second thread");
    }
    if (split->trailing) {
      decode->at = split->after;
      CheckCrcs(png);
    }
  }
  while (size > 0) {
    const int32_t step = size > (1u << 30) ? (1 << 30) : static_cast<int32_t>(size);
    const int32_t got = ReadOn(decode->bytes, &decode->at, buffer, step);
    if (got <= 0) png_error(png, "the file ends before the picture does");
    buffer += got;
    size -= static_cast<png_size_t>(got);
  }
}

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
  CheckCrcs(png);
  png_set_read_fn(png, decode, Read);
  png_read_info(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  const png_byte type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
  // Refused before libpng or the plug-in allocates a row; no other decoder is given it either.
  if (!PngRowFits(png_get_image_width(png, info), type, depth)) return ReadOutcome::kHostile;
  const int64_t bits = int64_t{png_get_image_width(png, info)} * png_get_channels(png, info) * depth;
  decode->filtered = ((bits + 7) / 8 + 1) * png_get_image_height(png, info);
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

// Every row, each to `rows` after the first `delivered` (which a decode before this one gave, and
// whose `start` it called); `delivered` counts them.
ReadOutcome DecodeRows(PngDecode* decode, const DecodedRows& rows, png_uint_32* delivered) {
  png_structp png = decode->png;
  if (setjmp(png_jmpbuf(png)) != 0) return ReadOutcome::kRefused;
  const png_uint_32 height = png_get_image_height(png, decode->info);
  if (*delivered == 0 && !rows.start(rows.context, static_cast<int32_t>(png_get_image_width(png, decode->info)),
                                     static_cast<int32_t>(height))) {
    return ReadOutcome::kRefused;
  }
  if (decode->picture != nullptr) png_read_image(png, decode->rows);
  for (png_uint_32 y = 0; y < height; ++y) {
    if (decode->picture == nullptr) png_read_row(png, decode->row, nullptr);
    if (y < *delivered) continue;
    if (!rows.row(rows.context, decode->picture != nullptr ? decode->rows[y] : decode->row)) return ReadOutcome::kRefused;
    ++*delivered;
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
  uint8_t header[kPngHeaderBytes];
  const int32_t got = bytes.readAt(bytes.context, 0, header, sizeof header);
  if (got < 0) return ReadOutcome::kRefused;
  if (!StartsAsPng(header, static_cast<size_t>(got))) return ReadOutcome::kOtherFormat;
  // IHDR first, as PNG requires and as the header check that measures a PNG reads it: libpng passes
  // over unknown chunks before it, and would read a picture the metrics call 0 by 0.
  int32_t width = 0, height = 0;
  if (!PngHeaderSize(header, static_cast<size_t>(got), &width, &height)) return ReadOutcome::kRefused;
  PngDecoder owned(new PngDecode{nullptr, nullptr, bytes, 8, nullptr, nullptr, nullptr, 0, nullptr, false});
  owned->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Warn);
  if (owned->png == nullptr) return ReadOutcome::kRefused;
  owned->info = png_create_info_struct(owned->png);
  if (owned->info == nullptr) return ReadOutcome::kRefused;
  png_set_sig_bytes(owned->png, 8);
  const ReadOutcome outcome = ReadHeader(owned.get(), picture);
  if (outcome == ReadOutcome::kRead) *decoder = std::move(owned);
  return outcome;
}

namespace {
// The split for a non-interlaced file of at least two runs, where a second thread is lent; null
// where the file is read on one thread. libpng has read the first IDAT chunk's length and type.
std::unique_ptr<PngSplit> SplitFor(PngDecode* decode, const SecondThread* beside) {
  uint8_t head[8];
  if (beside == nullptr || decode->picture != nullptr || decode->filtered < 2 * kRunBytes ||
      !ReadExactly(decode->bytes, decode->at - 8, head, 8) || std::memcmp(head + 4, "IDAT", 4) != 0) {
    return nullptr;
  }
  std::unique_ptr<PngSplit> s(new (std::nothrow) PngSplit(beside));
  if (s == nullptr) return nullptr;
  s->bytes = decode->bytes;
  s->at = decode->at;
  s->chunkLeft = ReadNumber(head, 4, true);
  s->crc = crc32(0, head + 4, 4);
  s->fold = CarrylessMultiplyPresent();
  s->filtered = decode->filtered;
  s->runs = (s->filtered + kRunBytes - 1) / kRunBytes;
  const int64_t blocks = (s->filtered + kStoredBlock - 1) / kStoredBlock;
  s->stream = 2 + s->filtered + blocks * kStoredHead + 4;
  s->chunkData = s->chunkLeft;
  s->z = z_stream();
  // The file's header says its window, as it does for libpng, and its Adler-32 is not checked,
  // as libpng does not check it.
  if (s->chunkData > s->stream || inflateInit2(&s->z, 0) != Z_OK) return nullptr;
  s->inflating = true;
  inflateValidate(&s->z, 0);
  try {
    s->in.resize(kInBytes);
    for (std::vector<uint8_t>& out : s->out) out.resize(static_cast<size_t>(kRunBytes) + 1);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return s;
}
}  // namespace

ReadOutcome ReadPng(PngDecode* decode, const DecodedRows& rows, const SecondThread* beside) {
  png_uint_32 delivered = 0;
  std::unique_ptr<PngSplit> split = SplitFor(decode, beside);
  if (split != nullptr) {
    decode->split = split.get();
    png_set_crc_action(decode->png, PNG_CRC_QUIET_USE, PNG_CRC_WARN_DISCARD);  // the chunks are the reader's own
    Launch(split.get());
  }
  const ReadOutcome outcome = DecodeRows(decode, rows, &delivered);
  split.reset();
  decode->split = nullptr;
  if (!decode->splitFailed) return outcome;
  PngDecoder again;
  Description picture;
  if (OpenPng(decode->bytes, &again, &picture) != ReadOutcome::kRead) return ReadOutcome::kRefused;
  return DecodeRows(again.get(), rows, &delivered);
}
