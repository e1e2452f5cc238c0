// FormatNumber on any value: a sign column, at most seven digits, and a text that reads back to
// the same text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "text/number.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Number value = 0;
  if (size >= 10) {
    std::memcpy(&value, data, 10);  // any x87 extended bit pattern
  } else if (size >= 8) {
    double d;
    std::memcpy(&d, data, 8);
    value = d;
  } else if (size >= 4) {
    float f;
    std::memcpy(&f, data, 4);
    value = f;
  } else {
    return 0;
  }
  const std::string text = FormatNumber(value);
  FUZZ_CHECK(!text.empty() && (text[0] == ' ' || text[0] == '-'), "\"%s\"", text.c_str());
  size_t digits = 0;
  for (size_t i = 1; i < text.size() && text[i] != 'E'; ++i) digits += text[i] >= '0' && text[i] <= '9';
  FUZZ_CHECK(digits >= 1 && digits <= 7 + 7, "\"%s\"", text.c_str());  // ".0000001" has 7 zeros
  // Reading back holds within the range that ParseNumber keeps: below 10^-4933 it reads 0, from
  // 10^4932 on it reads 2^127 (a subnormal 3.7E-4942 is written, and reads back as 0; so is
  // 9.99999995E+4931, written " 1E+4932").
  const Number magnitude = value < 0 ? -value : value;
  if (!(magnitude >= 1e-4933L && magnitude < 9.9999994e4931L)) return 0;
  const std::string again = FormatNumber(ParseNumber(text));
  FUZZ_CHECK(again == text, "\"%s\" then \"%s\"", text.c_str(), again.c_str());
  return 0;
}
