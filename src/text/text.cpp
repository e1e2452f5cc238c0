#include "text/text.h"

#include <cstring>

std::string TextFromCString(const char* text) {
  if (text == nullptr) return std::string();
  // memchr reads no byte past the zero it finds, so a text that ends just before an unreadable
  // page is safe, and one without a zero is cut after exactly kMaxHostTextBytes.
  const void* zero = std::memchr(text, 0, kMaxHostTextBytes);
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text)
                             : kMaxHostTextBytes;
  return std::string(text, length);
}

std::string ExtractField(const std::string& text, const std::string& delimiter, int32_t n) {
  if (n == 0 || delimiter.empty()) return std::string();
  int64_t wanted = n;
  if (n < 0) {
    // Counted from the end: with k occurrences there are k + 1 fields, and -1 is field k + 1.
    int64_t occurrences = 0;
    for (size_t at = text.find(delimiter); at != std::string::npos;
         at = text.find(delimiter, at + delimiter.size())) {
      ++occurrences;
    }
    wanted = occurrences + 2 + n;
    if (wanted < 1) return std::string();
  }
  size_t begin = 0;
  for (int64_t field = 1; field < wanted; ++field) {
    const size_t at = text.find(delimiter, begin);
    if (at == std::string::npos) return std::string();
    begin = at + delimiter.size();
  }
  const size_t end = text.find(delimiter, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string TrimSpaces(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string UpperCase(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

int32_t FindText(int32_t start, const std::string& text, const std::string& pattern) {
  const int64_t length = static_cast<int64_t>(text.size());
  if (length == 0 || start == 0) return 0;
  if (start > 0) {
    if (start > length) return 0;
    if (pattern.empty()) return start;
    const size_t at = text.find(pattern, static_cast<size_t>(start - 1));
    return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
  }
  const int64_t p = length + start + 1;
  if (p <= 0) return 0;
  if (pattern.empty()) return static_cast<int32_t>(p);
  const int64_t latestBegin = p - static_cast<int64_t>(pattern.size());
  if (latestBegin < 0) return 0;
  const size_t at = text.rfind(pattern, static_cast<size_t>(latestBegin));
  return at == std::string::npos ? 0 : static_cast<int32_t>(at + 1);
}

std::string MidText(const std::string& text, int32_t position) {
  if (position <= 0 || static_cast<size_t>(position) > text.size()) return std::string();
  return text.substr(static_cast<size_t>(position) - 1);
}
