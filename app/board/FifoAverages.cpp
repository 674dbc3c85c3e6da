#include "board/FifoAverages.h"

namespace tarvo {

FifoAverage averageFifo(uint32_t* sums, int32_t n) {
    uint64_t total = 0;
    int peakIndex = 0;
    int peakNegIndex = 0;
    uint32_t peak = 0;
    uint32_t peakNeg = 0xFFFFFFFFu;
    for (int i = 0; i < kAveragedWords; ++i) {
        uint32_t avg = 0;
        if (n >= 1) {
            uint32_t count = static_cast<uint32_t>(n);
            avg = static_cast<uint32_t>((static_cast<uint64_t>(sums[i]) + count / 2) / count);
        }
        sums[i] = avg;
        if (avg > peak) {
            peak = avg;
            peakIndex = i;
        }
        if (avg < peakNeg) {
            peakNeg = avg;
            peakNegIndex = i;
        }
        total += avg;
    }
    FifoAverage result;
    result.mean = static_cast<uint32_t>((total + 256) >> 9);
    result.peak = sums[peakIndex];
    result.peakNeg = sums[peakNegIndex];
    return result;
}

}  // namespace tarvo
