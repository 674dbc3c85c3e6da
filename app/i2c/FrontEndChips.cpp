#include "i2c/FrontEndChips.h"

namespace tarvo {

uint16_t ThresholdToCode(double volts) {
    double scaled = (volts + 2.5) * 65536.0 / 5.0;
    // Values outside the slider's range cannot come from the window; clamp rather than wrap.
    if (!(scaled > 0.0)) {
        return 0;
    }
    if (scaled >= 65535.0) {
        return 65535;
    }
    return uint16_t(scaled);
}

double AdcToTemperature(uint32_t reading, int channel, bool altSensor) {
    if (channel == 1 && altSensor) {
        return (double(reading) - 819.2) / 4096.0 * 2.5 * 100.0;
    }
    double volts = double(reading) * 2.5 / 4096.0;
    return ((volts - 1.29) * 1.74545 + 2.07) * 100.0;
}

ThresholdRoute thresholdRoute(int slot) {
    return {slot < 4 ? 1 : 2, 3 - (slot % 4), slot % 4};
}

bool WriteDac(I2cDevice& dac, int channel, uint16_t code) {
    if (dac.bus == nullptr) {
        return false;
    }
    return BusWrite(*dac.bus, {dacAddressByte(dac.addressSelect), dacCommandByte(channel)},
                    {uint8_t(code >> 8), uint8_t(code & 0xFF)}, true);
}

bool ReadAdc(I2cDevice& adc, int channel, uint32_t& reading) {
    if (adc.bus == nullptr) {
        return false;
    }
    if (!BusWrite(*adc.bus, {adcAddressByte(adc.addressSelect), adcCommandByte(channel)}, {},
                  false)) {
        return false;
    }
    std::vector<uint8_t> buffer;
    if (!BusRead(*adc.bus, {uint8_t(adcAddressByte(adc.addressSelect) | 1)}, buffer)) {
        return false;
    }
    reading = uint32_t(buffer[0]) * 256 + buffer[1];
    return true;
}

}  // namespace tarvo
