#include <gtest/gtest.h>

#include <KOVRAVMElib.h>

#include <array>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "support/SimProcess.h"

namespace {

using nimbra::test::SimProcess;

constexpr uint32_t kBase = 0x03030000;

class BoardProcess : public ::testing::Test {
  protected:
    void startSim(std::vector<std::string> extra) {
        SimProcess::Options options;
        options.trace = false;
        options.args = {"--board", "--stats", statsDir_.file("stats.json")};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(options);
        ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &handle_), Success);
    }
    void TearDown() override {
        if (handle_ >= 0) {
            KOVRAVME_End(handle_);
        }
    }
    nlohmann::json stopAndReadStats() {
        KOVRAVME_End(handle_);
        handle_ = -1;
        EXPECT_EQ(sim_->stop(), 0);
        std::ifstream in(statsDir_.file("stats.json"));
        return nlohmann::json::parse(in);
    }

    ErrorCode read32(uint32_t offset, uint32_t& value) {
        return KOVRAVME_ReadCycle(handle_, kBase + offset, &value, AmA32UserData, D32);
    }
    ErrorCode write32(uint32_t offset, uint32_t value) {
        return KOVRAVME_WriteCycle(handle_, kBase + offset, &value, AmA32UserData, D32);
    }

    nimbra::test::TempDir statsDir_;
    std::unique_ptr<SimProcess> sim_;
    int32_t handle_ = -1;
};

TEST_F(BoardProcess, StatusAndFifoBlocksThroughTheLibrary) {
    startSim({});
    ASSERT_EQ(write32(0x108, 0), Success);
    uint32_t control1 = 0xFFFFFFFF;
    ASSERT_EQ(read32(0x108, control1), Success);
    EXPECT_EQ(control1, 0u);

    for (unsigned e = 0; e < 3; ++e) {
        uint32_t status = 0;
        ASSERT_EQ(read32(0x1000, status), Success);
        EXPECT_EQ(status, 0x80000000u | (e << 16));
        for (uint32_t k = 0; k < 8; ++k) {
            std::array<uint32_t, 256> fifo{};
            int32_t count = 0;
            ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kBase + 0x1000, fifo.data(), 1024,
                                            AmA32UserData, D32, &count),
                      Success);
            ASSERT_EQ(count, 1024);
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t expectedHigh =
                    (e << 28) | (k << 25) | ((i / 8) << 20) | ((i % 8) << 16);
                ASSERT_EQ(fifo[i] & 0xFFFFE000u, expectedHigh) << "FIFO " << k << " word " << i;
            }
        }
    }
    // SYSRESET from the bridge drops an event on offer.
    uint32_t status = 0;
    ASSERT_EQ(read32(0x1000, status), Success);
    ASSERT_EQ(KOVRAVME_SystemReset(handle_), Success);
    uint32_t first = 0;
    int32_t got = 0;
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kBase + 0x1000, &first, 4, AmA32UserData, D32, &got),
              Success);
    EXPECT_EQ(first, 0xFFFFFFFFu);

    // The older layout: one 2048-byte transfer of the stream port starts a block at channel 0.
    std::array<uint32_t, 512> stream{};
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kBase + 0x8000, stream.data(), 2048, AmA32UserData,
                                    D32, &count),
              Success);
    EXPECT_EQ(count, 2048);
    EXPECT_EQ(stream[17] & 0x0FFF0000u, (1u << 20) | (1u << 16));

    const auto stats = stopAndReadStats();
    EXPECT_EQ(stats["events_made"], 4);
    EXPECT_EQ(stats["events_read"], 3);
}

// A reader written like the acquisition worker: counts bus errors, drops bad events, and at the
// end its counts agree with what the simulator says it injected.
TEST_F(BoardProcess, InjectedFaultsAreWhatAWorkerCounts) {
    startSim({"--bus-error-every", "300", "--corrupt-every", "7", "--seed", "99"});
    ASSERT_EQ(write32(0x108, 0), Success);
    uint64_t busErrors = 0, dropped = 0, accepted = 0;
    std::vector<uint32_t> fifo(256);
    while (accepted < 60) {
        uint32_t status = 0;
        const ErrorCode r = read32(0x1000, status);
        if (r == BusError) {
            ++busErrors;
            continue;
        }
        ASSERT_EQ(r, Success);
        if ((status & 0xC0000000u) != 0x80000000u) {
            continue;
        }
        const uint32_t tag = (status >> 16) & 7;
        bool good = true;
        for (uint32_t k = 0; k < 8 && good; ++k) {
            int32_t got = 0;
            while (got < 1024) {
                int32_t count = 0;
                const ErrorCode b =
                    KOVRAVME_BLTReadCycle(handle_, kBase + 0x1000, fifo.data() + got / 4,
                                          1024 - got, AmA32UserData, D32, &count);
                got += count;
                if (b == BusError) {
                    ++busErrors;
                } else {
                    ASSERT_EQ(b, Success);
                }
            }
            for (uint32_t w : fifo) {
                if ((w >> 31) != 0 || ((w >> 28) & 7) != tag || ((w >> 25) & 7) != k) {
                    good = false;
                    break;
                }
            }
        }
        (good ? accepted : dropped) += 1;
    }
    const auto stats = stopAndReadStats();
    EXPECT_GT(busErrors, 0u);
    EXPECT_EQ(stats["bus_errors_injected"], busErrors);
    EXPECT_EQ(stats["corrupt_events_injected"], dropped);
    EXPECT_EQ(stats["events_made"], accepted + dropped);
    // A dropped event counts as read only when its bad word lay in the last FIFO.
    EXPECT_GE(stats["events_read"].get<uint64_t>(), accepted);
    EXPECT_LE(stats["events_read"].get<uint64_t>(), accepted + dropped);
}

}  // namespace
