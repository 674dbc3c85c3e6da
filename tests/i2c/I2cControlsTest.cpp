#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>

#include "FakeAdapter.h"
#include "i2c/FrontEndChips.h"
#include "i2c/HeadlessThresholdSink.h"
#include "i2c/I2cControls.h"
#include "shell/Operator.h"

namespace {

using namespace tarvo;
using nimbra::test::FakeAdapterRecord;
using nimbra::test::FakeBackend;
using nimbra::test::fakeEntries;

int channelOfCommand(uint8_t command) {
    for (int ch = 0; ch < 8; ++ch) {
        if (adcCommandByte(ch) == command) {
            return ch;
        }
    }
    return -1;
}

class I2cControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("TARVO_I2C_ADAPTER");
        controls.bus().backends.push_back(
            std::make_unique<FakeBackend>(fakeEntries({"bench"}), record));
        record->answer = [this](uint8_t command) {
            uint32_t r = readings[size_t(channelOfCommand(command))];
            return std::vector<uint8_t>{uint8_t(r >> 8), uint8_t(r)};
        };
    }

    bool open() {
        op.queueAnswer(true);
        return controls.openBus();
    }

    std::shared_ptr<FakeAdapterRecord> record = std::make_shared<FakeAdapterRecord>();
    ScriptedOperator op;
    I2cControls controls{op};
    std::array<uint32_t, 8> readings{400, 2048, 402, 403, 404, 405, 406, 407};
};

TEST_F(I2cControlsTest, OpeningWritesTheEightThresholdsInTheBoardsOrder) {
    controls.threshold = {-2.5, 0.0, 1.0, 2.5, 0.0, 1.0, -2.5, 2.5};
    op.queueAnswer(true);
    EXPECT_TRUE(controls.initialise());
    EXPECT_EQ(controls.statusText, "bench");
    EXPECT_EQ(record->transactions,
              (std::vector<std::string>{"W 9a160000", "W 9a148000", "W 9a12b333", "W 9a10ffff",
                                        "W 98168000", "W 9814b333", "W 98120000", "W 9810ffff"}));
}

TEST_F(I2cControlsTest, NoBusDisablesReadingAndWritesNothing) {
    op.queueAnswer(false);
    EXPECT_FALSE(controls.initialise());
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"USB<->I2C Bus not Found"});
    EXPECT_FALSE(controls.enableRead);
    EXPECT_FALSE(controls.writeThreshold(0));
    EXPECT_TRUE(record->transactions.empty());
}

TEST_F(I2cControlsTest, FailedDacWriteNamesItsDacAndChNumberAndTheNextWriteFollows) {
    record->fail = [](size_t, const std::string& t) {
        return t.rfind("W 9814", 0) == 0 ? kI2cDataNack : kI2cSuccess;
    };
    op.queueAnswer(true);
    controls.initialise();
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{
                  "Write Threshold DAC2 CH=1 FAIL\nNo acknowledge from the chip for a data byte"});
    EXPECT_EQ(record->transactions.size(), 8u);
    EXPECT_EQ(controls.bus().status, 0);  // the text lookup took the status
}

TEST_F(I2cControlsTest, TickReadsEveryChannelWithAWriteWithoutStopThenARead) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(controls.tick());
    std::vector<std::string> expected;
    for (const char* command : {"8c", "cc", "9c", "dc", "ac", "ec", "bc", "fc"}) {
        expected.push_back(std::string("W 90") + command + " nostop");
        expected.push_back("R 91");
    }
    EXPECT_EQ(record->transactions, expected);
    EXPECT_EQ(controls.vadc, 2048u);
    EXPECT_NEAR(controls.indicators()[1].temperature, 200.0182, 0.00005);
    EXPECT_EQ(controls.history().size(), 1u);

    controls.altSensor = true;
    controls.tick();
    EXPECT_DOUBLE_EQ(controls.indicators()[1].temperature, 75.0);
    EXPECT_DOUBLE_EQ(controls.history().at(1)[1], 75.0);
}

TEST_F(I2cControlsTest, LimitIsExceededOnlyAboveIt) {
    ASSERT_TRUE(open());
    controls.alarmEnable.fill(true);
    readings = {639, 639, 639, 639, 639, 639, 639, 640};
    controls.limit = AdcToTemperature(639, 0);  // readings equal to the limit stay green
    EXPECT_TRUE(controls.tick());
    for (int ch = 0; ch < 7; ++ch) {
        EXPECT_FALSE(controls.indicators()[size_t(ch)].red) << ch;
    }
    EXPECT_TRUE(controls.indicators()[7].red);
    EXPECT_EQ(op.texts("warning"), std::vector<std::string>{"Hight Temperature CH=7"});

    // Channels without "En" turn red but raise no alarm.
    controls.alarmEnable.fill(false);
    EXPECT_TRUE(controls.tick());
    EXPECT_EQ(op.texts("warning").size(), 1u);
}

TEST_F(I2cControlsTest, ReadFailureMidTickKeepsReadingTheRestAndStopsTheTimer) {
    ASSERT_TRUE(open());
    controls.alarmEnable.fill(true);
    controls.limit = 10.0;  // every channel that is read is above it
    readings = {700, 700, 700, 700, 700, 700, 700, 700};
    size_t start = record->transactions.size();
    record->fail = [start](size_t n, const std::string& t) {
        // The write that selects channel 2 is not acknowledged.
        return n >= start && t == "W 909c nostop" ? kI2cAddressNack : kI2cSuccess;
    };
    EXPECT_FALSE(controls.tick());
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{
                                     "Read ADC CH=2 FAIL\nNo acknowledge from the chip's address"});
    // Channels 0 and 1 alarmed before the failure; none after it, as reading is now off.
    EXPECT_EQ(op.texts("warning"),
              (std::vector<std::string>{"Hight Temperature CH=0", "Hight Temperature CH=1"}));
    ASSERT_EQ(controls.history().size(), 1u);
    const auto& sample = controls.history().at(0);
    EXPECT_EQ(sample[2], 0.0);
    for (int ch : {0, 1, 3, 4, 5, 6, 7}) {
        EXPECT_DOUBLE_EQ(sample[size_t(ch)], AdcToTemperature(700, ch)) << ch;
    }
    // 8 channels: two transactions each, minus the read that the failed write skipped.
    EXPECT_EQ(record->transactions.size() - start, 15u);
    EXPECT_FALSE(controls.enableRead);
}

TEST_F(I2cControlsTest, HeadlessSinkRefusesBadRequestsBeforeTheBus) {
    ASSERT_TRUE(open());
    HeadlessThresholdSink sink(controls);
    EXPECT_FALSE(sink.setThreshold(8, 0.0));
    EXPECT_FALSE(sink.setThreshold(-1, 0.0));
    EXPECT_FALSE(sink.setThreshold(0, 2.5001));
    EXPECT_FALSE(sink.setThreshold(0, std::nan("")));
    EXPECT_TRUE(record->transactions.empty());
    EXPECT_TRUE(sink.setThreshold(6, 2.499));
    EXPECT_EQ(record->transactions, std::vector<std::string>{"W 9812fff2"});
    EXPECT_DOUBLE_EQ(controls.threshold[6], 2.499);
}

}  // namespace
