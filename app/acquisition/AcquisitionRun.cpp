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
    if (!state.adcRev1) {
        return LegacyReadoutWorker;
    }
    switch (state.acquisitionType) {
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
            return sequenceWorkers()[state.acquisitionType - 5];
        default:
            return nullptr;
    }
}

std::thread StartAcquisition(RunState& state) {
    BoardAccess board(state);
    if (state.vmeHandle == -1) {
        board.error("Fatal: Initialization FAIL\nPress VME Reset to initilize");
        state.lastError.store(CommError);
        return {};
    }
    state.acquisitionIdle.store(false);
    if (board.write(board::kOffsetAdc, state.offsetAdc) != 0) {
        board.error("FATAL: Write OffsetADC FAIL");
    }
    state.cyclesDone.store(0);
    state.busErrorCount.store(0);
    state.eventsLost.store(0);
    state.sumCount.store(0);
    state.StopEvent.reset();
    state.AcquisitionDoneEvent.reset();
    state.DisplayReadyEvent.reset();
    state.resetScale.store(true);

    WorkerProc worker = workerFor(state);
    if (worker == nullptr) {
        // Nothing will ever set the event otherwise, and the window would wait for ever.
        state.AcquisitionDoneEvent.set();
        return {};
    }
    return std::thread([&state, worker] { worker(state); });
}

void StopAcquisition(RunState& state) {
    state.StopEvent.set();
}

int32_t SoftTrigger(RunState& state) {
    BoardAccess board(state);
    state.DisplayReadyEvent.reset();
    int32_t result = board.write(board::kSoftwareTrigger, 0);
    if (result != 0) {
        state.lastError.store(result);
        board.error("FATAL: Software Trigger FAIL");
    }
    return result;
}

RunTimerTick OnRunTimer(RunState& state) {
    RunTimerTick tick;
    if (state.AcquisitionDoneEvent.isSet()) {
        state.AcquisitionDoneEvent.reset();
        state.acquisitionIdle.store(true);
        tick.finished = true;
        if (state.excelOpen) {
            state.excelOpen = false;
            tick.closeWorkbook = true;
        }
    }
    tick.cycleCount = state.cycleCount;
    tick.cyclesDone = state.cyclesDone.load();
    tick.busErrorCount = state.busErrorCount.load();
    tick.eventsLost = state.eventsLost.load();
    tick.lastError = state.lastError.load();
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
