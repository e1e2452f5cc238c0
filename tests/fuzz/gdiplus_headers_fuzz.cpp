// The walk over the headers of the formats GDI+ decodes, on any bytes: it never reads out of
// bounds (the sanitizers watch) and ends, whatever offsets and counts the bytes give.
#include <cstdint>

#include "memory_bytes.h"
#include "imaging/codecs/gdiplus_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryBytes memory = {data, size, -1};
  GdiplusHeaderHostile(BytesOf(&memory));
  return 0;
}
