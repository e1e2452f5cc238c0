#include "imaging/codecs/tiff_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <tiffio.h>

#include "imaging/codecs/colour_engine.h"
#include "imaging/pixels/bitmap_size.h"

// How a page's rows are made: by libtiff's RGBA interface, or from its samples as stored, where
// that interface gets the picture wrong (16-bit grey and alpha loses its alpha, 8-bit keeps it
// as stored whether associated or not, CIELab and CMYK miss the colour engine).
enum class TiffRows { kRgba, kSamples, kGreyAlpha, kColourEngine };

struct TiffDecode {
  ByteSource bytes;
  int64_t size, at;  // the file's size, and where libtiff reads next
  TIFF* tiff;
  TIFFRGBAImage image;
  bool imageBegun;
  int32_t width, height;
  int32_t band;  // rows a strip or a row of tiles holds
  TiffRows made;
  bool alpha;        // the rows are BGRA, straight
  bool associated;   // the file's alpha is associated: its colours premultiplied
  bool divide;       // the RGBA interface's colours are premultiplied
  uint16_t bits, samples;
  bool separate, minIsWhite;
  bool splits;  // compressed strips of samples as stored, more than one: see ReadSideBySide
  ColourInput input;
  ColourTransform transform;
};

namespace {
// A failed read answers 0 bytes, never -1: libtiff 4.5 adds the answer to what it has read and
// clears the rest of its buffer from there, one byte before it on -1.
tmsize_t Read(thandle_t context, void* buffer, tmsize_t size) {
  auto* d = static_cast<TiffDecode*>(context);
  const int64_t step = std::min<int64_t>(size, std::max<int64_t>(d->size - d->at, 0));
  if (step > INT32_MAX || !ReadExactly(d->bytes, d->at, static_cast<uint8_t*>(buffer), static_cast<int32_t>(step))) {
    return 0;
  }
  d->at += step;
  return static_cast<tmsize_t>(step);
}

tmsize_t Write(thandle_t, void*, tmsize_t) { return -1; }

toff_t Seek(thandle_t context, toff_t offset, int whence) {
  auto* d = static_cast<TiffDecode*>(context);
  const int64_t from = whence == SEEK_CUR ? d->at : whence == SEEK_END ? d->size : 0;
  if (offset > static_cast<toff_t>(INT64_MAX - from)) return static_cast<toff_t>(-1);
  d->at = from + static_cast<int64_t>(offset);
  return static_cast<toff_t>(d->at);
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t context) { return static_cast<toff_t>(static_cast<TiffDecode*>(context)->size); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

constexpr int64_t kPixelsPerByte = 4096;

// libtiff reports through handlers: the outcome is what its calls answer, so nothing is printed.
int Silent(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The most a byte of each codec's data decodes to: none 1, PackBits 64 (a 2-byte run of 128), LZW's
// longest codes and deflate's about 1,032 (LZW's string grow one byte a code: 1,400 with room),
// JPEG's flat blocks far less; a fax row can be a single bit.
int64_t LargestRatio(uint16_t compression, int64_t rowBytes) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_LZW: return 1400;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return std::max<int64_t>(1032, rowBytes * 8);
    default: return 1032;
  }
}

// Every strip or tile the page needs is in the file (an offset past the header, its bytes inside
// the file) and decodes to no more than its bytes can hold: a few bytes can claim strips of
// hundreds of MB that libtiff would allocate before finding them absent, and an offset of 0 or
// a missing plane decodes as garbage.
bool StripsJustified(TIFF* tiff, int64_t size, uint32_t height, uint32_t rowsPerStrip) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  const bool tiled = TIFFIsTiled(tiff) != 0;
  const uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  const uint32_t perPlane = (height + rowsPerStrip - 1) / rowsPerStrip;
  const int64_t ratio = LargestRatio(compression, static_cast<int64_t>(TIFFScanlineSize64(tiff)));
  for (uint32_t i = 0; i < count; ++i) {
    int error = 0;
    const uint64_t at = TIFFGetStrileOffsetWithErr(tiff, i, &error);
    const uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff, i, &error);
    if (error != 0 || at < 8 || bytes == 0 || at > static_cast<uint64_t>(size) || bytes > static_cast<uint64_t>(size) - at) {
      return false;
    }
    const uint32_t rows = tiled ? 0 : std::min(rowsPerStrip, height - (i % perPlane) * rowsPerStrip);
    const uint64_t decoded = tiled ? TIFFTileSize64(tiff) : TIFFVStripSize64(tiff, rows);
    if (decoded / static_cast<uint64_t>(ratio) > bytes) return false;
  }
  return count > 0;
}

