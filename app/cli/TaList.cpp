#include "cli/TaList.h"

#include <cerrno>
#include <cstdlib>

namespace tarvo::cli {

std::optional<std::string> parseTaList(const std::string& text, std::array<bool, 8>& enable) {
    if (text.empty()) {
        return "--ta needs a list of TA numbers 1..8";
    }
    std::array<bool, 8> parsed{};
    size_t start = 0;
    while (true) {
        const size_t end = text.find(',', start);
        const std::string item = text.substr(start, end - start);
        char* stop = nullptr;
        errno = 0;
        const long ta = item.empty() ? 0 : std::strtol(item.c_str(), &stop, 10);
        if (item.empty() || errno != 0 || *stop != '\0' || ta < 1 || ta > 8) {
            return "bad TA number '" + item + "' (1..8)";
        }
        parsed[static_cast<size_t>(ta - 1)] = true;
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    enable = parsed;
    return std::nullopt;
}

}  // namespace tarvo::cli
