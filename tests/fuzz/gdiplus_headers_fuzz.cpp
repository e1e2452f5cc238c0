// The walk over the headers of the formats GDI+ decodes, on any bytes: it never reads out of
// bounds (the sanitizers watch) and ends, whatever offsets and counts the bytes give.
#include <cstdint>
#include <cstring>

#include "imaging/codecs/gdiplus_headers.h"

namespace {
struct Memory {
  const uint8_t* data;
  size_t size;
};

bool ReadAt(void* context, int64_t offset, uint8_t* buffer, int32_t size) {
  const auto* m = static_cast<const Memory*>(context);
  if (offset < 0 || static_cast<uint64_t>(offset) + static_cast<uint64_t>(size) > m->size) return false;
  std::memcpy(buffer, m->data + offset, static_cast<size_t>(size));
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Memory memory = {data, size};
  GdiplusHeaderHostile(RandomBytes{ReadAt, &memory});
  return 0;
}
