#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "i2c/I2cChip.h"
#include "i2c/QuadDac.h"
#include "i2c/TemperatureAdc.h"

namespace vmesim::i2c {

// The front-end board's I2C bus: two quad DACs at 0x4D (thresholds 0..3 on outputs 3..0) and
// 0x4C (thresholds 4..7 on outputs 3..0), and the temperature ADC at 0x48 whose inputs 0..7 carry
// the eight VATA chips' sensors. Transactions come whole from the socket; each is traced as
// "I2C W <hex>" or "I2C R <hex>" (see docs/virtual-crate-i2c.md).
class I2cBench {
  public:
    // Reply of a transaction, as the socket sends it.
    enum Result : uint8_t { kAck = 0, kNackAddress = 1, kNackData = 2 };

    struct Settings {
        std::vector<double> temperatures;  // per VATA chip; the last value fills the rest
        double driftPerMinute = 0.0;
        std::map<uint8_t, uint32_t> nacks;  // 7-bit address -> transactions refused (0: all)
        // Minutes since the bench started, for the drift; unset: the steady clock.
        std::function<double()> minutesSinceStart;
    };
    // Threshold slot k (0..7) now has this many volts.
    using ThresholdChanged = std::function<void(int, double)>;
    using TraceLine = std::function<void(const std::string&)>;

    I2cBench(Settings settings, ThresholdChanged thresholdChanged, TraceLine trace);

    Result write(const std::vector<uint8_t>& bytes, bool stop);
    Result read(uint8_t addressByte, size_t count, std::vector<uint8_t>& out);

    // The temperature of VATA chip n now, and the voltage its sensor gives.
    double temperature(int chip) const;
    static double sensorVolts(double celsius);

  private:
    I2cChip* chipAt(uint8_t address);
    bool refuses(uint8_t address);
    void trace(char kind, const std::vector<uint8_t>& bytes, const char* suffix);

    Settings settings_;
    TraceLine trace_;
    std::mutex mutex_;
    std::map<uint8_t, std::unique_ptr<I2cChip>> chips_;
    std::map<uint8_t, uint32_t> refusalsLeft_;
};

}  // namespace vmesim::i2c
