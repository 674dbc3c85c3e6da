#include "sequence/ScriptValues.h"

#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <limits>

namespace tarvo {
namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t skipSpace(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    return i;
}

size_t skipDigits(const std::string& text, size_t i) {
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    return i;
}

}  // namespace

std::int64_t leadingInteger(const std::string& text) {
    size_t i = skipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
    std::int64_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (value < kLimit) {
            value = value * 10 + (text[i] - '0');
        }
    }
    return negative ? -value : value;
}

double leadingDecimal(const std::string& text) {
    const size_t begin = skipSpace(text);
    size_t i = begin;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const size_t integerEnd = skipDigits(text, i);
    size_t end = integerEnd;
    bool digits = integerEnd > i;
    if (end < text.size() && text[end] == '.') {
        const size_t fractionEnd = skipDigits(text, end + 1);
        digits = digits || fractionEnd > end + 1;
        end = fractionEnd;
    }
    if (!digits) {
        return 0.0;
    }
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        size_t e = end + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) {
            ++e;
        }
        const size_t exponentEnd = skipDigits(text, e);
        if (exponentEnd > e) {
            end = exponentEnd;
        }
    }
    // The prefix holds only the decimal syntax checked above; the C locale makes '.' the point
    // whatever locale the program runs in.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string number = text.substr(begin, end - begin);
    return strtod_l(number.c_str(), nullptr, cLocale);
}

bool equalsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? a[i] - ('a' - 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? b[i] - ('a' - 'A') : b[i];
        if (x != y) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace tarvo
