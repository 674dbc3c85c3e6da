#include "i2c/I2cControls.h"

#include <cstdio>

#include "i2c/FrontEndChips.h"
#include "shell/Operator.h"

namespace tarvo {

namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
    char text[1024];
    std::snprintf(text, sizeof(text), pattern, args...);
    return text;
}

}  // namespace

I2cControls::I2cControls(Operator& op) : op_(op) {}

I2cControls::~I2cControls() {
    CloseBus(bus_);
}

void I2cControls::fieldsChanged() {
    if (view_ != nullptr) {
        view_->fieldsChanged();
    }
}

bool I2cControls::openBus() {
    uint32_t clock = kBusClockHz;
    std::string name;
    if (!OpenBus(bus_, clock, &name, op_)) {
        op_.error("USB<->I2C Bus not Found");
        enableRead = false;
        fieldsChanged();
        return false;
    }
    statusText = name;
    fieldsChanged();
    return true;
}

bool I2cControls::initialise() {
    if (!openBus()) {
        return false;
    }
    for (int slot = 0; slot < kChannels; ++slot) {
        writeThreshold(slot);
    }
    return enableRead;
}

bool I2cControls::writeThreshold(int slot) {
    if (slot < 0 || slot >= kChannels || !busOpen()) {
        return false;
    }
    ThresholdRoute route = thresholdRoute(slot);
    I2cDevice& dac = route.dac == 1 ? dac1_ : dac2_;
    if (WriteDac(dac, route.dacChannel, ThresholdToCode(threshold[size_t(slot)]))) {
        return true;
    }
    std::string text;
    BusErrorText(bus_, text);
    op_.error(
        format("Write Threshold DAC%d CH=%d FAIL\n%s", route.dac, route.chNumber, text.c_str()));
    return false;
}

bool I2cControls::tick() {
    TemperatureHistory::Sample temperatures{};
    for (int ch = 0; ch < kChannels; ++ch) {
        uint32_t reading = 0;
        if (!ReadAdc(adc_, ch, reading)) {
            readings_[size_t(ch)] = 0;
            std::string text;
            BusErrorText(bus_, text);
            op_.error(format("Read ADC CH=%d FAIL\n%s", ch, text.c_str()));
            enableRead = false;
            fieldsChanged();
            continue;
        }
        readings_[size_t(ch)] = reading;
        if (ch == 1) {
            vadc = reading;
            fieldsChanged();
        }
        double t = AdcToTemperature(reading, ch, altSensor);
        temperatures[size_t(ch)] = t;
        indicators_[size_t(ch)] = {t, t > limit};
        if (view_ != nullptr) {
            view_->indicatorChanged(ch);
        }
        if (enableRead && alarmEnable[size_t(ch)] && t > limit) {
            op_.warning(format("Hight Temperature CH=%d", ch));
        }
    }
    history_.AddSample(temperatures);
    if (view_ != nullptr) {
        view_->sampleAdded();
    }
    return enableRead;
}

}  // namespace tarvo
