#include "acquisition/AcquisitionRun.h"

#include <array>
#include <cstdio>

#include "KOVRAVMElib.h"
#include "board/BoardAccess.h"
#include "board/BoardRegisters.h"

namespace tarvo {
namespace {

std::array<WorkerProc, 2>& sequenceWorkers() {
    static std::array<WorkerProc, 2> workers{};
    return workers;
}

}  // namespace

void registerSequenceWorker(int32_t acquisitionType, WorkerProc worker) {
    if (acquisitionType == 5 || acquisitionType == 6) {
        sequenceWorkers()[acquisitionType - 5] = worker;
    }
}

WorkerProc workerFor(const RunState& state) {
    if (!state.settings.adcRev1) {
        return LegacyReadoutWorker;
    }
    switch (state.settings.acquisitionType) {
        case 0:
        case 3:
            return FifoReadoutWorker;
        case 1:
        case 2:
            return MonitorWorker;
        case 4:
            return FindPeakWorker;
        case 5:
        case 6:
            return sequenceWorkers()[state.settings.acquisitionType - 5];
        default:
            return nullptr;
    }
}

std::thread StartAcquisition(RunState& state) {
    BoardAccess board(state.boardContext());
    if (state.vmeHandle == -1) {
        board.error("Fatal: Initialization FAIL\nPress VME Reset to initilize");
        state.progress.lastError.store(CommError);
        return {};
    }
    state.progress.acquisitionIdle.store(false);
    if (board.write(board::kOffsetAdc, state.settings.offsetAdc) != 0) {
        board.error("FATAL: Write OffsetADC FAIL");
    }
    state.progress.cyclesDone.store(0);
    state.progress.busErrorCount.store(0);
    state.progress.eventsLost.store(0);
    state.display.sumCount.store(0);
    state.events.StopEvent.reset();
    state.events.AcquisitionDoneEvent.reset();
    state.events.DisplayReadyEvent.reset();
    state.display.resetScale.store(true);

    WorkerProc worker = workerFor(state);
    if (worker == nullptr) {
        // Nothing will ever set the event otherwise, and the window would wait for ever.
        state.events.AcquisitionDoneEvent.set();
        return {};
    }
    return std::thread([&state, worker] { worker(state); });
}

void StopAcquisition(RunState& state) {
    state.events.StopEvent.set();
}

int32_t SoftTrigger(RunState& state) {
    BoardAccess board(state.boardContext());
    state.events.DisplayReadyEvent.reset();
    int32_t result = board.write(board::kSoftwareTrigger, 0);
    if (result != 0) {
        state.progress.lastError.store(result);
        board.error("FATAL: Software Trigger FAIL");
    }
    return result;
}

RunTimerTick OnRunTimer(RunState& state) {
    RunTimerTick tick;
    if (state.events.AcquisitionDoneEvent.isSet()) {
        state.events.AcquisitionDoneEvent.reset();
        state.progress.acquisitionIdle.store(true);
        tick.finished = true;
        if (state.excelOpen) {
            state.excelOpen = false;
            tick.closeWorkbook = true;
        }
    }
    tick.cycleCount = state.settings.cycleCount;
    tick.cyclesDone = state.progress.cyclesDone.load();
    tick.busErrorCount = state.progress.busErrorCount.load();
    tick.eventsLost = state.progress.eventsLost.load();
    tick.lastError = state.progress.lastError.load();
    char text[64];
    std::snprintf(text, sizeof text, "BusError Count=%u", tick.busErrorCount);
    tick.busErrorText = text;
    std::snprintf(text, sizeof text, "Events Lose=%u", tick.eventsLost);
    tick.eventsLostText = text;
    return tick;
}

int displayTimerInterval(int32_t acquisitionType) {
    switch (acquisitionType) {
        case 1:
        case 2:
        case 4:
        case 5:
        case 6:
            return 200;
        default:
            return 2000;
    }
}

}  // namespace tarvo
