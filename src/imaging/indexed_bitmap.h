// The finished picture as a GIF holds it: an 8-bit indexed bitmap with a palette made for it.
// GDI+'s GIF encoder writes no pixels from anything else under Wine, and maps anything else to
// a fixed halftone palette on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/gdiplus_owners.h"

struct IndexedBitmap {
  ImageOwner bitmap;
  int transparentIndex;  // the palette's transparent entry, or -1 when it has none
};

// A new 8bppIndexed bitmap of the canvas's pixels (read as straight ARGB), its palette and
// indices from MakePalette and MapToPalette; null, holding nothing, when GDI+ refuses a lock,
// the bitmap or the palette. For builds without the plug-in's own GIF writer.
IndexedBitmap IndexedCopy(GpImage* canvas, int32_t width, int32_t height);

