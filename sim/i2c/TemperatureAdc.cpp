#include "i2c/TemperatureAdc.h"

#include <cmath>

namespace vmesim::i2c {

uint16_t TemperatureAdc::codeOf(double volts) {
    double code = std::floor(volts / 2.5 * 4096.0 + 0.5);
    if (!(code > 0)) {
        return 0;
    }
    return code >= 4095 ? 4095 : uint16_t(code);
}

void TemperatureAdc::begin(bool read) {
    if (read) {
        readPosition_ = 0;
    }
}

bool TemperatureAdc::write(uint8_t value) {
    int channel = channelOf(value);
    double volts = input_(channel);
    if (!(value & 0x80)) {
        // Differential: the pair's other input is subtracted; this board uses none of them.
        volts -= input_(channel ^ 1);
    }
    conversion_ = codeOf(volts);
    return true;
}

uint8_t TemperatureAdc::read() {
    uint8_t value = readPosition_ == 0 ? uint8_t(conversion_ >> 8) : uint8_t(conversion_ & 0xFF);
    readPosition_ = (readPosition_ + 1) & 1;
    return value;
}

}  // namespace vmesim::i2c
