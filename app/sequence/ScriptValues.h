#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

// The leading decimal integer of `text` after optional white space and sign, 0 when there is
// none. Values too large for 32 bits come back clamped to the 64-bit range, never wrapped.
std::int64_t leadingInteger(const std::string& text);

// The leading decimal floating-point number of `text` after optional white space, 0.0 when there
// is none. Read the same in every locale; hexadecimal, "inf" and "nan" are not decimal numbers.
double leadingDecimal(const std::string& text);

// `a` and `b` are equal when ASCII letters are compared without regard to case.
bool equalsNoCase(const std::string& a, const char* b);

}  // namespace tarvo
