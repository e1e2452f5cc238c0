#include "imaging/codecs/tiff_writer.h"

#include "imaging/codecs/byte_order.h"

namespace {
// Where the IFD begins: after the header and the rows, on a word boundary.
uint32_t Samples(Channels channels) {
  return channels == Channels::kGrey ? 1 : channels == Channels::kGreyAlpha ? 2 : channels == Channels::kColour ? 3 : 4;
}

uint32_t DirectoryAt(int32_t width, int32_t height, Channels channels) {
  const uint32_t rows = static_cast<uint32_t>(width) * Samples(channels) * static_cast<uint32_t>(height);
  return 8 + rows + (rows & 1);
}

enum Type { kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };
}  // namespace

std::vector<uint8_t> TiffFileHeader(int32_t width, int32_t height, Channels channels) {
  std::vector<uint8_t> h = {'I', 'I', 42, 0};
  PutLittle(&h, DirectoryAt(width, height, channels), 4);
  return h;
}

std::vector<uint8_t> TiffDirectory(int32_t width, int32_t height, Channels channels, const Carried& carried) {
  const uint32_t samples = Samples(channels), at = DirectoryAt(width, height, channels);
  const bool alpha = HasAlpha(channels), grey = samples <= 2;
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;  // the value itself, or for `outside` its offset in `values`
    bool outside;
  };
  std::vector<uint8_t> values;  // what does not fit an entry, after the IFD
  std::vector<Entry> entries;
  auto outside = [&](uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& bytes) {
    entries.push_back({tag, type, count, static_cast<uint32_t>(values.size()), true});
    values.insert(values.end(), bytes.begin(), bytes.end());
    if (values.size() % 2 != 0) values.push_back(0);
  };
  std::vector<uint8_t> bits, resolution;
  for (uint32_t i = 0; i < samples; ++i) PutLittle(&bits, 8, 2);
  PutLittle(&resolution, 96, 4);
  PutLittle(&resolution, 1, 4);
  entries.push_back({256, kLong, 1, static_cast<uint32_t>(width), false});
  entries.push_back({257, kLong, 1, static_cast<uint32_t>(height), false});
  if (samples > 2) {
    outside(258, kShort, samples, bits);
  } else {
    entries.push_back({258, kShort, samples, samples == 1 ? 8u : 8u | 8u << 16, false});
  }
  entries.push_back({259, kShort, 1, 1, false});  // no compression
  entries.push_back({262, kShort, 1, grey ? 1u : 2u, false});  // MinIsBlack or RGB
  entries.push_back({273, kLong, 1, 8, false});
  if (carried.orientation != 1) entries.push_back({274, kShort, 1, static_cast<uint32_t>(carried.orientation), false});
  entries.push_back({277, kShort, 1, samples, false});
  entries.push_back({279, kLong, 1, static_cast<uint32_t>(width) * samples * static_cast<uint32_t>(height), false});
  outside(282, kRational, 1, resolution);
  outside(283, kRational, 1, resolution);
  entries.push_back({284, kShort, 1, 1, false});  // one plane
  entries.push_back({296, kShort, 1, 2, false});  // inches
  if (alpha) entries.push_back({338, kShort, 1, 2, false});  // unassociated alpha
  if (!carried.profile.empty()) {
    outside(34675, kUndefined, static_cast<uint32_t>(carried.profile.size()), carried.profile);
  }
  const uint32_t valuesAt = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  std::vector<uint8_t> d;
  PutLittle(&d, static_cast<uint32_t>(entries.size()), 2);
  for (const Entry& e : entries) {
    PutLittle(&d, e.tag, 2);
    PutLittle(&d, e.type, 2);
    PutLittle(&d, e.count, 4);
    PutLittle(&d, e.outside ? valuesAt + e.value : e.value, 4);  // a SHORT in its entry is its first 2 bytes
  }
  PutLittle(&d, 0, 4);  // no next IFD
  d.insert(d.end(), values.begin(), values.end());
  return d;
}
