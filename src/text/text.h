// Texts and numbers as the plug-in exchanges them with its host.
//
// A text is a std::string of bytes in the system's ANSI code page; no operation here interprets
// the bytes beyond the rules stated with it. Positions are 1-based. No operation fails or
// reports: every input, however malformed, has a defined result, and the time each takes grows
// linearly with its input. Numbers are in text/number.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest text read from a host character pointer: 2^24 bytes.
constexpr size_t kMaxHostTextBytes = size_t{1} << 24;

// The bytes before the first zero, reading at most kMaxHostTextBytes. Null gives "".
std::string TextFromCString(const char* text);

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

