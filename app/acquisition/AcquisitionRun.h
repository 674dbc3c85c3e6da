#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/RunState.h"

namespace tarvo {

// "START Acquire": checks the bridge, writes the ADC offset, clears the counters and events and
// starts the worker of the acquisition type. Returns the worker's thread; not joinable when no
// run started. The owner joins it once OnRunTimer reports the run finished. initFailure: why the
// bridge did not open, added to the message when there is none.
std::thread StartAcquisition(RunState& state, const std::string& initFailure = {});

// "Stop Acquire": asks the worker to stop; it sets AcquisitionDoneEvent when it has.
void StopAcquisition(RunState& state);

// "Soft Trigger": lets the next event through to the display and triggers the board. Returns the
// bridge result.
int32_t SoftTrigger(RunState& state);

// The worker StartAcquisition runs for the run state's layout and type; nullptr for none.
WorkerProc workerFor(const RunState& state);

// The sequence-test workers (types 5 and 6) are registered by the sequence tests.
void registerSequenceWorker(int32_t acquisitionType, WorkerProc worker);

// What one tick of the run timer (timer 1) shows.
struct RunTimerTick {
    bool finished = false;       // the worker has ended; the window goes back to idle
    bool closeWorkbook = false;  // a "Sequence Test Auto" workbook is to be closed
    int32_t cycleCount = 0;      // progress range 0..cycleCount
    int32_t cyclesDone = 0;      // progress position
    uint32_t busErrorCount = 0;
    uint32_t eventsLost = 0;
    int32_t lastError = 0;
    std::string busErrorText;    // "BusError Count=%u"
    std::string eventsLostText;  // "Events Lose=%u"
};

// The run timer's step, called every 500 ms while a run is active by the window and by tarvo-cli.
RunTimerTick OnRunTimer(RunState& state);

// The display timer's period (timer 3) for an acquisition type, in milliseconds.
int displayTimerInterval(int32_t acquisitionType);

}  // namespace tarvo
