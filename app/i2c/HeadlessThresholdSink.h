#pragma once

#include <mutex>

#include "i2c/I2cControls.h"
#include "i2c/ThresholdSink.h"

namespace tarvo {

// Threshold requests without a window (tarvo-cli, the sequence test's own tests): each request
// runs on the caller's thread under a lock, so it is done when setThreshold returns. A slot
// outside 0..7 or volts outside -2.5..2.5 is refused with nothing sent to the bus.
class HeadlessThresholdSink : public ThresholdSink {
  public:
    explicit HeadlessThresholdSink(I2cControls& controls) : controls_(controls) {}

    bool setThreshold(int slot, double volts) override;

    static bool validRequest(int slot, double volts);

  private:
    I2cControls& controls_;
    std::mutex mutex_;
};

}  // namespace tarvo
