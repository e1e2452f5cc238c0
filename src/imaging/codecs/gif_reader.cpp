#include "imaging/codecs/gif_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include <gif_lib.h>

#include "imaging/pixels/bitmap_size.h"

struct GifDecode {
  GifFileType* gif;
  ByteSource bytes;
  int64_t at;                        // where giflib reads next
  int32_t left, top, width, height;  // the first image in the screen
  bool interlaced, alpha;
  int transparent;                   // the transparent index, or -1
  uint8_t palette[256][4];           // blue, green, red, alpha; black past the palette
  uint8_t fill[4];                   // outside the image
};

namespace {
int Read(GifFileType* gif, GifByteType* buffer, int size) {
  auto* decode = static_cast<GifDecode*>(gif->UserData);
  int done = 0;
  while (done < size) {
    const int32_t got = ReadOn(decode->bytes, &decode->at, buffer + done, size - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

// The first image's descriptor and palette, and the transparent index of the extension before it.
ReadOutcome FindFirstImage(GifDecode* d) {
  GifFileType* gif = d->gif;
  d->transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) != GIF_OK) return ReadOutcome::kRefused;
    if (type == IMAGE_DESC_RECORD_TYPE) break;
    if (type != EXTENSION_RECORD_TYPE) return ReadOutcome::kRefused;
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) != GIF_OK) return ReadOutcome::kRefused;
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4 && (block[1] & 1) != 0) {
      d->transparent = block[4];
    }
    while (block != nullptr) {
      if (DGifGetExtensionNext(gif, &block) != GIF_OK) return ReadOutcome::kRefused;
    }
  }
  if (DGifGetImageDesc(gif) != GIF_OK) return ReadOutcome::kRefused;
  const GifImageDesc& image = gif->Image;
  const ColorMapObject* colours = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
  if (colours == nullptr) return ReadOutcome::kHostile;
  d->left = image.Left, d->top = image.Top, d->width = image.Width, d->height = image.Height;
  d->interlaced = image.Interlace;
  if (d->interlaced && !BitmapFits(d->width, d->height, 4)) return ReadOutcome::kHostile;
  std::memset(d->palette, 0, sizeof d->palette);
  for (int i = 0; i < 256; ++i) d->palette[i][3] = 255;
  for (int i = 0; i < colours->ColorCount && i < 256; ++i) {
    const GifColorType& c = colours->Colors[i];
    d->palette[i][0] = c.Blue, d->palette[i][1] = c.Green, d->palette[i][2] = c.Red;
  }
  if (d->transparent >= 0) d->palette[d->transparent][3] = 0;
  d->alpha = d->transparent >= 0;
  const uint8_t black[4] = {0, 0, 0, 255};
  std::memcpy(d->fill, d->alpha ? d->palette[d->transparent] : black, 4);
  if (!d->alpha && gif->SColorMap != nullptr && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
    const GifColorType& c = gif->SColorMap->Colors[gif->SBackGroundColor];
    d->fill[0] = c.Blue, d->fill[1] = c.Green, d->fill[2] = c.Red;
  }
  return ReadOutcome::kRead;
}

bool Grey(const GifDecode& d) {
  for (const auto& entry : d.palette) {
    if (entry[0] != entry[1] || entry[1] != entry[2]) return false;
  }
  return d.fill[0] == d.fill[1] && d.fill[1] == d.fill[2];
}
}  // namespace

void GifDecodeEnd::operator()(GifDecode* decode) const {
  int error = 0;
  if (decode->gif != nullptr) DGifCloseFile(decode->gif, &error);
  delete decode;
}

