// Compiles an arbitrary pattern and matches it against an arbitrary text.
// Input: one flag byte (bit 0: exact case; bits 1-3: start position), the pattern, a NUL, the text.
// Pattern and text live in buffers of exactly their size, so a read past either's terminating NUL
// is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pattern/CMatch.h"

namespace {

std::unique_ptr<char[]> exactCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> copy(new char[size + 1]);
    std::memcpy(copy.get(), data, size);
    copy[size] = '\0';
    return copy;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every mark's position by a plain walk over every object, for checking the lookups.
void collectMarks(const CExpList& list, std::vector<int>& marks) {
    for (const CObjExp& object : list) {
        if (object.m_bMarkBefore) {
            marks.push_back(object.m_nStart);
        }
        if (object.m_bMarkAfter) {
            marks.push_back(object.m_nEnd);
        }
        if (object.m_nType == CObjExp::kGroup) {
            for (const _OBJDATA& entry : object) {
                collectMarks(*entry.alt, marks);
            }
        }
    }
}

// The match state of two compiles of one pattern must be equal object by object.
void checkSameState(const CExpList& a, const CExpList& b) {
    check(a.size() == b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        check(a[i].m_bMatched == b[i].m_bMatched && a[i].m_nAlt == b[i].m_nAlt &&
              a[i].m_nStart == b[i].m_nStart && a[i].m_nEnd == b[i].m_nEnd);
        if (a[i].m_nType == CObjExp::kGroup) {
            for (size_t k = 0; k < a[i].size(); ++k) {
                checkSameState(*a[i][k].alt, *b[i][k].alt);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int noCase = (data[0] & 1) ? 0 : 1;
    const int start = (data[0] >> 1) & 7;
    ++data;
    --size;
    const auto* separator = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t patternSize = separator ? static_cast<size_t>(separator - data) : size;
    const size_t textOffset = separator ? patternSize + 1 : size;
    auto pattern = exactCopy(data, patternSize);
    auto text = exactCopy(data + textOffset, size - textOffset);
    const int patternLength = static_cast<int>(std::strlen(pattern.get()));
    const int textLength = static_cast<int>(std::strlen(text.get()));

    CMatch match("");
    CMatch fresh("");
    int consumed = -1;
    try {
        match.List().Compile(pattern.get(), consumed, noCase);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    check(consumed >= 0 && consumed <= patternLength);
    int freshConsumed = -1;
    fresh.List().Compile(pattern.get(), freshConsumed, noCase);
    if (match.List().empty()) {
        return 0;
    }

    // A match must not depend on what the pattern matched before: warm one compile up on another
    // search, then compare it with a compile that only ever saw this one.
    match.Match(text.get(), 0);
    int end = -1;
    const int matched = match.Match(text.get(), start, &end);
    int freshEnd = -1;
    check(fresh.Match(text.get(), start, &freshEnd) == matched);
    checkSameState(match.List(), fresh.List());
    if (!matched) {
        return 0;
    }
    check(end == freshEnd);
    check(end >= start && end <= textLength);

    std::vector<int> marks;
    collectMarks(match.List(), marks);
    check(static_cast<int>(marks.size()) == match.List().MarkCount());
    const int count = static_cast<int>(marks.size());
    for (int n = 0; n <= count + 1; ++n) {
        const int expected = n >= 1 && n <= count ? marks[n - 1] : -1;
        check(match.List().GetMarkPos(n) == expected);
        check(expected >= -1 && expected <= textLength);
        const int second = count - n + 1;
        const int expectedSecond = second >= 1 && second <= count ? marks[second - 1] : -1;
        const std::string between = match.GetText(n, second, text.get());
        if (expected >= 0 && expectedSecond >= expected) {
            check(between == std::string(text.get() + expected, expectedSecond - expected));
        } else {
            check(between.empty());
        }
    }
    for (int n = 1; n < 16; ++n) {
        check(match.List().GetAltIndex(n) >= -1);
    }
    return 0;
}
