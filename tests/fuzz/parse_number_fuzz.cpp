// ParseNumber on any text: never fails, and what it reads survives formatting and reading again.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/number.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Number value = ParseNumber(text);
  RoundToInt32(value);
  // At the ends of the range the seven-digit text leaves it: 9.99999995E+4931 is written
  // " 1E+4932", which reads as 2^127; below 10^-4933 a text reads as 0.
  const Number magnitude = value < 0 ? -value : value;
  if (value != 0 && !(magnitude >= 1e-4933L && magnitude < 9.9999994e4931L)) return 0;
  const std::string once = FormatNumber(value);
  const std::string twice = FormatNumber(ParseNumber(once));
  FUZZ_CHECK(once == twice, "\"%s\" then \"%s\"", once.c_str(), twice.c_str());
  return 0;
}
