#pragma once

#include <cstdint>

namespace velgor {

// The number rules of the settings files and dialogs. None of them ever fails:
// text without a number gives 0.

// Leading white space, an optional sign, then decimal digits up to the first
// other character. A value beyond the 32-bit range saturates at INT32_MIN or
// INT32_MAX. A null pointer gives 0.
std::int32_t parseLenientInt(const char* text);

// Leading white space, an optional sign, decimal digits with an optional '.'
// fraction and an optional exponent. '.' is the decimal separator whatever the
// process locale. A value beyond the range of double gives +/- infinity, one
// too small gives 0. A null pointer gives 0.
double parseLenientReal(const char* text);

// A port keeps the low 16 bits of its integer (65536 -> 0, -1 -> 65535).
std::uint16_t portFromInt(std::int32_t value);

// Ends the text at its first CR or LF; everything from there on is dropped.
void cutAtLineEnd(char* text);

}  // namespace velgor
