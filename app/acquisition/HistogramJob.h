#pragma once

#include <cstdint>
#include <thread>

#include "acquisition/SpectrumWriter.h"

namespace tarvo {

struct RunState;

// What one tick of the histogram timer found.
struct HistogramTick {
    bool finished = false;  // the worker had ended: the timer stops, the controls return
    uint32_t position = 0;  // progress bar position: the low 32 bits of bytesProcessed
    uint64_t bytesProcessed = 0;
    uint64_t total = 0;  // progress bar range of the current file
    int32_t fifo = -1;   // current FIFO file, -1 for the older layout's clean file
};

// One step of the histogram timer (every 500 ms while a worker runs), shared by the window and
// the command line: when HistogramDoneEvent is signalled it is reset and the histogram controls
// become usable again.
HistogramTick histogramTimerStep(RunState& state);

// "Gen Channels" and the worker thread it starts. The owner calls GenerateChannels on the button
// and timerStep on every tick of its timer while timerActive().
class HistogramJob {
  public:
    explicit HistogramJob(RunState& state, SpectrumClock clock = localClock);
    ~HistogramJob();  // waits for a running worker: it writes into the run state
    HistogramJob(const HistogramJob&) = delete;
    HistogramJob& operator=(const HistogramJob&) = delete;

    // Validates the fields and starts the worker of the layout; true when the timer must start.
    // On a validation failure the message is shown, no worker starts and histogramIdle is true
    // again, so the operator can correct the fields.
    bool GenerateChannels();
    bool timerActive() const { return timerActive_; }
    // The timer step; once it reports finished the worker has been joined and succeeded()
    // tells whether it ended without showing a failure.
    HistogramTick timerStep();
    bool succeeded() const { return succeeded_; }

  private:
    RunState& state_;
    SpectrumClock clock_;
    std::thread worker_;
    bool timerActive_ = false;
    bool succeeded_ = false;
};

}  // namespace tarvo
