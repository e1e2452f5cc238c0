#include "imaging/codecs/webp_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "imaging/codecs/byte_order.h"
#include "imaging/pixels/bitmap_size.h"
#include "imaging/pixels/box_average.h"

struct WebpDecode {
  ByteSource bytes;
  int64_t size;
  int32_t width, height;
  bool alpha, animated;
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

// The rows of a still picture, decoded as the file is handed over, each passed on as soon as
// libwebp has it.
ReadOutcome ReadStill(WebpDecode* d, int denominator, const DecodedRows& rows) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return ReadOutcome::kRefused;
  config.output.colorspace = d->alpha ? MODE_BGRA : MODE_BGR;
  config.options.use_threads = 1;
  const int32_t width = (d->width + denominator - 1) / denominator;
  const int32_t height = (d->height + denominator - 1) / denominator;
  if (denominator > 1) {
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
  }
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  struct DecoderEnd {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
  };
  std::unique_ptr<WebPIDecoder, DecoderEnd> owned(WebPIDecode(nullptr, 0, &config));
  WebPIDecoder* decoder = owned.get();
  if (decoder == nullptr) return ReadOutcome::kRefused;
  std::vector<uint8_t> chunk;
  ReadOutcome outcome = ReadOutcome::kRead;
  try {
    chunk.resize(kStep);
  } catch (const std::bad_alloc&) {
    outcome = ReadOutcome::kRefused;
  }
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  int32_t delivered = 0;
  for (int64_t at = 0; outcome == ReadOutcome::kRead && status == VP8_STATUS_SUSPENDED && at < d->size; at += kStep) {
    const int32_t step = static_cast<int32_t>(std::min<int64_t>(kStep, d->size - at));
    if (!ReadExactly(d->bytes, at, chunk.data(), step)) {
      outcome = ReadOutcome::kRefused;
      break;
    }
    status = WebPIAppend(decoder, chunk.data(), static_cast<size_t>(step));
    int lastY = 0, stride = 0;
    const uint8_t* pixels = WebPIDecGetRGB(decoder, &lastY, nullptr, nullptr, &stride);
    for (; pixels != nullptr && delivered < lastY && delivered < height; ++delivered) {
      if (!rows.row(rows.context, pixels + static_cast<size_t>(delivered) * stride)) {
        outcome = ReadOutcome::kRefused;
        break;
      }
    }
  }
  owned.reset();
  WebPFreeDecBuffer(&config.output);
  if (outcome != ReadOutcome::kRead) return outcome;
  // A picture whose memory could not be had is no fault of the file's.
  if (status == VP8_STATUS_OUT_OF_MEMORY) return ReadOutcome::kRefused;
  return status == VP8_STATUS_OK && delivered == height ? ReadOutcome::kRead : ReadOutcome::kHostile;
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
  WebpDecoder d(new (std::nothrow) WebpDecode{bytes, size, features.width, features.height,
                                              features.has_alpha != 0 || features.has_animation != 0,
                                              features.has_animation != 0});
  if (d == nullptr) return ReadOutcome::kRefused;
  picture->alpha = d->alpha;
  picture->channels = d->alpha ? Channels::kColourAlpha : Channels::kColour;
  picture->scales = d->animated ? 0 : kJpegScaleHalf | kJpegScaleQuarter | kJpegScaleEighth;
  picture->scalesWhole = true;  // libwebp's scaler squeezes the whole picture into its size / d
  picture->carried = CarriedOf(bytes, size);
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadWebp(WebpDecode* d, int denominator, const DecodedRows& rows) {
  if (d->animated) return denominator == 1 ? ReadFirstFrame(d, rows) : ReadOutcome::kRefused;
  return ReadStill(d, denominator, rows);
}
