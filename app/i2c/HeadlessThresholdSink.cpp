#include "i2c/HeadlessThresholdSink.h"

#include "i2c/FrontEndChips.h"

namespace tarvo {

bool HeadlessThresholdSink::validRequest(int slot, double volts) {
    return slot >= 0 && slot < I2cControls::kChannels && volts >= kThresholdMinVolts &&
           volts <= kThresholdMaxVolts;
}

bool HeadlessThresholdSink::setThreshold(int slot, double volts) {
    if (!validRequest(slot, volts)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    controls_.threshold[size_t(slot)] = volts;
    return controls_.writeThreshold(slot);
}

}  // namespace tarvo
