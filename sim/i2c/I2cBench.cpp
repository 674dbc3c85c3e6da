#include "i2c/I2cBench.h"

namespace vmesim::i2c {

namespace {

constexpr uint8_t kDac1 = 0x4D;  // thresholds 0..3
constexpr uint8_t kDac2 = 0x4C;  // thresholds 4..7
constexpr uint8_t kAdc = 0x48;

double codeToVolts(uint16_t code) {
    return code * 5.0 / 65536.0 - 2.5;
}

}  // namespace

I2cBench::I2cBench(Settings settings, ThresholdChanged thresholdChanged, TraceLine trace)
    : settings_(std::move(settings)), trace_(std::move(trace)) {
    if (!settings_.minutesSinceStart) {
        auto started = std::chrono::steady_clock::now();
        settings_.minutesSinceStart = [started] {
            return std::chrono::duration<double, std::ratio<60>>(std::chrono::steady_clock::now() -
                                                                 started)
                .count();
        };
    }
    if (settings_.temperatures.empty()) {
        settings_.temperatures.push_back(25.0);
    }
    for (auto [address, count] : settings_.nacks) {
        refusalsLeft_[address] = count;
    }
    // The board wires output 3 of each DAC to the first threshold of its four.
    chips_[kDac1] = std::make_unique<QuadDac>([thresholdChanged](int channel, uint16_t code) {
        if (thresholdChanged) {
            thresholdChanged(3 - channel, codeToVolts(code));
        }
    });
    chips_[kDac2] = std::make_unique<QuadDac>([thresholdChanged](int channel, uint16_t code) {
        if (thresholdChanged) {
            thresholdChanged(7 - channel, codeToVolts(code));
        }
    });
    chips_[kAdc] = std::make_unique<TemperatureAdc>(
        [this](int input) { return sensorVolts(temperature(input)); });
}

double I2cBench::temperature(int chip) const {
    const auto& t = settings_.temperatures;
    double base = size_t(chip) < t.size() ? t[size_t(chip)] : t.back();
    return base + settings_.driftPerMinute * settings_.minutesSinceStart();
}

// The sensor network the board's reading formula undoes:
// T = ((V - 1.29) * 1.74545 + 2.07) * 100.
double I2cBench::sensorVolts(double celsius) {
    return (celsius / 100.0 - 2.07) / 1.74545 + 1.29;
}

I2cChip* I2cBench::chipAt(uint8_t address) {
    auto it = chips_.find(address);
    return it == chips_.end() ? nullptr : it->second.get();
}

bool I2cBench::refuses(uint8_t address) {
    auto it = refusalsLeft_.find(address);
    if (it == refusalsLeft_.end()) {
        return false;
    }
    if (settings_.nacks[address] == 0) {
        return true;  // refuses for good
    }
    if (it->second == 0) {
        return false;
    }
    --it->second;
    return true;
}

void I2cBench::trace(char kind, const std::vector<uint8_t>& bytes, const char* suffix) {
    if (!trace_) {
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string line = "I2C ";
    line += kind;
    line += ' ';
    for (uint8_t b : bytes) {
        line += kHex[b >> 4];
        line += kHex[b & 0xF];
    }
    line += suffix;
    trace_(line);
}

I2cBench::Result I2cBench::write(const std::vector<uint8_t>& bytes, bool stop) {
    std::lock_guard lock(mutex_);
    const char* done = stop ? "" : " nostop";
    uint8_t address = bytes.at(0) >> 1;
    I2cChip* chip = chipAt(address);
    if (chip == nullptr || (bytes[0] & 1) || refuses(address)) {
        trace('W', {bytes[0]}, " nack");
        return kNackAddress;
    }
    chip->begin(false);
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (!chip->write(bytes[i])) {
            chip->stop();  // the master ends a refused transaction with a stop
            trace('W', std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(i) + 1), " nack");
            return kNackData;
        }
    }
    if (stop) {
        chip->stop();
    }
    trace('W', bytes, done);
    return kAck;
}

I2cBench::Result I2cBench::read(uint8_t addressByte, size_t count, std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex_);
    uint8_t address = addressByte >> 1;
    I2cChip* chip = chipAt(address);
    if (chip == nullptr || !(addressByte & 1) || refuses(address)) {
        trace('R', {addressByte}, " nack");
        return kNackAddress;
    }
    chip->begin(true);
    out.clear();
    for (size_t i = 0; i < count; ++i) {
        out.push_back(chip->read());
    }
    chip->stop();
    std::vector<uint8_t> line;
    line.reserve(count + 1);
    line.push_back(addressByte);
    for (uint8_t b : out) {
        line.push_back(b);
    }
    trace('R', line, "");
    return kAck;
}

}  // namespace vmesim::i2c
