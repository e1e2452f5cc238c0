// A file in memory as the plug-in's readers take bytes and its writers give them, for the
// codecs' tests and fuzz targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/codecs/decoded_rows.h"

struct MemoryBytes {
  const uint8_t* data;
  size_t size, at;
  long failAt;  // reads fail from this offset on (-1: never)
};

inline int32_t ReadMemory(void* context, uint8_t* buffer, int32_t size) {
  auto* m = static_cast<MemoryBytes*>(context);
  if (m->failAt >= 0 && m->at >= static_cast<size_t>(m->failAt)) return -1;
  const size_t n = std::min(static_cast<size_t>(size), m->size - m->at);
  if (n > 0) std::memcpy(buffer, m->data + m->at, n);
  m->at += n;
  return static_cast<int32_t>(n);
}

inline ByteSource BytesOf(MemoryBytes* memory) { return ByteSource{ReadMemory, memory}; }

// The same bytes at any offset (where the file's reads do not fail).
inline RandomBytes AtAnyOffset(MemoryBytes* memory) {
  return RandomBytes{[](void* context, int64_t offset, uint8_t* buffer, int32_t size) {
                       const auto* m = static_cast<const MemoryBytes*>(context);
                       if (offset < 0 || static_cast<uint64_t>(offset) + static_cast<uint64_t>(size) > m->size) return false;
                       std::memcpy(buffer, m->data + offset, static_cast<size_t>(size));
                       return true;
                     },
                     memory};
}

// Every byte written, appended to `file`.
inline ByteSink AppendingTo(std::vector<uint8_t>* file) {
  return ByteSink{[](void* f, const uint8_t* bytes, int32_t size) {
                    auto* v = static_cast<std::vector<uint8_t>*>(f);
                    v->insert(v->end(), bytes, bytes + size);
                    return true;
                  },
                  file};
}

// Every row a reader delivers, `pixelBytes` bytes a pixel (set once the header tells), top first.
struct CapturedRows {
  std::vector<uint8_t> bytes;
  int32_t width = 0;
  int pixelBytes = 3;
};
inline DecodedRows Capturing(CapturedRows* rows) {
  return DecodedRows{[](void* c, int32_t width, int32_t) { return static_cast<CapturedRows*>(c)->width = width, true; },
                     [](void* c, const uint8_t* row) {
                       auto* r = static_cast<CapturedRows*>(c);
                       r->bytes.insert(r->bytes.end(), row, row + static_cast<size_t>(r->width) * r->pixelBytes);
                       return true;
                     },
                     rows};
}
