#include "image_codec.h"

#include <cstring>

#include <cstdio>
#include <cstdlib>

#include "host/byte_writer.h"

namespace {
uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return Get16(b, at) | Get16(b, at + 2) << 16;
}
uint32_t Get16BigEndian(const std::vector<uint8_t>& b, size_t at) { return b[at] << 8 | b[at + 1]; }
uint32_t Get32BigEndian(const std::vector<uint8_t>& b, size_t at) {
  return Get16BigEndian(b, at) << 16 | Get16BigEndian(b, at + 2);
}

std::vector<uint8_t> BmpHeader(int width, int height, int bits, uint32_t stride, int colours) {
  std::vector<uint8_t> file = {'B', 'M'};
  const uint32_t offset = 54 + 4 * colours;
  Put32(file, offset + stride * height);
  Put32(file, 0);
  Put32(file, offset);
  Put32(file, 40);
  Put32(file, width);
  Put32(file, height);
  Put16(file, 1);
  Put16(file, bits);
  for (uint32_t v : {0u, stride * height, 2835u, 2835u, static_cast<uint32_t>(colours), 0u}) Put32(file, v);
  return file;
}

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

}  // namespace

void PngChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  Put32BigEndian(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32BigEndian(out, Crc32(out.data() + start, out.size() - start));
}

std::vector<uint8_t> WithPngChunks(std::vector<uint8_t> png,
                                   const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks) {
  std::vector<uint8_t> added;
  for (const auto& chunk : chunks) {
    if (chunk.first != "IHDR") {
      PngChunk(added, chunk.first.c_str(), chunk.second);
      continue;
    }
    std::copy(chunk.second.begin(), chunk.second.end(), png.begin() + 16);
    std::vector<uint8_t> crc;
    Put32BigEndian(crc, Crc32(png.data() + 12, 17));
    std::copy(crc.begin(), crc.end(), png.begin() + 29);
  }
  png.insert(png.begin() + 33, added.begin(), added.end());
  return png;
}

namespace {
// A zlib stream of stored blocks.
std::vector<uint8_t> Stored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    Put16(z, static_cast<uint32_t>(n));
    Put16(z, static_cast<uint32_t>(~n & 0xFFFF));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  Put32BigEndian(z, b << 16 | a);
  return z;
}
}  // namespace

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(in);
  return bytes;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

bool WriteBmp24(const std::string& path, int width, int height, const PixelSource& pixel) {
  const uint32_t stride = (width * 3 + 3) & ~3u;
  std::vector<uint8_t> file = BmpHeader(width, height, 24, stride, 0);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const Rgba p = pixel(x, y);
      file.insert(file.end(), {p.b, p.g, p.r});
    }
    file.resize(file.size() + stride - width * 3);
  }
  return WriteBytes(path, file);
}

