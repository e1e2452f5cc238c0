// GIF files as GDI+'s encoders write them, mended where one falls short. Platform-free.
#pragma once

#include <cstdint>
#include <vector>

// Makes palette entry `index` transparent in a GIF whose first image has no graphic control
// extension, by inserting one before the image's descriptor (and marking the file GIF89a, the
// version that has them): Wine's encoder writes none, whatever the palette's alpha, so a
// transparent ground would show in the entry's colour. A GIF that has one already (an encoder
// that honours the palette's alpha writes it) is left as it is. False, changing nothing, when
// the bytes are not a GIF with an image.
bool MarkGifTransparency(std::vector<uint8_t>* gif, uint8_t index);
