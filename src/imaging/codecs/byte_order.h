// Numbers as file headers hold them, in either byte order: what the plug-in's own header walks
// and writers share. Platform-free.
#pragma once

#include <cstdint>
#include <vector>

// `bytes` (at most 4) bytes at `p` as one number.
inline uint32_t ReadNumber(const uint8_t* p, int bytes, bool bigEndian) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[bigEndian ? i : bytes - 1 - i];
  return value;
}
inline uint32_t ReadLittle(const uint8_t* p, int bytes) { return ReadNumber(p, bytes, false); }

// Appends the low `bytes` bytes of `value`, least significant first.
inline void PutLittle(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
