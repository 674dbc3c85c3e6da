#include <gtest/gtest.h>

#include <set>

#include "BoardHarness.h"

namespace simboard {
namespace {

// Every word of an event in a read-out mode: tag of the status, its FIFO, channel and sample
// matching the position i = channel * 8 + sample.
void expectReadoutEvent(const std::vector<uint32_t>& ev, unsigned tag) {
    ASSERT_EQ(ev.size(), 8u * 256);
    for (unsigned k = 0; k < 8; ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const uint32_t w = ev[k * 256 + i];
            ASSERT_EQ(w >> 31, 0u) << "FIFO " << k << " word " << i;
            ASSERT_EQ(tagOf(w), tag) << "FIFO " << k << " word " << i;
            ASSERT_EQ(fifoOf(w), k) << "word " << i;
            ASSERT_EQ(channelOf(w), i / 8) << "FIFO " << k << " word " << i;
            ASSERT_EQ(sampleOf(w), i % 8) << "FIFO " << k << " word " << i;
            ASSERT_EQ((w >> 13) & 7, 0u);
        }
    }
}

TEST(BoardEventPort, ReadoutModesGiveEightFifosOf256WellFormedWords) {
    for (uint32_t mode : {0x0u, 0x1u}) {
        BoardHarness h;
        h.setMode(mode);
        for (int e = 0; e < 20; ++e) {
            uint32_t status = 0;
            const auto ev = h.event(256, &status);
            expectReadoutEvent(ev, (status >> 16) & 7);
        }
        // Past the end of the event the port reads as all ones.
        EXPECT_EQ(h.block(0x1000, 1), std::vector<uint32_t>{0xFFFFFFFFu});
        EXPECT_EQ(h.board.counts().eventsRead, 20u);
    }
}

TEST(BoardEventPort, MonitorAndTestModesGive512WordsOfTheSelectedChannel) {
    struct Case {
        uint32_t mode, control2;
        unsigned channel;
    };
    // Monitor mode takes the channel from Control2 bits 5..9, test mode from bits 0..4.
    for (const Case c : {Case{0x8, (17u << 5) | 3u, 17}, Case{0x3, (17u << 5) | 3u, 3}}) {
        BoardHarness h;
        h.setMode(c.mode, c.control2);
        uint32_t status = 0;
        const auto ev = h.event(512, &status);
        ASSERT_EQ(ev.size(), 8u * 512);
        for (unsigned k = 0; k < 8; ++k) {
            for (unsigned i = 0; i < 512; ++i) {
                const uint32_t w = ev[k * 512 + i];
                ASSERT_EQ(w >> 31, 0u);
                ASSERT_EQ(tagOf(w), (status >> 16) & 7);
                ASSERT_EQ(fifoOf(w), k);
                ASSERT_EQ(channelOf(w), c.channel);
                ASSERT_EQ(sampleOf(w), i % 8);
            }
        }
        EXPECT_EQ(h.block(0x1000, 1), std::vector<uint32_t>{0xFFFFFFFFu});
    }
}

TEST(BoardEventPort, StatusTagAdvancesPerEventAndWrapsAfterSeven) {
    BoardHarness h;
    h.setMode(0);
    for (unsigned e = 0; e < 20; ++e) {
        const uint32_t s = h.status();
        EXPECT_EQ(s & 0xC0000000u, 0x80000000u);
        EXPECT_EQ(s & ~0x80070000u, 0u) << std::hex << s;
        EXPECT_EQ((s >> 16) & 7, e % 8);
        // Asking again before reading shows the same event.
        EXPECT_EQ(h.status(), s);
        h.block(0x1000, 8 * 256);
    }
    EXPECT_EQ(h.board.counts().eventsMade, 20u);
}

TEST(BoardEventPort, StatusReadInsideAnEventAbandonsItsRest) {
    BoardHarness h;
    h.setMode(0);
    const uint32_t first = h.status();
    h.block(0x1000, 3 * 256 + 17);
    const uint32_t second = h.status();
    EXPECT_EQ((second >> 16) & 7, ((first >> 16) + 1) & 7);
    expectReadoutEvent(h.block(0x1000, 8 * 256), (second >> 16) & 7);
    EXPECT_EQ(h.board.counts().eventsMade, 2u);
    EXPECT_EQ(h.board.counts().eventsRead, 1u);  // only the event whose last word went out
}

TEST(BoardEventPort, ControlWritesDropTheEventOnOffer) {
    BoardHarness h;
    h.setMode(0, 4u << 5);
    h.status();
    h.setReg(0x108, 0x8);  // a 256-word event must not be served to a 512-word reader
    EXPECT_EQ(h.block(0x1000, 1), std::vector<uint32_t>{0xFFFFFFFFu});
    const auto ev = h.event(512);
    EXPECT_EQ(channelOf(ev[0]), 4u);
    EXPECT_EQ(channelOf(ev.back()), 4u);
}

TEST(BoardEventPort, SystemResetDropsTheEventButKeepsTheConfiguration) {
    BoardHarness h;
    h.loadSection(3, {1u << 4, 0, 0, 0, 0, 0x10}, 0x8);
    h.setReg(0x10C, 4u << 5);
    const uint32_t before = h.status();
    h.board.systemReset();
    EXPECT_EQ(h.block(0x1000, 1), std::vector<uint32_t>{0xFFFFFFFFu});
    EXPECT_EQ(h.reg(0x108) & 0xF, 0x8u);
    EXPECT_EQ(h.board.frontEnd(3).testMask(), 1u << 4);
    const uint32_t after = h.status();
    EXPECT_EQ((after >> 16) & 7, ((before >> 16) + 1) & 7);
}

TEST(BoardEventPort, LoadModeAndUnknownModesMakeNoEvents) {
    for (uint32_t mode : {0x2u, 0x4u, 0x7u, 0x9u, 0xFu}) {
        BoardHarness h;
        h.setMode(mode);
        EXPECT_EQ(h.status(), 0u) << "mode " << mode;
        EXPECT_EQ(h.board.counts().eventsMade, 0u);
    }
}

TEST(BoardEventPort, SixtyFourBitBlockItemsCarryTwoWordsLowFirst) {
    BoardHarness a, b;
    a.setMode(0);
    b.setMode(0);
    a.status();
    b.status();
    const auto words = a.block(0x1000, 8);
    for (unsigned i = 0; i < 4; ++i) {
        uint64_t v = 0;
        ASSERT_TRUE(b.board.read(b.base() + 0x1000 + 8 * i, 0x08, 8, Access::Block, v));
        EXPECT_EQ(static_cast<uint32_t>(v), words[2 * i]);
        EXPECT_EQ(static_cast<uint32_t>(v >> 32), words[2 * i + 1]);
    }
}

TEST(BoardEventRate, EventsComeAtTheRateButASoftTriggerAtOnce) {
    uint64_t clock = 1'000'000'000;
    BoardOptions options;
    options.eventRateHz = 1000;  // one per millisecond
    options.clockNs = [&clock] { return clock; };
    BoardHarness h(options);
    h.setMode(0);

    EXPECT_EQ(h.status() >> 31, 1u);  // the first is due at once
    h.block(0x1000, 8 * 256);
    const uint32_t busy = h.status();
    EXPECT_EQ(busy & 0xC0000000u, 0xC0000000u) << "not ready must not look ready";
    clock += 999'999;
    EXPECT_EQ(h.status() & 0xC0000000u, 0xC0000000u);
    clock += 1;
    EXPECT_EQ(h.status() & 0xC0000000u, 0x80000000u);
    h.block(0x1000, 8 * 256);

    // The software trigger does not wait for the rate.
    EXPECT_EQ(h.status() & 0xC0000000u, 0xC0000000u);
    h.setReg(0xA00, 0);
    EXPECT_EQ(h.status() & 0xC0000000u, 0x80000000u);
    // A second trigger while the event waits is lost.
    h.setReg(0xA00, 0);
    h.block(0x1000, 8 * 256);
    EXPECT_EQ(h.status() & 0xC0000000u, 0xC0000000u);

    // A reader that falls behind gets at most one event early, not a burst.
    clock += 50'000'000;
    int ready = 0;
    for (int i = 0; i < 5; ++i) {
        if ((h.status() & 0xC0000000u) == 0x80000000u) {
            ++ready;
            h.block(0x1000, 8 * 256);
        }
    }
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(h.board.counts().eventsMade, 4u);
}

TEST(BoardCorruptEvery, EveryNthEventHasExactlyOneBadWordOfEachKindInTurn) {
    BoardOptions options;
    options.corruptEvery = 3;
    BoardHarness h(options);
    h.setMode(0);
    std::vector<int> kinds;
    for (unsigned e = 1; e <= 30; ++e) {
        uint32_t status = 0;
        const auto ev = h.event(256, &status);
        const unsigned tag = (status >> 16) & 7;
        int bad = 0;
        for (unsigned i = 0; i < ev.size(); ++i) {
            const uint32_t w = ev[i];
            const bool bit31 = w >> 31;
            const bool wrongTag = tagOf(w) != tag;
            const bool wrongFifo = fifoOf(w) != i / 256;
            if (bit31 || wrongTag || wrongFifo) {
                ++bad;
                EXPECT_EQ(int(bit31) + int(wrongTag) + int(wrongFifo), 1) << "one fault per word";
                kinds.push_back(bit31 ? 0 : wrongTag ? 1 : 2);
                EXPECT_EQ(channelOf(w), (i % 256) / 8);
            }
        }
        EXPECT_EQ(bad, e % 3 == 0 ? 1 : 0) << "event " << e;
    }
    EXPECT_EQ(kinds.size(), 10u);
    for (size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(kinds[i], static_cast<int>(i % 3));
    }
    EXPECT_EQ(h.board.counts().corruptEventsInjected, 10u);
}

TEST(BoardBusErrorEvery, EveryNthDataAccessFailsWithoutLosingItsWord) {
    BoardOptions clean;
    BoardHarness reference(clean);
    reference.setMode(0);
    std::vector<uint32_t> expected;
    for (int e = 0; e < 5; ++e) {
        const auto ev = reference.event(256);
        expected.insert(expected.end(), ev.begin(), ev.end());
    }

    BoardOptions options;
    options.busErrorEvery = 97;
    BoardHarness h(options);
    h.setMode(0);
    std::vector<uint32_t> got;
    uint64_t failures = 0;
    for (int e = 0; e < 5; ++e) {
        uint32_t v = 0;
        while (!h.readReg(0x1000, v)) {  // status reads count as data accesses too
            ++failures;
        }
        ASSERT_EQ(v >> 31, 1u);
        size_t have = 0;
        while (have < 2048) {
            bool busError = false;
            const auto part = h.block(0x1000, 2048 - have, &busError);
            got.insert(got.end(), part.begin(), part.end());
            have += part.size();
            failures += busError ? 1 : 0;
        }
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(failures, h.board.counts().busErrorsInjected);
    EXPECT_EQ(failures, (5 * 2048 + 5 + failures) / 97);

    // Control registers are never hit.
    for (int i = 0; i < 500; ++i) {
        h.setReg(0x108, 0);
        h.reg(0x10C);
    }
}

TEST(BoardDeterminism, SameSeedSameEventsOtherSeedOtherData) {
    auto run = [](uint64_t seed) {
        BoardOptions options;
        options.seed = seed;
        options.corruptEvery = 4;
        BoardHarness h(options);
        h.setMode(0);
        std::vector<uint32_t> all;
        for (int e = 0; e < 8; ++e) {
            const auto ev = h.event(256);
            all.insert(all.end(), ev.begin(), ev.end());
        }
        return all;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
}

TEST(BoardStats, CountsGoIntoTheSharedTable) {
    BoardOptions options;
    options.corruptEvery = 2;
    options.busErrorEvery = 1000;
    BoardHarness h(options);
    h.setMode(0);
    for (int e = 0; e < 4; ++e) {
        uint32_t v = 0;
        while (!h.readReg(0x1000, v)) {
        }
        size_t have = 0;
        while (have < 2048) {
            have += h.block(0x1000, 2048 - have).size();
        }
    }
    h.status();  // a fifth event made, never read
    std::map<std::string, uint64_t> stats{{"events_made", 1}};
    h.board.addStats(stats);
    EXPECT_EQ(stats["events_made"], 6u);  // added to what was there
    EXPECT_EQ(stats["events_read"], 4u);
    EXPECT_EQ(stats["corrupt_events_injected"], 2u);
    EXPECT_EQ(stats["bus_errors_injected"], 8u);
}

}  // namespace
}  // namespace simboard
