#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "i2c/I2cBus.h"
#include "i2c/TemperatureHistory.h"

namespace tarvo {

class Operator;

// What the I2C window does without the window: the thresholds and their DACs, the reading cycle
// of the eight temperatures with its alarm, and the history the graph draws. The window (and
// tarvo-cli) own one, copy its fields to and from their controls, and call tick() from a 5 s timer
// while readingEnabled(). Every message goes through the Operator.
class I2cControls {
  public:
    static constexpr int kChannels = 8;
    static constexpr int kTickMs = 5000;
    static constexpr uint32_t kBusClockHz = 100000;

    // The window's hooks: the core calls them when what the controls show has changed.
    class View {
      public:
        virtual ~View() = default;
        virtual void fieldsChanged() {}                    // vadc, enableRead, status text
        virtual void indicatorChanged(int /*channel*/) {}  // temperature and pointer colour
        virtual void sampleAdded() {}                      // the history has one more cycle
    };

    struct Indicator {
        double temperature = 0.0;
        bool red = false;  // above the limit
    };

    explicit I2cControls(Operator& op);
    ~I2cControls();
    I2cControls(const I2cControls&) = delete;
    I2cControls& operator=(const I2cControls&) = delete;

    void setView(View* view) { view_ = view; }

    // The fields bound to the controls.
    std::array<double, kChannels> threshold{};
    bool enableRead = true;
    std::array<bool, kChannels> alarmEnable{};
    double limit = 50.0;
    bool altSensor = false;
    uint32_t vadc = 0;
    std::string statusText;

    // Opens the bus at 100 kHz ("USB<->I2C Bus not Found" and reading disabled when that fails)
    // and writes the eight thresholds. True when the reading timer is to start.
    bool initialise();
    // Only opens the bus, for callers that set thresholds one by one.
    bool openBus();
    // Writes threshold[slot] to its DAC channel (nothing while the bus is closed); a failure
    // shows "Write Threshold DAC%d CH=%d FAIL\n%s".
    bool writeThreshold(int slot);
    // One reading cycle of the eight channels, fed to the history; true when the timer is to be
    // started again.
    bool tick();

    bool busOpen() const { return bus_.handle != 0; }
    I2cBus& bus() { return bus_; }
    const std::array<Indicator, kChannels>& indicators() const { return indicators_; }
    const TemperatureHistory& history() const { return history_; }
    // The last raw ADC reading of each channel (0 where the last read failed).
    const std::array<uint32_t, kChannels>& readings() const { return readings_; }

  private:
    void fieldsChanged();

    Operator& op_;
    View* view_ = nullptr;
    I2cBus bus_;
    I2cDevice dac1_{&bus_, 1};
    I2cDevice dac2_{&bus_, 0};
    I2cDevice adc_{&bus_, 0};
    std::array<Indicator, kChannels> indicators_{};
    std::array<uint32_t, kChannels> readings_{};
    TemperatureHistory history_;
};

}  // namespace tarvo
