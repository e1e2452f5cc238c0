// Colours a source stores in a space other than RGB, turned into sRGB by Little CMS a row at a
// time: CMYK through the profile the file carries, CIELab through the CIE's own definition.
// Platform-free.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

enum class ColourInput {
  kCmyk,          // 0 no ink, 255 full ink (a TIFF's)
  kInvertedCmyk,  // 255 no ink (an Adobe JPEG's)
  kLab,           // L 0..255 for 0..100, then a and b offset by 128 (0..255 for -128..127)
};

struct ColourTransformEnd {
  void operator()(void* transform) const;
};
using ColourTransform = std::unique_ptr<void, ColourTransformEnd>;

// A transform from `input` to 8-bit BGR in sRGB, perceptual: for CMYK through `profile`, which
// must be a whole CMYK profile; for CIELab (D50), none is needed. Null where there is no
// transform to make (no profile, one of another space, one the engine refuses): the caller keeps
// its own conversion.
ColourTransform SrgbTransform(ColourInput input, const std::vector<uint8_t>& profile);

// One row of `width` pixels of the transform's input (4 or 3 bytes each) into BGR.
void TransformRow(void* transform, const uint8_t* in, uint8_t* bgr, int32_t width);

// True for a whole profile of CMYK, the colour space its header names.
bool CmykProfile(const std::vector<uint8_t>& profile);