// Which rows the page gives and how they are made (see TiffRows).
void ChooseRows(TiffDecode* d, const Carried& carried) {
  TIFF* tiff = d->tiff;
  uint16_t extra = 0, planar = PLANARCONFIG_CONTIG;
  uint16_t* kinds = nullptr;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &kinds);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &d->bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &d->samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  d->separate = planar == PLANARCONFIG_SEPARATE;
  const uint16_t photometric = d->image.photometric;
  d->minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
  const bool grey = d->minIsWhite || photometric == PHOTOMETRIC_MINISBLACK;
  // libtiff marks separate planes of CMYK as alpha to reach the fourth ink.
  d->alpha = d->image.alpha != 0 && photometric != PHOTOMETRIC_SEPARATED;
  d->associated = d->image.alpha == EXTRASAMPLE_ASSOCALPHA;
  // Contiguous 8-bit grey and alpha comes as stored; everything else with alpha premultiplied.
  d->divide = !(grey && !d->separate && d->bits == 8 && !d->associated);
  d->made = TiffRows::kRgba;
  const bool strips = TIFFIsTiled(tiff) == 0;
  if (grey && d->alpha && !d->separate && strips && d->samples == 2 && (d->bits == 8 || d->bits == 16)) {
    d->made = TiffRows::kGreyAlpha;
  } else if (strips && d->bits == 8 && !d->alpha) {
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    // Plain RGB and grey as stored, without the RGBA interface's packing into words and back
    // (a third of an LZW page's time): libtiff's decoders hand over a scanline at a time.
    if (!d->separate && compression != COMPRESSION_JPEG && compression != COMPRESSION_OJPEG &&
        ((photometric == PHOTOMETRIC_RGB && d->samples == 3) || (grey && d->samples == 1))) {
      d->made = TiffRows::kSamples;
      d->splits = compression != COMPRESSION_NONE && TIFFNumberOfStrips(tiff) > 1;
      return;
    }
    if (photometric == PHOTOMETRIC_CIELAB && d->samples == 3 && !d->separate) {
      d->input = ColourInput::kLab;
    } else if (photometric == PHOTOMETRIC_SEPARATED && d->samples == 4 && compression != COMPRESSION_JPEG &&
               (!d->separate || compression == COMPRESSION_NONE)) {
      // Compressed planes read a row of each in turn would decode each strip again from its start.
      d->input = ColourInput::kCmyk;
    } else {
      return;
    }
    d->transform = SrgbTransform(d->input, carried.profile);
    if (d->transform != nullptr) d->made = TiffRows::kColourEngine;
  }
}

// 16 bits to 8, rounded.
inline uint32_t Narrow(uint32_t v) { return (v * 255 + 32767) / 65535; }

// One row of samples as stored into the rows' layout: RGB or grey into BGR, grey and alpha into
// straight BGRA, CMYK or CIELab through the colour engine into BGR. `line` holds the row's samples, the planes one after
// the other where they are separate.
void FromSamples(TiffDecode* d, uint8_t* line, uint8_t* out) {
  const int32_t width = d->width;
  if (d->made == TiffRows::kSamples) {
    const uint8_t invert = d->minIsWhite ? 255 : 0;
    for (int32_t x = 0; x < width; ++x, out += 3) {
      if (d->samples == 1) {
        out[0] = out[1] = out[2] = static_cast<uint8_t>(line[x] ^ invert);
      } else {
        out[0] = line[3 * x + 2], out[1] = line[3 * x + 1], out[2] = line[3 * x];
      }
    }
    return;
  }
  if (d->made == TiffRows::kGreyAlpha) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t g, a, full;
      if (d->bits == 16) {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(line) + 2 * x;
        g = p[0], a = p[1], full = 65535;
      } else {
        g = line[2 * x], a = line[2 * x + 1], full = 255;
      }
      if (d->associated) g = a == 0 ? 0 : std::min(full, static_cast<uint32_t>((uint64_t{g} * full + a / 2) / a));
      if (d->minIsWhite) g = full - g;
      const uint8_t grey = static_cast<uint8_t>(full == 255 ? g : Narrow(g));
      out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = grey;
      out[4 * x + 3] = static_cast<uint8_t>(full == 255 ? a : Narrow(a));
    }
    return;
  }
  if (d->separate) {  // the planes interleaved, into the row's second half
    uint8_t* pixels = line + size_t{4} * width;
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) pixels[4 * x + c] = line[static_cast<size_t>(c) * width + x];
    }
    line = pixels;
  }
  if (d->input == ColourInput::kLab) {
    for (int32_t x = 0; x < width; ++x) line[3 * x + 1] ^= 0x80, line[3 * x + 2] ^= 0x80;
  }
  TransformRow(d->transform.get(), line, out, width);
}

