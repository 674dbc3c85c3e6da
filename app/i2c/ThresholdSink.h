#pragma once

namespace tarvo {

// Where threshold requests go: slot k (0..7) drives the discriminator threshold of TA k+1; slot 6
// also drives the relay (2.499 V on, 0.0 V off). setThreshold blocks until the DAC write is done
// (or has failed, which the receiver reports itself) and returns true when the DAC was written.
class ThresholdSink {
  public:
    virtual ~ThresholdSink() = default;
    virtual bool setThreshold(int slot, double volts) = 0;
};

}  // namespace tarvo
