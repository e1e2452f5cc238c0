// A source bitmap's pixels, read row by row through GDI+ locks of bands of rows, in a layout
// that the box averaging and the resampler read.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/pixels/pixel_layout.h"
#include "imaging/gdiplus/gdiplus_api.h"

struct ReadFormat {
  int32_t lockFormat;
  PixelLayout layout;
};

// The source's own layout where it is 24-bit RGB or one of the 32-bit RGB layouts (a lock then
// copies nothing); GDI+'s own conversion to straight ARGB for everything else, whose alpha counts
// only where the format may carry one (a palette may).
ReadFormat ReadFormatOf(int32_t sourceFormat);

// False for a width whose rows are longer than any picture's, as a damaged header's can be: no
// row arithmetic is tried on it.
bool RowsReadable(int32_t width);

// Passes rows 0 to height - 1 of the source to `take`, top first, reading bands of about 1 MB
// whatever the picture, so that a converting lock never copies much. False when GDI+ refuses a
// band or hands out fewer pixels than asked for; `take` has then seen only some rows.
bool ReadSourceRows(GpImage* source, const ReadFormat& read, int32_t width, int32_t height,
                    const std::function<void(const uint8_t* row)>& take);