// libtiff's handle on the file at its first page, reading through the decode's bytes; null where
// it fails.
TIFF* OpenHandle(TiffDecode* d) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxBandBytes);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Silent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Silent, nullptr);
  // "m": the file is read, never mapped.
  TIFF* tiff = TIFFClientOpenExt("source", "rm", d, Read, Write, Seek, Close, Size, Map, Unmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

// Strips decoded side by side where the reader is lent a second thread: compressed strips do not
// depend on one another, and their decompression (LZW's, deflate's) is most of a page's time. Each
// thread takes a run of strips of at least kRunBytes decoded in turn; this thread reads the other's
// bytes for it, which decodes them through a handle of its own (libtiff's handles are not shared
// between threads) and no read of the file.
constexpr int64_t kRunBytes = 1 << 20;

struct Run {
  uint32_t first = 0, count = 0;
  std::vector<uint8_t> raw, decoded;  // the strips one after the other
  std::vector<tmsize_t> rawSizes, decodedSizes;
};

struct OtherThread {
  TIFF* tiff;  // its own handle
  Run* run;
  bool decoded;
};

void DecodeRun(void* argument) {
  auto* other = static_cast<OtherThread*>(argument);
  Run& run = *other->run;
  uint8_t* raw = run.raw.data();
  uint8_t* out = run.decoded.data();
  other->decoded = true;
  for (uint32_t k = 0; k < run.count && other->decoded; ++k) {
    other->decoded = TIFFReadFromUserBuffer(other->tiff, run.first + k, raw, run.rawSizes[k], out, run.decodedSizes[k]) != 0;
    raw += run.rawSizes[k];
    out += run.decodedSizes[k];
  }
}

// The sizes of the strips of run `index` (`per` strips a run), and room for them decoded (and,
// where `raw`, as stored, read in).
bool Prepare(TiffDecode* d, uint32_t index, uint32_t per, bool raw, Run* run) {
  TIFF* tiff = d->tiff;
  const uint32_t first = index * per, count = std::min(per, TIFFNumberOfStrips(tiff) - first);
  run->first = first;
  run->count = count;
  try {
    run->rawSizes.assign(count, 0);
    run->decodedSizes.assign(count, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint64_t rawBytes = 0, decodedBytes = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const int64_t top = int64_t{first + k} * d->band;
    run->decodedSizes[k] = static_cast<tmsize_t>(TIFFVStripSize64(tiff, static_cast<uint32_t>(std::min<int64_t>(d->band, d->height - top))));
    run->rawSizes[k] = static_cast<tmsize_t>(TIFFGetStrileByteCount(tiff, first + k));
    rawBytes += static_cast<uint64_t>(run->rawSizes[k]);
    decodedBytes += static_cast<uint64_t>(run->decodedSizes[k]);
  }
  if (!BandFits(static_cast<int64_t>(decodedBytes)) || (raw && !BandFits(static_cast<int64_t>(rawBytes)))) return false;
  try {
    run->decoded.resize(static_cast<size_t>(decodedBytes));
    run->raw.resize(raw ? static_cast<size_t>(rawBytes) : 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* at = run->raw.data();
  for (uint32_t k = 0; raw && k < count; at += run->rawSizes[k], ++k) {
    if (TIFFReadRawStrip(tiff, first + k, at, run->rawSizes[k]) != run->rawSizes[k]) return false;
  }
  return true;
}

// A run decoded by this thread, from the file.
bool DecodeHere(TIFF* tiff, Run* run) {
  uint8_t* out = run->decoded.data();
  for (uint32_t k = 0; k < run->count; out += run->decodedSizes[k], ++k) {
    if (TIFFReadEncodedStrip(tiff, run->first + k, out, run->decodedSizes[k]) != run->decodedSizes[k]) return false;
  }
  return true;
}

bool Deliver(TiffDecode* d, Run* run, uint8_t* out, const DecodedRows& rows) {
  const size_t line = static_cast<size_t>(TIFFScanlineSize64(d->tiff));
  for (size_t at = 0; at + line <= run->decoded.size(); at += line) {
    FromSamples(d, &run->decoded[at], out);
    if (!rows.row(rows.context, out)) return false;
  }
  return true;
}

// The page's strips in runs, the even ones decoded on this thread, the odd ones on the other, each
// delivered in order; the other starts on its next run before this thread delivers the one it
// finished. A run the other could not decode is decoded here: the same rows, and the same answer,
// as on one thread.
ReadOutcome ReadSideBySide(TiffDecode* d, const DecodedRows& rows, const SecondThread* beside, TIFF* second) {
  const uint32_t strips = TIFFNumberOfStrips(d->tiff);
  const int64_t stripBytes = std::max<int64_t>(static_cast<int64_t>(TIFFStripSize64(d->tiff)), 1);
  const uint32_t per = static_cast<uint32_t>(std::max<int64_t>(1, kRunBytes / stripBytes));
  const uint32_t runs = (strips + per - 1) / per;
  std::vector<uint8_t> out;
  try {
    out.resize(static_cast<size_t>(d->width) * 3);
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  Run mine, theirs[2];
  OtherThread other[2] = {{second, &theirs[0], false}, {second, &theirs[1], false}};
  InFlight flight{beside};
  const auto launch = [&](uint32_t run) {
    OtherThread& o = other[run / 2 % 2];
    o.decoded = false;
    if (run < runs && Prepare(d, run, per, true, o.run)) flight.Start(DecodeRun, &o);
  };
  launch(1);
  for (uint32_t run = 0; run < runs; run += 2) {
    if (!Prepare(d, run, per, false, &mine) || !DecodeHere(d->tiff, &mine) || !Deliver(d, &mine, out.data(), rows)) {
      return ReadOutcome::kRefused;
    }
    if (run + 1 == runs) break;
    flight.Wait();
    OtherThread& o = other[(run + 1) / 2 % 2];
    launch(run + 3);
    if (!o.decoded && (!Prepare(d, run + 1, per, false, o.run) || !DecodeHere(d->tiff, o.run))) {
      return ReadOutcome::kRefused;
    }
    if (!Deliver(d, o.run, out.data(), rows)) return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}

// The rows from the samples as stored, a scanline (of each plane) at a time.
ReadOutcome ReadSamples(TiffDecode* d, const DecodedRows& rows) {
  std::vector<uint8_t> line, out;
  try {
    line.resize(static_cast<size_t>(TIFFScanlineSize64(d->tiff)) * (d->separate ? 4 : 1) * 2);
    out.resize(static_cast<size_t>(d->width) * (d->alpha ? 4 : 3));
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  const size_t plane = static_cast<size_t>(d->width);
  for (int32_t y = 0; y < d->height; ++y) {
    for (uint16_t s = 0; s < (d->separate ? 4 : 1); ++s) {
      if (TIFFReadScanline(d->tiff, line.data() + s * plane, static_cast<uint32_t>(y), s) < 0) return ReadOutcome::kRefused;
    }
    FromSamples(d, line.data(), out.data());
    if (!rows.row(rows.context, out.data())) return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}

Carried CarriedOf(TIFF* tiff) {
  Carried carried;
  uint16_t orientation = 1;
  if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8) {
    carried.orientation = orientation;
  }
  uint32_t count = 0;
  const uint8_t* profile = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &profile) && profile != nullptr && count <= kProfileCap) {
    carried.profile.assign(profile, profile + count);
  }
  return carried;
}
}  // namespace

void TiffDecodeEnd::operator()(TiffDecode* decode) const {
  if (decode->imageBegun) TIFFRGBAImageEnd(&decode->image);
  if (decode->tiff != nullptr) TIFFClose(decode->tiff);
  delete decode;
}

ReadOutcome OpenTiff(const ByteSource& bytes, TiffDecoder* decoder, Description* picture) {
  const int64_t size = bytes.size;
  decoder->reset();
  uint8_t head[4];
  if (size < 8 || !ReadExactly(bytes, 0, head, 4) || !StartsAsTiff(head, 4)) return ReadOutcome::kOtherFormat;
  TiffDecoder d(new (std::nothrow) TiffDecode());
  if (d == nullptr) return ReadOutcome::kRefused;
  d->bytes = bytes;
  d->size = size;
  d->tiff = OpenHandle(d.get());
  if (d->tiff == nullptr) return ReadOutcome::kRefused;
  uint32_t width = 0, height = 0, band = 0;
  TIFFGetField(d->tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(d->tiff, TIFFTAG_IMAGELENGTH, &height);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return ReadOutcome::kRefused;
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  if (TIFFIsTiled(d->tiff) ? !TIFFGetField(d->tiff, TIFFTAG_TILELENGTH, &band)
                           : !TIFFGetFieldDefaulted(d->tiff, TIFFTAG_ROWSPERSTRIP, &band)) {
    return ReadOutcome::kRefused;
  }
  // A few bytes can claim a page of 10 billion pixels in strips that are never there: a page no
  // 32-bit process could hold decoded, claiming more pixels per byte of file than any codec
  // packs, is never read (a white fax page packs about a thousand per byte).
  const int64_t pixels = int64_t{width} * height;
  if (!BitmapFits(width, height, 4) && pixels / kPixelsPerByte > size) return ReadOutcome::kHostile;
  d->band = static_cast<int32_t>(std::min(std::max(band, 1u), height));
  if (!RowFits(int64_t{width} * 4) || !BandFits(int64_t{d->band} * width * 4)) {
    return BitmapFits(picture->width, picture->height, 4) ? ReadOutcome::kRefused : ReadOutcome::kHostile;
  }
  // Samples as whole numbers only: libtiff's RGBA interface takes floating-point ones for
  // unsigned integers.
  uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(d->tiff, TIFFTAG_SAMPLEFORMAT, &format);
  if (format != SAMPLEFORMAT_UINT) return ReadOutcome::kRefused;
  if (!StripsJustified(d->tiff, size, height, static_cast<uint32_t>(d->band))) return ReadOutcome::kHostile;
  char message[1024];
  if (!TIFFRGBAImageOK(d->tiff, message) || !TIFFRGBAImageBegin(&d->image, d->tiff, 1, message)) {
    return ReadOutcome::kRefused;
  }
  d->imageBegun = true;
  // The rows as stored: the orientation goes with what the page carries.
  d->image.orientation = ORIENTATION_TOPLEFT;
  d->image.req_orientation = ORIENTATION_TOPLEFT;
  d->width = static_cast<int32_t>(width);
  d->height = static_cast<int32_t>(height);
  picture->carried = CarriedOf(d->tiff);
  ChooseRows(d.get(), picture->carried);
  picture->alpha = d->alpha;
  // The profile of CMYK or CIELab describes what the engine has turned into sRGB.
  if (d->made == TiffRows::kColourEngine || d->image.photometric == PHOTOMETRIC_SEPARATED) picture->carried.profile.clear();
  const bool grey = d->image.photometric == PHOTOMETRIC_MINISBLACK || d->image.photometric == PHOTOMETRIC_MINISWHITE;
  picture->channels = grey ? (picture->alpha ? Channels::kGreyAlpha : Channels::kGrey)
                          : (picture->alpha ? Channels::kColourAlpha : Channels::kColour);
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadTiff(TiffDecode* d, const DecodedRows& rows, const SecondThread* beside) {
  const int32_t width = d->width, height = d->height;
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  if (beside != nullptr && d->splits) {
    // The second handle reads its directory here, before the other thread starts.
    TiffDecoder second(new (std::nothrow) TiffDecode());
    if (second != nullptr) {
      second->bytes = d->bytes;
      second->size = d->size;
      second->tiff = OpenHandle(second.get());
      if (second->tiff != nullptr) return ReadSideBySide(d, rows, beside, second->tiff);
    }
  }
  if (d->made != TiffRows::kRgba) return ReadSamples(d, rows);
  const bool alpha = d->alpha, divide = d->divide;
  const size_t pixels = static_cast<size_t>(width);
  std::vector<uint32_t> band;
  std::vector<uint8_t> out;
  try {
    band.resize(pixels * static_cast<size_t>(d->band));
    out.resize(pixels * (alpha ? 4 : 3));
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  for (int32_t top = 0; top < height; top += d->band) {
    const int32_t count = std::min(d->band, height - top);
    d->image.row_offset = top;
    d->image.col_offset = 0;
    if (!TIFFRGBAImageGet(&d->image, band.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(count))) {
      return ReadOutcome::kRefused;
    }
    for (int32_t y = 0; y < count; ++y) {
      const uint32_t* in = &band[static_cast<size_t>(y) * pixels];
      uint8_t* o = out.data();
      for (size_t x = 0; x < pixels; ++x) {
        const uint32_t p = in[x];
        const uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
        if (!alpha) {
          o[0] = static_cast<uint8_t>(b), o[1] = static_cast<uint8_t>(g), o[2] = static_cast<uint8_t>(r);
          o += 3;
          continue;
        }
        // libtiff premultiplies (see ChooseRows); the rows carry straight alpha, as GDI+'s ARGB does.
        auto straight = [a, divide](uint32_t c) {
          if (!divide) return static_cast<uint8_t>(c);
          return static_cast<uint8_t>(a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a));
        };
        o[0] = straight(b), o[1] = straight(g), o[2] = straight(r), o[3] = static_cast<uint8_t>(a);
        o += 4;
      }
      if (!rows.row(rows.context, out.data())) return ReadOutcome::kRefused;
    }
  }
  return ReadOutcome::kRead;
}
