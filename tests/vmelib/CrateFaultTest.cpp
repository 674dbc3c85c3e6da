// A crate that stops answering or dies under an open handle, and arguments no caller should pass.
#include <gtest/gtest.h>
#include <signal.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "BridgeFixture.h"

namespace nimbra::test {
namespace {

using CrateFault = BridgeTest;

// Runs `work` with the per-step socket limit shortened, so that a stopped crate costs the test
// half a second rather than the default few.
template <typename Work>
void withShortLimit(Work work) {
    setenv("KOVRAVME_SIM_LIMIT_MS", "500", 1);
    work();
    unsetenv("KOVRAVME_SIM_LIMIT_MS");
}

TEST_F(CrateFault, AStoppedCrateFailsTheExchangeAndLetsGoOfTheHandle) {
    uint32_t value = 0x5A5A1234;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, kMemoryBase, &value, AmA32UserData, D32), Success);
    ASSERT_EQ(kill(sim_->pid(), SIGSTOP), 0);
    // Whatever fails below, the crate must run again before the fixture stops it.
    struct Resume {
        pid_t pid;
        ~Resume() { kill(pid, SIGCONT); }
    } resume{sim_->pid()};
    uint32_t back = 0;
    withShortLimit([&] {
        EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &back, AmA32UserData, D32), CommError);
        // The lock was given back: the next exchange gets as far as the crate again.
        EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &back, AmA32UserData, D32), CommError);
    });
    ASSERT_EQ(kill(sim_->pid(), SIGCONT), 0);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &back, AmA32UserData, D32), Success);
    EXPECT_EQ(back, value);
}

TEST_F(CrateFault, AKilledCrateIsACommunicationErrorOnEveryExport) {
    ASSERT_EQ(kill(sim_->pid(), SIGKILL), 0);
    sim_->stop();
    uint32_t value = 0;
    uint16_t reg = 0;
    int32_t count = 0;
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserData, D32), CommError);
    EXPECT_EQ(KOVRAVME_ReadRegister(handle_, 1, &reg), CommError);
    EXPECT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, buffer.data(), 4096, AmA32UserBlock, D32,
                                    &count),
              CommError);
    EXPECT_EQ(count, 0);
}

TEST(WildArguments, SizesNearTheThirtyTwoBitLimitReturnACodeOnAHandleThatIsNotOpen) {
    uint8_t buffer[16] = {};
    int32_t count = -1;
    for (int32_t size : {INT32_MAX, INT32_MAX - 61439, 2147450881}) {
        EXPECT_EQ(KOVRAVME_BLTReadCycle(7, kMemoryBase, buffer, size, AmA32UserBlock, D32, &count),
                  CommError)
            << size;
        EXPECT_EQ(
            KOVRAVME_FIFOBLTReadCycle(7, kMemoryBase, buffer, size, AmA32UserBlock, D8, &count),
            CommError);
        EXPECT_EQ(KOVRAVME_MBLTReadCycle(7, kMemoryBase, buffer, size, AmA32UserBlock64, &count),
                  CommError);
        EXPECT_EQ(
            KOVRAVME_FIFOMBLTReadCycle(7, kMemoryBase, buffer, size, AmA32UserBlock64, &count),
            CommError);
        EXPECT_EQ(KOVRAVME_BLTWriteCycle(7, kMemoryBase, buffer, size, AmA32UserBlock, D32, &count),
                  CommError);
        EXPECT_EQ(
            KOVRAVME_FIFOBLTWriteCycle(7, kMemoryBase, buffer, size, AmA32UserBlock, D16, &count),
            CommError);
        EXPECT_EQ(KOVRAVME_MBLTWriteCycle(7, kMemoryBase, buffer, size, AmA32UserBlock64, &count),
                  CommError);
        EXPECT_EQ(
            KOVRAVME_FIFOMBLTWriteCycle(7, kMemoryBase, buffer, size, AmA32UserBlock64, &count),
            CommError);
    }
    // Negative sizes and counts, missing buffers, unknown widths.
    EXPECT_EQ(KOVRAVME_BLTReadCycle(7, 0, buffer, INT32_MIN, AmA32UserBlock, D32, &count),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_BLTWriteCycle(7, 0, nullptr, 16, AmA32UserBlock, D32, &count), InvalidParam);
    EXPECT_EQ(KOVRAVME_BLTReadCycle(7, 0, buffer, 16, AmA32UserBlock, 0x7FFFFFFF, &count),
              InvalidParam);
    uint32_t addresses[100] = {}, data[100] = {};
    AddressModifier ams[100] = {};
    DataWidth widths[100] = {};
    ErrorCode results[100] = {};
    for (auto& w : widths) {
        w = D32;
    }
    EXPECT_EQ(KOVRAVME_MultiRead(7, addresses, data, INT32_MIN, ams, widths, results),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_MultiWrite(7, addresses, data, INT32_MAX, ams, widths, results), CommError);
}

}  // namespace
}  // namespace nimbra::test
