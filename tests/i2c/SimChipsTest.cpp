// The crate's I2C chips in-process: what the board sees of the DACs, what the ADC converts, and
// the command-line knobs.
#include <gtest/gtest.h>

#include "Crate.h"
#include "Options.h"
#include "i2c/HeadlessThresholdSink.h"
#include "i2c/I2cBench.h"
#include "i2c/backends/SimI2cBackend.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace {

using vmesim::i2c::I2cBench;

TEST(SimI2cChips, DacOutputsBecomeTheBoardsThresholds) {
    std::array<double, 8> thresholds{};
    std::vector<std::string> trace;
    I2cBench bench(
        {}, [&](int slot, double volts) { thresholds[size_t(slot)] = volts; },
        [&](const std::string& line) { trace.push_back(line); });
    // DAC 0x4D output 3 is threshold 0; DAC 0x4C output 0 is threshold 7.
    EXPECT_EQ(bench.write({0x9A, 0x16, 0xFF, 0xFF}, true), I2cBench::kAck);
    EXPECT_EQ(bench.write({0x98, 0x10, 0x00, 0x00}, true), I2cBench::kAck);
    EXPECT_EQ(bench.write({0x98, 0x14, 0xB3, 0x33}, true), I2cBench::kAck);
    EXPECT_NEAR(thresholds[0], 2.5 - 5.0 / 65536, 1e-12);
    EXPECT_DOUBLE_EQ(thresholds[7], -2.5);
    EXPECT_NEAR(thresholds[5], 1.0, 1e-4);
    // Writing the buffer only (load mode 0) changes no output until an update of all (mode 2).
    EXPECT_EQ(bench.write({0x9A, 0x00, 0x80, 0x00}, true), I2cBench::kAck);
    EXPECT_NEAR(thresholds[3], 0.0, 0.0);
    EXPECT_EQ(bench.write({0x9A, 0x22, 0x80, 0x00}, true), I2cBench::kAck);
    EXPECT_DOUBLE_EQ(thresholds[3], 0.0);
    EXPECT_DOUBLE_EQ(thresholds[2], 0.0);
    // Nobody at 0x4E.
    EXPECT_EQ(bench.write({0x9C, 0x10, 0x00, 0x00}, true), I2cBench::kNackAddress);
    EXPECT_EQ(trace.front(), "I2C W 9a16ffff");
    EXPECT_EQ(trace.back(), "I2C W 9c nack");
}

TEST(SimI2cChips, AdcConvertsTheSensorOfTheSelectedChip) {
    I2cBench::Settings settings;
    settings.temperatures = {-20.0, 25.0, 60.0};
    I2cBench bench(settings, nullptr, nullptr);
    const uint8_t commands[8] = {0x8C, 0xCC, 0x9C, 0xDC, 0xAC, 0xEC, 0xBC, 0xFC};
    std::vector<uint32_t> codes;
    for (uint8_t command : commands) {
        ASSERT_EQ(bench.write({0x90, command}, false), I2cBench::kAck);
        std::vector<uint8_t> data;
        ASSERT_EQ(bench.read(0x91, 2, data), I2cBench::kAck);
        ASSERT_EQ(data.size(), 2u);
        EXPECT_EQ(data[0] & 0xF0, 0);
        codes.push_back(uint32_t(data[0]) << 8 | data[1]);
    }
    // V = (T / 100 - 2.07) / 1.74545 + 1.29, in steps of 2.5 V / 4096.
    EXPECT_EQ(codes[0], 0u);    // -20 C: -0.0105 V, below the converter's range
    EXPECT_EQ(codes[1], 405u);  // 25 C: 0.24729 V
    for (size_t ch = 2; ch < 8; ++ch) {
        EXPECT_EQ(codes[ch], 734u) << ch;  // 60 C: 0.44781 V, the last value fills the rest
    }
}

TEST(SimI2cChips, TemperaturesDriftFromTheStart) {
    double minutes = 0;
    I2cBench::Settings settings;
    settings.temperatures = {25.0, 30.0};
    settings.driftPerMinute = 1.5;
    settings.minutesSinceStart = [&] { return minutes; };
    I2cBench bench(settings, nullptr, nullptr);
    EXPECT_EQ(bench.temperature(0), 25.0);
    EXPECT_EQ(bench.temperature(7), 30.0);
    minutes = 20;
    EXPECT_EQ(bench.temperature(0), 55.0);  // over the window's 50 degree default limit
    EXPECT_EQ(bench.temperature(5), 60.0);
    // What the ADC then converts for chip 0: 55 C is 0.41916 V, code 687.
    ASSERT_EQ(bench.write({0x90, 0x8C}, false), I2cBench::kAck);
    std::vector<uint8_t> data;
    ASSERT_EQ(bench.read(0x91, 2, data), I2cBench::kAck);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x02, 0xAF}));
}

TEST(SimI2cChips, ThresholdsSetThroughTheSocketReachTheBench) {
    nimbra::test::TempDir dir;
    vmesim::Options options;
    options.dir = dir.path().string();
    options.i2c = true;
    vmesim::Crate crate(options);
    crate.start();

    tarvo::ScriptedOperator op;
    tarvo::I2cControls controls(op);
    controls.bus().backends.push_back(std::make_unique<tarvo::SimI2cBackend>(options.dir));
    controls.bus().adapterChoice = "sim";
    ASSERT_TRUE(controls.openBus());
    tarvo::HeadlessThresholdSink sink(controls);
    ASSERT_TRUE(sink.setThreshold(0, -1.25));
    ASSERT_TRUE(sink.setThreshold(5, 1.0));
    ASSERT_TRUE(sink.setThreshold(7, 2.5));
    auto bench = crate.bench().snapshot();
    const double step = 5.0 / 65536;
    EXPECT_NEAR(bench.thresholdVolts[0], -1.25, step);
    EXPECT_NEAR(bench.thresholdVolts[5], 1.0, step);
    EXPECT_NEAR(bench.thresholdVolts[7], 2.5, step);
    EXPECT_EQ(bench.thresholdVolts[3], 0.0);  // power-up mid-scale
    crate.stop();
}

TEST(SimI2cChips, Options) {
    const char* argv[] = {"vmecrate-sim", "--dir", "d",          "--i2c",  "--temp",     "30,-5.5",
                          "--temp-drift", "0.5",   "--i2c-nack", "0x48:2", "--i2c-nack", "77"};
    vmesim::Options o = vmesim::parseOptions(12, argv);
    EXPECT_TRUE(o.i2c);
    EXPECT_EQ(o.temperatures, (std::vector<double>{30.0, -5.5}));
    EXPECT_EQ(o.temperatureDriftPerMinute, 0.5);
    ASSERT_EQ(o.i2cNacks.size(), 2u);
    EXPECT_EQ(o.i2cNacks[0].address, 0x48);
    EXPECT_EQ(o.i2cNacks[0].count, 2u);
    EXPECT_EQ(o.i2cNacks[1].address, 77);
    EXPECT_EQ(o.i2cNacks[1].count, 0u);
    for (const char* bad : {"--temp=warm", "--temp=1,2,3,4,5,6,7,8,9", "--temp=", "--temp=1,,2",
                            "--i2c-nack=0x80", "--i2c-nack=0x48:0", "--temp-drift=x"}) {
        const char* args[] = {"vmecrate-sim", "--dir", "d", bad};
        EXPECT_THROW(vmesim::parseOptions(4, args), vmesim::OptionError) << bad;
    }
}

}  // namespace
