// The text and number conventions. Built twice, natively under the sanitizers and in the i686
// build under Wine; both must pass the same tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "text/number.h"
#include "text/text.h"

namespace {
const Number k2To127 = std::ldexp(Number{1}, 127);
const Number kInf = std::numeric_limits<Number>::infinity();

TEST(TextFromCString, BytesBeforeTheFirstZero) {
  const struct {
    const char* pointer;
    std::string expected;
  } cases[] = {
      {nullptr, ""}, {"", ""}, {"a|b", "a|b"}, {"ab\0cd", "ab"}, {"\xE9\x80\xFF", "\xE9\x80\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFromCString(c.pointer), c.expected);
}

struct ParseCase {
  std::string text;
  Number expected;
};

TEST(ParseNumber, DecimalForms) {
  const ParseCase cases[] = {
      // Leading white space: blank, TAB and LF only.
      {"640", 640}, {"640px", 640}, {"  640", 640}, {"\t12", 12}, {"\n12", 12}, {"\r12", 0},
      {"\x0B" "12", 0},
      // Signs: at most one, directly before the digits.
      {"-3", -3}, {"+7", 7}, {"+-5", 0}, {"- 5", 0}, {"-", 0}, {"--5", 0},
      // Full stops.
      {"1.2.3", 1.2L}, {".5", 0.5L}, {"5.", 5}, {".", 0}, {"-.5", -0.5L}, {"1,5", 1},
      {"0x20", 0}, {"", 0}, {"abc", 0}, {"00012", 12}, {"0.0", 0}, {"100.5", 100.5L},
      // Exponents.
      {"1e3", 1000}, {"1D2", 100}, {"1d-2", 0.01L}, {"1E+2", 100}, {"1e", 1}, {"1e+", 1},
      {"1ex", 1}, {"1.5e1", 15}, {".5e1", 5}, {"e5", 0}, {"2.5E-1", 0.25L},
      // The 18-digit cut: later digits scale or are dropped, never rounded.
      {"123456789012345678999", 123456789012345678000.0L},
      {"1000000000000000000000000000000", 1e30L},
      {"0.1234567890123456789999", 0.123456789012345678L},
      {"0.000000000000000000001", 1e-21L},
      // Range: 10^4932 and beyond give 2^127, below 10^-4933 gives 0.
      {"1e9999", k2To127}, {"1e99999", k2To127}, {"10e4931", k2To127}, {"-1e5000", -k2To127},
      {"1e-9999", 0}, {"0.9e-4933", 0},
  };
  for (const ParseCase& c : cases) EXPECT_EQ(ParseNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseNumber, ExponentCapAndRangeEdges) {
  // 10^9999 written out, then e-12000: the exponent is capped at 9999, so the value is 1.
  EXPECT_EQ(ParseNumber("1" + std::string(9999, '0') + "e-12000"), 1);
  // Near the top and the bottom of the range the value is finite and non-zero.
  const Number high = ParseNumber("9e4931");
  EXPECT_TRUE(std::isfinite(high));
  EXPECT_GT(high, Number{8e4931L});
  const Number low = ParseNumber("1e-4933");
  EXPECT_GT(low, 0);
  EXPECT_LT(low, Number{2e-4933L});
}

TEST(ParseNumber, RadixForms) {
  const ParseCase cases[] = {
      {"&H20", 32}, {"&h1f", 31}, {"&B101", 5}, {"&b2", 0}, {"&17", 15}, {"&o17", 15},
      {"&Q7", 7}, {"&q10", 8}, {"&8", 0}, {"&H", 0}, {"&", 0}, {"&HG", 0}, {" &H10", 16},
      {"-&H10", 0},
      // 16-bit and 32-bit patterns read as negative unless a suffix or a leading 0 says not.
      {"&HFFFF", -1}, {"&H0FFFF", 65535}, {"&HFFFF&", 65535}, {"&HFFFF%", -1},
      {"&H8000", -32768}, {"&H7FFF", 32767}, {"&H10000", 65536}, {"&HFFFFFFFF", -1},
      {"&HFFFFFFFF&", -1}, {"&HFFFFFFFF&&", 4294967295.0L}, {"&H80000000", -2147483648.0L},
      {"&H0FFFFFFFF", 4294967295.0L}, {"&HFFFF??", 65535}, {"&HFFFFFFFF???", 4294967295.0L},
      // Bit 63 makes the pattern negative; ? turns that into 0; more than 64 bits give 0.
      {"&HFFFFFFFFFFFFFFFF", -1}, {"&H8000000000000000", -9223372036854775808.0L},
      {"&HFFFFFFFFFFFFFFFF?", 0}, {"&H7FFFFFFFFFFFFFFF?", 9223372036854775807.0L},
      {"&H10000000000000000", 0}, {"&H1FFFFFFFFFFFFFFFF", 0},
  };
  for (const ParseCase& c : cases) EXPECT_EQ(ParseNumber(c.text), c.expected) << '"' << c.text << '"';
}

TEST(RoundToInt32, NearestWithHalvesToEven) {
  const struct {
    Number value;
    int32_t expected;
  } cases[] = {
      {2.5L, 2}, {3.5L, 4}, {-2.5L, -2}, {0.5L, 0}, {1.5L, 2}, {-0.5L, 0}, {-1.5L, -2},
      {100.5L, 100}, {101.5L, 102}, {0.49999999999L, 0}, {2.5000000001L, 3},
      {2147483647.0L, INT32_MAX}, {2147483647.4L, INT32_MAX}, {2147483647.5L, INT32_MIN},
      {-2147483648.0L, INT32_MIN}, {-2147483648.5L, INT32_MIN}, {-2147483647.5L, -2147483648},
      {3e9L, INT32_MIN}, {1e20L, INT32_MIN}, {kInf, INT32_MIN}, {-kInf, INT32_MIN},
      {std::numeric_limits<Number>::quiet_NaN(), INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(RoundToInt32(c.value), c.expected) << c.value;
}

TEST(RoundToInt32, OfParsedTexts) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {{"100.5", 100}, {"101.5", 102}, {"3000000000", INT32_MIN}, {"1e20", INT32_MIN},
               {"-1", -1}, {"&H280", 640}, {"  200", 200}, {"200px", 200}, {"abc", 0}};
  for (const auto& c : cases) EXPECT_EQ(RoundToInt32(ParseNumber(c.text)), c.expected) << c.text;
  EXPECT_EQ(static_cast<uint32_t>(RoundToInt32(ParseNumber("-1"))), 4294967295u);
  EXPECT_EQ(static_cast<uint32_t>(RoundToInt32(ParseNumber("1e20"))), 2147483648u);
}

TEST(FormatNumber, SevenDigitsBehindASignColumn) {
  const struct {
    Number value;
    const char* expected;
  } cases[] = {
      // The layouts.
      {640, " 640"}, {0, " 0"}, {-0.0L, " 0"}, {9999999, " 9999999"}, {10000000, " 1E+7"},
      {1234567, " 1234567"}, {1200000, " 1200000"}, {2.5L, " 2.5"}, {0.5L, " .5"},
      {-0.5L, "-.5"}, {-3, "-3"}, {0.0000001L, " .0000001"}, {0.00000001L, " 1E-8"},
      {0.00001234L, " 1.234E-5"}, {0.0001234L, " .0001234"}, {123.456L, " 123.456"},
      {1e100L, " 1E+100"}, {-1e-100L, "-1E-100"}, {1e4000L, " 1E+4000"},
      // The cut: digit 8 alone, a 5 rounding up after an odd digit 7.
      {12345678, " 1.234568E+7"}, {12345665, " 1.234566E+7"}, {12345675, " 1.234568E+7"},
      {12345664, " 1.234566E+7"}, {1234.5678L, " 1234.568"}, {123456749999, " 1.234567E+11"},
      // Carries through nines.
      {9999999.5L, " 1E+7"}, {99999995, " 1E+8"}, {9999998.5L, " 9999998"}, {0.99999995L, " 1"},
      // Single-precision values as GDI+ reports them.
      {static_cast<Number>(1369.6431884765625f), " 1369.643"}, {static_cast<Number>(0.1f), " .1"},
      // Overflow value, infinity and NaN.
      {k2To127, " 1.701412E+38"}, {kInf, " 9.999999E+1004"}, {-kInf, "-9.999999E+1004"},
      {std::numeric_limits<Number>::quiet_NaN(), " 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value), c.expected) << c.value;
}

TEST(ExtractField, FieldsBetweenDelimiters) {
  const struct {
    std::string text, delimiter;
    int32_t n;
    std::string expected;
  } cases[] = {
      {"a|b|c|d", "|", 3, "c"}, {"a|b|c|d", "|", 4, "d"}, {"a|b|c|d", "|", 5, ""},
      {"a|b|c|d", "|", 0, ""}, {"a|b|c|d", "|", -1, "d"}, {"a|b|c|d", "|", -2, "c"},
      {"a|b|c|d", "|", -4, "a"}, {"a|b|c|d", "|", -5, ""}, {"a|b|c|d", "|", INT32_MIN, ""},
      {"a||c", "|", 2, ""}, {"a|b|", "|", 3, ""}, {"abc", "|", 1, "abc"}, {"abc", "|", 2, ""},
      {"a| b |c", "|", 2, " b "}, {"", "|", 1, ""}, {"", "|", -1, ""}, {"", "|", 2, ""},
      {"|", "|", 1, ""}, {"|", "|", 2, ""}, {"\"a|b\"", "|", 2, "b\""},
      // Longer delimiters match left to right without overlapping.
      {"a|||b", "||", 2, "|b"}, {"a|||b", "||", -1, "|b"}, {"a|||b", "||", -2, "a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractField(c.text, c.delimiter, c.n), c.expected) << c.text << " " << c.n;
  }
}

TEST(TrimSpaces, OnlyBlanksAtBothEnds) {
  const struct {
    std::string text, expected;
  } cases[] = {{"   ", ""}, {"\t", "\t"}, {"", ""}, {" photo.png ", "photo.png"},
               {" a b ", "a b"}, {"  \t x\t  ", "\t x\t"}, {std::string(" \0 ", 3), std::string("\0", 1)}};
  for (const auto& c : cases) EXPECT_EQ(TrimSpaces(c.text), c.expected) << '"' << c.text << '"';
}

TEST(UpperCase, AsciiLettersOnly) {
  const struct {
    std::string text, expected;
  } cases[] = {{"jpg", "JPG"}, {"Jpeg", "JPEG"}, {"image/x-icon", "IMAGE/X-ICON"},
               {"a{z`@[", "A{Z`@["}, {"\xE9\xFF", "\xE9\xFF"}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(UpperCase(c.text), c.expected);
}

TEST(FindText, ForwardAndBackward) {
  const struct {
    int32_t start;
    std::string text, pattern;
    int32_t expected;
  } cases[] = {
      {-1, "a.b.c", ".", 4}, {-1, "photo", ".", 0}, {-1, "photo.", ".", 6},
      {-2, "a.b.c", ".", 4}, {-3, "a.b.c", ".", 2}, {-4, "a.b.c", ".", 2}, {-5, "a.b.c", ".", 0},
      {-6, "a.b.c", ".", 0}, {-1, "abcabc", "bc", 5}, {-2, "abcabc", "bc", 2},
      {-1, "ab", "abc", 0}, {-1, "abc", "", 3}, {-3, "abc", "", 1}, {-4, "abc", "", 0},
      {1, "", "x", 0}, {1, "", "", 0}, {-1, "", "", 0}, {1, "abc", "", 1}, {2, "abc", "", 2},
      {1, "photo.jpg", "jpg", 7}, {2, "abcabc", "a", 4}, {7, "abcabc", "a", 0},
      {6, "abcabc", "c", 6}, {1, "JPEG", "jpeg", 0}, {0, "abc", "a", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindText(c.start, c.text, c.pattern), c.expected)
        << c.start << " \"" << c.text << "\" \"" << c.pattern << '"';
  }
}

TEST(MidText, FromAPositionToTheEnd) {
  const struct {
    std::string text;
    int32_t position;
    std::string expected;
  } cases[] = {{"photo.jpg", 7, "jpg"}, {"photo.", 7, ""}, {"abc", 1, "abc"}, {"abc", 0, ""},
               {"abc", 3, "c"},         {"abc", 4, ""},    {"", 1, ""},       {"abc", -1, ""}};
  for (const auto& c : cases) EXPECT_EQ(MidText(c.text, c.position), c.expected);
}

// Formatting, reading back and formatting again changes nothing, for every image size and a
// spread of single-precision values across the whole range.
TEST(NumberProperties, FormatReadBackFormatIsStable) {
  auto check = [](Number value) {
    const std::string once = FormatNumber(value);
    const std::string twice = FormatNumber(ParseNumber(once));
    if (once != twice) ADD_FAILURE() << value << ": \"" << once << "\" then \"" << twice << '"';
    return once == twice;
  };
  for (int size = 0; size <= 70000; ++size) {
    const std::string text = FormatNumber(size);
    if (text != " " + std::to_string(size)) ADD_FAILURE() << size << " is written \"" << text << '"';
    if (text != " " + std::to_string(size) || !check(size)) break;  // one report is enough
  }
  for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65521) {
    float f;
    const uint32_t pattern = static_cast<uint32_t>(bits);
    std::memcpy(&f, &pattern, sizeof f);
    if (!check(f)) break;
  }
}

TEST(NumberProperties, WholeNumbersSurviveTextAndRounding) {
  auto check = [](int64_t n) {
    const int32_t back = RoundToInt32(ParseNumber(std::to_string(n)));
    if (back != n) ADD_FAILURE() << n << " came back as " << back;
    return back == n;
  };
  for (int64_t n = INT32_MIN; n <= INT32_MAX; n += 40009) {
    if (!check(n)) break;
  }
  for (int64_t n : {int64_t{INT32_MIN}, int64_t{INT32_MIN} + 1, int64_t{-1}, int64_t{0},
                    int64_t{1}, int64_t{INT32_MAX} - 1, int64_t{INT32_MAX}}) {
    check(n);
  }
}

// 16 MiB inputs: each operation is linear, so these take milliseconds.
TEST(NumberProperties, LargeInputsAreHandledInLinearTime) {
  const std::string bars(kMaxHostTextBytes, '|');
  EXPECT_EQ(ExtractField(bars, "|", -1), "");
  EXPECT_EQ(ExtractField(bars, "|", 1 << 23), "");
  EXPECT_EQ(FindText(-1, bars, "x"), 0);
  EXPECT_EQ(FindText(1, bars, "||x"), 0);
  EXPECT_EQ(TrimSpaces(std::string(kMaxHostTextBytes, ' ')), "");
  EXPECT_EQ(ParseNumber(std::string(kMaxHostTextBytes, '9')), k2To127);
  EXPECT_EQ(ParseNumber("0." + std::string(kMaxHostTextBytes, '0') + "1"), 0);
}
}  // namespace
