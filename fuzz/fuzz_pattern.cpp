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
    int consumed = -1;
    try {
        match.List().Compile(pattern.get(), consumed, noCase);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    check(consumed >= 0 && consumed <= patternLength);

    int end = -1;
    int matched = 0;
    try {
        matched = match.Match(text.get(), start, &end);
    } catch (const std::invalid_argument&) {
        check(match.List().empty());
        return 0;
    }
    if (!matched) {
        return 0;
    }
    check(end >= start && end <= textLength);
    for (int n = 1; n < 64; ++n) {
        const int position = match.List().GetMarkPos(n);
        check(position >= -1 && position <= textLength);
        const std::string between = match.GetText(n, n + 1, text.get());
        check(between.size() <= static_cast<size_t>(textLength));
        const int alt = match.List().GetAltIndex(n);
        check(alt >= -1);
    }
    return 0;
}
