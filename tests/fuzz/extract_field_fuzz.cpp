// ExtractField against a plain reference: split the whole text, then pick the field.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t n = static_cast<int8_t>(data[0]);
  const size_t delimiterLength = 1 + data[1] % 3;
  if (size < 2 + delimiterLength) return 0;
  const std::string delimiter(reinterpret_cast<const char*>(data) + 2, delimiterLength);
  const std::string text(reinterpret_cast<const char*>(data) + 2 + delimiterLength,
                         size - 2 - delimiterLength);

  std::vector<std::string> fields;
  size_t begin = 0;
  for (size_t at; (at = text.find(delimiter, begin)) != std::string::npos; begin = at + delimiter.size()) {
    fields.push_back(text.substr(begin, at - begin));
  }
  fields.push_back(text.substr(begin));
  const int64_t count = static_cast<int64_t>(fields.size());
  std::string expected;
  if (n > 0 && n <= count) expected = fields[n - 1];
  if (n < 0 && -n <= count) expected = fields[count + n];

  const std::string field = ExtractField(text, delimiter, n);
  FUZZ_CHECK(field == expected, "field %d: \"%s\", expected \"%s\"", n, field.c_str(), expected.c_str());
  return 0;
}
