// The board operations through the bridge library against the readout board of vmecrate-sim,
// run as a separate process.
#include <gtest/gtest.h>

#include "KOVRAVMElib.h"
#include "acquisition/RunState.h"
#include "board/BoardOperations.h"
#include "board/BoardRegisters.h"
#include "shell/Operator.h"
#include "support/SimProcess.h"

namespace tarvo {
namespace {

class BoardCrateTest : public ::testing::Test {
  protected:
    BoardCrateTest() : sim(options()) {
        EXPECT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &state.vmeHandle), Success);
        state.op = &op;
    }
    ~BoardCrateTest() override { KOVRAVME_End(state.vmeHandle); }

    static nimbra::test::SimProcess::Options options() {
        nimbra::test::SimProcess::Options o;
        o.trace = false;
        o.args = {"--board"};
        return o;
    }
    uint32_t readRegister(uint32_t offset) {
        uint32_t value = 0;
        EXPECT_EQ(KOVRAVME_ReadCycle(state.vmeHandle, state.settings.baseAddress + offset, &value,
                                     0x09, 4),
                  Success);
        return value;
    }

    nimbra::test::SimProcess sim;
    ScriptedOperator op;
    RunState state;
};

TEST_F(BoardCrateTest, ConfigurationLoadLeavesTheSectionAndTheMode) {
    TaRegisterValues values{0x00000010, 0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0xFFFF0000, 0x0000000D};
    ASSERT_EQ(LoadTaConfiguration(state, 6, values, 3), 0);
    for (int reg = 1; reg <= 6; ++reg) {
        EXPECT_EQ(readRegister(board::taRegister(6, reg)), values[reg - 1]) << reg;
    }
    EXPECT_EQ(readRegister(board::kControl1) & 0xF, board::kModeShiftIn);
    EXPECT_EQ(readRegister(board::kControl2) >> 12 & 7, 6u);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(BoardCrateTest, TestPulseShowsOnTheChannelUnderTestOnly) {
    uint32_t means[8], peaks[8], negs[8];
    // Section 2 with no channel under test: its monitored channel shows no pulse.
    ASSERT_EQ(SetupTaChannelTest(state, 2, -1, 0), 0);
    ASSERT_EQ(SetReadoutMode(state, board::kModeMonitor, 5), 0);
    ASSERT_EQ(ReadAveragedEvents(state, 50, 10000, false, means, peaks, negs), kReadDone);
    uint32_t quietPeak = peaks[2] - means[2];

    ASSERT_EQ(SetupTaChannelTest(state, 2, 5, 0), 0);
    ASSERT_EQ(SetReadoutMode(state, board::kModeMonitor, 5), 0);
    ASSERT_EQ(ReadAveragedEvents(state, 50, 10000, true, means, peaks, negs), kReadDone);
    EXPECT_GT(peaks[2] - means[2], quietPeak + 200);
    EXPECT_EQ(state.progress.cyclesDone.load(), 50);
    EXPECT_TRUE(state.events.DisplayReadyEvent.isSet());

    // The negative flag turns the pulse round.
    ASSERT_EQ(SetupTaChannelTest(state, 2, 5, 1), 0);
    ASSERT_EQ(SetReadoutMode(state, board::kModeMonitor, 5), 0);
    ASSERT_EQ(ReadAveragedEvents(state, 50, 10000, false, means, peaks, negs), kReadDone);
    EXPECT_GT(means[2] - negs[2], 200u);
    EXPECT_EQ(state.progress.eventsLost.load(), 0u);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(BoardCrateTest, ReadEventsAgainstTheCrate) {
    ASSERT_EQ(SetReadoutMode(state, board::kModeNormal, 0), 0);
    ASSERT_EQ(ReadEvents(state, 25, 10000, true), kReadDone);
    EXPECT_EQ(state.progress.cyclesDone.load(), 25);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(state.display.SpyBuffer[k][255] >> 25 & 7, static_cast<uint32_t>(k));
    }
    // No event ready within the time limit: the board is put where it makes none.
    ASSERT_EQ(SetReadoutMode(state, board::kModeConfigLoad, 0), 0);
    EXPECT_EQ(ReadEvents(state, 1, 300, false), kReadDeadlinePassed);
    EXPECT_EQ(state.progress.lastError.load(), board::kEventNotReady);
}

}  // namespace
}  // namespace tarvo
