#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

// The find-peak type's closing summary: averages the 8 x 512 sums over `cycles` events in place
// and gives one line per FIFO, "FIFO%d Peak=%4d PeakNeg=%4d Average=%d\n". With fewer than one
// cycle nothing was summed and every figure is 0.
std::string findPeakSummary(uint32_t* sums, int32_t cycles);

}  // namespace tarvo
