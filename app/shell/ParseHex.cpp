#include "shell/ParseHex.h"

namespace tarvo {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

uint32_t ParseHex(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        if (isBlank(text[i])) {
            break;
        }
        int digit = hexDigit(text[i]);
        if (digit < 0) {
            return 0;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

}  // namespace tarvo
