#include "acquisition/LiveDisplay.h"

#include <algorithm>

#include "acquisition/RunState.h"

namespace tarvo {

std::optional<DisplayFrame> LiveDisplay::step(RunState& state, int spyFifo, bool holdMinMax,
                                              AxisRange currentY, int sequencePoints) {
    if (!state.events.DisplayReadyEvent.isSet()) {
        return std::nullopt;
    }
    DisplayFrame frame;
    if (!state.settings.adcRev1) {
        // The older layout's 512-word block: 13-bit samples.
        frame.data.reserve(RunState::kSpyWords);
        for (uint32_t word : state.display.SpyBuffer[0]) {
            frame.data.push_back(word & 0x1FFF);
        }
    } else {
        const int fifo = std::clamp(spyFifo, 0, RunState::kFifoCount - 1);
        const int n = std::clamp(displayPointsFor(state.settings.acquisitionType, sequencePoints),
                                 0, RunState::kSpyWords);
        if (state.display.resetScale.load() || !holdMinMax) {
            min_ = 65535;
            max_ = 0;
        }
        frame.data.reserve(n);
        for (int i = 0; i < n; ++i) {
            uint32_t v = state.display.SpyBuffer[fifo][i] & 0xFFF;
            min_ = std::min(min_, v);
            max_ = std::max(max_, v);
            frame.data.push_back(v);
        }
        if (n > 0) {
            frame.yRange = adjustYAxis(min_, max_, currentY);
        }
        const uint32_t sums = state.display.sumCount.load();
        if (sums > 1) {
            frame.averages.reserve(n);
            for (int i = 0; i < n; ++i) {
                frame.averages.push_back((state.display.SumBuffer[fifo][i] + sums / 2) / sums);
            }
        }
    }
    state.events.DisplayReadyEvent.reset();
    return frame;
}

}  // namespace tarvo
