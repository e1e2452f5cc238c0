// Texts and numbers as the plug-in exchanges them with its host.
//
// A text is a std::string of bytes in the system's ANSI code page; no operation here interprets
// the bytes beyond the rules stated with it. Positions are 1-based. No operation fails or
// reports: every input, however malformed, has a defined result, and the time each takes grows
// linearly with its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Numbers carry a 64-bit significand: long double is the x87 extended type in the i686 build and
// in a native x86-64 GCC or Clang build, so both compute the same digits. An MSVC build has
// long double = double (53 bits): it gives the same results for every text of at most 15
// significant digits within the double range, which covers every width, height and image
// dimension, but loses the 16th to 18th digits and the range beyond about 1.8E+308.
typedef long double Number;

// <commdlg.h> (kept out by WIN32_LEAN_AND_MEAN) defines FindText as a macro for its own
// function; it must not rename this one.
#ifdef FindText
#undef FindText
#endif

// The longest text read from a host character pointer: 2^24 bytes.
constexpr size_t kMaxHostTextBytes = size_t{1} << 24;

// The bytes before the first zero, reading at most kMaxHostTextBytes. Null gives "".
std::string TextFromCString(const char* text);

// Reads a number at the start of a text; whatever follows it is ignored and a text without a
// number gives 0. Leading blanks, TABs and line feeds are skipped (not CR). Decimal forms take
// one sign, digits with one full stop, and an E, e, D or d exponent (capped at 9999):
// "640" -> 640, "  640px" -> 640, "1e3" -> 1000, "1.2.3" -> 1.2, "+-5" -> 0, "- 5" -> 0.
// At most 18 significant digits are used; later ones only scale. A magnitude of 10^4932 or more
// gives 2^127, one below 10^-4933 gives 0. Radix forms: &H (hex), &B (binary), &O or &Q or just
// & (octal), with the suffixes % & && ? ?? ???: "&H20" -> 32, "&17" -> 15, "&HFFFF" -> -1,
// "&HFFFF&" -> 65535, "&HFFFFFFFF&&" -> 4294967295.
Number ParseNumber(const std::string& text);

// Nearest whole number, halves to the even neighbour: 2.5 -> 2, 3.5 -> 4, -2.5 -> -2. Anything
// outside the signed 32-bit range, and NaN, gives -2147483648.
int32_t RoundToInt32(Number value);

// Seven significant digits behind a sign column (a blank, or "-" for negative values):
// 640 -> " 640", 0 -> " 0", 0.5 -> " .5", -3 -> "-3", 12345678 -> " 1.234568E+7",
// 0.00000001 -> " 1E-8". The cut looks at the eighth digit alone, a 5 rounding up only after an
// odd seventh digit. NaN is written as zero, an infinite value as 9999999 times 10^998.
std::string FormatNumber(Number value);

// Field n of the text, fields being the pieces between non-overlapping occurrences of delimiter
// found from the left: field 3 of "a|b|c|d" is "c", field -1 is "d", field 5 and field 0 are "".
// Nothing is trimmed. The delimiter must not be empty.
std::string ExtractField(const std::string& text, const std::string& delimiter, int32_t n);

// Without the runs of blanks (0x20 only) at both ends: " photo.png " -> "photo.png".
std::string TrimSpaces(const std::string& text);

// a to z become A to Z; every other byte stays.
std::string UpperCase(const std::string& text);

// The 1-based position of pattern in text, 0 when it is not there or text is empty.
// start >= 1: the first occurrence at or after start; an empty pattern gives start, a start past
// the end gives 0. start < 0: the last occurrence that ends at or before p = length + start + 1
// (so -1 searches the whole text): FindText(-1, "a.b.c", ".") -> 4; an empty pattern gives p,
// p <= 0 gives 0. start 0 gives 0.
int32_t FindText(int32_t start, const std::string& text, const std::string& pattern);

// The text from a 1-based position to its end: MidText("photo.jpg", 7) -> "jpg". A position of
// 0 or below, or past the end, gives "".
std::string MidText(const std::string& text, int32_t position);

// Same length and same bytes.
bool TextEqual(const std::string& a, const std::string& b);
