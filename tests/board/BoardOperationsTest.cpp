#include <gtest/gtest.h>

#include "KOVRAVMElib.h"
#include "acquisition/RunState.h"
#include "board/BoardOperations.h"
#include "board/BoardRegisters.h"
#include "board/FakeBoard.h"
#include "board/FifoAverages.h"
#include "shell/Operator.h"

namespace tarvo {
namespace {

using test::FakeBoard;
using A = FakeBoard::Access;

class BoardOperationsTest : public ::testing::Test {
  protected:
    BoardOperationsTest() {
        state.bus = &fake;
        state.op = &op;
        state.vmeHandle = 0;
        state.settings.baseAddress = FakeBoard::kBase;
    }
    FakeBoard fake;
    ScriptedOperator op;
    RunState state;
};

TEST_F(BoardOperationsTest, ConfigurationLoadWritesSectionTriggersAndRestoresMode) {
    fake.registers[board::kControl1] = 0xABCD00F5;
    fake.registers[board::kControl2] = 0x1234FFFF;
    TaRegisterValues values{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    ASSERT_EQ(LoadTaConfiguration(state, 3, values, 4), 0);
    std::vector<A> expected = {
        {'W', 0x60, 0x11}, {'W', 0x64, 0x22},        {'W', 0x68, 0x33}, {'W', 0x6C, 0x44},
        {'W', 0x70, 0x55}, {'W', 0x74, 0x66},        {'R', 0x108, 0},   {'W', 0x108, 0xABCD00F2},
        {'R', 0x10C, 0},   {'W', 0x10C, 0x1234BFFF}, {'W', 0xA00, 0},   {'W', 0x108, 0xABCD00F8},
    };
    EXPECT_EQ(fake.log, expected);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(BoardOperationsTest, ConfigurationLoadModeIndexTable) {
    const std::pair<int, uint32_t> table[] = {{0, 0}, {1, 3}, {2, 8}, {3, 1}, {4, 8},
                                              {5, 8}, {6, 8}, {7, 0}, {-1, 0}};
    for (auto [index, mode] : table) {
        fake.log.clear();
        ASSERT_EQ(LoadTaConfiguration(state, 0, {}, index), 0);
        EXPECT_EQ(fake.log.back().value & 0xF, mode) << "mode index " << index;
    }
}

TEST_F(BoardOperationsTest, EachFailingStepStopsTheLoadWithItsMessage) {
    struct Step {
        char kind;
        uint32_t offset;
        int skipSame;  // earlier successful accesses of the same kind and offset
        const char* message;
    };
    const Step steps[] = {
        {'W', 0x00, 0, "FATAL: Write Reg1 FAIL"},
        {'W', 0x08, 0, "FATAL: Write Reg3 FAIL"},
        {'W', 0x14, 0, "FATAL: Write Reg6 FAIL"},
        {'R', 0x108, 0, "FATAL: Read Control1 FAIL"},
        {'W', 0x108, 0, "FATAL: Write Control1 FAIL"},
        {'R', 0x10C, 0, "FATAL: Read Control2 FAIL"},
        {'W', 0x10C, 0, "FATAL: Write Control2 FAIL"},
        {'W', 0xA00, 0, "FATAL: Software Trigger FAIL"},
        {'W', 0x108, 1, "FATAL: Write Control1 FAIL"},
    };
    for (const auto& step : steps) {
        FakeBoard board;
        ScriptedOperator messages;
        state.bus = &board;
        state.op = &messages;
        for (int i = 0; i < step.skipSame; ++i) {
            board.failNext(step.kind, step.offset, Success);
        }
        board.failNext(step.kind, step.offset, BusError);
        EXPECT_EQ(LoadTaConfiguration(state, 0, {1, 2, 3, 4, 5, 6}, 0), BusError) << step.message;
        EXPECT_EQ(messages.texts("error"), std::vector<std::string>{step.message});
        // Nothing is touched after the failing access.
        EXPECT_EQ(board.log.back(), (A{step.kind, step.offset, board.log.back().value}))
            << step.message;
    }
}

TEST_F(BoardOperationsTest, ChannelTestSetUp) {
    ASSERT_EQ(SetupTaChannelTest(state, 2, -1, 0), 0);
    EXPECT_EQ(fake.registers[0x40], 0x80000000u);
    EXPECT_EQ(fake.registers[0x44], 0u);
    EXPECT_EQ(fake.registers[0x50], 0xFFFFFFFFu);
    EXPECT_EQ(fake.registers[0x54], 0x10u);
    EXPECT_EQ(fake.registers[0x10C] >> 12 & 7, 2u);
    EXPECT_EQ(fake.log.back(), (A{'W', 0x108, board::kModeMonitor}));

    ASSERT_EQ(SetupTaChannelTest(state, 7, 5, 1), 0);
    EXPECT_EQ(fake.registers[0xE0], 0x20u);
    EXPECT_EQ(fake.registers[0xF0], ~0x20u);
    EXPECT_EQ(fake.registers[0xF4], 0x11u);

    fake.failNext('W', 0xA00, CommError);
    EXPECT_EQ(SetupTaChannelTest(state, 0, 1, 0), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"FATAL: Software Trigger FAIL"});
}

TEST_F(BoardOperationsTest, ReadoutModeWritesControl2ThenControl1) {
    fake.registers[board::kControl1] = 0xFFFFFFF0;
    fake.registers[board::kControl2] = 0xFFFFFFFF;
    ASSERT_EQ(SetReadoutMode(state, 0x18, 9), 0);
    auto w = fake.writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], (A{'W', 0x10C, 0xFFFFFD3Fu}));
    EXPECT_EQ(w[1], (A{'W', 0x108, 0xFFFFFFF8u}));
    EXPECT_EQ(state.settings.channel, 9u);

