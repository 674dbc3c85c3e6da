#pragma once

#include <functional>

#include "i2c/I2cChip.h"

namespace vmesim::i2c {

// An 8-channel 12-bit ADC with a 2.5 V internal reference. A write of one command byte selects
// the input and starts a conversion: bit 7 single-ended (1) or differential (0), bits 6..4 the
// channel select C2 C1 C0, bits 3..2 power-down mode (3: reference and converter on). Single-ended
// input n has select ((n & 1) << 2) | (n >> 1). A read returns the conversion as two bytes, the
// high byte's top four bits 0.
class TemperatureAdc : public I2cChip {
  public:
    // Volts at single-ended input n.
    using Input = std::function<double(int)>;

    explicit TemperatureAdc(Input input) : input_(std::move(input)) {}

    void begin(bool read) override;
    bool write(uint8_t value) override;
    uint8_t read() override;
    void stop() override {}

    static int channelOf(uint8_t command) {
        int select = (command >> 4) & 7;
        return ((select & 3) << 1) | (select >> 2);
    }
    static uint16_t codeOf(double volts);

  private:
    Input input_;
    uint16_t conversion_ = 0;
    int readPosition_ = 0;
};

}  // namespace vmesim::i2c
