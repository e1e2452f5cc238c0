#include "imaging/codecs/carried.h"

#include "imaging/codecs/byte_order.h"

#include <cstring>

bool ProfileWhole(const uint8_t* profile, size_t size) {
  return size >= 128 && ReadNumber(profile, 4, true) == size && std::memcmp(profile + 36, "acsp", 4) == 0;
}

bool ProfileOf(const Carried& carried, const char space[4]) {
  const std::vector<uint8_t>& p = carried.profile;
  return ProfileWhole(p.data(), p.size()) && std::memcmp(p.data() + 16, space, 4) == 0;
}

namespace {
struct TargetPolicy {
  TargetFormat format;
  bool grey, alpha;                     // keeps a grey picture grey; keeps alpha
  bool orientation, profile, pngChunks;  // carries
};
constexpr TargetPolicy kTargetPolicies[] = {
    {TargetFormat::kJpeg, true, false, true, true, false},  {TargetFormat::kPng, true, true, true, true, true},
    {TargetFormat::kBmp, false, true, false, false, false}, {TargetFormat::kTiff, true, true, true, true, false},
    {TargetFormat::kGif, false, true, false, false, false}, {TargetFormat::kWebp, false, true, true, true, false},
};
}  // namespace

Written WhatIsWritten(TargetFormat format, Channels channels, const Carried& carried) {
  TargetPolicy policy = kTargetPolicies[0];
  for (const TargetPolicy& p : kTargetPolicies) {
    if (p.format == format) policy = p;
  }
  const bool grey = policy.grey && !HasColourChannels(channels) && !ProfileOf(carried, "RGB ");
  const bool alpha = policy.alpha && HasAlpha(channels);
  Written written = {grey ? (alpha ? Channels::kGreyAlpha : Channels::kGrey) : (alpha ? Channels::kColourAlpha : Channels::kColour),
                     Carried()};
  if (policy.orientation) written.carried.orientation = carried.orientation;
  if (policy.profile && ProfileOf(carried, grey ? "GRAY" : "RGB ")) written.carried.profile = carried.profile;
  if (policy.pngChunks) {
    written.carried.srgbIntent = carried.srgbIntent;
    written.carried.gamma = carried.gamma;
    written.carried.chromaticities = carried.chromaticities;
    std::memcpy(written.carried.chromaticity, carried.chromaticity, sizeof carried.chromaticity);
  }
  return written;
}

int OrientationOfExif(const uint8_t* tiff, size_t size) {
  if (size < 8) return 1;
  const bool big = tiff[0] == 'M' && tiff[1] == 'M';
  if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 1;
  if (ReadNumber(tiff + 2, 2, big) != 42) return 1;
  const uint32_t ifd = ReadNumber(tiff + 4, 4, big);
  if (ifd < 8 || ifd > size - 2) return 1;
  const uint32_t entries = ReadNumber(tiff + ifd, 2, big);
  if (entries > (size - ifd - 2) / 12) return 1;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* entry = tiff + ifd + 2 + 12 * i;
    if (ReadNumber(entry, 2, big) != 0x0112) continue;
    // A SHORT, one of it, held in the entry itself.
    const uint32_t value = ReadNumber(entry + 8, 2, big);
    if (ReadNumber(entry + 2, 2, big) != 3 || ReadNumber(entry + 4, 4, big) != 1 || value < 1 ||
        value > 8) {
      return 1;
    }
    return static_cast<int>(value);
  }
  return 1;
}

ExifBytes ExifOfOrientation(int orientation, bool prefixed) {
  const uint8_t o = static_cast<uint8_t>(orientation);
  const uint8_t tiff[26] = {'M', 'M', 0, 42, 0, 0, 0, 8,               // header, the IFD at 8
                            0, 1,                                      // one entry:
                            0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, o, 0, 0,  // Orientation, SHORT, 1, the value
                            0, 0, 0, 0};                               // no next IFD
  ExifBytes exif = {{'E', 'x', 'i', 'f', 0, 0}, prefixed ? 6u : 0u};
  std::memcpy(exif.bytes + exif.size, tiff, sizeof tiff);
  exif.size += sizeof tiff;
  return exif;
}
