#pragma once

#include <cstdint>

namespace tarvo {

// The "Mode" combo of the main window: how a sample value is corrected against a base line
// before it is counted.
enum HistogramMode : int32_t {
    kModeNone = 0,
    kModeMerge = 1,
    kModeSwap = 2,
    kModeCh0Base = 3,
};

constexpr uint32_t kHistogramBins = 8192;
constexpr uint32_t kHalfScale = 4096;

// What happens to one sample value.
struct Correction {
    enum Kind { Count, Skip, Fail };
    Kind kind;
    uint32_t bin;     // the bin to count (Count only)
    uint32_t listed;  // the value the text file lists (Count and Skip)
};

namespace detail {
constexpr Correction mirror(uint32_t v, uint32_t b) {
    // 32-bit wrap-around, then read as signed: a base line stored as a negative number always
    // fails instead of landing somewhere plausible.
    auto m = static_cast<int32_t>(2u * b - v);
    if (m < 0 || static_cast<uint32_t>(m) >= kHistogramBins) {
        return {Correction::Fail, 0, v};
    }
    return {Correction::Count, static_cast<uint32_t>(m), v};
}
}  // namespace detail

// Corrects one FIFO-layout value v (0..8191) by mode. b is the FIFO's base line, base0 channel 0's
// value at the first sample of the window (Ch0Base only). A result outside the 8192 bins fails
// with the mode's error rather than being counted out of range; base lines above 4095 can
// produce one.
constexpr Correction correctValue(int32_t mode, uint32_t v, uint32_t b, uint32_t base0) {
    switch (mode) {
        case kModeNone:
            return {Correction::Count, v, v};
        case kModeMerge:
            return v >= b ? Correction{Correction::Count, v, v} : detail::mirror(v, b);
        case kModeSwap:
            if (v >= kHalfScale) {
                return {Correction::Count, v, v};
            }
            return v >= b ? Correction{Correction::Skip, 0, v} : detail::mirror(v, b);
        case kModeCh0Base: {
            uint32_t shifted = v + kHalfScale - base0;
            if (shifted >= kHistogramBins) {
                return {Correction::Fail, 0, shifted};
            }
            return {Correction::Count, shifted, shifted};
        }
        default:
            return {Correction::Skip, 0, v};
    }
}

// The message shown when correctValue fails in this mode.
const char* modeErrorText(int32_t mode);

}  // namespace tarvo