ReadOutcome OpenGif(const ByteSource& bytes, GifDecoder* decoder, Description* picture) {
  decoder->reset();
  GifDecoder d(new (std::nothrow) GifDecode());
  if (d == nullptr) return ReadOutcome::kRefused;
  d->bytes = bytes;
  uint8_t signature[6];
  if (!ReadExactly(bytes, 0, signature, 6) ||
      (std::memcmp(signature, "GIF87a", 6) != 0 && std::memcmp(signature, "GIF89a", 6) != 0)) {
    return ReadOutcome::kOtherFormat;
  }
  int error = 0;
  d->gif = DGifOpen(d.get(), Read, &error);
  if (d->gif == nullptr) return ReadOutcome::kRefused;
  // A few bytes can claim a screen of 65535 by 65535 around a small image: resampled, its 4 billion
  // pixels would hold the caller for minutes (Windows' GDI+ cannot hold it at all).
  if (!BitmapFits(d->gif->SWidth, d->gif->SHeight, 4)) {
    return d->gif->SWidth > 0 && d->gif->SHeight > 0 ? ReadOutcome::kHostile : ReadOutcome::kRefused;
  }
  const ReadOutcome found = FindFirstImage(d.get());
  if (found != ReadOutcome::kRead) return found;
  picture->width = d->gif->SWidth;
  picture->height = d->gif->SHeight;
  picture->alpha = d->alpha;
  picture->channels = Grey(*d) ? (d->alpha ? Channels::kGreyAlpha : Channels::kGrey)
                              : (d->alpha ? Channels::kColourAlpha : Channels::kColour);
  *decoder = std::move(d);
  return ReadOutcome::kRead;
}

ReadOutcome ReadGif(GifDecode* d, const DecodedRows& rows) {
  const int32_t width = d->gif->SWidth, height = d->gif->SHeight;
  if (!rows.start(rows.context, width, height)) return ReadOutcome::kRefused;
  const int bytes = d->alpha ? 4 : 3;
  std::vector<uint8_t> out, line, indices;
  try {
    out.resize(static_cast<size_t>(width) * bytes);
    line.resize(static_cast<size_t>(d->width) + 1);
    if (d->interlaced) indices.resize(static_cast<size_t>(d->width) * d->height);
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  // An interlaced image comes in four passes: every 8th row from 0, from 4, every 4th from 2, every
  // 2nd from 1. A file cut short, or whose codes break off, is not read: giflib's last line reads
  // on to the image's end block.
  bool whole = true;
  if (d->interlaced) {
    const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4 && whole; ++pass) {
      for (int32_t y = starts[pass]; y < d->height && whole; y += steps[pass]) {
        whole = DGifGetLine(d->gif, &indices[static_cast<size_t>(y) * d->width], d->width) == GIF_OK;
      }
    }
    if (!whole) return ReadOutcome::kRefused;
  }
  // The screen's fill, once: each row then takes the image's pixels from the palette, 3 or 4
  // bytes a pixel copied as such (a call per pixel cost a third of the time).
  for (int32_t x = 0; x < width; ++x) std::memcpy(&out[static_cast<size_t>(x) * bytes], d->fill, bytes);
  const int32_t across = std::max(0, std::min(d->width, width - d->left));
  uint8_t* image = &out[static_cast<size_t>(d->left) * bytes];
  for (int32_t y = 0; y < height; ++y) {
    const int32_t fy = y - d->top;
    const bool inside = fy >= 0 && fy < d->height;
    const uint8_t* frame = nullptr;
    if (inside && d->interlaced) {
      frame = &indices[static_cast<size_t>(fy) * d->width];
    } else if (inside) {
      if (DGifGetLine(d->gif, line.data(), d->width) != GIF_OK) return ReadOutcome::kRefused;
      frame = line.data();
    }
    if (frame != nullptr && bytes == 4) {
      for (int32_t fx = 0; fx < across; ++fx) std::memcpy(image + 4 * static_cast<size_t>(fx), d->palette[frame[fx]], 4);
    } else if (frame != nullptr) {
      for (int32_t fx = 0; fx < across; ++fx) std::memcpy(image + 3 * static_cast<size_t>(fx), d->palette[frame[fx]], 3);
    } else {
      for (int32_t x = 0; x < across; ++x) std::memcpy(image + static_cast<size_t>(x) * bytes, d->fill, bytes);
    }
    if (!rows.row(rows.context, out.data())) return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}
