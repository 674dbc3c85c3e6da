#include <gtest/gtest.h>

#include <algorithm>

#include "BoardHarness.h"
#include "bench/BenchState.h"

namespace simboard {
namespace {

using vmesim::BenchState;

constexpr uint32_t kReadoutShiftIn = 0x1;
constexpr uint32_t kMonitor = 0x8;
constexpr unsigned kChannel = 5;

// A board on a bench, with a clock the test moves by hand. Section 0 tests one channel the way
// the sequence test sets it up; every other section has all its channels disabled.
struct Bench {
    BenchState state;
    uint64_t nowNs = 1'000'000'000;
    BoardHarness h{options()};

    BoardOptions options() {
        BoardOptions o;
        o.bench = &state;
        o.clockNs = [this] { return nowNs; };
        return o;
    }

    explicit Bench(uint32_t reg6 = 0x10) {
        for (unsigned ta = 1; ta < 8; ++ta) {
            h.loadSection(ta, {1u << 31, 0, 0, 0, 0xFFFFFFFF, 0x10});
        }
        testChannel(reg6);
        h.setMode(kReadoutShiftIn);
    }
    void testChannel(uint32_t reg6) {
        h.loadSection(0, {1u << kChannel, 0, 0, 0, ~(1u << kChannel), reg6}, kReadoutShiftIn);
    }
    void generator(bool on, double volts, double hz = 1000) {
        state.update([&](BenchState::Snapshot& s) {
            s.generatorOn = on;
            s.generatorVolts = volts;
            s.generatorHz = hz;
        });
    }
    void threshold(unsigned section, double volts) {
        state.update([&](BenchState::Snapshot& s) { s.thresholdVolts[section] = volts; });
    }
    bool ready() { return (h.status() & 0xC0000000u) == 0x80000000u; }
    // Events that come within the time, reading each one whole as soon as it is ready.
    int eventsWithin(uint64_t ns, uint64_t stepNs = 100'000) {
        int events = 0;
        for (uint64_t end = nowNs + ns; nowNs < end; nowNs += stepNs) {
            if (ready()) {
                h.block(0x1000, 8 * 256);
                ++events;
            }
        }
        return events;
    }
    // The held peak (sample 3) of the tested channel in FIFO 0, above its pedestal.
    int pulseHeight() {
        EXPECT_TRUE(ready());
        const auto ev = h.block(0x1000, 8 * 256);
        return static_cast<int>(adcOf(ev[kChannel * 8 + 3])) -
               h.board.signals().pedestal(0, kChannel);
    }
};

TEST(BenchCoupling, ASectionTriggersOnEachPulseAboveItsThreshold) {
    Bench b;
    b.threshold(0, 0.5);
    b.generator(false, 0.8);
    EXPECT_EQ(b.eventsWithin(100'000'000), 0);  // output off: nothing in 100 ms

    b.generator(true, 0.8, 1000);
    EXPECT_EQ(b.eventsWithin(200'000'000), 200);  // one event per pulse
    b.generator(true, 0.8, 2000);
    EXPECT_EQ(b.eventsWithin(100'000'000), 200);

    b.generator(true, 0.4);  // under the threshold
    EXPECT_EQ(b.eventsWithin(100'000'000), 0);

    // The threshold decides to the millivolt.
    b.generator(true, 0.8);
    b.threshold(0, 0.801);
    EXPECT_EQ(b.eventsWithin(10'000'000), 0);
    b.threshold(0, 0.799);
    EXPECT_EQ(b.eventsWithin(10'000'000), 10);
}

TEST(BenchCoupling, OnlyTheSectionsOwnThresholdCounts) {
    Bench b;
    b.generator(true, 0.8);
    b.threshold(0, 1.0);
    for (unsigned s = 1; s < 8; ++s) {
        b.threshold(s, 0.1);  // low, but their channels are all disabled
    }
    EXPECT_EQ(b.eventsWithin(50'000'000), 0);
    b.threshold(0, 0.7);
    EXPECT_EQ(b.eventsWithin(50'000'000), 50);
}

TEST(BenchCoupling, PolarityAndGainShapeThePulseAndTheDiscriminatorFollowsThem) {
    struct Case {
        uint32_t reg6;
        double volts;
        double threshold;
        bool fires;
        int height;  // ADC counts at the held peak, 1 V = 1000 at gain 1x
    };
    const Case cases[] = {
        {0x10, 0.3, 0.5, false, 0},
        {0x10 | 0x4, 0.3, 0.5, true, 900},   // gain 3x: 0.9 V at the discriminator
        {0x10 | 0x1, 0.8, 0.5, true, -800},  // negative polarity: a negative-going pulse
        {0x10, -0.8, 0.5, false, 0},         // a pulse of the other sign never passes
    };
    for (const Case& c : cases) {
        Bench b(c.reg6);
        b.threshold(0, c.threshold);
        b.generator(true, c.volts);
        EXPECT_EQ(b.eventsWithin(10'000'000), c.fires ? 10 : 0) << "Reg6 " << c.reg6;
        if (c.fires) {
            b.nowNs += 1'000'000;
            EXPECT_NEAR(b.pulseHeight(), c.height, 40) << "Reg6 " << c.reg6;
        }
    }
}

TEST(BenchCoupling, NoiseAndDetectorSignalsTriggerAtTheBoardsRate) {
    Bench b;
    b.generator(false, 0.0);
    b.threshold(0, 0.0);  // at the base line the noise fires the discriminator
    EXPECT_TRUE(b.ready());
    b.threshold(0, 0.2);
    b.h.block(0x1000, 8 * 256);
    EXPECT_FALSE(b.ready());
    // A section out of test mode sees the detector again.
    b.h.loadSection(3, {0, 0, 0, 0, 0, 0}, kReadoutShiftIn);
    EXPECT_TRUE(b.ready());
}

TEST(BenchCoupling, MonitorWaveformsFollowTheGeneratorWithoutWaitingForTriggers) {
    Bench b;
    b.threshold(0, 2.0);  // high: no trigger, yet the monitor runs
    b.h.setMode(kMonitor, kChannel << 5);
    auto peak = [&] {
        EXPECT_TRUE(b.ready());
        const auto ev = b.h.block(0x1000, 8 * 512);
        uint32_t top = 0;
        for (int i = 0; i < 512; ++i) {
            top = std::max(top, adcOf(ev[i]));
        }
        return static_cast<int>(top) - b.h.board.signals().pedestal(0, kChannel);
    };
    b.generator(false, 0.8);
    EXPECT_LT(peak(), 40);  // output off: the base line and its noise
    int last = 0;
    for (double volts : {0.2, 0.4, 0.8, 1.6}) {
        b.generator(true, volts);
        const int height = peak();
        EXPECT_NEAR(height, volts * 1000, 40) << volts;
        EXPECT_GT(height, last);
        last = height;
    }
}

TEST(BenchCoupling, WithoutABenchTheBoardKeepsItsOwnPulserAndFreeTriggers) {
    BoardHarness h;
    h.loadSection(0, {1u << kChannel, 0, 0, 0, ~(1u << kChannel), 0x10}, kReadoutShiftIn);
    for (unsigned ta = 1; ta < 8; ++ta) {
        h.loadSection(ta, {0, 0, 0, 0, 0xFFFFFFFF, 0x10}, kReadoutShiftIn);
    }
    const auto ev = h.event(256);
    EXPECT_NEAR(
        static_cast<int>(adcOf(ev[kChannel * 8 + 3])) - h.board.signals().pedestal(0, kChannel),
        400, 40);
}

}  // namespace
}  // namespace simboard
