// GIF files as GDI+'s encoders write them, mended where one falls short. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

// Where a GIF's first image says which palette entry is transparent: its graphic control
// extension. Wine's encoder writes none, whatever the palette's alpha; an encoder that writes
// one may or may not set its transparency from the palette.
struct GifControl {
  enum State {
    kNotGif,    // not a GIF with an image within the bytes, or an extension of a size not 4
    kExisting,  // the extension's 4 data bytes start at `at`
    kMissing,   // an extension must be inserted at `at`, before the image's descriptor
  } state;
  size_t at;
};

// Looks for the first image's graphic control extension, reading nothing outside the `size`
// bytes given.
GifControl FindGifControl(const uint8_t* bytes, size_t size);

// The 4 data bytes of an existing extension (at `control`), changed where needed so that entry
// `index` is transparent: the flag set and the index written, nothing else.
void MarkTransparentEntry(uint8_t* control, uint8_t index);

// The 8 bytes of an extension to insert: transparency flag set, no delay, entry `index`. A file
// that gets one must say GIF89a, the version that has them.
constexpr size_t kGifControlBytes = 8;
void TransparencyExtension(uint8_t index, uint8_t out[kGifControlBytes]);
