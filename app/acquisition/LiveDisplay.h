#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "acquisition/MainDialogRules.h"

namespace tarvo {

struct RunState;

// What the display timer draws from one picture.
struct DisplayFrame {
    std::vector<double> data;         // the data plot
    std::vector<double> averages;     // the red plot; empty when there are no sums to show
    std::optional<AxisRange> yRange;  // a new Y range, when the rule asks for one
};

// The display timer's step (timer 3): when DisplayReadyEvent is signalled, takes the picture
// out of the run state, keeps the running minimum and maximum for the Y-axis rule, and hands the
// event back to the worker.
class LiveDisplay {
  public:
    // spyFifo: the "Select Spy FIFO" index; currentY: the Y axis as it is now.
    std::optional<DisplayFrame> step(RunState& state, int spyFifo, bool holdMinMax,
                                     AxisRange currentY, int sequencePoints);

    uint32_t runningMin() const { return min_; }
    uint32_t runningMax() const { return max_; }

  private:
    uint32_t min_ = 65535;
    uint32_t max_ = 0;
};

}  // namespace tarvo
