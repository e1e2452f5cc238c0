// Numbers from texts and texts from numbers: ParseNumber, RoundToInt32, FormatNumber.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "text/number.h"

namespace {
// 10^k for k >= 0 by repeated squaring. Exact up to 10^27 (5^27 still fits 64 bits); beyond, a
// few units in the last of 64 bits, far below the 18 digits the conversions keep.
Number PowerOfTen(int64_t k) {
  Number result = 1, square = 10;
  for (; k > 0; k >>= 1, square *= square) {
    if (k & 1) result *= square;
  }
  return result;
}

// Halves go to the even neighbour, whatever rounding mode the processor is in.
Number RoundHalfEven(Number value) {
  const Number below = std::floor(value);
  const Number fraction = value - below;
  if (fraction > 0.5L) return below + 1;
  if (fraction < 0.5L) return below;
  return std::fmod(below, 2.0L) == 0 ? below : below + 1;
}

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 99;
}

bool IsDecimalDigit(const std::string& text, size_t at) {
  return at < text.size() && text[at] >= '0' && text[at] <= '9';
}

// The & forms; `at` is just past the "&".
Number ParseRadixNumber(const std::string& text, size_t at) {
  int radix = 8;
  if (at < text.size()) {
    switch (text[at]) {
      case 'H': case 'h': radix = 16; ++at; break;
      case 'B': case 'b': radix = 2; ++at; break;
      case 'O': case 'o': case 'Q': case 'q': radix = 8; ++at; break;
      default: break;  // octal, and this byte is the first digit
    }
  }
  const size_t firstDigit = at;
  uint64_t pattern = 0;
  bool overflow = false;
  for (; at < text.size() && DigitValue(static_cast<unsigned char>(text[at])) < radix; ++at) {
    const uint64_t digit = static_cast<uint64_t>(DigitValue(static_cast<unsigned char>(text[at])));
    if (pattern > (UINT64_MAX - digit) / static_cast<uint64_t>(radix)) overflow = true;
    pattern = pattern * static_cast<uint64_t>(radix) + digit;
  }
  if (at == firstDigit || overflow) return 0;

  const std::string rest = text.substr(at, 3);
  const bool question = rest.compare(0, 1, "?") == 0;
  const bool doubleAmpersand = rest.compare(0, 2, "&&") == 0;
  const bool ampersand = !doubleAmpersand && rest.compare(0, 1, "&") == 0;

  const int64_t value = static_cast<int64_t>(pattern);  // bit 63 set reads as negative
  if (question) return value < 0 ? 0 : static_cast<Number>(value);
  if (text[firstDigit] == '0') return static_cast<Number>(value);
  if (value >= 32768 && value <= 65535 && !ampersand && !doubleAmpersand) {
    return static_cast<Number>(value - 65536);
  }
  if (value >= 2147483648LL && value <= 4294967295LL && !doubleAmpersand) {
    return static_cast<Number>(value - 4294967296LL);
  }
  return static_cast<Number>(value);
}

constexpr int kMaxSignificantDigits = 18;
constexpr int64_t kExponentCap = 9999;
// 2^127, what an overflowing text gives: 1.7014118E+38 as FormatNumber writes it.
const Number kOverflowValue = std::ldexp(Number{1}, 127);
}  // namespace

Number ParseNumber(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) ++at;
  if (at < text.size() && text[at] == '&') return ParseRadixNumber(text, at + 1);

  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

  // The value is mantissa * 10^scale; leading zeros are not significant, digits past the 18th
  // before the point only raise scale, those after the point are dropped.
  uint64_t mantissa = 0;
  int significant = 0;
  int64_t scale = 0;
  bool anyDigit = false, point = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    anyDigit = true;
    const int digit = c - '0';
    if (significant == 0 && digit == 0) {
      if (point) --scale;
    } else if (significant < kMaxSignificantDigits) {
      mantissa = mantissa * 10 + static_cast<uint64_t>(digit);
      ++significant;
      if (point) --scale;
    } else if (!point) {
      ++scale;
    }
  }
  if (!anyDigit) return 0;

  if (at < text.size() && (text[at] == 'E' || text[at] == 'e' || text[at] == 'D' || text[at] == 'd')) {
    ++at;
    bool negativeExponent = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negativeExponent = text[at++] == '-';
    int64_t exponent = 0;
    for (; IsDecimalDigit(text, at); ++at) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[at] - '0');
    }
    if (exponent > kExponentCap) exponent = kExponentCap;
    scale += negativeExponent ? -exponent : exponent;
  }

  if (mantissa == 0) return 0;
  // The mantissa has `significant` digits, so the value lies in
  // [10^(significant - 1 + scale), 10^(significant + scale)).
  const int64_t magnitude = significant - 1 + scale;
  Number value;
  if (magnitude >= 4932) {
    value = kOverflowValue;
  } else if (magnitude + 1 <= -4933) {
    value = 0;
  } else if (scale >= 0) {
    value = static_cast<Number>(mantissa) * PowerOfTen(scale);
  } else if (scale >= -4931) {
    value = static_cast<Number>(mantissa) / PowerOfTen(-scale);
  } else {
    // Only subnormal results get here: 10^-scale itself would overflow, so divide in two steps.
    value = static_cast<Number>(mantissa) / PowerOfTen(4931) / PowerOfTen(-scale - 4931);
  }
  // With a narrower Number (see text.h) the multiplication itself may overflow.
  if (std::isinf(value)) value = kOverflowValue;
  return negative ? -value : value;
}

