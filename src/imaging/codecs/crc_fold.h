// zlib's CRC-32, folded 64 bytes a step by carry-less multiplication where the processor has it:
// a large PNG's chunks are checked on the thread that inflates them, and zlib's table-driven CRC
// was a seventeenth of that thread's time. The folding is the one Gopal et al. describe ("Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ Instruction", Intel, 2009), in the
// bit-reflected form zlib's CRC takes.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

#include <zlib.h>

// The CRC of `size` bytes after `crc` (each as zlib's crc32 gives it): `size` at least 64 and a
// multiple of 16. Only where CarrylessMultiplyPresent() (crc_fold.cpp is built for PCLMULQDQ and
// SSE4.1).
uint32_t FoldCrc(uint32_t crc, const uint8_t* data, size_t size);

// True where the processor has PCLMULQDQ and SSE4.1; asked of the processor itself (CPUID), which
// no system call reports. Ask once: in a virtual machine the instruction is slow.
inline bool CarrylessMultiplyPresent() {
  unsigned ecx = 0;
#if defined(_MSC_VER)
  int registers[4];
  __cpuid(registers, 1);
  ecx = static_cast<unsigned>(registers[2]);
#else
  unsigned eax, ebx, edx;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
#endif
  return (ecx & (1u << 1)) != 0 && (ecx & (1u << 19)) != 0;
}

// zlib's crc32 of `size` bytes after `crc`, the whole 16-byte blocks folded where `fold` says the
// processor can.
inline uint32_t ChunkCrc(uint32_t crc, const uint8_t* data, size_t size, bool fold) {
  if (fold && size >= 64) {
    const size_t whole = size & ~size_t{15};
    crc = FoldCrc(crc, data, whole);
    data += whole;
    size -= whole;
  }
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}
