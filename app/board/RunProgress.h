#pragma once

#include <atomic>
#include <cstdint>

namespace tarvo {

// The counters a worker advances while the window's timers read them. The board's event reads
// keep them too, which is why they live beside the board.
struct RunProgress {
    // Acquisition.
    std::atomic<int32_t> cyclesDone{0};
    std::atomic<uint32_t> busErrorCount{0};
    std::atomic<uint32_t> eventsLost{0};
    std::atomic<int32_t> lastError{0};
    std::atomic<bool> acquisitionIdle{true};

    // Histogram generation. histogramTotal is the progress bar's range for the file being read
    // and histogramFifo its FIFO index (-1 for the older layout's clean file).
    std::atomic<uint64_t> bytesProcessed{0};
    std::atomic<bool> histogramIdle{true};
    std::atomic<uint64_t> histogramTotal{0};
    std::atomic<int32_t> histogramFifo{-1};
    // Set by the owner to make the histogram worker give up after the current record.
    std::atomic<bool> histogramStopRequested{false};
};

}  // namespace tarvo
