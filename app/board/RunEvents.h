#pragma once

#include "shell/ManualResetEvent.h"

namespace tarvo {

// The four manual-reset events of a run.
struct RunEvents {
    ManualResetEvent StopEvent;
    ManualResetEvent AcquisitionDoneEvent;
    ManualResetEvent HistogramDoneEvent;
    ManualResetEvent DisplayReadyEvent;
};

}  // namespace tarvo
