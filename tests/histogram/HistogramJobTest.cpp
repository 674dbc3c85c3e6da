#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <chrono>
#include <cstdio>

#include "DaqTestFiles.h"
#include "acquisition/RunState.h"
#include "histogram/HistogramJob.h"
#include "histogram/HistogramWorker.h"
#include "shell/Operator.h"
#include "shell/OwnerThreadOperator.h"
#include "support/QueueExecutor.h"
#include "support/TempDir.h"

using namespace histotest;

namespace {

class HistogramJobTest : public HistogramTest {
  protected:
    void SetUp() override { useLayout(true); }
    // Ticks like the window's timer until the job reports the end.
    std::vector<tarvo::HistogramTick> tickToEnd() {
        std::vector<tarvo::HistogramTick> ticks;
        for (int i = 0; i < 200 && job.running(); ++i) {
            state.events.HistogramDoneEvent.wait(std::chrono::milliseconds(50));
            EXPECT_FALSE(state.progress.histogramIdle.load());  // controls stay disabled meanwhile
            ticks.push_back(job.tick());
        }
        return ticks;
    }

    tarvo::HistogramJob job{state, fixedTime};
};

TEST_F(HistogramJobTest, FailedValidationStartsNothingAndReturnsTheControls) {
    writeWords(dir.file("daqclr_0.bin"), fifoRecords(1, [](int, int, int) { return 1u; }));
    state.settings.taDaqEnable[0] = true;
    state.settings.samplesTo = 8;
    EXPECT_FALSE(job.GenerateChannels());
    EXPECT_EQ(op.texts("error").size(), 1u);
    EXPECT_TRUE(state.progress.histogramIdle.load());
    EXPECT_FALSE(job.running());
    EXPECT_FALSE(exists(dir.file("daqclr_0_0.txt")));

    state.settings.adcRev1 = false;
    state.settings.samplesFrom = 15;
    state.settings.samplesTo = 0;
    EXPECT_FALSE(job.GenerateChannels());
    EXPECT_EQ(op.texts("error").size(), 2u);
    EXPECT_TRUE(state.progress.histogramIdle.load());
}

TEST_F(HistogramJobTest, EndingAJobWhoseWorkerWaitsForTheOwnerDoesNotDeadlock) {
    // The window's situation: the worker's message must be shown on the owner thread, and the
    // owner, instead of showing it, destroys the job (the window closes).
    tarvo::test::QueueExecutor owner;
    tarvo::OwnerThreadOperator gui(op, owner);
    state.op = &gui;
    state.settings.taDaqEnable[5] = true;  // no such file: the worker reports it
    {
        tarvo::HistogramJob closing(state, fixedTime);
        ASSERT_TRUE(closing.start());
        owner.waitForWork();
    }
    EXPECT_TRUE(gui.isShutDown());
    EXPECT_TRUE(state.progress.histogramIdle.load());
    EXPECT_EQ(owner.runPending(), 1);  // the message posted before the end shows nothing now
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(HistogramJobTest, StopRequestEndsTheWorkerWithoutSpectra) {
    writeWords(dir.file("daqclr_1.bin"), fifoRecords(
                                             3, [](int, int s, int) { return s; }, 1));
    state.settings.taDaqEnable[1] = true;
    state.progress.histogramStopRequested.store(true);
    EXPECT_FALSE(tarvo::FifoHistogramWorker(state, fixedTime));
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    EXPECT_FALSE(exists(dir.file("daqclr_1_0.spe")));
    EXPECT_TRUE(op.entries().empty());

    // start() clears an old request, so the next run counts every record.
    state.events.HistogramDoneEvent.reset();
    ASSERT_TRUE(job.start());
    tickToEnd();
    EXPECT_TRUE(job.succeeded());
    EXPECT_TRUE(exists(dir.file("daqclr_1_0.spe")));
}

TEST_F(HistogramJobTest, TimerStepsFollowTheWorkerToTheEnd) {
    writeWords(dir.file("daqclr_2.bin"), fifoRecords(
                                             40, [](int, int s, int) { return s; }, 2));
    state.settings.taDaqEnable[2] = true;
    state.events.HistogramDoneEvent.set();  // left over from an earlier run
    ASSERT_TRUE(job.GenerateChannels());
    EXPECT_TRUE(job.running());
    auto ticks = tickToEnd();
    ASSERT_FALSE(ticks.empty());
    EXPECT_TRUE(ticks.back().finished);
    EXPECT_EQ(ticks.back().position, 40u * 1024);
    EXPECT_EQ(ticks.back().total, 40u * 1024);
    EXPECT_EQ(ticks.back().fifo, 2);
    EXPECT_TRUE(job.succeeded());
    EXPECT_TRUE(state.progress.histogramIdle.load());
    EXPECT_FALSE(state.events.HistogramDoneEvent.isSet());
    EXPECT_TRUE(exists(dir.file("daqclr_2_31.spe")));

    // A failing run ends the same way, reported as failed.
    state.settings.taDaqEnable[3] = true;
    ASSERT_TRUE(job.GenerateChannels());
    ticks = tickToEnd();
    EXPECT_TRUE(ticks.back().finished);
    EXPECT_FALSE(job.succeeded());
    EXPECT_TRUE(state.progress.histogramIdle.load());
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Can't open file: " + dir.file("daqclr_3.bin") +
                                       "\nNo such file or directory"});
}

