// The library's card paths against vmecrate-sim run as a separate process.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "OpticalFixture.h"

using namespace optical;
using Clock = std::chrono::steady_clock;

namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(OpticalTest, HandlesOfOneLinkShareTheCardAndEndingOneKeepsItForTheOthers) {
    int32_t bridge0 = open(OpticalBridge, 0, 0);
    int32_t bridge1 = open(OpticalBridge, 0, 1);
    int32_t card = open(PciLinkCard, 0, 0);
    int32_t duplicate = -1;
    EXPECT_EQ(KOVRAVME_Init(OpticalBridge, 0, 1, &duplicate), GenericError);

    uint32_t value = 0x13572468;
    ASSERT_EQ(KOVRAVME_WriteCycle(bridge1, kMemoryBase + 0x10, &value, kAm, D32), Success);
    end(bridge1);
    uint32_t back = 0;
    EXPECT_EQ(KOVRAVME_ReadCycle(bridge0, kMemoryBase + 0x10, &back, kAm, D32), Success);
    EXPECT_EQ(back, value);
    uint16_t release = 0;
    EXPECT_EQ(KOVRAVME_ReadRegister(card, 28, &release), Success);
    EXPECT_EQ(release, 0x0103);
    end(bridge0);
    EXPECT_EQ(KOVRAVME_ReadRegister(card, 28, &release), Success);
    end(card);

    // Every handle gone: the card was closed, and opens again from scratch.
    int32_t again = open(OpticalBridge, 0, 1);
    EXPECT_EQ(KOVRAVME_ReadCycle(again, kMemoryBase + 0x10, &back, kAm, D32), Success);
    EXPECT_EQ(back, value);
}

TEST_F(OpticalTest, OpeningWhatTheLinkDoesNotHaveFailsAndLeavesNoHandle) {
    int32_t handle = -1;
    EXPECT_EQ(KOVRAVME_Init(OpticalBridge, 0, -1, &handle), CommError);
    EXPECT_EQ(KOVRAVME_Init(PciLinkCard, 5, 0, &handle), CommError);  // no card for link 5
    // Board 2 has no bridge on a link of two: the first exchange goes unanswered.
    auto start = Clock::now();
    EXPECT_EQ(KOVRAVME_Init(OpticalBridge, 2, 2, &handle), CommError);
    EXPECT_GE(secondsSince(start), 5.0);
    // Failed opens left nothing in use: the same identities fail the same way, not as duplicates.
    EXPECT_EQ(KOVRAVME_Init(PciLinkCard, 5, 0, &handle), CommError);
    int32_t card = open(PciLinkCard, 0, 0);
    EXPECT_GE(card, 0);
}

TEST_F(OpticalTest, InitReadsFifoModeAndWritesRegisterSix) {
    sim->clearTrace();
    int32_t bridge = open(OpticalBridge, 0, 0);
    ASSERT_GE(bridge, 0);
    // Register 1 read (0x4081), then 0x00FF to register 6 (0x0086), as the bridge's requests.
    auto requests = requestsInTrace();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0], "8140");
    EXPECT_EQ(requests[1], "8600ff00");
}

TEST_F(OpticalTest, ConcurrentThreadsOnTwoHandlesEachGetTheirOwnReplies) {
    int32_t a = open(OpticalBridge, 0, 0);
    int32_t b = open(OpticalBridge, 0, 1);
    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    auto worker = [&](int32_t handle, uint32_t base, uint32_t seed) {
        for (uint32_t i = 0; i < 300; ++i) {
            uint32_t address = base + (i % 64) * 4;
            uint32_t value = seed ^ (i * 0x9E3779B9u);
            uint32_t back = 0;
            if (KOVRAVME_WriteCycle(handle, address, &value, kAm, D32) != Success ||
                KOVRAVME_ReadCycle(handle, address, &back, kAm, D32) != Success) {
                ++failed;
            } else if (back != value) {
                ++wrong;
            }
        }
    };
    std::thread first(worker, a, kMemoryBase + 0x1000, 0xAAAA0000u);
    std::thread second(worker, b, kMemoryBase + 0x2000, 0x55550000u);
    first.join();
    second.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0);
}

