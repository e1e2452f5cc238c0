// What a photo carries that its thumbnail keeps, so that it shows as the photo shows: its
// orientation and its colour profile, and a PNG's own colour chunks; nothing else (no camera
// serial, no position). And how many channels a picture needs. Platform-free, no library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A profile larger than this is dropped: real ones weigh 0.5 to 60 KB (sRGB, Display P3, Adobe
// RGB, a camera's), the largest lookup-table profiles a few hundred.
constexpr size_t kProfileCap = size_t{1} << 20;

struct Carried {
  int orientation = 1;            // EXIF Orientation, 1 to 8; 1 is as stored, and not written
  std::vector<uint8_t> profile;   // an ICC profile as it came, or empty
  // A PNG source's colour chunks, for a PNG target, as they came.
  int srgbIntent = -1;            // sRGB's rendering intent, or -1 without the chunk
  uint32_t gamma = 0;             // gAMA's value (gamma times 100000), or 0 without the chunk
  bool chromaticities = false;    // cHRM present
  int32_t chromaticity[8] = {};   // its white, red, green and blue x and y, times 100000
};

// True for an ICC profile whole enough to carry: at least its 128-byte header, the size that header
// gives equal to the bytes there are, the "acsp" signature.
bool ProfileWhole(const uint8_t* profile, size_t size);

// The Orientation tag (0x0112) of the first IFD of an EXIF block's TIFF structure ("II*\0" or
// "MM\0*" first), where it is whole and valid (a SHORT of 1 to 8 inside the block); 1 otherwise.
int OrientationOfExif(const uint8_t* tiff, size_t size);

// The smallest EXIF TIFF structure that holds an orientation: big-endian, one IFD of the one tag;
// after JPEG's "Exif\0\0" where `prefixed`. Plain bytes, so that it may live where a codec
// library's error jumps.
struct ExifBytes {
  uint8_t bytes[6 + 26];
  uint32_t size;
};
ExifBytes ExifOfOrientation(int orientation, bool prefixed);

// The channels a written picture needs, judged from its source before the first row: grey where
// the source is grey, colour where it has no alpha, and alpha only where it has some.
enum class Channels { kGrey, kGreyAlpha, kColour, kColourAlpha };

inline bool HasAlpha(Channels channels) {
  return channels == Channels::kGreyAlpha || channels == Channels::kColourAlpha;
}
inline bool HasColourChannels(Channels channels) {
  return channels == Channels::kColour || channels == Channels::kColourAlpha;
}

// True for a whole profile of the colour space named ("RGB ", "GRAY", "CMYK").
bool ProfileOf(const Carried& carried, const char space[4]);

// The formats the plug-in writes, and what each keeps of a picture: one policy for every target.
enum class TargetFormat { kJpeg, kPng, kBmp, kTiff, kGif, kWebp };
struct Written {
  Channels channels;  // those the file holds
  Carried carried;    // what the format takes of what the picture carries
};
// A format's channels: JPEG grey or colour, PNG and TIFF all four, BMP, GIF and WebP colour with or
// without alpha; a grey picture whose profile is a colour one is written in colour. What it
// carries: JPEG, PNG, TIFF and WebP the orientation and a profile, only one that is whole and
// describes the channels written; PNG its colour chunks too; BMP and GIF nothing.
Written WhatIsWritten(TargetFormat format, Channels channels, const Carried& carried);