bool WriteBmp1(const std::string& path, int width, int height, const Rgba palette[2],
               const std::function<int(int x, int y)>& index) {
  const uint32_t stride = ((width + 31) / 32) * 4;
  std::vector<uint8_t> file = BmpHeader(width, height, 1, stride, 2);
  for (int i = 0; i < 2; ++i) file.insert(file.end(), {palette[i].b, palette[i].g, palette[i].r, 0});
  for (int y = height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride);
    for (int x = 0; x < width; ++x) {
      if (index(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    file.insert(file.end(), row.begin(), row.end());
  }
  return WriteBytes(path, file);
}

std::vector<uint8_t> EncodePng(const PngImage& image) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32BigEndian(ihdr, image.width);
  Put32BigEndian(ihdr, image.height);
  ihdr.insert(ihdr.end(), {static_cast<uint8_t>(image.bitDepth), static_cast<uint8_t>(image.colourType), 0, 0,
                           static_cast<uint8_t>(image.interlaced ? 1 : 0)});
  PngChunk(out, "IHDR", ihdr);
  const int depth = image.bitDepth;
  if (image.colourType == 3) {
    std::vector<uint8_t> plte, trns;
    for (const Rgba& c : image.palette) plte.insert(plte.end(), {c.r, c.g, c.b});
    for (const Rgba& c : image.palette) trns.push_back(c.a);
    PngChunk(out, "PLTE", plte);
    bool opaque = true;
    for (const Rgba& c : image.palette) opaque = opaque && c.a == 255;
    if (!opaque) PngChunk(out, "tRNS", trns);
  }
  if (image.keyed) {
    std::vector<uint8_t> trns;
    for (const uint8_t v : {image.key.r, image.key.g, image.key.b}) {
      const uint32_t sample = depth == 16 ? v * 257u : v >> (8 - depth);
      trns.insert(trns.end(), {static_cast<uint8_t>(sample >> 8), static_cast<uint8_t>(sample)});
      if (image.colourType == 0) break;
    }
    PngChunk(out, "tRNS", trns);
  }
  // The rows of each Adam7 pass in turn (its columns from x0 every dx, its rows from y0 every dy),
  // or the one pass of every pixel.
  const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  const int whole[1][4] = {{0, 0, 1, 1}};
  std::vector<uint8_t> raw;
  for (int pass = 0; pass < (image.interlaced ? 7 : 1); ++pass) {
  const int* const pass7 = image.interlaced ? passes[pass] : whole[0];
  const int columns = (image.width - pass7[0] + pass7[2] - 1) / pass7[2];
  for (int y = pass7[1]; y < image.height && columns > 0; y += pass7[3]) {
    raw.push_back(0);  // no filter
    if (depth < 8) {  // grey or palette, packed from the top bit
      std::vector<uint8_t> packed((columns * depth + 7) / 8, 0);
      for (int i = 0, x = pass7[0]; x < image.width; ++i, x += pass7[2]) {
        const int v = image.colourType == 3 ? image.index(x, y) : image.pixel(x, y).r >> (8 - depth);
        packed[i * depth / 8] |= static_cast<uint8_t>(v << (8 - depth - i * depth % 8));
      }
      raw.insert(raw.end(), packed.begin(), packed.end());
      continue;
    }
    for (int x = pass7[0]; x < image.width; x += pass7[2]) {
      if (image.colourType == 3) {
        raw.push_back(static_cast<uint8_t>(image.index(x, y)));
        continue;
      }
      const Rgba p = image.pixel(x, y);
      std::vector<uint8_t> samples = {p.r};
      if (image.colourType == 2 || image.colourType == 6) samples.insert(samples.end(), {p.g, p.b});
      if (image.colourType == 4 || image.colourType == 6) samples.push_back(p.a);
      for (const uint8_t v : samples) {
        raw.push_back(v);
        if (depth == 16) raw.push_back(v);
      }
    }
  }
  }
  PngChunk(out, "IDAT", Stored(raw));
  PngChunk(out, "IEND", {});
  return out;
}

bool WritePng(const std::string& path, const PngImage& image) { return WriteBytes(path, EncodePng(image)); }

ImageHeader ReadImageHeader(const std::vector<uint8_t>& b) {
  ImageHeader h;
  const size_t n = b.size();
  if (n >= 30 && std::memcmp(b.data(), "RIFF", 4) == 0 && std::memcmp(b.data() + 8, "WEBP", 4) == 0) {
    h.format = "WEBP";
    auto get24 = [&](size_t at) { return static_cast<int>(b[at] | b[at + 1] << 8 | b[at + 2] << 16); };
    if (std::memcmp(b.data() + 12, "VP8X", 4) == 0) {  // the canvas, less one a side
      h.width = get24(24) + 1, h.height = get24(27) + 1;
    } else if (std::memcmp(b.data() + 12, "VP8 ", 4) == 0) {  // after the frame tag and start code
      h.width = static_cast<int>(Get16(b, 26) & 0x3FFF), h.height = static_cast<int>(Get16(b, 28) & 0x3FFF);
    } else if (std::memcmp(b.data() + 12, "VP8L", 4) == 0) {  // 14 bits each, less one, after the signature
      const uint32_t bits = Get32(b, 21);
      h.width = static_cast<int>((bits & 0x3FFF) + 1), h.height = static_cast<int>(((bits >> 14) & 0x3FFF) + 1);
    }
  } else if (n >= 26 && b[0] == 'B' && b[1] == 'M') {
    h.format = "BMP";
    if (Get32(b, 14) == 12) {  // OS/2 core header: 16-bit sizes
      h.width = static_cast<int>(Get16(b, 18));
      h.height = static_cast<int>(Get16(b, 20));
      h.detail = static_cast<int>(Get16(b, 24));
    } else if (n >= 30) {
      h.width = static_cast<int32_t>(Get32(b, 18));
      h.height = std::abs(static_cast<int32_t>(Get32(b, 22)));  // negative: top-down rows
      h.detail = static_cast<int>(Get16(b, 28));
    }
  } else if (n >= 10 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8') {
    h.format = "GIF";
    h.width = static_cast<int>(Get16(b, 6));
    h.height = static_cast<int>(Get16(b, 8));
    size_t at = 13 + ((b[10] & 0x80) ? 3u << ((b[10] & 7) + 1) : 0);  // past the colour table
    while (at < n && b[at] == 0x21 && at + 2 < n) {  // extensions: label, then sub-blocks
      at += 2;
      while (at < n && b[at] != 0) at += 1 + b[at];
      ++at;
    }
    if (at + 9 <= n && b[at] == 0x2C) {
      h.frameWidth = static_cast<int>(Get16(b, at + 5));
      h.frameHeight = static_cast<int>(Get16(b, at + 7));
    }
  } else if (n >= 26 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
    h.format = "PNG";
    h.width = static_cast<int>(Get32BigEndian(b, 16));
    h.height = static_cast<int>(Get32BigEndian(b, 20));
    h.detail = b[25];
  } else if (n >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
    h.format = "JPEG";
    for (size_t at = 2; at + 9 < n && b[at] == 0xFF;) {
      const uint8_t marker = b[at + 1];
      if (marker == 0xFF) { ++at; continue; }  // fill byte
      const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frame) {
        h.height = static_cast<int>(Get16BigEndian(b, at + 5));
        h.width = static_cast<int>(Get16BigEndian(b, at + 7));
        h.detail = b[at + 9];
        break;
      }
      at += 2 + Get16BigEndian(b, at + 2);
    }
  } else if (n >= 8 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42) || (b[0] == 'M' && b[1] == 'M' && b[3] == 42))) {
    h.format = "TIFF";
    const bool big = b[0] == 'M';
    auto get16 = [&](size_t at) { return big ? Get16BigEndian(b, at) : Get16(b, at); };
    auto get32 = [&](size_t at) { return big ? Get32BigEndian(b, at) : Get32(b, at); };
    const size_t ifd = get32(4);
    if (ifd + 2 <= n) {
      const uint32_t entries = get16(ifd);
      for (uint32_t i = 0; i < entries && ifd + 2 + 12 * (i + 1) <= n; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = get16(e), type = get16(e + 2);
        const uint32_t value = type == 3 ? get16(e + 8) : get32(e + 8);
        if (tag == 256) h.width = static_cast<int>(value);
        if (tag == 257) h.height = static_cast<int>(value);
      }
    }
  }
  return h;
}

std::vector<Rgba> ReadBmpPixels(const std::vector<uint8_t>& b, int* width, int* height) {
  std::vector<Rgba> pixels;
  const ImageHeader h = ReadImageHeader(b);
  if (h.format != "BMP" || (h.detail != 24 && h.detail != 32) || Get32(b, 30) > 3) return pixels;
  const int bytes = h.detail / 8;
  const bool topDown = static_cast<int32_t>(Get32(b, 22)) < 0;
  const size_t stride = (static_cast<size_t>(h.width) * bytes + 3) & ~size_t{3};
  const size_t offset = Get32(b, 10);
  if (offset + stride * h.height > b.size()) return pixels;
  for (int y = 0; y < h.height; ++y) {
    const size_t row = offset + stride * (topDown ? y : h.height - 1 - y);
    for (int x = 0; x < h.width; ++x) {
      const uint8_t* p = &b[row + static_cast<size_t>(x) * bytes];
      pixels.push_back({p[2], p[1], p[0], bytes == 4 ? p[3] : uint8_t{255}});
    }
  }
  *width = h.width;
  *height = h.height;
  return pixels;
}
