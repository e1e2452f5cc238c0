#include "imaging/codecs/avif_reader.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include <dav1d/dav1d.h>

#include "imaging/pixels/bitmap_size.h"

namespace {
// YUV to 8-bit RGB, by table, for each sample value of the file's depth: each entry the sample's
// share of a channel, in 1/2^14 levels.
constexpr int kShift = 14;
struct Conversion {
  std::vector<int32_t> y, rv, gu, gv, bu, alpha;
  bool identity;
};

bool MakeConversion(int depth, int matrix, bool fullRange, bool alphaFullRange, Conversion* c) {
  double kr, kb;
  switch (matrix) {
    case 0: kr = kb = 0; break;                    // identity: G, B and R stored as Y, U and V
    case 1: kr = 0.2126, kb = 0.0722; break;       // BT.709
    case 2: case 5: case 6: kr = 0.299, kb = 0.114; break;  // BT.601 (and unspecified, as libavif)
    case 4: kr = 0.30, kb = 0.11; break;           // FCC
    case 7: kr = 0.212, kb = 0.087; break;         // SMPTE 240
    case 9: case 10: kr = 0.2627, kb = 0.0593; break;  // BT.2020
    default: return false;
  }
  c->identity = matrix == 0;
  const int size = 1 << depth;
  const double max = size - 1, unit = 255.0 * (1 << kShift), scale = 1 << (depth - 8);
  for (std::vector<int32_t>* t : {&c->y, &c->rv, &c->gu, &c->gv, &c->bu, &c->alpha}) t->resize(static_cast<size_t>(size));
  const double kg = 1 - kr - kb;
  for (int v = 0; v < size; ++v) {
    const double luma = fullRange ? v / max : (v - 16 * scale) / (219 * scale);
    const double chroma = c->identity ? luma : fullRange ? (v - size / 2) / max : (v - 128 * scale) / (224 * scale);
    const size_t i = static_cast<size_t>(v);
    c->y[i] = static_cast<int32_t>(std::lround(luma * unit));
    c->rv[i] = static_cast<int32_t>(std::lround(2 * (1 - kr) * chroma * unit));
    c->bu[i] = static_cast<int32_t>(std::lround(2 * (1 - kb) * chroma * unit));
    c->gu[i] = c->identity ? 0 : static_cast<int32_t>(std::lround(kb * 2 * (1 - kb) / kg * chroma * unit));
    c->gv[i] = c->identity ? 0 : static_cast<int32_t>(std::lround(kr * 2 * (1 - kr) / kg * chroma * unit));
    const double a = alphaFullRange ? v / max : (v - 16 * scale) / (219 * scale);
    c->alpha[i] = static_cast<int32_t>(std::lround(std::min(1.0, std::max(0.0, a)) * 255));
  }
  return true;
}

inline uint8_t Level(int32_t share) {
  const int32_t v = (share + (1 << (kShift - 1))) >> kShift;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// A picture's tile row as dav1d decoded it, one at a time: at 48 megapixels a second would be
// the larger part of the memory a conversion takes. The frames are dav1d's.
struct TileRow {
  const AvifPicture* picture = nullptr;
  int32_t index = -1;
  std::vector<Dav1dPicture> frames;
};

void Release(TileRow* row) {
  for (Dav1dPicture& frame : row->frames) dav1d_picture_unref(&frame);
  row->frames.clear();
  row->index = -1;
}

bool DecodeItem(Dav1dContext* context, const ByteSource& bytes, const AvifData& extents, Dav1dPicture* frame) {
  size_t total = 0;
  for (const AvifExtent& e : extents) total += static_cast<size_t>(e.length);
  Dav1dData data = {};
  uint8_t* buffer = dav1d_data_create(&data, total);
  if (buffer == nullptr) return false;
  for (const AvifExtent& e : extents) {
    if (e.length > INT32_MAX || !ReadExactly(bytes, e.offset, buffer, static_cast<int32_t>(e.length))) {
      dav1d_data_unref(&data);
      return false;
    }
    buffer += e.length;
  }
  // With one frame in flight, what dav1d was given is decoded before it answers.
  int result = 0;
  do {
    if (data.sz > 0) {
      result = dav1d_send_data(context, &data);
      if (result < 0 && result != DAV1D_ERR(EAGAIN)) break;
    }
    result = dav1d_get_picture(context, frame);
  } while (result == DAV1D_ERR(EAGAIN) && data.sz > 0);
  dav1d_data_unref(&data);
  dav1d_flush(context);
  return result == 0;
}
}  // namespace

struct AvifDecode {
  ByteSource bytes;
  AvifLayout layout;
  Dav1dContext* context = nullptr;
  TileRow colour, alpha;
  Conversion conversion;
  // Rows of the whole picture, copied out of their tile rows: the luma row being converted, and
  // the last three chroma rows asked for (U then V, at row % 3), since chroma upsampled at a tile
  // row's edge reaches into the tile row before or after it.
  std::vector<uint16_t> luma, chroma[3];
  int32_t chromaRow[3] = {-1, -1, -1};
};

namespace {
// The frames of tile row `index`, decoded unless held; null where dav1d fails or a frame is not
// what the boxes said (the frames are of the picture's tile size and the colour's depth).
const std::vector<Dav1dPicture>* HeldRow(AvifDecode* d, TileRow* row, int32_t index) {
  if (row->index == index) return &row->frames;
  Release(row);
  const AvifPicture& p = *row->picture;
  for (int32_t c = 0; c < p.columns; ++c) {
    Dav1dPicture frame = {};
    if (!DecodeItem(d->context, d->bytes, p.tiles[static_cast<size_t>(index * p.columns + c)], &frame)) return nullptr;
    row->frames.push_back(frame);
    if (frame.p.w != p.tileWidth || frame.p.h != p.tileHeight || frame.p.bpc != d->layout.depth ||
        (row == &d->colour && (frame.p.layout == DAV1D_PIXEL_LAYOUT_I400) != d->layout.monochrome) ||
        frame.p.layout != row->frames[0].p.layout) {
      return nullptr;
    }
  }
  row->index = index;
  return &row->frames;
}

// Row `y` of a plane of the picture (of `width` samples, in tiles of `tileWidth` by `tileHeight`)
// at `out`, from the tile row that holds it.
template <typename Sample>
bool CopyRow(AvifDecode* d, TileRow* row, int plane, int32_t y, int32_t width, int32_t tileWidth, int32_t tileHeight,
             uint16_t* out) {
  const std::vector<Dav1dPicture>* frames = HeldRow(d, row, y / tileHeight);
  if (frames == nullptr) return false;
  for (int32_t column = 0; column * tileWidth < width; ++column) {
    const Dav1dPicture& f = (*frames)[static_cast<size_t>(column)];
    const Sample* in = reinterpret_cast<const Sample*>(static_cast<const uint8_t*>(f.data[plane]) +
                                                       f.stride[plane == 0 ? 0 : 1] * (y % tileHeight));
    std::copy(in, in + std::min(tileWidth, width - column * tileWidth), out + column * tileWidth);
  }
  return true;
}

// Row y of the picture (of `bytes` a pixel) at `out`, its chroma upsampled bilinearly over the
// whole picture (3:1 toward the nearer neighbour each way it was subsampled, across tile edges,
// as libavif upsamples the assembled planes).
template <typename Sample>
bool ConvertRow(AvifDecode* d, int32_t y, int bytes, uint8_t* out, std::vector<int32_t>* chroma) {
  const Conversion& c = d->conversion;
  const AvifPicture& p = d->layout.colour;
  const int32_t width = p.width;
  // The luma row before any chroma row: the one below a tile row's last is in the next tile row.
  if (!CopyRow<Sample>(d, &d->colour, 0, y, width, p.tileWidth, p.tileHeight, d->luma.data())) return false;
  const Dav1dPixelLayout layout = d->colour.frames[0].p.layout;
  const bool across = layout == DAV1D_PIXEL_LAYOUT_I420 || layout == DAV1D_PIXEL_LAYOUT_I422;
  const bool down = layout == DAV1D_PIXEL_LAYOUT_I420;
  const int32_t chromaWidth = across ? (width + 1) / 2 : width;
  const int32_t chromaTileWidth = across ? (p.tileWidth + 1) / 2 : p.tileWidth;
  const int32_t chromaTileHeight = down ? (p.tileHeight + 1) / 2 : p.tileHeight;
  // Tiles of a subsampled grid are even where they meet, or their chroma would not line up.
  if ((across && p.columns > 1 && p.tileWidth % 2 != 0) || (down && p.rows > 1 && p.tileHeight % 2 != 0)) return false;
  if (layout != DAV1D_PIXEL_LAYOUT_I400) {
    const int32_t chromaHeight = down ? (p.height + 1) / 2 : p.height, near = down ? y / 2 : y;
    const int32_t far = !down ? near : (y & 1) != 0 ? std::min(near + 1, chromaHeight - 1) : std::max(near - 1, 0);
    chroma->assign(static_cast<size_t>(chromaWidth) * 2, 0);
    for (const int32_t row : {near, near, near, far}) {  // three times the nearer row, once the other
      std::vector<uint16_t>& samples = d->chroma[row % 3];
      if (d->chromaRow[row % 3] != row) {
        samples.resize(static_cast<size_t>(chromaWidth) * 2);
        for (int plane = 1; plane <= 2; ++plane) {
          if (!CopyRow<Sample>(d, &d->colour, plane, row, chromaWidth, chromaTileWidth, chromaTileHeight,
                               samples.data() + (plane - 1) * chromaWidth)) {
            return false;
          }
        }
        d->chromaRow[row % 3] = row;
      }
      for (size_t x = 0; x < samples.size(); ++x) (*chroma)[x] += samples[x];
    }
  }
  const int32_t* u = chroma->data();
  const int32_t* v = u + chromaWidth;
  uint8_t* at = out;
  for (int32_t x = 0; x < width; ++x, at += bytes) {
    const int32_t Y = c.y[d->luma[static_cast<size_t>(x)]];
    if (layout == DAV1D_PIXEL_LAYOUT_I400) {
      at[0] = at[1] = at[2] = Level(Y);
      continue;
    }
    const int32_t cx = across ? x / 2 : x;
    const int32_t other = !across ? cx : (x & 1) != 0 ? std::min(cx + 1, chromaWidth - 1) : std::max(cx - 1, 0);
    const size_t U = static_cast<size_t>((3 * u[cx] + u[other] + 8) >> 4), V = static_cast<size_t>((3 * v[cx] + v[other] + 8) >> 4);
    if (c.identity) {
      at[0] = Level(c.y[U]), at[1] = Level(Y), at[2] = Level(c.y[V]);
    } else {
      at[0] = Level(Y + c.bu[U]), at[1] = Level(Y - c.gu[U] - c.gv[V]), at[2] = Level(Y + c.rv[V]);
    }
  }
  return true;
}

// The alpha of row y into every fourth byte of `out`, through the luma row's buffer (its row is
// converted by then; the alpha picture is the colour's size).
template <typename Sample>
bool AlphaRow(AvifDecode* d, int32_t y, uint8_t* out) {
  const AvifPicture& p = d->layout.alpha;
  if (!CopyRow<Sample>(d, &d->alpha, 0, y, p.width, p.tileWidth, p.tileHeight, d->luma.data())) return false;
  for (int32_t x = 0; x < p.width; ++x) out[x * 4 + 3] = static_cast<uint8_t>(d->conversion.alpha[d->luma[static_cast<size_t>(x)]]);
  return true;
}
}  // namespace

void AvifDecodeEnd::operator()(AvifDecode* decode) const {
  Release(&decode->colour), Release(&decode->alpha);
  if (decode->context != nullptr) dav1d_close(&decode->context);
  delete decode;
}
ReadOutcome OpenAvif(const ByteSource& bytes, AvifDecoder* decoder, Description* picture) {
  decoder->reset();
  AvifDecoder d(new (std::nothrow) AvifDecode());
  if (d == nullptr) return ReadOutcome::kRefused;
  d->bytes = bytes;
  const ReadOutcome read = ReadAvifLayout(bytes, &d->layout);
  if (read != ReadOutcome::kRead) return read;
  const AvifLayout& layout = d->layout;
  picture->width = layout.colour.width;
  picture->height = layout.colour.height;
  // dav1d holds a tile row's frames at once (three planes, two bytes a sample past 8 bits).
  const int sample = layout.depth > 8 ? 2 : 1;
  for (const AvifPicture* p : {&layout.colour, &layout.alpha}) {
    if (!p->tiles.empty() && !BandFits(int64_t{p->columns} * p->tileWidth * p->tileHeight * 3 * sample)) {
      return ReadOutcome::kHostile;
    }
  }
  if (!RowFits(int64_t{layout.colour.width} * 4)) return ReadOutcome::kHostile;
  picture->alpha = !layout.alpha.tiles.empty();
  picture->channels = layout.monochrome ? (picture->alpha ? Channels::kGreyAlpha : Channels::kGrey)
                                        : (picture->alpha ? Channels::kColourAlpha : Channels::kColour);
  picture->carried = layout.carried;
  d->colour.picture = &d->layout.colour;
  d->alpha.picture = &d->layout.alpha;
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadAvif(AvifDecode* d, const DecodedRows& rows) {
  // dav1d's threads are started for the rows, not for a file only measured.
  Dav1dSettings settings;
  dav1d_default_settings(&settings);
  settings.n_threads = 2;
  settings.max_frame_delay = 1;
  settings.all_layers = 0;
  settings.frame_size_limit = static_cast<unsigned>(std::max(int64_t{d->layout.colour.tileWidth} * d->layout.colour.tileHeight,
                                                             int64_t{d->layout.alpha.tileWidth} * d->layout.alpha.tileHeight));
  settings.logger.callback = nullptr;
  if (d->context == nullptr && dav1d_open(&d->context, &settings) != 0) return ReadOutcome::kRefused;
  const AvifLayout& layout = d->layout;
  const int32_t width = layout.colour.width, height = layout.colour.height;
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  const bool alpha = !layout.alpha.tiles.empty();
  const int bytes = alpha ? 4 : 3;
  std::vector<uint8_t> out;
  std::vector<int32_t> chroma;
  try {
    out.resize(static_cast<size_t>(width) * bytes);
    d->luma.resize(static_cast<size_t>(width));
    for (int32_t y = 0; y < height; ++y) {
      if (y == 0) {
        // The matrix and range of the nclx box, or else of the AV1 stream; an alpha plane's range
        // is its own stream's.
        const std::vector<Dav1dPicture>* first = HeldRow(d, &d->colour, 0);
        const std::vector<Dav1dPicture>* firstAlpha = alpha ? HeldRow(d, &d->alpha, 0) : nullptr;
        if (first == nullptr || (alpha && firstAlpha == nullptr)) return ReadOutcome::kRefused;
        const Dav1dSequenceHeader& sequence = *(*first)[0].seq_hdr;
        const int matrix = layout.nclx ? layout.matrix : static_cast<int>(sequence.mtrx);
        const bool full = layout.nclx ? layout.fullRange : sequence.color_range != 0;
        const bool alphaFull = !alpha || (*firstAlpha)[0].seq_hdr->color_range != 0;
        if (!MakeConversion(layout.depth, matrix, full, alphaFull, &d->conversion)) return ReadOutcome::kRefused;
      }
      const bool converted = layout.depth > 8 ? ConvertRow<uint16_t>(d, y, bytes, out.data(), &chroma)
                                              : ConvertRow<uint8_t>(d, y, bytes, out.data(), &chroma);
      if (!converted || (alpha && !(layout.depth > 8 ? AlphaRow<uint16_t>(d, y, out.data()) : AlphaRow<uint8_t>(d, y, out.data())))) {
        return ReadOutcome::kRefused;
      }
      if (alpha && layout.premultiplied) {
        for (uint8_t* p = out.data(); p < out.data() + out.size(); p += 4) {
          for (int k = 0; k < 3 && p[3] != 255; ++k) p[k] = p[3] == 0 ? 0 : static_cast<uint8_t>(std::min(255, (p[k] * 255 + p[3] / 2) / p[3]));
        }
      }
      if (!rows.row(rows.context, out.data())) return ReadOutcome::kRefused;
    }
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}
