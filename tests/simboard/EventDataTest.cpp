#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "BoardHarness.h"

namespace simboard {
namespace {

std::array<uint32_t, 6> testPulseOn(unsigned channel, uint32_t reg6) {
    return {1u << channel, 0, 0, 0, 0, reg6};
}

// ADC values of one channel of one FIFO at one sample over many read-out events.
std::vector<int> sampleValues(BoardHarness& h, unsigned fifo, unsigned channel, unsigned sample,
                              int events) {
    std::vector<int> values;
    for (int e = 0; e < events; ++e) {
        const auto ev = h.event(256);
        values.push_back(static_cast<int>(adcOf(ev[fifo * 256 + channel * 8 + sample])));
    }
    return values;
}

int median(std::vector<int> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

TEST(BoardEventData, PedestalsMoveWithTheChannelTrimAndOffsetAdc) {
    BoardHarness h;
    const int nominal = h.board.signals().pedestal(2, 7);
    // Test mode without a test mask keeps hits out, leaving pedestal and noise.
    h.loadSection(2, {0, 0, 0, 0, 0, 0x10});
    EXPECT_NEAR(median(sampleValues(h, 2, 7, 0, 300)), nominal, 2);

    // Trim 3 on channel 7 (bits 21..23 of Reg2).
    h.loadSection(2, {0, 3u << 21, 0, 0, 0, 0x10});
    EXPECT_NEAR(median(sampleValues(h, 2, 7, 0, 300)), nominal + 3 * 16, 2);
    EXPECT_NEAR(median(sampleValues(h, 2, 6, 0, 300)), h.board.signals().pedestal(2, 6), 2);

    h.setReg(0x110, 32768 + 1600);
    EXPECT_NEAR(median(sampleValues(h, 2, 7, 0, 300)), nominal + 3 * 16 + 100, 2);
}

TEST(BoardEventData, TestPulseFollowsMaskGainPolarityAndDisable) {
    struct Case {
        uint32_t reg6;
        int expectedHeight;  // at the held peak, test pulse 0.4 V = 400 counts at gain 1x
    };
    const Case cases[] = {
        {0x10, 400},         // positive, gain 1x
        {0x10 | 0x4, 1200},  // gain 3x
        {0x10 | 0x1, -400},  // negative
        {0x10 | 0x3, 400},   // negative through an inverting gain
        {0x10 | 0xC, 4000},  // gain 10x
    };
    for (const Case& c : cases) {
        BoardHarness h;
        h.loadSection(1, testPulseOn(5, c.reg6));
        const int ped = h.board.signals().pedestal(1, 5);
        // Sample 3 sits on the shaper's peak.
        EXPECT_NEAR(median(sampleValues(h, 1, 5, 3, 51)), ped + c.expectedHeight, 3)
            << "Reg6 " << c.reg6;
        // Other sections are not in test mode and have no test pulse.
        EXPECT_NEAR(median(sampleValues(h, 0, 5, 3, 51)), h.board.signals().pedestal(0, 5), 3);
    }

    // A disabled channel stays at its pedestal although it is in the test mask.
    BoardHarness h;
    h.loadSection(1, {1u << 5, 0, 0, 0, 1u << 5, 0x10});
    const auto values = sampleValues(h, 1, 5, 3, 200);
    const int ped = h.board.signals().pedestal(1, 5);
    for (int v : values) {
        EXPECT_LE(std::abs(v - ped), 6 * h.board.signals().noiseSigma(1, 5) + 1);
    }
}

TEST(BoardEventData, TestPulseAmplitudeIsSettable) {
    BoardHarness h;
    h.board.signals().setTestPulseVolts(1.25);
    h.loadSection(4, testPulseOn(0, 0x10));
    EXPECT_NEAR(median(sampleValues(h, 4, 0, 3, 51)), h.board.signals().pedestal(4, 0) + 1250, 3);
}

TEST(BoardEventData, HitsFormLinesAboveThePedestalExceptInTestMode) {
    BoardHarness h;
    h.setMode(0);
    // Pulse heights of all channels of FIFO 0 at the peak sample, over many events.
    std::vector<int> heights;
    int channelEvents = 0;
    for (int e = 0; e < 400; ++e) {
        const auto ev = h.event(256);
        for (unsigned c = 0; c < 32; ++c) {
            ++channelEvents;
            const int d = static_cast<int>(adcOf(ev[c * 8 + 3])) - h.board.signals().pedestal(0, c);
            if (d > 15) {
                heights.push_back(d);
            }
        }
    }
    const double occupancy = static_cast<double>(heights.size()) / channelEvents;
    EXPECT_NEAR(occupancy, 0.25, 0.03);
    // The strongest line (150 counts) stands out: a 20-count window around it holds far more
    // hits than a window of the same width in the continuum.
    auto inWindow = [&](int lo, int hi) {
        return std::count_if(heights.begin(), heights.end(),
                             [&](int v) { return v >= lo && v < hi; });
    };
    EXPECT_GT(inWindow(140, 160), 5 * inWindow(240, 260));
    EXPECT_GT(inWindow(350, 370), 3 * inWindow(240, 260));
    EXPECT_LT(*std::max_element(heights.begin(), heights.end()), 900);

    // Test mode switches the inputs to the calibration line: no hits on other channels.
    h.loadSection(0, {0, 0, 0, 0, 0, 0x10});
    for (int e = 0; e < 100; ++e) {
        const auto ev = h.event(256);
        for (unsigned c = 0; c < 32; ++c) {
            const int d = static_cast<int>(adcOf(ev[c * 8 + 3])) - h.board.signals().pedestal(0, c);
            ASSERT_LT(std::abs(d), 60) << "channel " << c;
        }
    }
}

TEST(BoardEventData, MonitorShowsThePulseShapeOfTheMonitoredChannel) {
    BoardHarness h;
    h.loadSection(5, {0, 0, 0, 0, 0, 0x10});  // quiet: no hits, no test pulse
    h.loadSection(6, testPulseOn(9, 0x10), 0x8);
    h.setReg(0x10C, 9u << 5);
    const auto ev = h.event(512);
    const uint32_t* wave = ev.data() + 6 * 512;
    const int ped = h.board.signals().pedestal(6, 9);
    int peakAt = 0;
    for (int i = 0; i < 512; ++i) {
        if (adcOf(wave[i]) > adcOf(wave[peakAt])) {
            peakAt = i;
        }
    }
    EXPECT_NEAR(peakAt, 128, 12);
    EXPECT_NEAR(static_cast<int>(adcOf(wave[peakAt])), ped + 400, 20);
    EXPECT_NEAR(static_cast<int>(adcOf(wave[10])), ped, 30);   // before the pulse
    EXPECT_NEAR(static_cast<int>(adcOf(wave[511])), ped, 30);  // after it has decayed
    // FIFO 5 monitors the same channel number of its own section, which has no test pulse.
    const uint32_t* quiet = ev.data() + 5 * 512;
    EXPECT_NEAR(static_cast<int>(adcOf(quiet[128])), h.board.signals().pedestal(5, 9), 30);
}

TEST(BoardEventData, ValuesStayWithinThirteenBits) {
    BoardHarness h;
    // Gain 10x on everything, and an offset that pushes the pedestals to the top.
    for (unsigned ta = 0; ta < 8; ++ta) {
        h.loadSection(ta, {0xFFFFFFFF, 0, 0, 0, 0, 0x1C});
    }
    h.setReg(0x110, 0xFFFF);
    h.board.signals().setTestPulseVolts(1.0);
    for (int e = 0; e < 5; ++e) {
        for (uint32_t w : h.event(256)) {
            ASSERT_EQ((w >> 13) & 7, 0u);
            ASSERT_EQ(adcOf(w), 0x1FFFu);  // saturated, not wrapped
        }
    }
}

}  // namespace
}  // namespace simboard
