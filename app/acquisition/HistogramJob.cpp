#include "acquisition/HistogramJob.h"

#include "acquisition/HistogramWorker.h"
#include "acquisition/RunState.h"
#include "shell/Operator.h"

namespace tarvo {

HistogramTick histogramTimerStep(RunState& state) {
    HistogramTick tick;
    if (state.HistogramDoneEvent.isSet()) {
        state.HistogramDoneEvent.reset();
        state.histogramIdle.store(true);
        tick.finished = true;
    }
    tick.bytesProcessed = state.bytesProcessed.load(std::memory_order_relaxed);
    tick.position = static_cast<uint32_t>(tick.bytesProcessed);
    tick.total = state.histogramTotal.load();
    tick.fifo = state.histogramFifo.load();
    return tick;
}

HistogramJob::HistogramJob(RunState& state, SpectrumClock clock)
    : state_(state), clock_(std::move(clock)) {}

HistogramJob::~HistogramJob() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool HistogramJob::GenerateChannels() {
    if (timerActive_) {
        return false;  // one histogram worker at a time
    }
    state_.histogramIdle.store(false);
    if (auto message = validateHistogramFields(state_)) {
        state_.op->error(*message);
        state_.histogramIdle.store(true);
        return false;
    }
    state_.HistogramDoneEvent.reset();
    state_.bytesProcessed.store(0);
    state_.histogramTotal.store(0);
    succeeded_ = false;
    timerActive_ = true;
    worker_ = std::thread([this] {
        succeeded_ = state_.adcRev1 ? FifoHistogramWorker(state_, clock_)
                                    : LegacyHistogramWorker(state_, clock_);
    });
    return true;
}

HistogramTick HistogramJob::timerStep() {
    HistogramTick tick = histogramTimerStep(state_);
    if (tick.finished) {
        // The worker has set its event as its last act; joining also publishes succeeded_.
        if (worker_.joinable()) {
            worker_.join();
        }
        timerActive_ = false;
    }
    return tick;
}

}  // namespace tarvo
