#include "text/text.h"

#include <cstring>

std::string TextFromCString(const char* text) {
  if (text == nullptr) return std::string();
  // memchr reads no byte past the zero it finds, so a text that ends just before an unreadable
  // page is safe, and one without a zero is cut after exactly kMaxHostTextBytes.
  const void* zero = std::memchr(text, 0, kMaxHostTextBytes);
  const size_t length = zero ? static_cast<const char*>(zero) - text : kMaxHostTextBytes;
  return std::string(text, length);
}
