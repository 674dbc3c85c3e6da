#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "acquisition/AcquisitionController.h"
#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqFileWriter.h"
#include "board/BoardRegisters.h"
#include "board/FakeBoard.h"
#include "shell/Operator.h"
#include "shell/OwnerThreadOperator.h"
#include "support/QueueExecutor.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::FakeBoard;

class AcquisitionControllerTest : public ::testing::Test {
  protected:
    AcquisitionControllerTest() {
        state.bus = &fake;
        state.op = &op;
        state.vmeHandle = 0;
        state.settings.baseAddress = FakeBoard::kBase;
        state.settings.filenameClr = dir.file("daqclr.bin");
        state.settings.taDaqEnable = {true, false, false, false, false, false, false, true};
    }
    // Ticks as the window's run timer does until the controller reports the end.
    RunTimerTick tickToEnd(AcquisitionController& run) {
        RunTimerTick last;
        while (run.running()) {
            run.waitForEnd(std::chrono::milliseconds(100));
            last = run.tick();
        }
        return last;
    }
    std::string fifoFile(int k) const { return daq::fifoFileName(state.settings.filenameClr, k); }

    nimbra::test::TempDir dir;
    FakeBoard fake;
    ScriptedOperator op;
    RunState state;
};

TEST_F(AcquisitionControllerTest, RunsToTheEndAndCanRunAgain) {
    AcquisitionController run(state);
    state.settings.cycleCount = 6;
    for (int pass = 1; pass <= 2; ++pass) {
        for (uint32_t e = 0; e < 6; ++e) {
            fake.queueEvent(e & 7, test::makeEvent(e & 7, 256));
        }
        ASSERT_TRUE(run.start());
        EXPECT_TRUE(run.running());
        EXPECT_FALSE(run.start());  // one run at a time
        RunTimerTick last = tickToEnd(run);
        EXPECT_TRUE(last.finished);
        EXPECT_EQ(last.cyclesDone, 6);
        EXPECT_EQ(last.cycleCount, 6);
        EXPECT_EQ(last.eventsLostText, "Events Lose=0");
        EXPECT_TRUE(run.finished());
        EXPECT_TRUE(state.progress.acquisitionIdle.load());
        EXPECT_FALSE(state.events.AcquisitionDoneEvent.isSet());
        EXPECT_EQ(fs::file_size(fifoFile(0)), pass * 6u * daq::kFifoRecordBytes);
        EXPECT_EQ(fs::file_size(fifoFile(7)), pass * 6u * daq::kFifoRecordBytes);
        EXPECT_FALSE(fs::exists(fifoFile(3)));
    }
    // StartAcquisition wrote the ADC offset before each run.
    EXPECT_EQ(fake.registers[board::kOffsetAdc], state.settings.offsetAdc);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(AcquisitionControllerTest, StopEndsARunWaitingForEvents) {
    std::promise<void> polling;
    fake.onPoll = [&polling](uint32_t n) {
        if (n == 1) {
            polling.set_value();
        }
    };
    state.settings.cycleCount = 1000;
    fake.queueEvent(0, test::makeEvent(0, 256));
    AcquisitionController run(state);
    ASSERT_TRUE(run.start());
    polling.get_future().wait();
    run.stop();
    RunTimerTick last = tickToEnd(run);
    EXPECT_TRUE(last.finished);
    EXPECT_LT(last.cyclesDone, 1000);
    // Whatever was read is in the files as whole records.
    EXPECT_EQ(fs::file_size(fifoFile(0)) % daq::kFifoRecordBytes, 0u);
    EXPECT_EQ(fs::file_size(fifoFile(0)), fs::file_size(fifoFile(7)));
}

TEST_F(AcquisitionControllerTest, NoBridgeRefusesToStart) {
    state.vmeHandle = -1;
    AcquisitionController run(state);
    EXPECT_FALSE(run.start());
    EXPECT_FALSE(run.running());
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Fatal: Initialization FAIL\nPress VME Reset to initilize"});
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(AcquisitionControllerTest, DestroyingARunningControllerStopsAndJoins) {
    std::promise<void> polling;
    fake.onPoll = [&polling](uint32_t n) {
        if (n == 1) {
            polling.set_value();
        }
    };
    state.settings.cycleCount = 1000;
    {
        AcquisitionController run(state);
        ASSERT_TRUE(run.start());
        polling.get_future().wait();
    }
    EXPECT_TRUE(state.progress.acquisitionIdle.load());
    EXPECT_EQ(fs::file_size(fifoFile(0)), 0u);
}

TEST_F(AcquisitionControllerTest, DestroyingWhileTheWorkerWaitsForTheOwnerDoesNotDeadlock) {
    // The worker's message must be shown on the owner thread, which closes the window instead.
    test::QueueExecutor owner;
    OwnerThreadOperator gui(op, owner);
    state.op = &gui;
    std::string reason;
    DaqFileWriter other;
    ASSERT_TRUE(other.open(fifoFile(7), DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    {
        AcquisitionController run(state);
        ASSERT_TRUE(run.start());
        owner.waitForWork();
    }
    EXPECT_TRUE(gui.isShutDown());
    EXPECT_EQ(owner.runPending(), 1);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(AcquisitionControllerTest, WorkerMessagesReachTheOwnerWhileItTicks) {
    test::QueueExecutor owner;
    OwnerThreadOperator gui(op, owner);
    state.op = &gui;
    std::string reason;
    DaqFileWriter other;
    ASSERT_TRUE(other.open(fifoFile(7), DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    AcquisitionController run(state);
    ASSERT_TRUE(run.start());
    while (run.running()) {
        owner.runPending();  // the window's event loop between timer ticks
        run.waitForEnd(std::chrono::milliseconds(20));
        run.tick();
    }
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Can't open file: " + fifoFile(7) +
                                                          "\nthe file is in use by another run"});
}

}  // namespace
}  // namespace tarvo