    fake.failNext('R', 0x10C, BusError);
    EXPECT_EQ(SetReadoutMode(state, 0, 0), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"FATAL: Read Control2 FAIL"});
}

TEST_F(BoardOperationsTest, ReadEventsCountsErrorsAndDropsBrokenEvents) {
    fake.maxBlockBytes = 300;  // every FIFO arrives in several pieces
    fake.queueEvent(1, test::makeEvent(1, 256));
    auto broken = test::makeEvent(2, 256);
    broken[2 * 256 + 17] = test::dataWord(2, 3, 2, 1, 5);  // FIFO 2 word says FIFO 3
    fake.queueEvent(2, broken);
    fake.queueEvent(3, test::makeEvent(3, 256));
    fake.failNext('R', board::kEventPort, BusError);
    fake.failNext('B', board::kEventPort, BusError);
    fake.failNext('B', board::kEventPort, GenericError);

    ASSERT_EQ(ReadEvents(state, 2, 5000, true), kReadDone);
    EXPECT_EQ(state.progress.cyclesDone.load(), 2);
    EXPECT_EQ(state.progress.eventsLost.load(), 1u);
    EXPECT_EQ(state.progress.busErrorCount.load(), 2u);
    // The broken event was the last thing to set Last Error after the generic error.
    EXPECT_EQ(state.progress.lastError.load(), board::kEventCheckFailed);
    // The display got the first event; the second stayed out while the first was not drawn.
    EXPECT_TRUE(state.events.DisplayReadyEvent.isSet());
    EXPECT_EQ(state.display.SpyBuffer[7][255], test::makeEvent(1, 256)[7 * 256 + 255]);
    EXPECT_TRUE(state.display.resetScale.load());
}

TEST_F(BoardOperationsTest, BrokenFifoEndsTheEventBeforeTheNextFifoIsRead) {
    auto broken = test::makeEvent(4, 256);
    broken[2 * 256] |= 0x80000000u;
    fake.queueEvent(4, broken);
    fake.queueEvent(5, test::makeEvent(5, 256));
    ASSERT_EQ(ReadEvents(state, 1, 5000, false), kReadDone);
    EXPECT_EQ(fake.blockReads(), 3 + 8);
    EXPECT_FALSE(state.events.DisplayReadyEvent.isSet());
}

