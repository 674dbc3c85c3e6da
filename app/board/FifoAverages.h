#pragma once

#include <cstdint>

namespace tarvo {

// What averaging one FIFO over n events gives: the mean of the per-sample averages, and the
// averages at the highest and at the lowest sample (the first index wins on ties).
struct FifoAverage {
    uint32_t mean = 0;
    uint32_t peak = 0;
    uint32_t peakNeg = 0;
};

constexpr int kAveragedWords = 512;

// Turns 512 per-sample sums over n events into rounded averages, in place. With n below 1 there
// is nothing to divide by and every average is 0.
FifoAverage averageFifo(uint32_t* sums, int32_t n);

}  // namespace tarvo