int32_t RoundToInt32(Number value) {
  if (std::isnan(value)) return INT32_MIN;
  const Number rounded = RoundHalfEven(value);
  if (rounded < -2147483648.0L || rounded > 2147483647.0L) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

namespace {
constexpr int kFormatDigits = 7;
constexpr uint64_t kTenTo17 = 100000000000000000ULL;
constexpr uint64_t kTenTo18 = 1000000000000000000ULL;

// The magnitude as 18 significant digits (a whole number in [10^17, 10^18), rounded to nearest)
// and the power of ten of its first digit: 640 -> 640000000000000000, 2.
void EighteenDigits(Number magnitude, uint64_t* digits, int64_t* exponent) {
  int64_t e = static_cast<int64_t>(std::floor(std::log10(magnitude)));
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int64_t shift = 17 - e;
    Number scaled;
    if (shift >= 0) {
      // Subnormal magnitudes need more than one step for the same reason as in ParseNumber.
      scaled = shift > 4900 ? magnitude * PowerOfTen(4900) * PowerOfTen(shift - 4900)
                            : magnitude * PowerOfTen(shift);
    } else {
      scaled = magnitude / PowerOfTen(-shift);
    }
    const Number rounded = RoundHalfEven(scaled);
    if (rounded >= static_cast<Number>(kTenTo18)) {
      if (rounded == static_cast<Number>(kTenTo18)) {
        *digits = kTenTo17;
        *exponent = e + 1;
        return;
      }
      ++e;  // the estimate of the exponent was one too small
    } else if (rounded < static_cast<Number>(kTenTo17)) {
      --e;  // one too large
    } else {
      *digits = static_cast<uint64_t>(rounded);
      *exponent = e;
      return;
    }
  }
  *digits = kTenTo17;
  *exponent = e;
}
}  // namespace

std::string FormatNumber(Number value) {
  const std::string sign = value < 0 ? "-" : " ";
  if (std::isnan(value) || value == 0) return " 0";

  uint64_t kept;      // the significant digits, trailing zeros dropped
  int64_t exponent;   // the power of ten that multiplies `kept`
  if (std::isinf(value)) {
    kept = 9999999;
    exponent = 998;
  } else {
    uint64_t digits;
    int64_t first;
    EighteenDigits(std::fabs(value), &digits, &first);
    // Cut to seven digits by digit eight alone; a 5 rounds up only after an odd seventh digit.
    kept = digits / 100000000000ULL;
    const uint64_t eighth = (digits / 10000000000ULL) % 10;
    if (eighth > 5 || (eighth == 5 && kept % 2 == 1)) ++kept;
    exponent = first - (kFormatDigits - 1);
    if (kept == 10000000) {  // the carry ran through all seven digits
      kept = 1000000;
      ++exponent;
    }
    while (kept % 10 == 0) {
      kept /= 10;
      ++exponent;
    }
  }

  const std::string digits = std::to_string(kept);
  const int64_t s = static_cast<int64_t>(digits.size());
  if (exponent == 0) return sign + digits;
  if (exponent > 0 && s + exponent <= kFormatDigits) {
    return sign + digits + std::string(static_cast<size_t>(exponent), '0');
  }
  if (exponent < 0 && -exponent <= kFormatDigits) {
    const int64_t f = -exponent;
    if (s > f) return sign + digits.substr(0, static_cast<size_t>(s - f)) + "." + digits.substr(static_cast<size_t>(s - f));
    return sign + "." + std::string(static_cast<size_t>(f - s), '0') + digits;
  }
  const int64_t scientific = exponent + s - 1;
  std::string text = sign + digits.substr(0, 1);
  if (s > 1) text += "." + digits.substr(1);
  text += scientific < 0 ? "E-" : "E+";
  return text + std::to_string(scientific < 0 ? -scientific : scientific);
}
