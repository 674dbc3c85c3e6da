#include "acquisition/AcquisitionController.h"

#include "KOVRAVMElib.h"
#include "acquisition/BridgeDiagnosis.h"
#include "shell/Operator.h"

namespace tarvo {

namespace {

// The bridge the main window opens.
constexpr int32_t kBridgeKind = UsbBridge;
constexpr int kLink = 0;
constexpr int kBoardNumber = 0;

}  // namespace

AcquisitionController::AcquisitionController(RunState& state, std::string claimFolder)
    : state_(state), claimFolder_(std::move(claimFolder)) {}

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
    claim_.reset();
    closeBridge();
}

int32_t AcquisitionController::openBridge() {
    closeBridge();
    int32_t handle = -1;
    int32_t result = KOVRAVME_Init(kBridgeKind, kLink, kBoardNumber, &handle);
    if (result == Success) {
        result = KOVRAVME_SetTimeout(handle, 1);
        if (result != Success) {
            KOVRAVME_End(handle);
        }
    }
    state_.progress.lastError.store(result);
    if (result != Success) {
        initFailure_ =
            diagnoseBridgeFailure(bridgeDiagnosisInputs(kBridgeKind, kLink, kBoardNumber, result));
        return result;
    }
    initFailure_.clear();
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
    if (state_.vmeHandle != -1) {
        std::string refusal;
        claim_ = BoardClaim::take(claimFolder_, kBridgeKind, kLink, state_.settings.baseAddress,
                                  refusal);
        if (!claim_) {
            if (state_.op != nullptr) {
                state_.op->error(refusal);
            }
            return false;
        }
    }
    worker_ = StartAcquisition(state_, initFailure_);
    // A run that could not start has signalled its end too when a worker type was missing;
    // the next tick reports it finished either way.
    running_ = worker_.joinable() || state_.events.AcquisitionDoneEvent.isSet();
    if (!running_) {
        claim_.reset();
    }
    return worker_.joinable();
}

RunTimerTick AcquisitionController::tick() {
    RunTimerTick result = OnRunTimer(state_);
    if (result.finished) {
        if (worker_.joinable()) {
            worker_.join();
        }
        running_ = false;
        claim_.reset();
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
