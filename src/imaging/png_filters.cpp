// libpng's hook for its row filters (PNG_FILTER_OPTIMIZATIONS, as the setup builds the library):
// its SSE2 filters are installed only where the processor has SSE2, asked as the resampler asks.
#include <png.h>

#include "platform/windows_api.h"

extern "C" void png_init_filter_functions_sse2(png_structp png, unsigned int bpp);

extern "C" void quintara_png_filters(png_structp png, unsigned int bpp) {
  if (ProcessorHasSse2()) png_init_filter_functions_sse2(png, bpp);
}
