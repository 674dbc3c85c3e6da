#include "shell/FieldValidation.h"

#include <charconv>

namespace tarvo {

std::string rangeMessage(std::string_view field, int64_t lo, int64_t hi) {
    return std::string(field) + ": enter an integer between " + std::to_string(lo) + " and " +
           std::to_string(hi) + ".";
}

std::variant<int64_t, std::string> readIntegerField(std::string_view text, std::string_view field,
                                                    int64_t lo, int64_t hi) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < lo ||
        value > hi) {
        return rangeMessage(field, lo, hi);
    }
    return value;
}

}  // namespace tarvo
