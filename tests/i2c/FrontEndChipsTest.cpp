#include <gtest/gtest.h>

#include "i2c/FrontEndChips.h"

namespace {

using namespace tarvo;

TEST(FrontEndChips, ThresholdCodesAtTheEndsAndInBetween) {
    EXPECT_EQ(ThresholdToCode(-2.5), 0);
    EXPECT_EQ(ThresholdToCode(0.0), 32768);
    EXPECT_EQ(ThresholdToCode(1.0), 45875);
    EXPECT_EQ(ThresholdToCode(2.5), 65535);  // 65536 does not fit: limited
    // Beyond the slider's range the code stays at its end instead of wrapping.
    EXPECT_EQ(ThresholdToCode(-3.0), 0);
    EXPECT_EQ(ThresholdToCode(7.0), 65535);
}

TEST(FrontEndChips, TemperatureFormulas) {
    EXPECT_NEAR(AdcToTemperature(2048, 3), 200.0182, 0.00005);
    EXPECT_NEAR(AdcToTemperature(2048, 1, true), 75.0, 1e-9);
    // The alternative sensor is on channel 1 only.
    EXPECT_NEAR(AdcToTemperature(2048, 2, true), 200.0182, 0.00005);
    EXPECT_NEAR(AdcToTemperature(2048, 1, false), 200.0182, 0.00005);
}

TEST(FrontEndChips, AdcCommandBytesOfEveryChannel) {
    const uint8_t expected[8] = {0x8C, 0xCC, 0x9C, 0xDC, 0xAC, 0xEC, 0xBC, 0xFC};
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(adcCommandByte(ch), expected[ch]) << ch;
    }
    EXPECT_EQ(adcAddressByte(0), 0x90);
    EXPECT_EQ(dacAddressByte(1), 0x9A);
    EXPECT_EQ(dacAddressByte(0), 0x98);
}

TEST(FrontEndChips, SlotsToDacChannels) {
    const int dac[8] = {1, 1, 1, 1, 2, 2, 2, 2};
    const int channel[8] = {3, 2, 1, 0, 3, 2, 1, 0};
    const int chNumber[8] = {0, 1, 2, 3, 0, 1, 2, 3};
    for (int slot = 0; slot < 8; ++slot) {
        ThresholdRoute route = thresholdRoute(slot);
        EXPECT_EQ(route.dac, dac[slot]) << slot;
        EXPECT_EQ(route.dacChannel, channel[slot]) << slot;
        EXPECT_EQ(route.chNumber, chNumber[slot]) << slot;
    }
}

}  // namespace
