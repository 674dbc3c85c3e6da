#include "board/BridgeWatch.h"

#include "KOVRAVMElib.h"

namespace tarvo {

BridgeWatch::BridgeWatch(Clock::duration lostAfter)
    : lostAfter_(lostAfter), lastAnswer_(Clock::now()) {}

bool BridgeWatch::note(int32_t result) {
    const auto now = Clock::now();
    if (result == Success || result == BusError) {
        lastAnswer_ = now;
        return true;
    }
    lastFailure_ = result;
    if (now - lastAnswer_ >= lostAfter_) {
        lost_ = true;
    }
    return !lost_;
}

std::string BridgeWatch::lostMessage() const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(lostAfter_).count();
    return "FATAL: VME bridge lost\nNo exchange with the bridge succeeded for " +
           std::to_string(seconds) + " s; the last one gave " +
           KOVRAVME_DecodeError(static_cast<ErrorCode>(lastFailure_)) + " (" +
           std::to_string(lastFailure_) + ")";
}

}  // namespace tarvo