TEST_F(OpticalTest, LinkDeviceAndBridgeThreadsOnOneCardDoNotCrossTheirRequests) {
    // A link-device access switches the card's routing bit; a bridge request pushed meanwhile
    // from another thread must still reach the bridge, and the register request the device.
    int32_t bridge = open(OpticalBridge, 0, 0);
    int32_t device = open(LinkDevice, 0, 1);
    std::atomic<int> bad{0};
    std::thread registers([&] {
        for (uint16_t i = 0; i < 150; ++i) {
            uint16_t back = 0;
            if (KOVRAVME_WriteRegister(device, 10, i) != Success ||
                KOVRAVME_ReadRegister(device, 10, &back) != Success || back != i) {
                ++bad;
            }
        }
    });
    for (uint32_t i = 0; i < 150; ++i) {
        uint32_t value = 0x5A000000u + i, back = 0;
        if (KOVRAVME_WriteCycle(bridge, kMemoryBase + 0x4000, &value, kAm, D32) != Success ||
            KOVRAVME_ReadCycle(bridge, kMemoryBase + 0x4000, &back, kAm, D32) != Success ||
            back != value) {
            ++bad;
        }
    }
    registers.join();
    EXPECT_EQ(bad, 0);
}

TEST_F(OpticalTest, ProcessesSharingTheCardEachGetTheirOwnReplies) {
    int32_t handle = open(OpticalBridge, 0, 0);
    pid_t child = fork();
    if (child == 0) {
        execl(OPTICAL_WORKER_PATH, OPTICAL_WORKER_PATH, "1", "0x00103000", "200", nullptr);
        _exit(127);
    }
    int bad = 0;
    for (uint32_t i = 0; i < 200; ++i) {
        uint32_t value = 0xFACE0000u + i, back = 0;
        bad += KOVRAVME_WriteCycle(handle, kMemoryBase + 0x3100, &value, kAm, D32) != Success ||
               KOVRAVME_ReadCycle(handle, kMemoryBase + 0x3100, &back, kAm, D32) != Success ||
               back != value;
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(OpticalTest, LostReplyIsCommErrorAfterTheLimitAndTheHandleWorksAfterwards) {
    int32_t handle = open(OpticalBridge, 1, 0);
    uint32_t value = 0x0BADCAFE;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle, kMemoryBase, &value, kAm, D32), Success);
    dropNextReplies(1, 1);
    uint32_t back = 0;
    auto start = Clock::now();
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), CommError);
    double waited = secondsSince(start);
    EXPECT_GE(waited, 5.0);
    EXPECT_LT(waited, 7.5);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), Success);
    EXPECT_EQ(back, value);
}

TEST_F(OpticalTest, ReplyThatComesTooLateIsNotTakenForTheNextExchange) {
    int32_t handle = open(OpticalBridge, 2, 0);
    int32_t card = open(PciLinkCard, 2, 0);
    uint32_t first = 0x11111111, second = 0x22222222, back = 0;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle, kMemoryBase, &first, kAm, D32), Success);
    ASSERT_EQ(KOVRAVME_WriteCycle(handle, kMemoryBase + 4, &second, kAm, D32), Success);
    delayNextReplies(1, 7000, 2);  // due well after the exchange gave up
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), CommError);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    uint16_t release = 0;  // any card access lets the late reply into the card's FIFO
    ASSERT_EQ(KOVRAVME_ReadRegister(card, 28, &release), Success);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase + 4, &back, kAm, D32), Success);
    EXPECT_EQ(back, second);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle, kMemoryBase, &back, kAm, D32), Success);
    EXPECT_EQ(back, first);
}

