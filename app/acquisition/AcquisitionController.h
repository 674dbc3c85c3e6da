#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "acquisition/AcquisitionRun.h"
#include "acquisition/RunState.h"

namespace tarvo {

// The life of one acquisition run over a run-state record, shared by the window, tarvo-cli and
// the tests: open the bridge, start the worker, tick while it runs, stop, close the bridge.
//
// Threading: every member is called on the owner's thread (the window's GUI thread, the CLI's
// main thread). The worker asks the record's Operator from its own thread, so the owner keeps
// answering (runs its event loop) while running() is true. tick() joins the worker only once it
// has signalled AcquisitionDoneEvent, its last act, after which it asks nothing. The destructor
// stops a run that is still going, shuts the Operator down so a pending question cannot wait for
// the owner, and then joins.
class AcquisitionController {
  public:
    explicit AcquisitionController(RunState& state);
    ~AcquisitionController();
    AcquisitionController(const AcquisitionController&) = delete;
    AcquisitionController& operator=(const AcquisitionController&) = delete;

    // Opens the bridge as the main window does (USB bridge, link 0, board 0, then the bus
    // time-out bit) and keeps its handle in the record; the bridge result. On failure the handle
    // stays -1 and start() reports the initialization failure.
    int32_t openBridge();
    // Ends the bridge this controller opened (after the run has finished).
    void closeBridge();

    // "START Acquire": true when a worker started.
    bool start();
    // The run timer's step; once it reports finished the worker has been joined.
    RunTimerTick tick();
    // "Stop Acquire": the worker stops at its next check and signals the end.
    void stop();
    // Waits up to `timeout` for the worker to signal its end; true when it has.
    bool waitForEnd(std::chrono::milliseconds timeout) const;

    bool running() const { return running_; }
    bool finished() const { return !running_; }

  private:
    RunState& state_;
    std::thread worker_;
    bool running_ = false;
    bool bridgeOpened_ = false;
};

}  // namespace tarvo
