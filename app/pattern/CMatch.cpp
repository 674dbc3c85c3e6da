#include "pattern/CMatch.h"

#include <climits>
#include <cstring>
#include <stdexcept>

#include "pattern/PatternMatcher.h"

CMatch::CMatch(const char* pattern) {
    int consumed = 0;
    m_list.Compile(pattern, consumed, 1);
}

CMatch::~CMatch() = default;

int CMatch::Match(const char* text, int start, int* end) {
    if (m_list.empty()) {
        throw std::invalid_argument("match with an empty pattern");
    }
    if (text == nullptr || start < 0) {
        throw std::invalid_argument("match needs a text and a start inside it");
    }
    // Positions are ints: a text that does not fit is refused rather than miscounted. A start
    // beyond the terminating NUL has nothing to match and must not be read.
    const size_t length = strnlen(text, INT_MAX);
    if (length == INT_MAX) {
        throw std::invalid_argument("text too long to match");
    }
    // A failed search leaves no result of an earlier match behind.
    m_list.resetTouched();
    if (static_cast<size_t>(start) > length) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);

    const CObjExp& first = m_list.front();
    const bool anchored = first.m_nType == CObjExp::kAtom && first.m_bLineStart;
    for (int position = start; anchored || bytes[position] != '\0'; ++position) {
        m_list.resetTouched();
        const int matchEnd = pattern_detail::matchList(m_list, bytes, position);
        if (matchEnd >= 0) {
            if (end != nullptr) {
                *end = matchEnd;
            }
            return 1;
        }
        if (anchored) {
            break;
        }
    }
    return 0;
}

std::string CMatch::GetText(int firstMark, int secondMark, const char* text) const {
    int from = -1;
    int to = -1;
    m_list.GetMarkPair(firstMark, secondMark, from, to);
    if (from < 0 || to < from || text == nullptr) {
        return std::string();
    }
    // Bounded by the text's own end, in case a caller passes another text than it matched.
    const size_t available = strnlen(text, static_cast<size_t>(to));
    if (available <= static_cast<size_t>(from)) {
        return std::string();
    }
    return std::string(text + from, available - from);
}
