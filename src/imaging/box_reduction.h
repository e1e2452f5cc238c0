// The reduction by GDI+'s own draw, where the plug-in's resampler could not be had: the source
// bitmap averaged over boxes into a smaller bitmap, which the draw then takes the rest of the way
// (a reduction below 2).
#pragma once

#include <cstdint>

#include "imaging/gdiplus_api.h"
#include "imaging/gdiplus_owners.h"

struct BoxReduction {
  ImageOwner bitmap;  // the averaged bitmap; null when none was made
  // The part of `bitmap` that the source covers, in pixels: source side / factor. The final draw
  // takes exactly this rectangle, so that a partial last box is not stretched to a whole pixel
  // and nothing shifts: 1001 source columns with factor 5 cover 200.2 of 201 columns.
  float coveredWidth, coveredHeight;
};

// Averages the source over boxes of BoxFactor(source side, target side) pixels along each side,
// reading it in bands of rows in its own layout where that is 24-bit RGB or one of the 32-bit
// RGB layouts, and converted by GDI+ to 32-bit ARGB otherwise. Alpha is averaged premultiplied.
// The source must be a bitmap (a metafile is rendered by GDI+ at the target size). Answers a
// null bitmap when the draw should take the source directly: neither side shrinks by 2 or more,
// its rows are longer than any picture's, or GDI+ refuses a lock or the averaged bitmap.
BoxReduction ReduceByBoxes(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                           int32_t sourceHeight, int32_t width, int32_t height);
