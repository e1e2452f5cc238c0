// Texts and numbers as the plug-in exchanges them with its host.
//
// A text is a std::string of bytes in the system's ANSI code page; no operation here interprets
// the bytes beyond the rules stated with it. Positions are 1-based. No operation fails or
// reports: every input, however malformed, has a defined result.
#pragma once

#include <cstddef>
#include <string>

// The longest text read from a host character pointer: 2^24 bytes.
constexpr size_t kMaxHostTextBytes = size_t{1} << 24;

// The bytes before the first zero, reading at most kMaxHostTextBytes. Null gives "".
std::string TextFromCString(const char* text);