TEST_F(OpticalTest, IrqWaitTimesOutWhileOtherThreadsKeepUsingTheBridge) {
    int32_t waiter = open(OpticalBridge, 0, 0);
    int32_t user = open(OpticalBridge, 0, 1);
    EXPECT_EQ(KOVRAVME_IRQWait(waiter, 0, 1000), GenericError);
    ASSERT_EQ(KOVRAVME_IRQEnable(waiter, 0x7F), Success);
    std::atomic<bool> waiting{true};
    std::atomic<int> cycles{0};
    std::thread other([&] {
        uint32_t value = 0;
        while (waiting) {
            if (KOVRAVME_ReadCycle(user, kMemoryBase, &value, kAm, D32) == Success) {
                ++cycles;
            }
        }
    });
    auto start = Clock::now();
    EXPECT_EQ(KOVRAVME_IRQWait(waiter, 0x7F, 1000), TimeoutError);
    double waited = secondsSince(start);
    waiting = false;
    other.join();
    // Only the lower bound is the wait's own: how far past its limit it returns depends on how
    // loaded the machine is.
    EXPECT_GE(waited, 1.0);
    EXPECT_GE(cycles, 5) << "the bridge was blocked while IRQWait waited";
}

TEST_F(OpticalTest, IrqWaitSucceedsOnARaisedLevelAndDisableStopsIt) {
    int32_t handle = open(OpticalBridge, 0, 0);
    ASSERT_EQ(KOVRAVME_IRQEnable(handle, 0x7F), Success);
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        raiseInterrupt(1, 3);
    });
    auto start = Clock::now();
    EXPECT_EQ(KOVRAVME_IRQWait(handle, 0x04, 5000), Success);
    EXPECT_LT(secondsSince(start), 2.0);
    raiser.join();
    uint8_t pending = 0;
    EXPECT_EQ(KOVRAVME_IRQCheck(handle, &pending), Success);
    EXPECT_EQ(pending, 0x04);
    // Still pending, but the card no longer interrupts for it.
    ASSERT_EQ(KOVRAVME_IRQDisable(handle, 0x7F), Success);
    EXPECT_EQ(KOVRAVME_IRQWait(handle, 0x04, 500), TimeoutError);
    // The acknowledge cycle takes the level away; enabled again, nothing interrupts.
    uint32_t vector = 0;
    EXPECT_EQ(KOVRAVME_IACKCycle(handle, 0x04, &vector, D8), Success);
    EXPECT_EQ(vector, 3u);
    ASSERT_EQ(KOVRAVME_IRQEnable(handle, 0x7F), Success);
    EXPECT_EQ(KOVRAVME_IRQWait(handle, 0x04, 500), TimeoutError);

    int32_t card = open(PciLinkCard, 0, 0);
    EXPECT_EQ(KOVRAVME_IRQWait(card, 0x04, 100), InvalidParam);
    EXPECT_EQ(KOVRAVME_IRQEnable(card, 0x04), InvalidParam);
}

TEST_F(OpticalTest, LongBlockReadMovesExactlyTheSlavesDataAndContinuesTheAddress) {
    constexpr int32_t kSize = 1038336 + 4096;
    std::vector<uint8_t> data = pattern(kSize, 7);
    int32_t usb = open(UsbBridge, 0, 0);
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTWriteCycle(usb, kMemoryBase, data.data(), kSize, kAm, D32, &count),
              Success);
    ASSERT_EQ(count, kSize);

    int32_t optical = open(OpticalBridge, 0, 0);
    sim->clearTrace();
    std::vector<uint8_t> read(kSize + 16, 0xEE);
    ASSERT_EQ(KOVRAVME_BLTReadCycle(optical, kMemoryBase, read.data(), kSize, kAm, D32, &count),
              Success);
    EXPECT_EQ(count, kSize);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), read.begin()));
    EXPECT_EQ(read[kSize], 0xEE);  // nothing past the size

    auto requests = requestsInTrace();
    ASSERT_EQ(requests.size(), 2u);
    // First request: 17 pieces, the first 0xC927 (not last) with 15360 items at the start.
    EXPECT_EQ(requests[0].size(), 17u * 16);
    EXPECT_EQ(requests[0].substr(0, 16), "27c9003c00001000");
    // Second request: one last piece of 1024 items where the first request ended.
    EXPECT_EQ(requests[1], "a4c9000400d81f00");
}

TEST_F(OpticalTest, BlockReadEndedByABusErrorCountsWhatArrived) {
    int32_t optical = open(OpticalBridge, 0, 0);
    std::vector<uint8_t> read(4096);
    int32_t count = -1;
    // 100 bytes before the end of the memory slave.
    EXPECT_EQ(KOVRAVME_BLTReadCycle(optical, kMemoryBase + kMemorySize - 100, read.data(), 4096,
                                    kAm, D32, &count),
              BusError);
    EXPECT_EQ(count, 100);
}

