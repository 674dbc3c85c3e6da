#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tarvo {

// A numeric field read from its text: the number, or the message that names the field and the
// range it accepts ("Channel: enter an integer between 0 and 31."). Leading and trailing blanks
// are allowed; anything else that is not a decimal integer in range is refused.
std::variant<int64_t, std::string> readIntegerField(std::string_view text, std::string_view field,
                                                    int64_t lo, int64_t hi);

std::string rangeMessage(std::string_view field, int64_t lo, int64_t hi);

}  // namespace tarvo
