// Reductions computed by the plug-in: the source read through GDI+ locks, resampled (see
// resample.h) and written through a lock into a bitmap of the target's size. GDI+ only decodes,
// converts and encodes, so the picture is the same on every GDI+.
#pragma once

#include <cstdint>

#include "imaging/gdiplus_owners.h"

// The format the resampled bitmap has: 24-bit RGB for an opaque source, 32-bit premultiplied
// ARGB for one that may have alpha (a palette may).
int32_t ResampledFormat(int32_t sourceFormat);

// The whole source bitmap (not a metafile) resampled to exactly width by height, in a new
// bitmap of ResampledFormat; null, holding nothing, when the rows are longer than any picture's,
// the resampler's buffers would not fit, or GDI+ refuses the bitmap or a lock. The caller has
// checked that a bitmap of width by height fits.
ImageOwner ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                           int32_t sourceHeight, int32_t width, int32_t height);
