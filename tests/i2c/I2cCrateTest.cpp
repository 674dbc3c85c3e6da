// The adapter layer and tarvo-cli against vmecrate-sim --i2c as a separate process; every bus
// transaction is checked in the crate's trace.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "i2c/FrontEndChips.h"
#include "i2c/HeadlessThresholdSink.h"
#include "i2c/I2cControls.h"
#include "i2c/backends/SimI2cBackend.h"
#include "shell/Operator.h"
#include "support/SimProcess.h"

namespace {

using namespace tarvo;
using nimbra::test::SimProcess;

std::vector<std::string> i2cLines(const SimProcess& sim) {
    std::vector<std::string> lines;
    for (const auto& line : sim.traceLines()) {
        if (line.rfind("I2C ", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

struct CliResult {
    int status = -1;
    std::string output;  // stdout and stderr
};

CliResult runCli(const std::string& arguments) {
    std::string command = std::string(TARVO_CLI_PATH) + " " + arguments + " 2>&1 </dev/null";
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        result.output.append(buffer, n);
    }
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class I2cCrateTest : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("TARVO_I2C_ADAPTER"); }

    // Opens the crate's adapter through the core, as the window does.
    void open(I2cControls& controls) {
        controls.bus().backends.push_back(std::make_unique<SimI2cBackend>(sim.dir()));
        controls.bus().adapterChoice = "sim";
        ASSERT_TRUE(controls.openBus());
        EXPECT_EQ(controls.statusText, "Virtual crate I2C");
    }

    SimProcess sim{{{"--i2c", "--temp", "31.5"}}};
    ScriptedOperator op;
};

TEST_F(I2cCrateTest, EveryThresholdSlotReachesItsDacChannelMsbFirst) {
    I2cControls controls(op);
    open(controls);
    HeadlessThresholdSink sink(controls);
    // Slot -> address byte and command byte, from the board's wiring table.
    const char* target[8] = {"9a16", "9a14", "9a12", "9a10", "9816", "9814", "9812", "9810"};
    const std::pair<double, const char*> codes[] = {
        {-2.5, "0000"}, {0.0, "8000"}, {1.0, "b333"}, {2.5, "ffff"}};
    std::vector<std::string> expected;
    for (int slot = 0; slot < 8; ++slot) {
        for (auto [volts, code] : codes) {
            ASSERT_TRUE(sink.setThreshold(slot, volts));
            expected.push_back(std::string("I2C W ") + target[slot] + code);
        }
    }
    EXPECT_EQ(i2cLines(sim), expected);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(I2cCrateTest, ReadingCycleSendsEachCommandByteThenReadsTwoBytes) {
    I2cControls controls(op);
    open(controls);
    ASSERT_TRUE(controls.tick());
    std::vector<std::string> lines = i2cLines(sim);
    const char* commands[8] = {"8c", "cc", "9c", "dc", "ac", "ec", "bc", "fc"};
    ASSERT_EQ(lines.size(), 16u);
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(lines[size_t(2 * ch)], std::string("I2C W 90") + commands[ch] + " nostop");
        const std::string& read = lines[size_t(2 * ch + 1)];
        ASSERT_EQ(read.size(), std::string("I2C R 91xxxx").size()) << read;
        EXPECT_EQ(read.substr(0, 8), "I2C R 91");
        uint32_t reading = uint32_t(std::stoul(read.substr(8), nullptr, 16));
        EXPECT_EQ(reading, controls.readings()[size_t(ch)]);
        EXPECT_NEAR(controls.indicators()[size_t(ch)].temperature, 31.5, 0.15) << ch;
    }
}

TEST_F(I2cCrateTest, CliReadsTheCratesTemperature) {
    CliResult result = runCli("temperatures --i2c-adapter sim");
    ASSERT_EQ(result.status, 0) << result.output;
    std::istringstream lines(result.output);
    for (int ch = 0; ch < 8; ++ch) {
        std::string name;
        double celsius = 0;
        lines >> name >> celsius;
        EXPECT_EQ(name, "VATA" + std::to_string(ch));
        EXPECT_NEAR(celsius, 31.5, 0.15) << ch;
    }
    std::string vadc;
    uint32_t raw = 0;
    lines >> vadc >> raw;
    EXPECT_EQ(vadc, "VADC");
    EXPECT_NEAR(AdcToTemperature(raw, 1), 31.5, 0.15);

    result = runCli("temperatures --alt-sensor --limit 31.4 --i2c-adapter sim");
    EXPECT_NE(result.output.find("VATA0 31.5 ALARM\n"), std::string::npos) << result.output;
    // The alternative sensor reads the same input by another formula: far below the limit.
    EXPECT_NE(result.output.find("VATA1 -"), std::string::npos) << result.output;
}

TEST_F(I2cCrateTest, CliWritesOneThresholdAndRefusesBadInputBeforeTheBus) {
    setenv("TARVO_I2C_ADAPTER", "sim", 1);
    CliResult result = runCli("threshold --slot 5 --volts 1.0");
    unsetenv("TARVO_I2C_ADAPTER");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "Thr5 DAC2 channel 2 code 45875 (0xb333)\n");
    EXPECT_EQ(i2cLines(sim), std::vector<std::string>{"I2C W 9814b333"});

    sim.clearTrace();
    for (const char* bad :
         {"threshold --slot 1 --volts 2.6 --i2c-adapter sim",
          "threshold --slot 8 --volts 1 --i2c-adapter sim",
          "threshold --slot -1 --volts 1 --i2c-adapter sim",
          "threshold --slot 1 --volts nan --i2c-adapter sim",
          "threshold --slot 1 --volts 1V --i2c-adapter sim",
          "threshold --slot 1 --volts 1 --i2c-adapter nope", "temperatures --i2c-adapter nope",
          "temperatures --watch 0", "temperatures --limit warm --i2c-adapter sim"}) {
        result = runCli(bad);
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_FALSE(result.output.empty()) << bad;
    }
    EXPECT_TRUE(i2cLines(sim).empty());
}

TEST_F(I2cCrateTest, CliListsTheCratesAdapter) {
    CliResult result = runCli("i2c list");
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("sim\tVirtual crate I2C\tLocationID=0\tChannel=A\n"),
              std::string::npos)
        << result.output;
}

TEST(I2cCrateNack, ChipThatDoesNotAcknowledge) {
    unsetenv("TARVO_I2C_ADAPTER");
    SimProcess sim({{"--i2c", "--i2c-nack", "0x4c:1", "--i2c-nack", "0x48"}});
    CliResult result = runCli("threshold --slot 5 --volts 0 --i2c-adapter sim");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output,
              "error: Write Threshold DAC2 CH=1 FAIL\nNo acknowledge from the chip's address\n");
    // The refusal was for one transaction only.
    EXPECT_EQ(runCli("threshold --slot 5 --volts 0 --i2c-adapter sim").status, 0);

    result = runCli("temperatures --i2c-adapter sim");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("Read ADC CH=7 FAIL\nNo acknowledge from the chip's address\n"),
              std::string::npos)
        << result.output;
    std::vector<std::string> lines = i2cLines(sim);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "I2C W 98 nack");
    EXPECT_EQ(lines[1], "I2C W 98148000");
    EXPECT_EQ(lines[2], "I2C W 90 nack");
}

}  // namespace
