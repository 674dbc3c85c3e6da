#pragma once

#include "acquisition/RunState.h"

namespace tarvo {

// The readout workers. Each takes the run state as its only argument, sets AcquisitionDoneEvent
// on every way out, and returns 0 when it ran to the end and 1 when it stopped early (stop
// request, board or file error).
using WorkerProc = int (*)(RunState&);

// "Normal Read-out" and "Read-out with Shift-in": 8 x 256 words per event, written to the FIFO
// files of the enabled TA sections.
int FifoReadoutWorker(RunState& state);
// "Test Mode Set-Up" and "Monitor Mode Set-up": 8 x 512 words per event, display only.
int MonitorWorker(RunState& state);
// "Monitor Mode Set-up find Peak": as the monitor, summing every sample; a summary at the end.
int FindPeakWorker(RunState& state);
// The older board layout (ADC Rev1 not checked): the stream port cut into 512-word events.
int LegacyReadoutWorker(RunState& state);

}  // namespace tarvo
