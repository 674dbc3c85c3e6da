#pragma once

#include <cstdint>

#include "i2c/I2cBus.h"

namespace tarvo {

// The front-end board's I2C chips: two quad 16-bit threshold DACs (0x4C | select) and the
// 8-channel 12-bit temperature ADC (0x48 | select).

constexpr double kThresholdMinVolts = -2.5;
constexpr double kThresholdMaxVolts = 2.5;

// Volts (-2.5..2.5) to the DAC code: (v + 2.5) * 65536 / 5, truncated, at most 65535.
uint16_t ThresholdToCode(double volts);
// A 12-bit reading (full scale 4096 = 2.5 V) to degrees Celsius; channel 1 has the alternative
// sensor when altSensor is set.
double AdcToTemperature(uint32_t reading, int channel, bool altSensor = false);

// Where threshold slot k (0..7) goes: dac is 1 or 2, dacChannel the DAC's output, chNumber the
// number the failure messages give.
struct ThresholdRoute {
    int dac;
    int dacChannel;
    int chNumber;
};
ThresholdRoute thresholdRoute(int slot);

constexpr uint8_t dacAddressByte(uint8_t select) {
    return uint8_t((0x4C | select) << 1);
}
constexpr uint8_t dacCommandByte(int channel) {
    return uint8_t(0x10 | (channel * 2));
}
constexpr uint8_t adcAddressByte(uint8_t select) {
    return uint8_t((0x48 | select) << 1);
}
// Single-ended input `channel`, internal reference on, converter on between conversions.
constexpr uint8_t adcCommandByte(int channel) {
    int s = ((channel / 2) & 3) | ((channel & 1) * 4);
    return uint8_t(0x8C | (s * 16));
}

// One write with stop: address byte, command byte, the code MSB first.
bool WriteDac(I2cDevice& dac, int channel, uint16_t code);
// A write without stop of the command byte, then a two-byte read; reading = first * 256 + second.
bool ReadAdc(I2cDevice& adc, int channel, uint32_t& reading);

}  // namespace tarvo
