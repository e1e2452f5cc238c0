// New bitmaps whose pixels the plug-in writes itself.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/gdiplus_owners.h"

// A width by height bitmap of `format`, with `palette` set where it is not null, locked whole for
// writing and handed to `fill` (the top row and the bytes from one row to the next), then
// unlocked: the pixels reach the bitmap only with the unlock, so its status counts. Null, holding
// nothing, when GDI+ refuses a step, the lock hands out fewer than width by height pixels of
// rowBytes, or `fill` answers false.
ImageOwner WrittenBitmap(int32_t width, int32_t height, int32_t format, int32_t rowBytes,
                         const ColorPalette* palette,
                         const std::function<bool(uint8_t* top, int32_t stride)>& fill);
