#include "acquisition/FindPeakSummary.h"

#include <cstdio>

#include "board/FifoAverages.h"

namespace tarvo {

std::string findPeakSummary(uint32_t* sums, int32_t cycles) {
    std::string text;
    for (int k = 0; k < 8; ++k) {
        FifoAverage avg = averageFifo(sums + static_cast<size_t>(k) * kAveragedWords, cycles);
        char line[96];
        std::snprintf(line, sizeof line, "FIFO%d Peak=%4d PeakNeg=%4d Average=%d\n", k + 1,
                      static_cast<int>(avg.peak), static_cast<int>(avg.peakNeg),
                      static_cast<int>(avg.mean));
        text += line;
    }
    return text;
}

}  // namespace tarvo