TEST(HistogramTimerStep, PositionIsTheLow32BitsOfBytesProcessed) {
    tarvo::RunState state;
    state.progress.histogramIdle = false;
    state.progress.bytesProcessed = 0x100000400ull;
    state.progress.histogramTotal = 0x200000000ull;
    auto tick = tarvo::histogramTimerStep(state);
    EXPECT_FALSE(tick.finished);
    EXPECT_EQ(tick.position, 0x400u);
    EXPECT_EQ(tick.bytesProcessed, 0x100000400ull);
    EXPECT_FALSE(state.progress.histogramIdle.load());
    state.events.HistogramDoneEvent.set();
    EXPECT_TRUE(tarvo::histogramTimerStep(state).finished);
    EXPECT_TRUE(state.progress.histogramIdle.load());
    EXPECT_FALSE(tarvo::histogramTimerStep(state).finished);
}

// tarvo-cli histogram as a program: exit status, messages on stderr, files.
struct CliResult {
    int status;
    std::string output;  // stdout and stderr
};

CliResult runCli(const std::string& arguments) {
    std::string command = std::string(TARVO_CLI_PATH) + " histogram " + arguments + " 2>&1";
    CliResult result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        result.output.append(chunk.data(), n);
    }
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(HistogramCli, RunsTheWorkerFromFlags) {
    nimbra::test::TempDir dir;
    writeWords(dir.file("run_1.bin"), fifoRecords(
                                          2, [](int, int s, int) { return 300u + s; }, 1));
    writeWords(dir.file("run_4.bin"), fifoRecords(
                                          1, [](int, int s, int) { return 300u + s; }, 4));
    auto ok = runCli("--rev1 --file-clr " + dir.file("run.bin") +
                     " --ta 2,5 --samples 1:2 --mode merge --baselines 0,302,0,0,0");
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_NE(ok.output.find("run_4.bin 1024 of 1024 bytes"), std::string::npos) << ok.output;
    // FIFO 1 (TA 2) at base line 302: 301 mirrors to 303, 302 stays.
    std::vector<uint32_t> counts(8192, 0);
    counts[303] = 2;
    counts[302] = 2;
    EXPECT_EQ(spectrumCounts(dir.file("run_1_7.spe")), counts);
    EXPECT_EQ(readFile(dir.file("run_4_0.txt")), valueList({301, 302}));

    auto words = fifoRecords(1, [](int, int, int) { return 1u; });
    words[8] = fifoWord(0, 0, 1);
    writeWords(dir.file("clean.bin"), legacyRecords(1, [](int, int, int) { return 1u; }));
    writeWords(dir.file("bad_0.bin"), words);
    auto bad = runCli("--rev1 --file-clr " + dir.file("bad.bin") + " --ta 1 --histograms-only");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(
        bad.output.find("Fatal Channel error \n" + dir.file("bad_0.bin") + ": record 1 at byte 0"),
        std::string::npos)
        << bad.output;

    auto legacy = runCli("--file-clr " + dir.file("clean.bin") + " --mode swap");
    EXPECT_EQ(legacy.status, 0) << legacy.output;
    EXPECT_EQ(readFile(dir.file("clean_3.txt")).size(), 16u * 7);  // default window 0:15

    EXPECT_EQ(runCli("--rev1 --file-clr " + dir.file("run.bin") + " --samples 0:9").status, 1);
    EXPECT_EQ(runCli("--file-clr " + dir.file("run.bin") + " --mode sideways").status, 1);
    EXPECT_EQ(runCli("--ta 1").status, 1);
}

}  // namespace
