// A buffer whose last byte is followed by a page that cannot be read: a test that passes it to
// the plug-in proves, by not crashing, that the plug-in reads nothing beyond it.
#pragma once

#include <windows.h>

#include <cstddef>

struct GuardedBuffer {
  char* base = nullptr;   // the VirtualAlloc allocation
  char* data = nullptr;   // size bytes that end where the unreadable page begins
  size_t reserved = 0;
};

inline GuardedBuffer MakeGuardedBuffer(size_t size) {
  const size_t page = 4096;
  const size_t dataPages = (size + page - 1) / page;
  GuardedBuffer buffer;
  buffer.reserved = (dataPages + 1) * page;
  buffer.base = static_cast<char*>(
      VirtualAlloc(nullptr, buffer.reserved, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old;
  VirtualProtect(buffer.base + dataPages * page, page, PAGE_NOACCESS, &old);
  buffer.data = buffer.base + dataPages * page - size;
  return buffer;
}

inline void FreeGuardedBuffer(GuardedBuffer* buffer) {
  VirtualFree(buffer->base, 0, MEM_RELEASE);
  *buffer = GuardedBuffer();
}
