#pragma once

#include <cstdint>

#include "board/BoardContext.h"
#include "board/DisplayBuffers.h"
#include "board/RunEvents.h"
#include "board/RunProgress.h"

namespace tarvo {

// The board's view of a run: the operations that read events report into the run's progress,
// display buffers and events, which the record above the board owns. The run-state record
// converts to this view, so operations are called with the record itself.
struct BoardRun {
    BoardContext context;
    RunProgress& progress;
    DisplayBuffers& display;
    RunEvents& events;
    uint32_t& channel;  // the monitor channel; SetReadoutMode keeps it in step with the board
};

}  // namespace tarvo
