#pragma once

#include <cstdint>

#include "acquisition/RunSettings.h"
#include "board/BoardContext.h"
#include "board/BoardRun.h"
#include "board/DisplayBuffers.h"
#include "board/RunEvents.h"
#include "board/RunProgress.h"

namespace tarvo {

class BoardBus;
class Operator;

// The run-state record: what the main window shares with the acquisition and histogram workers.
// The window owns one RunState and hands it to a worker as its only argument. It is composed of
// the settings the window persists (a copyable value), the progress counters (atomics), the
// display buffers and the four events of a run.
struct RunState {
    static constexpr int kFifoCount = RunSettings::kFifoCount;
    static constexpr int kSpyWords = DisplayBuffers::kSpyWords;
    static_assert(kFifoCount == DisplayBuffers::kFifoCount);

    RunSettings settings;
    RunProgress progress;
    DisplayBuffers display;
    RunEvents events;

    int32_t vmeHandle = -1;
    BoardBus* bus = nullptr;  // how board accesses reach the bridge; nullptr: the bridge library
    Operator* op = nullptr;   // who the workers report to; set before a worker starts
    bool excelOpen = false;

    BoardContext boardContext() const { return {vmeHandle, bus, settings.baseAddress, op}; }
    // The board operations take the record through this view.
    operator BoardRun() { return {boardContext(), progress, display, events, settings.channel}; }
};

}  // namespace tarvo