TEST_F(OpticalTest, BlockWriteGoesIn2048ByteChunksAndLandsExactly) {
    constexpr int32_t kSize = 2048 + 512;
    constexpr uint32_t kAddress = kMemoryBase + 0x200000;
    std::vector<uint8_t> data = pattern(kSize, 11);
    int32_t optical = open(OpticalBridge, 0, 1);
    sim->clearTrace();
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTWriteCycle(optical, kAddress, data.data(), kSize, kAm, D32, &count),
              Success);
    EXPECT_EQ(count, kSize);
    auto requests = requestsInTrace();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, 16), "a489000200003000");
    EXPECT_EQ(requests[0].size(), (8u + 2048) * 2);
    EXPECT_EQ(requests[1].substr(0, 16), "a489800000083000");
    EXPECT_EQ(requests[1].substr(16), hex({data.begin() + 2048, data.end()}));

    int32_t usb = open(UsbBridge, 0, 0);
    std::vector<uint8_t> read(kSize);
    ASSERT_EQ(KOVRAVME_BLTReadCycle(usb, kAddress, read.data(), kSize, kAm, D32, &count), Success);
    EXPECT_EQ(read, data);
}

TEST_F(OpticalTest, CardAndLinkDeviceRegistersByTheirOwnPaths) {
    int32_t card = open(PciLinkCard, 0, 0);
    int32_t device = open(LinkDevice, 0, 0);
    char text[16] = "untouched";
    EXPECT_EQ(KOVRAVME_BoardFWRelease(card, text), Success);
    EXPECT_STREQ(text, "1.3");
    EXPECT_EQ(KOVRAVME_BoardFWRelease(device, text), Success);
    EXPECT_STREQ(text, "2.1");

    sim->clearTrace();
    EXPECT_EQ(KOVRAVME_WriteRegister(device, 9, 0xBEEF), Success);
    uint16_t value = 0;
    EXPECT_EQ(KOVRAVME_ReadRegister(device, 9, &value), Success);
    EXPECT_EQ(value, 0xBEEF);
    // The link device's register 9 is its own: the bridges never saw the requests.
    EXPECT_EQ(requestsInTrace(), (std::vector<std::string>{"8900efbe", "8940"}));
    // Bit 2 of card register 8 is only set while a request travels to the link device.
    EXPECT_EQ(KOVRAVME_ReadRegister(card, 8, &value), Success);
    EXPECT_EQ(value & 4, 0);

    uint32_t data = 0;
    EXPECT_EQ(KOVRAVME_ReadCycle(card, kMemoryBase, &data, kAm, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadCycle(device, kMemoryBase, &data, kAm, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_SetTimeout(device, 1), InvalidParam);

    EXPECT_EQ(KOVRAVME_DriverRelease(card, text), Success);
    EXPECT_STREQ(text, "");
    int32_t bridge = open(OpticalBridge, 0, 0);
    EXPECT_EQ(KOVRAVME_DriverRelease(bridge, text), Success);
    EXPECT_STREQ(text, "6.1.0");
}

TEST_F(OpticalTest, FlashPagesOfEveryCardKindRoundTrip) {
    int32_t kinds[] = {open(OpticalBridge, 0, 0), open(PciLinkCard, 0, 0), open(LinkDevice, 0, 0)};
    for (int32_t handle : kinds) {
        std::vector<uint8_t> page = pattern(264, static_cast<uint32_t>(handle) + 1);
        std::vector<uint8_t> read(300, 0xEE);
        ASSERT_EQ(KOVRAVME_WriteFlashPage(handle, page.data(), 300), Success) << handle;
        ASSERT_EQ(KOVRAVME_ReadFlashPage(handle, read.data(), 300), Success) << handle;
        EXPECT_TRUE(std::equal(page.begin(), page.end(), read.begin())) << handle;
        EXPECT_EQ(read[264], 0xEE);
        ASSERT_EQ(KOVRAVME_EraseFlashPage(handle, 300), Success);
        ASSERT_EQ(KOVRAVME_ReadFlashPage(handle, read.data(), 300), Success);
        EXPECT_EQ(read[0], 0xFF);
        EXPECT_EQ(read[263], 0xFF);
    }
}

TEST(OpticalExports, LibraryExportsExactlyTheSixtyTwoFunctions) {
    std::string command = std::string("nm -D --defined-only ") + KOVRAVME_LIBRARY_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char address[64], type[8], name[256];
        ASSERT_EQ(std::sscanf(line, "%63s %7s %255s", address, type, name), 3) << line;
        EXPECT_STREQ(type, "T") << name;
        names.insert(name);
    }
    pclose(pipe);
    const std::set<std::string> expected = {"KOVRAVME_SWRelease",
                                            "KOVRAVME_BoardFWRelease",
                                            "KOVRAVME_Init",
                                            "KOVRAVME_End",
                                            "KOVRAVME_ReadCycle",
                                            "KOVRAVME_WriteCycle",
                                            "KOVRAVME_BLTReadCycle",
                                            "KOVRAVME_BLTWriteCycle",
                                            "KOVRAVME_IRQCheck",
                                            "KOVRAVME_RMWCycle",
                                            "KOVRAVME_ADOCycle",
                                            "KOVRAVME_ADOHCycle",
                                            "KOVRAVME_SetPulserConf",
                                            "KOVRAVME_SetScalerConf",
                                            "KOVRAVME_SetOutputConf",
                                            "KOVRAVME_SetInputConf",
                                            "KOVRAVME_ReadRegister",
                                            "KOVRAVME_SetOutputRegister",
                                            "KOVRAVME_ClearOutputRegister",
                                            "KOVRAVME_PulseOutputRegister",
                                            "KOVRAVME_ReadDisplay",
                                            "KOVRAVME_SetArbiterType",
                                            "KOVRAVME_SetRequesterType",
                                            "KOVRAVME_SetReleaseType",
                                            "KOVRAVME_SetBusReqLevel",
                                            "KOVRAVME_SetTimeout",
                                            "KOVRAVME_SetFIFOMode",
                                            "KOVRAVME_GetArbiterType",
                                            "KOVRAVME_GetRequesterType",
                                            "KOVRAVME_GetReleaseType",
                                            "KOVRAVME_GetBusReqLevel",
                                            "KOVRAVME_GetTimeout",
                                            "KOVRAVME_GetFIFOMode",
                                            "KOVRAVME_SystemReset",
                                            "KOVRAVME_IACKCycle",
                                            "KOVRAVME_GetPulserConf",
                                            "KOVRAVME_GetScalerConf",
                                            "KOVRAVME_GetOutputConf",
                                            "KOVRAVME_GetInputConf",
                                            "KOVRAVME_MBLTReadCycle",
                                            "KOVRAVME_MBLTWriteCycle",
                                            "KOVRAVME_StartPulser",
                                            "KOVRAVME_StopPulser",
                                            "KOVRAVME_EnableScalerGate",
                                            "KOVRAVME_DisableScalerGate",
                                            "KOVRAVME_ResetScalerCount",
                                            "KOVRAVME_WriteRegister",
                                            "KOVRAVME_SetLocationMonitor",
                                            "KOVRAVME_WriteFlashPage",
                                            "KOVRAVME_ReadFlashPage",
                                            "KOVRAVME_EraseFlashPage",
                                            "KOVRAVME_MultiRead",
                                            "KOVRAVME_MultiWrite",
                                            "KOVRAVME_IRQWait",
                                            "KOVRAVME_IRQEnable",
                                            "KOVRAVME_IRQDisable",
                                            "KOVRAVME_FIFOBLTReadCycle",
                                            "KOVRAVME_FIFOBLTWriteCycle",
                                            "KOVRAVME_FIFOMBLTReadCycle",
                                            "KOVRAVME_FIFOMBLTWriteCycle",
                                            "KOVRAVME_DecodeError",
                                            "KOVRAVME_DriverRelease"};
    ASSERT_EQ(expected.size(), 62u);
    EXPECT_EQ(names, expected);
}

}  // namespace