TEST_F(BoardOperationsTest, StopAndDeadlineWhileWaiting) {
    fake.onPoll = [this](uint32_t n) {
        if (n == 5) {
            state.events.StopEvent.set();
        }
    };
    EXPECT_EQ(ReadEvents(state, 1, 5000, false), kReadStopped);
    EXPECT_FALSE(state.events.StopEvent.isSet());

    fake.onPoll = nullptr;
    EXPECT_EQ(ReadEvents(state, 1, 20, false), kReadDeadlinePassed);

    // A stop noticed after the deadline reports the deadline.
    state.events.StopEvent.set();
    EXPECT_EQ(ReadEvents(state, 1, 0, false), kReadDeadlinePassed);
}

TEST_F(BoardOperationsTest, EveryPollLimitWithoutAnEventCountsOneLostEvent) {
    fake.notReadyPolls = 2 * 2049 + 10;
    fake.queueEvent(0, test::makeEvent(0, 256));
    ASSERT_EQ(ReadEvents(state, 1, 10000, false), kReadDone);
    EXPECT_EQ(state.progress.eventsLost.load(), 2u);
    EXPECT_EQ(state.progress.lastError.load(), board::kEventNotReady);
}

TEST(FifoAverages, RoundsAndLetsTheFirstIndexWinTies) {
    std::vector<uint32_t> sums(512, 5 * 4);
    const uint32_t firstFive[] = {5, 9, 9, 2, 2};
    for (int i = 0; i < 5; ++i) {
        sums[i] = firstFive[i] * 4;
    }
    sums[10] = 4 * 7 + 2;  // 7.5 rounds up
    sums[11] = 4 * 7 + 1;  // 7.25 rounds down
    FifoAverage avg = averageFifo(sums.data(), 4);
    EXPECT_EQ(sums[10], 8u);
    EXPECT_EQ(sums[11], 7u);
    EXPECT_EQ(avg.peak, 9u);
    EXPECT_EQ(avg.peakNeg, 2u);
    uint64_t total = 5 + 9 + 9 + 2 + 2 + 8 + 7 + 505 * 5;
    EXPECT_EQ(avg.mean, (total + 256) >> 9);

    std::vector<uint32_t> none(512, 77);
    avg = averageFifo(none.data(), 0);
    EXPECT_EQ(avg.peak, 0u);
    EXPECT_EQ(avg.peakNeg, 0u);
    EXPECT_EQ(avg.mean, 0u);
}

TEST_F(BoardOperationsTest, AveragedEventsOverTwoEvents) {
    fake.queueEvent(1, test::makeEvent(1, 512, [](int k, int i) { return 100u * k + i % 64; }));
    fake.queueEvent(2, test::makeEvent(2, 512, [](int k, int i) {
                        return 100u * k + i % 64 + (i == 300 ? 1001u : 1u) +
                               0x1000u;  // bit 12 is not summed
                    }));
    uint32_t means[8], peaks[8], negs[8];
    AveragedEventDetail detail;
    ASSERT_EQ(ReadAveragedEvents(state, 2, 5000, true, means, peaks, negs, &detail), kReadDone);
    for (int k = 0; k < 8; ++k) {
        // (2v + 1 + 1) / 2 = v + 1 everywhere but sample 300, where (2v + 1001 + 1) / 2.
        EXPECT_EQ(peaks[k], 100u * k + (300 % 64) + 501) << k;
        EXPECT_EQ(negs[k], 100u * k + 1) << k;
        EXPECT_EQ(detail.averages[k][5], 100u * k + 6);
    }
    EXPECT_EQ(detail.lastEvent[3][300] & 0x1FFF, 300u + 300 % 64 + 1001 + 0x1000);
    EXPECT_EQ(state.display.sumCount.load(), 1u);  // the display still holds the first event
    EXPECT_EQ(state.display.SumBuffer[1][0], 100u);
    EXPECT_EQ(state.progress.cyclesDone.load(), 2);

    uint32_t untouched[8] = {42, 42, 42, 42, 42, 42, 42, 42};
    EXPECT_EQ(ReadAveragedEvents(state, 0, 10, false, untouched, nullptr, nullptr), kReadDone);
    EXPECT_EQ(untouched[0], 42u);
}

}  // namespace
}  // namespace tarvo
