#include "imaging/codecs/webp_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "src/dec/vp8_dec.h"  // the incremental decoder's row hooks (libwebp's source)

#include "imaging/codecs/byte_order.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/box_average.h"

struct WebpDecode {
  ByteSource bytes;
  int64_t size;
  int32_t width, height;
  bool alpha, animated;
  bool boxed;  // reduced by the plug-in's boxes (see ReadBoxed), not libwebp's scaler
};

namespace {
// libwebp is handed the file this many bytes at a time.
constexpr int32_t kStep = 64 * 1024;

// A chunk's data in the file: its offset and size, or size -1 where the file has no such chunk.
struct Chunk {
  int64_t at = 0, size = -1;
};

// The chunks whose data the reader uses, from the RIFF walk; a chunk cut by the file's end ends
// the walk.
struct Chunks {
  Chunk profile, exif;
};

Chunks WalkChunks(const ByteSource& in, int64_t size) {
  Chunks found;
  for (int64_t at = 12; at + 8 <= size;) {
    uint8_t h[8];
    if (!ReadExactly(in, at, h, 8)) break;
    const int64_t length = ReadLittle(h + 4, 4);
    if (at + 8 + length > size) break;
    if (std::memcmp(h, "ICCP", 4) == 0 && found.profile.size < 0 && length >= 4 && length <= kProfileCap) {
      // Of several, the first whole one: its own header gives its size.
      uint8_t declared[4];
      if (ReadExactly(in, at + 8, declared, 4) && ReadNumber(declared, 4, true) == length) found.profile = {at + 8, length};
    }
    if (std::memcmp(h, "EXIF", 4) == 0) found.exif = {at + 8, length};
    at += 8 + length + (length & 1);
  }
  return found;
}

std::vector<uint8_t> ChunkData(const ByteSource& in, const Chunk& chunk) {
  std::vector<uint8_t> data;
  if (chunk.size <= 0 || static_cast<size_t>(chunk.size) > kProfileCap) return data;
  data.resize(static_cast<size_t>(chunk.size));
  if (!ReadExactly(in, chunk.at, data.data(), static_cast<int32_t>(chunk.size))) data.clear();
  return data;
}

Carried CarriedOf(const ByteSource& in, int64_t size) {
  const Chunks chunks = WalkChunks(in, size);
  Carried carried;
  carried.profile = ChunkData(in, chunks.profile);
  std::vector<uint8_t> exif = ChunkData(in, chunks.exif);
  // Some writers keep JPEG's "Exif\0\0" before the TIFF structure.
  const size_t skip = exif.size() >= 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
  if (exif.size() > skip) carried.orientation = OrientationOfExif(exif.data() + skip, exif.size() - skip);
  return carried;
}

// Hands libwebp the file a step at a time until it has decoded the picture or stops, calling
// afterEach() after each step; false from it stops.
template <typename AfterEach>
ReadOutcome Feed(WebpDecode* d, WebPIDecoder* decoder, VP8StatusCode* status, AfterEach afterEach) {
  std::vector<uint8_t> chunk;
  try {
    chunk.resize(kStep);
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  *status = VP8_STATUS_SUSPENDED;
  for (int64_t at = 0; *status == VP8_STATUS_SUSPENDED && at < d->size; at += kStep) {
    const int32_t step = static_cast<int32_t>(std::min<int64_t>(kStep, d->size - at));
    if (!ReadExactly(d->bytes, at, chunk.data(), step)) return ReadOutcome::kRefused;
    *status = WebPIAppend(decoder, chunk.data(), static_cast<size_t>(step));
    if (!afterEach()) return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}

struct DecoderEnd {
  void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};
using OwnedDecoder = std::unique_ptr<WebPIDecoder, DecoderEnd>;

// How a read that libwebp ended with `status` ends, all `height` rows having been asked for.
ReadOutcome Ending(ReadOutcome fed, VP8StatusCode status, int32_t delivered, int32_t height) {
  if (fed != ReadOutcome::kRead) return fed;
  // A picture whose memory could not be had is no fault of the file's.
  if (status == VP8_STATUS_OUT_OF_MEMORY) return ReadOutcome::kRefused;
  return status == VP8_STATUS_OK && delivered == height ? ReadOutcome::kRead : ReadOutcome::kHostile;
}

// The rows of a still picture, decoded as the file is handed over, each passed on as soon as
// libwebp has it.
ReadOutcome ReadStill(WebpDecode* d, int denominator, const DecodedRows& rows) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return ReadOutcome::kRefused;
  config.output.colorspace = d->alpha ? MODE_BGRA : MODE_BGR;
  config.options.use_threads = 1;
  const int32_t width = ReducedSide(d->width, denominator), height = ReducedSide(d->height, denominator);
  if (denominator > 1) {
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
  }
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  OwnedDecoder decoder(WebPIDecode(nullptr, 0, &config));
  if (decoder == nullptr) return ReadOutcome::kRefused;
  VP8StatusCode status;
  int32_t delivered = 0;
  const ReadOutcome fed = Feed(d, decoder.get(), &status, [&] {
    int lastY = 0, stride = 0;
    const uint8_t* pixels = WebPIDecGetRGB(decoder.get(), &lastY, nullptr, nullptr, &stride);
    for (; pixels != nullptr && delivered < lastY && delivered < height; ++delivered) {
      if (!rows.row(rows.context, pixels + static_cast<size_t>(delivered) * stride)) return false;
    }
    return true;
  });
  decoder.reset();
  WebPFreeDecBuffer(&config.output);
  return Ending(fed, status, delivered, height);
}

// A lossy, opaque picture at 1/d, from libwebp's Y, U and V rows as it rebuilds them (on its own
// thread): each plane averaged in boxes of d by d pixels, and only then converted to BGR, once a
// box. libwebp's own scaler does the same per plane, in plain C, and was most of what a thumbnail
// waited for. The boxes cover the picture as a JPEG's scaled rows do: the last of a row or column
// of them in part. A U or V sample stands for 2 by 2 pixels, or fewer at an odd side's end: it
// counts in its box once for each of its pixels there (in the last box of a row, and the last row
// of boxes, where that is not the same for all), so that a box's colour is its pixels' own.
struct PlaneBoxes {
  const DecodedRows* rows;
  int32_t factor, width, height, boxes;
  void (*addLuma)(const uint8_t* row, int32_t width, uint32_t* sums);
  void (*addChroma)(const uint8_t* row, int32_t width, uint32_t* sums);
  std::vector<uint32_t> y, u, v;  // each box's sums over the rows in the current row of boxes
  std::vector<uint8_t> out;       // that row of boxes, converted
  int32_t rowsIn = 0, rowsInBox = 0, delivered = 0;
  bool refused = false;
};

// Adds each box's kBox samples of a row to its sum, the last box's in part.
template <int kBox>
void AddBoxes(const uint8_t* row, int32_t width, uint32_t* sums) {
  const int32_t whole = width / kBox;
  for (int32_t x = 0; x < whole; ++x, row += kBox) {
    uint32_t sum = 0;
    for (int k = 0; k < kBox; ++k) sum += row[k];
    sums[x] += sum;
  }
  for (int32_t k = 0; k < width % kBox; ++k) sums[whole] += row[k];
}

// The boxes' adder for a side of 1 to 8 (the scales' denominators and their halves).
auto AdderOf(int32_t box) {
  return box >= 8 ? AddBoxes<8> : box == 4 ? AddBoxes<4> : box == 2 ? AddBoxes<2> : AddBoxes<1>;
}

// A row of U or V: once a sample in every box but the last, once a pixel in that.
void AddChroma(const PlaneBoxes* b, const uint8_t* row, uint32_t* sums) {
  const int32_t lastBox = b->boxes - 1;
  b->addChroma(row, lastBox * (b->factor / 2), sums);
  for (int32_t x = lastBox * b->factor; x < b->width; ++x) sums[lastBox] += row[x / 2];
}

// libwebp's own conversion (its dsp/yuv.h), so that the colours are the ones it gives.
inline int MultHi(int v, int k) { return (v * k) >> 8; }
inline uint8_t Clip(int v) {
  return static_cast<uint8_t>((v & ~((256 << 6) - 1)) == 0 ? v >> 6 : v < 0 ? 0 : 255);
}

// A box's colour from its sums: libwebp's fixed-point YUV to BGR of the averages (the divisors by
// value, so that they stay in registers however the bytes written alias).
inline void PutBox(uint32_t y, uint32_t u, uint32_t v, Divisor dy, Divisor dc, uint8_t* out) {
  const int luma = MultHi(Average(y, dy), 19077), cb = Average(u, dc), cr = Average(v, dc);
  out[0] = Clip(luma + MultHi(cb, 33050) - 17685);
  out[1] = Clip(luma - MultHi(cb, 6419) - MultHi(cr, 13320) + 8708);
  out[2] = Clip(luma + MultHi(cr, 26149) - 14234);
}

bool TakeBoxes(PlaneBoxes* b) {
  const int32_t d = b->factor, last = b->boxes - 1, lastColumns = b->width - last * d;
  const uint64_t rows = static_cast<uint64_t>(b->rowsInBox);
  const uint64_t chromaRows = b->rowsIn == b->height ? rows : rows / 2;  // see PutRows
  const Divisor wholeY = DivisorOf(rows * d), wholeC = DivisorOf(chromaRows * (d / 2));
  // Each sum cleared for the next row of boxes as it is read.
  uint32_t *y = b->y.data(), *u = b->u.data(), *v = b->v.data();
  for (int32_t x = 0; x < last; ++x) {
    PutBox(std::exchange(y[x], 0u), std::exchange(u[x], 0u), std::exchange(v[x], 0u), wholeY, wholeC, &b->out[x * 3]);
  }
  PutBox(std::exchange(y[last], 0u), std::exchange(u[last], 0u), std::exchange(v[last], 0u), DivisorOf(rows * lastColumns),
         DivisorOf(chromaRows * lastColumns), &b->out[last * 3]);
  b->rowsInBox = 0;
  if (!b->rows->row(b->rows->context, b->out.data())) {
    b->refused = true;
    return false;
  }
  ++b->delivered;
  return true;
}

// libwebp's rows come in order, from an even row, a row's U and V with its even rows: those are
// added with the even rows, and in the last row of boxes with every row.
int PutRows(const VP8Io* io) {
  PlaneBoxes* b = static_cast<PlaneBoxes*>(io->opaque);
  const int32_t lastBoxRow = (ReducedSide(b->height, b->factor) - 1) * b->factor;
  for (int32_t r = 0; r < io->mb_h; ++r) {
    b->addLuma(io->y + static_cast<ptrdiff_t>(r) * io->y_stride, b->width, b->y.data());
    if ((r & 1) == 0 || b->rowsIn >= lastBoxRow) {
      AddChroma(b, io->u + static_cast<ptrdiff_t>(r / 2) * io->uv_stride, b->u.data());
      AddChroma(b, io->v + static_cast<ptrdiff_t>(r / 2) * io->uv_stride, b->v.data());
    }
    ++b->rowsInBox;
    if ((++b->rowsIn == b->height || b->rowsInBox == b->factor) && !TakeBoxes(b)) return 0;
  }
  return 1;
}

int SetUpRows(VP8Io* io) {
  const PlaneBoxes* b = static_cast<const PlaneBoxes*>(io->opaque);
  // As libwebp's scaler would for a reduction this large: its loop filter passed over (the
  // blocks' edges it smooths are averaged in the boxes).
  io->bypass_filtering = ReducedSide(b->width, b->factor) < b->width * 3 / 4 &&
                         ReducedSide(b->height, b->factor) < b->height * 3 / 4;
  return io->width == b->width && io->height == b->height;
}

ReadOutcome ReadBoxed(WebpDecode* d, int denominator, const DecodedRows& rows) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return ReadOutcome::kRefused;
  config.options.use_threads = 1;
  // libwebp still makes an output picture, which the hooks leave unwritten: its smallest.
  config.options.use_scaling = 1;
  config.options.scaled_width = config.options.scaled_height = 1;
  const int32_t width = ReducedSide(d->width, denominator), height = ReducedSide(d->height, denominator);
  PlaneBoxes boxes{&rows, denominator, d->width, d->height, width, AdderOf(denominator), AdderOf(denominator / 2),
                   {}, {}, {}, {}};
  try {
    for (std::vector<uint32_t>* sums : {&boxes.y, &boxes.u, &boxes.v}) sums->assign(static_cast<size_t>(width), 0);
    boxes.out.resize(static_cast<size_t>(width) * 3);
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  OwnedDecoder decoder(WebPIDecode(nullptr, 0, &config));
  if (decoder == nullptr || !WebPISetIOHooks(decoder.get(), PutRows, SetUpRows, nullptr, &boxes)) {
    return ReadOutcome::kRefused;
  }
  // A row refused stops libwebp (its hook answers 0), and with it the feeding.
  VP8StatusCode status;
  const ReadOutcome fed = Feed(d, decoder.get(), &status, [] { return true; });
  decoder.reset();
  WebPFreeDecBuffer(&config.output);
  return Ending(boxes.refused ? ReadOutcome::kRefused : fed, status, boxes.delivered, height);
}

// An animation's first frame, decoded whole, in its canvas.
ReadOutcome ReadFirstFrame(WebpDecode* d, const DecodedRows& rows) {
  std::vector<uint8_t> file, canvasRow;
  try {
    file.resize(static_cast<size_t>(d->size));
    canvasRow.resize(static_cast<size_t>(d->width) * 4);
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  if (!ReadExactly(d->bytes, 0, file.data(), static_cast<int32_t>(d->size))) return ReadOutcome::kRefused;
  const WebPData data = {file.data(), file.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  if (demux == nullptr) return ReadOutcome::kHostile;
  WebPIterator frame;
  uint8_t* pixels = nullptr;
  int frameWidth = 0, frameHeight = 0;
  if (WebPDemuxGetFrame(demux, 1, &frame)) {
    pixels = WebPDecodeBGRA(frame.fragment.bytes, frame.fragment.size, &frameWidth, &frameHeight);
  }
  const int left = frame.x_offset, top = frame.y_offset;
  WebPDemuxReleaseIterator(&frame);
  WebPDemuxDelete(demux);
  if (pixels == nullptr) return ReadOutcome::kHostile;
  ReadOutcome outcome = rows.start(rows.context, d->width, d->height) ? ReadOutcome::kRead : ReadOutcome::kRefused;
  for (int32_t y = 0; outcome == ReadOutcome::kRead && y < d->height; ++y) {
    std::fill(canvasRow.begin(), canvasRow.end(), 0);
    const int32_t frameY = y - top;
    if (frameY >= 0 && frameY < frameHeight) {
      const int32_t count = std::max(0, std::min(frameWidth, d->width - left));
      std::memcpy(&canvasRow[static_cast<size_t>(left) * 4], pixels + static_cast<size_t>(frameY) * frameWidth * 4,
                  static_cast<size_t>(count) * 4);
    }
    if (!rows.row(rows.context, canvasRow.data())) outcome = ReadOutcome::kRefused;
  }
  WebPFree(pixels);
  return outcome;
}
}  // namespace

void WebpDecodeEnd::operator()(WebpDecode* decode) const { delete decode; }

ReadOutcome OpenWebp(const ByteSource& bytes, WebpDecoder* decoder, Description* picture) {
  const int64_t size = bytes.size;
  decoder->reset();
  uint8_t magic[12];
  if (size < 12 || !ReadExactly(bytes, 0, magic, 12) || !StartsAsWebp(magic, 12)) {
    return ReadOutcome::kOtherFormat;
  }
  // The features follow the chunks before the picture (a profile may be large): the head is read
  // again, longer, while libwebp asks for more.
  WebPBitstreamFeatures features;
  VP8StatusCode status = VP8_STATUS_NOT_ENOUGH_DATA;
  std::vector<uint8_t> head;
  for (int64_t want = kStep; status == VP8_STATUS_NOT_ENOUGH_DATA && want < 16 * int64_t{kStep} * 64; want *= 16) {
    const int32_t got = static_cast<int32_t>(std::min(size, want));
    try {
      head.resize(static_cast<size_t>(got));
    } catch (const std::bad_alloc&) {
      return ReadOutcome::kRefused;
    }
    if (!ReadExactly(bytes, 0, head.data(), got)) return ReadOutcome::kRefused;
    status = WebPGetFeatures(head.data(), head.size(), &features);
    if (got == size) break;
  }
  if (status != VP8_STATUS_OK) return ReadOutcome::kHostile;
  picture->width = features.width;
  picture->height = features.height;
  // An animation's frames are decoded whole, its file held in memory: both within a 32-bit
  // process's reach.
  if (!BitmapFits(features.width, features.height, 4) ||
      (features.has_animation && size > kMaxBitmapBytes / 4)) {
    return ReadOutcome::kHostile;
  }
  const bool alpha = features.has_alpha != 0 || features.has_animation != 0;
  WebpDecoder d(new (std::nothrow) WebpDecode{bytes, size, features.width, features.height, alpha,
                                              features.has_animation != 0, !alpha && features.format == 1});
  if (d == nullptr) return ReadOutcome::kRefused;
  picture->alpha = d->alpha;
  picture->channels = d->alpha ? Channels::kColourAlpha : Channels::kColour;
  picture->scales = d->animated ? 0 : kJpegScaleHalf | kJpegScaleQuarter | kJpegScaleEighth;
  picture->scalesWhole = !d->boxed;  // libwebp's scaler squeezes the whole picture into its size / d
  picture->carried = CarriedOf(bytes, size);
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadWebp(WebpDecode* d, int denominator, const DecodedRows& rows) {
  if (d->animated) return denominator == 1 ? ReadFirstFrame(d, rows) : ReadOutcome::kRefused;
  return d->boxed && denominator > 1 ? ReadBoxed(d, denominator, rows) : ReadStill(d, denominator, rows);
}
