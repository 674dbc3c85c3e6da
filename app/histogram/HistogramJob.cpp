#include "histogram/HistogramJob.h"

#include "acquisition/RunState.h"
#include "histogram/HistogramWorker.h"
#include "shell/Operator.h"

namespace tarvo {

HistogramTick histogramTimerStep(RunState& state) {
    HistogramTick tick;
    if (state.events.HistogramDoneEvent.isSet()) {
        state.events.HistogramDoneEvent.reset();
        state.progress.histogramIdle.store(true);
        tick.finished = true;
    }
    tick.bytesProcessed = state.progress.bytesProcessed.load(std::memory_order_relaxed);
    tick.position = static_cast<uint32_t>(tick.bytesProcessed);
    tick.total = state.progress.histogramTotal.load();
    tick.fifo = state.progress.histogramFifo.load();
    return tick;
}

HistogramJob::HistogramJob(RunState& state, SpectrumClock clock)
    : state_(state), clock_(std::move(clock)) {}

HistogramJob::~HistogramJob() {
    if (worker_.joinable()) {
        stop();
        if (state_.op != nullptr && !state_.events.HistogramDoneEvent.isSet()) {
            state_.op->shutDown();
        }
        worker_.join();
        state_.events.HistogramDoneEvent.reset();
        state_.progress.histogramIdle.store(true);
    }
}

void HistogramJob::stop() {
    if (running_) {
        state_.progress.histogramStopRequested.store(true);
    }
}

bool HistogramJob::start() {
    if (running_) {
        return false;  // one histogram worker at a time
    }
    state_.progress.histogramIdle.store(false);
    if (auto message = validateHistogramFields(state_)) {
        state_.op->error(*message);
        state_.progress.histogramIdle.store(true);
        return false;
    }
    state_.events.HistogramDoneEvent.reset();
    state_.progress.bytesProcessed.store(0);
    state_.progress.histogramTotal.store(0);
    state_.progress.histogramStopRequested.store(false);
    succeeded_ = false;
    running_ = true;
    worker_ = std::thread([this] {
        succeeded_ = state_.settings.adcRev1 ? FifoHistogramWorker(state_, clock_)
                                             : LegacyHistogramWorker(state_, clock_);
    });
    return true;
}

HistogramTick HistogramJob::tick() {
    HistogramTick tick = histogramTimerStep(state_);
    if (tick.finished) {
        // The worker has set its event as its last act; joining also publishes succeeded_.
        if (worker_.joinable()) {
            worker_.join();
        }
        running_ = false;
    }
    return tick;
}

}  // namespace tarvo
