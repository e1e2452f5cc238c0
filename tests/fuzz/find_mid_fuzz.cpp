// FindText and MidText against a plain search over every position.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "text/text.h"

namespace {
bool MatchesAt(const std::string& text, const std::string& pattern, int64_t position) {
  return position >= 1 && position - 1 + static_cast<int64_t>(pattern.size()) <= static_cast<int64_t>(text.size()) &&
         text.compare(static_cast<size_t>(position - 1), pattern.size(), pattern) == 0;
}

int32_t Reference(int32_t start, const std::string& text, const std::string& pattern) {
  const int64_t length = static_cast<int64_t>(text.size());
  if (length == 0 || start == 0) return 0;
  if (start > 0) {
    if (start > length) return 0;
    if (pattern.empty()) return start;
    for (int64_t p = start; p <= length; ++p) {
      if (MatchesAt(text, pattern, p)) return static_cast<int32_t>(p);
    }
    return 0;
  }
  const int64_t end = length + start + 1;
  if (end <= 0) return 0;
  if (pattern.empty()) return static_cast<int32_t>(end);
  for (int64_t p = end - static_cast<int64_t>(pattern.size()) + 1; p >= 1; --p) {
    if (MatchesAt(text, pattern, p)) return static_cast<int32_t>(p);
  }
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t start = static_cast<int8_t>(data[0]);
  const size_t patternLength = data[1] % 4;
  if (size < 2 + patternLength) return 0;
  const std::string pattern(reinterpret_cast<const char*>(data) + 2, patternLength);
  const std::string text(reinterpret_cast<const char*>(data) + 2 + patternLength, size - 2 - patternLength);

  const int32_t found = FindText(start, text, pattern);
  const int32_t expected = Reference(start, text, pattern);
  FUZZ_CHECK(found == expected, "FindText(%d) = %d, expected %d", start, found, expected);

  const std::string mid = MidText(text, start);
  const std::string midExpected =
      start >= 1 && static_cast<size_t>(start) <= text.size() ? text.substr(static_cast<size_t>(start) - 1) : "";
  FUZZ_CHECK(mid == midExpected, "MidText(%d)", start);
  return 0;
}
