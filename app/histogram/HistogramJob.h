#pragma once

#include <cstdint>
#include <thread>

#include "histogram/SpectrumWriter.h"

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

// "Gen Channels" and the worker thread it starts, in the same shape as AcquisitionController.
//
// Threading: every member is called on the owner's thread. The worker asks the record's Operator
// from its own thread, so the owner keeps answering while running() is true. tick() joins the
// worker only after HistogramDoneEvent, the worker's last act. The destructor asks the worker to
// stop, shuts the Operator down so a pending question cannot wait for the owner, and joins.
class HistogramJob {
  public:
    explicit HistogramJob(RunState& state, SpectrumClock clock = localClock);
    ~HistogramJob();
    HistogramJob(const HistogramJob&) = delete;
    HistogramJob& operator=(const HistogramJob&) = delete;

    // Validates the fields and starts the worker of the layout; true when the timer must start.
    // On a validation failure the message is shown, no worker starts and histogramIdle is true
    // again, so the operator can correct the fields.
    bool start();
    bool GenerateChannels() { return start(); }  // the button
    // The timer step; once it reports finished the worker has been joined and succeeded()
    // tells whether it ended without showing a failure.
    HistogramTick tick();
    // Asks the worker to give up after the record it is counting; it then reports a failure.
    void stop();
    bool running() const { return running_; }
    bool finished() const { return !running_; }
    bool succeeded() const { return succeeded_; }

  private:
    RunState& state_;
    SpectrumClock clock_;
    std::thread worker_;
    bool running_ = false;
    bool succeeded_ = false;
};

}  // namespace tarvo
