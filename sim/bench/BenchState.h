#pragma once

#include <array>
#include <mutex>

namespace vmesim {

// The analog side of the test bench that several simulated instruments share: the I2C DACs set
// the discriminator thresholds, the pulse generator sets the test-pulse amplitude, and the
// readout board reads both when it makes an event. Each writer and reader takes a snapshot under
// the lock, so a reading is always one consistent state of the bench.
class BenchState {
  public:
    struct Snapshot {
        // Threshold of TA section k+1 in volts, from DAC output k.
        std::array<double, 8> thresholdVolts{};
        bool generatorOn = false;
        double generatorVolts = 0.0;        // pulse amplitude
        double generatorOffsetVolts = 0.0;  // baseline offset
        double generatorHz = 1000.0;
    };

    Snapshot snapshot() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    // Changes the state under the lock: update([](Snapshot& s) { s.generatorOn = true; }).
    template <class F>
    void update(F&& change) {
        std::lock_guard lock(mutex_);
        change(state_);
    }

  private:
    mutable std::mutex mutex_;
    Snapshot state_;
};

}  // namespace vmesim
