#include "acquisition/AcquisitionController.h"

#include "KOVRAVMElib.h"
#include "shell/Operator.h"

namespace tarvo {

AcquisitionController::AcquisitionController(RunState& state) : state_(state) {}

AcquisitionController::~AcquisitionController() {
    if (worker_.joinable()) {
        stop();
        if (state_.op != nullptr && !state_.events.AcquisitionDoneEvent.isSet()) {
            state_.op->shutDown();
        }
        worker_.join();
        state_.events.AcquisitionDoneEvent.reset();
        state_.progress.acquisitionIdle.store(true);
    }
    closeBridge();
}

int32_t AcquisitionController::openBridge() {
    closeBridge();
    int32_t handle = -1;
    int32_t result = KOVRAVME_Init(UsbBridge, 0, 0, &handle);
    if (result != Success) {
        return result;
    }
    KOVRAVME_SetTimeout(handle, 1);
    state_.vmeHandle = handle;
    bridgeOpened_ = true;
    return Success;
}

void AcquisitionController::closeBridge() {
    if (!bridgeOpened_ || running_) {
        return;
    }
    KOVRAVME_End(state_.vmeHandle);
    state_.vmeHandle = -1;
    bridgeOpened_ = false;
}

bool AcquisitionController::start() {
    if (running_) {
        return false;
    }
    worker_ = StartAcquisition(state_);
    // A run that could not start has signalled its end too when a worker type was missing;
    // the next tick reports it finished either way.
    running_ = worker_.joinable() || state_.events.AcquisitionDoneEvent.isSet();
    return worker_.joinable();
}

RunTimerTick AcquisitionController::tick() {
    RunTimerTick result = OnRunTimer(state_);
    if (result.finished) {
        if (worker_.joinable()) {
            worker_.join();
        }
        running_ = false;
    }
    return result;
}

void AcquisitionController::stop() {
    if (running_) {
        StopAcquisition(state_);
    }
}

bool AcquisitionController::waitForEnd(std::chrono::milliseconds timeout) const {
    return state_.events.AcquisitionDoneEvent.wait(timeout);
}

}  // namespace tarvo
