#include "SequenceTestFixture.h"

namespace tarvo::test {
namespace {

using Manual = SequenceTestFixture;

constexpr const char* kHeader =
    "CH\tTA\tBase\tPk100\tPk200\tPk300\tPk400\tPk500\tPk600\tPk700\tPk800\tPk900\tPk1000\tPk-100"
    "\tPk-200\tPk-300\tPk-400\tPk-500\tPk-600\tPk-700\tPk-800\tPk-900\tPk-1000\r\n";

std::vector<std::string> prompts() {
    std::vector<std::string> texts{"Base line measure\nPlease Set 0mV Amplitude"};
    for (int a = 100; a <= 1000; a += 100) {
        texts.push_back("Peak measure\nPlease Set " + std::to_string(a) + "mV Amplitude");
    }
    for (int a = 100; a <= 1000; a += 100) {
        texts.push_back("Peak measure\nPlease Set -" + std::to_string(a) + "mV Amplitude");
    }
    texts.push_back("TA measure\nPlease remove trigger signal");
    return texts;
}

TEST_F(Manual, EveryPhaseFillsItsColumns) {
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[3] = true;
    EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_EQ(op.texts("okcancel"), prompts());
    for (int t : {0, 3}) {
        std::string table = kHeader;
        for (int c = 0; c < 32; ++c) {
            table += std::to_string(c) + "\t10000\t" + std::to_string(ScriptedBench::mean(c, t));
            for (int k = 0; k < 10; ++k) {
                table += "\t" + std::to_string(ScriptedBench::peak(c, t));
            }
            for (int k = 0; k < 10; ++k) {
                table += "\t" + std::to_string(ScriptedBench::peakNeg(c, t));
            }
            table += "\r\n";
        }
        EXPECT_EQ(readAll(dataFile("SequenceTest_" + std::to_string(t + 1) + ".txt")), table);
    }
    EXPECT_FALSE(exists(dataFile("SequenceTest_2.txt")));
    // The TA phase: a set-up, 100 ms and the readout mode per channel of each enabled TA.
    EXPECT_EQ(bench.callsStartingWith("setup").size(), 64u);
    EXPECT_EQ(bench.callsStartingWith("setup 3 31 0").size(), 1u);
    EXPECT_EQ(bench.callsStartingWith("events 10000 10000 1").size(), 64u);
    EXPECT_EQ(bench.slept, std::chrono::milliseconds(64 * 100));
    // 21 phases of 32 channels, each with a warm-up and a measuring read of 1000 ms.
    EXPECT_EQ(bench.callsStartingWith("avg 2 1000 0").size(), 21u * 32);
    EXPECT_EQ(bench.callsStartingWith("avg 10 1000 1").size(), 21u * 32);
}

TEST_F(Manual, CancelledPromptsGiveZeroLines) {
    state.settings.taDaqEnable[1] = true;
    for (int i = 0; i < 22; ++i) {
        op.queueAnswer(false);
    }
    EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
    std::string table = kHeader;
    for (int c = 0; c < 32; ++c) {
        table += std::to_string(c);
        for (int f = 0; f < 22; ++f) {
            table += "\t0";
        }
        table += "\r\n";
    }
    EXPECT_EQ(readAll(dataFile("SequenceTest_2.txt")), table);
    EXPECT_TRUE(bench.calls.empty());
}

TEST_F(Manual, WithEveryTaOffTheMeasurementsRunButNoFileIsWritten) {
    EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
    EXPECT_EQ(bench.callsStartingWith("avg 10 ").size(), 21u * 32);
    EXPECT_TRUE(bench.callsStartingWith("setup").empty());
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
}

TEST_F(Manual, AStoppedReadAnsweredNoLeavesTheChannelAtZero) {
    state.settings.taDaqEnable[0] = true;
    // Base line: 32 good reads; 100 mV: channel 0 good, channel 1 stopped, channel 2 timed out.
    bench.averagedResults.assign(32, kReadDone);
    bench.averagedResults.insert(bench.averagedResults.end(),
                                 {kReadDone, kReadStopped, kReadDeadlinePassed});
    op.queueAnswer(true);   // base line prompt
    op.queueAnswer(true);   // 100 mV prompt
    op.queueAnswer(false);  // no abort
    op.queueAnswer(false);  // no abort
    EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
    EXPECT_EQ(op.texts("yesno"),
              (std::vector<std::string>(2, "DAQ Error\n\nAbort Sequence Test ?")));
    // The scripted board wrote its values even on the failed reads; a real read leaves them.
    const std::string table = readAll(dataFile("SequenceTest_1.txt"));
    EXPECT_NE(table.find("\r\n1\t10000\t" + std::to_string(ScriptedBench::mean(1, 0)) + "\t" +
                         std::to_string(ScriptedBench::peak(1, 0)) + "\t"),
              std::string::npos);
}

TEST_F(Manual, AbortingWritesNothing) {
    state.settings.taDaqEnable.fill(true);
    bench.averagedResults = {kReadDone, kReadStopped};
    op.queueAnswer(true);  // base line prompt
    op.queueAnswer(true);  // abort
    EXPECT_EQ(RunManualSequenceTest(state, setup), 1);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_TRUE(std::filesystem::is_empty(dataFile("")));
    EXPECT_EQ(bench.callsStartingWith("avg 10 ").size(), 2u);
}

TEST_F(Manual, AStopDuringTheWarmUpReadStillReachesTheOperator) {
    bench.warmUpResults = {kReadStopped};
    op.queueAnswer(true);  // base line prompt
    op.queueAnswer(true);  // abort
    EXPECT_EQ(RunManualSequenceTest(state, setup), 1);
    EXPECT_EQ(op.texts("yesno"), std::vector<std::string>{"DAQ Error\n\nAbort Sequence Test ?"});
}

TEST_F(Manual, TimeLimitsFollowTheCycleCount) {
    for (auto [cycles, limit] : {std::pair{10, 1000}, std::pair{100, 2000}}) {
        bench.calls.clear();
        state.settings.cycleCount = cycles;
        op.queueAnswer(true);
        for (int i = 0; i < 21; ++i) {
            op.queueAnswer(false);
        }
        EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
        EXPECT_EQ(bench.callsStartingWith("avg " + std::to_string(cycles) + " ").front(),
                  "avg " + std::to_string(cycles) + " " + std::to_string(limit) + " 1");
    }
}

TEST_F(Manual, AFileThatCannotBeCreatedIsSkipped) {
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = true;
    std::filesystem::create_directory(dataFile("SequenceTest_1.txt"));
    for (int i = 0; i < 22; ++i) {
        op.queueAnswer(false);
    }
    EXPECT_EQ(RunManualSequenceTest(state, setup), 0);
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Open file " + dataFile("SequenceTest_1.txt") + " ERROR"});
    EXPECT_TRUE(op.texts("save").empty());
    EXPECT_TRUE(exists(dataFile("SequenceTest_2.txt")));
}

}  // namespace
}  // namespace tarvo::test
