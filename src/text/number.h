// Numbers from texts and texts from numbers, as the plug-in exchanges them with its host.
// Platform-free; like the text operations, none fails or reports.
#pragma once

#include <cstdint>
#include <string>

// Numbers carry a 64-bit significand: long double is the x87 extended type in the i686 build and
// in a native x86-64 GCC or Clang build, so both compute the same digits. An MSVC build has
// long double = double (53 bits): it gives the same results for every text of at most 15
// significant digits within the double range, which covers every width, height and image
// dimension, but loses the 16th to 18th digits and the range beyond about 1.8E+308.
typedef long double Number;

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
