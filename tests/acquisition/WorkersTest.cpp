#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "KOVRAVMElib.h"
#include "acquisition/AcquisitionRun.h"
#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqFileWriter.h"
#include "board/BoardRegisters.h"
#include "board/FakeBoard.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::FakeBoard;
using A = FakeBoard::Access;

std::vector<uint32_t> readWords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

class WorkersTest : public ::testing::Test {
  protected:
    WorkersTest() {
        state.bus = &fake;
        state.op = &op;
        state.vmeHandle = 0;
        state.settings.baseAddress = FakeBoard::kBase;
        state.settings.filenameClr = dir.file("daqclr.bin");
        state.settings.filename = dir.file("daq.bin");
    }
    std::string fifoFile(int k) const { return daq::fifoFileName(state.settings.filenameClr, k); }

    nimbra::test::TempDir dir;
    FakeBoard fake;
    ScriptedOperator op;
    RunState state;
};

TEST_F(WorkersTest, ReadoutWritesEnabledFifosOnlyAndRunsAppend) {
    state.settings.taDaqEnable = {false, true, false, false, true, false, false, false};
    state.settings.cycleCount = 10;
    for (int run = 0; run < 2; ++run) {
        for (uint32_t e = 0; e < 10; ++e) {
            fake.queueEvent(e & 7, test::makeEvent(e & 7, 256));
        }
        state.progress.cyclesDone = 0;
        state.events.DisplayReadyEvent.reset();
        EXPECT_EQ(FifoReadoutWorker(state), 0);
        EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
        state.events.AcquisitionDoneEvent.reset();
    }
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(fs::exists(fifoFile(k)), k == 1 || k == 4) << k;
    }
    auto words = readWords(fifoFile(4));
    ASSERT_EQ(words.size(), 20u * 256);
    // Record 13 is the fourth event of the second run, FIFO 4's words as the board sent them.
    auto event = test::makeEvent(3, 256);
    EXPECT_TRUE(
        std::equal(words.begin() + 13 * 256, words.begin() + 14 * 256, event.begin() + 4 * 256));
    // The display still shows all eight FIFOs.
    EXPECT_EQ(state.display.SpyBuffer[7][0], test::makeEvent(0, 256)[7 * 256]);
    EXPECT_TRUE(op.entries().empty());
}

TEST_F(WorkersTest, BoardSetUpByAcquisitionType) {
    struct Case {
        int32_t type;
        uint32_t control1;
        uint32_t control2;
    };
    // Control1 starts as 0xFFFFFFF5, Control2 as 0xFFFF0000; channel 6.
    const Case cases[] = {
        {0, 0xFFFFFFF0, 0xFFFF0000}, {1, 0xFFFFFFF3, 0xFFFF0006}, {2, 0xFFFFFFF8, 0xFFFF00C0},
        {3, 0xFFFFFFF1, 0xFFFF0000}, {4, 0xFFFFFFF8, 0xFFFF00C0},
    };
    state.settings.cycleCount = 0;
    state.settings.channel = 6;
    for (const auto& c : cases) {
        fake.registers[board::kControl1] = 0xFFFFFFF5;
        fake.registers[board::kControl2] = 0xFFFF0000;
        fake.log.clear();
        state.settings.acquisitionType = c.type;
        workerFor(state)(state);
        auto w = fake.writes();
        ASSERT_GE(w.size(), 2u);
        EXPECT_EQ(w[0], (A{'W', board::kControl2, c.control2})) << c.type;
        EXPECT_EQ(w[1], (A{'W', board::kControl1, c.control1})) << c.type;
    }
}

TEST_F(WorkersTest, NoCyclesStillCreatesTheFilesAndEnds) {
    state.settings.cycleCount = 0;
    EXPECT_EQ(FifoReadoutWorker(state), 0);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    for (int k = 0; k < 8; ++k) {
        EXPECT_TRUE(fs::exists(fifoFile(k)));
        EXPECT_EQ(fs::file_size(fifoFile(k)), 0u);
    }
    EXPECT_EQ(fake.blockReads(), 0);
}

TEST_F(WorkersTest, BrokenEventsWriteNothingAndStopKeepsWholeRecords) {
    state.settings.cycleCount = 100;
    fake.queueEvent(1, test::makeEvent(1, 256));
    for (uint32_t bad : {0u, 1u, 2u}) {
        auto event = test::makeEvent(2, 256);
        uint32_t& word = event[5 * 256 + 40];
        if (bad == 0) {
            word |= 0x80000000u;
        } else if (bad == 1) {
            word = test::dataWord(3, 5, 5, 0, 1);  // wrong tag
        } else {
            word = test::dataWord(2, 6, 5, 0, 1);  // wrong FIFO
        }
        fake.queueEvent(2, event);
    }
    fake.queueEvent(3, test::makeEvent(3, 256));
    // Once the queue is empty, the operator presses "Stop Acquire".
    fake.onPoll = [&](uint32_t n) {
        if (n == 6) {
            StopAcquisition(state);
        }
    };
    EXPECT_EQ(FifoReadoutWorker(state), 1);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_FALSE(state.events.StopEvent.isSet());
    EXPECT_EQ(state.progress.cyclesDone.load(), 2);
    EXPECT_EQ(state.progress.eventsLost.load(), 3u);
    // The last thing seen was an empty event port.
    EXPECT_EQ(state.progress.lastError.load(), board::kEventNotReady);
    for (int k = 0; k < 8; ++k) {
        auto words = readWords(fifoFile(k));
        ASSERT_EQ(words.size(), 2u * 256) << k;
        EXPECT_EQ(daq::fifoTag(words[0]), 1u);
        EXPECT_EQ(daq::fifoTag(words[256]), 3u);
    }
}

TEST_F(WorkersTest, FileHeldByAnotherWriterIsRefused) {
    std::string reason;
    DaqFileWriter other;
    ASSERT_TRUE(other.open(fifoFile(2), DaqFileWriter::Sharing::DenyWriters, 1024, reason));
    state.settings.cycleCount = 1;
    fake.queueEvent(0, test::makeEvent(0, 256));
    EXPECT_EQ(FifoReadoutWorker(state), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Can't open file: " + fifoFile(2) +
                                                          "\nthe file is in use by another run"});
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_EQ(fake.blockReads(), 0);
}

// The second line of "Can't open file" says why, for the ways a data folder goes wrong.
TEST_F(WorkersTest, FilesThatCannotBeOpenedSayWhy) {
    struct Case {
        std::string filenameClr;
        std::string failing;
        std::string reason;
    };
    fs::create_directory(dir.file("blocked_0.bin"));
    std::vector<Case> cases = {
        // The run's journal beside the files is the first file a run opens.
        {dir.file("missing/daqclr.bin"), dir.file("missing/daqclr.journal"),
         "No such file or directory"},
        {dir.file("blocked.bin"), dir.file("blocked_0.bin"), "Is a directory"},
    };
    if (::geteuid() != 0) {  // the superuser may write anywhere
        fs::create_directory(dir.file("readonly"));
        fs::permissions(dir.file("readonly"), fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({dir.file("readonly/daqclr.bin"), dir.file("readonly/daqclr.journal"),
                         "Permission denied"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        ScriptedOperator caseOp;
        state.op = &caseOp;
        state.settings.filenameClr = c.filenameClr;
        state.settings.cycleCount = 1;
        fake.queueEvent(0, test::makeEvent(0, 256));
        EXPECT_EQ(FifoReadoutWorker(state), 1);
        EXPECT_EQ(caseOp.texts("error"),
                  std::vector<std::string>{"Can't open file: " + c.failing + "\n" + c.reason});
    }
    if (::geteuid() != 0) {
        fs::permissions(dir.file("readonly"), fs::perms::owner_all);
    }

    // The older layout says the same for both of its files.
    state.settings.adcRev1 = false;
    state.settings.filename = dir.file("blocked_0.bin");
    ScriptedOperator legacyOp;
    state.op = &legacyOp;
    EXPECT_EQ(LegacyReadoutWorker(state), 1);
    EXPECT_EQ(legacyOp.texts("error"),
              std::vector<std::string>{"Can't open file: " + dir.file("blocked_0.bin") +
                                       "\nIs a directory"});
}

TEST_F(WorkersTest, FailedWriteEndsTheRunWithTheFileAndReason) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    fs::create_symlink("/dev/full", fifoFile(6));
    state.settings.cycleCount = 5;
    for (int e = 0; e < 5; ++e) {
        fake.queueEvent(0, test::makeEvent(0, 256));
    }
    EXPECT_EQ(FifoReadoutWorker(state), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"Can't write file: " + fifoFile(6) +
                                                          "\nNo space left on device"});
    EXPECT_EQ(state.progress.cyclesDone.load(), 0);
    EXPECT_TRUE(state.events.AcquisitionDoneEvent.isSet());
    // FIFOs 0..5 had taken the event already; they give it back so every file holds the same.
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(fs::file_size(fifoFile(k)), 0u) << k;
    }
}

TEST_F(WorkersTest, FindPeakSumsAndSummarises) {
    state.settings.acquisitionType = 4;
    state.settings.cycleCount = 2;
    state.display.setPeakText("old");
    fake.queueEvent(
        1, test::makeEvent(1, 512, [](int k, int i) { return i == 100 ? 900u : 10u * k; }));
    fake.queueEvent(
        2, test::makeEvent(2, 512, [](int k, int i) { return i == 100 ? 902u : 10u * k; }));
    EXPECT_EQ(FindPeakWorker(state), 0);
    std::string text = state.display.peakText();
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "FIFO1 Peak= 901 PeakNeg=   0 Average=2\n");
    EXPECT_NE(text.find("FIFO3 Peak= 901 PeakNeg=  20 Average=22\n"), std::string::npos);
    EXPECT_EQ(state.display.sumCount.load(), 1u);
    EXPECT_TRUE(state.display.resetScale.load());

    // A stopped find-peak run keeps the old summary.
    state.display.setPeakText("old");
    state.settings.cycleCount = 3;
    state.progress.cyclesDone = 0;
    state.events.StopEvent.set();
    EXPECT_EQ(FindPeakWorker(state), 1);
    EXPECT_EQ(state.display.peakText(), "old");
}

TEST_F(WorkersTest, LegacyWorkerWritesCleanEventsAndTheRawStream) {
    state.settings.adcRev1 = false;
    state.settings.cycleCount = 3;
    std::vector<uint32_t> stream;
    for (uint32_t i = 412; i < 512; ++i) {
        stream.push_back(0x80000000u | i);  // the tail of an event begun before the run
    }
    for (uint32_t tag : {0x9u, 0xAu, 0xBu}) {
        for (uint32_t i = 0; i < 512; ++i) {
            stream.push_back((tag << 28) | ((i / 16) << 20) | ((i % 16) << 16) | i);
        }
    }
    fake.streamTransfers.push_back({stream.begin(), stream.begin() + 300});
    fake.streamTransfers.push_back({stream.begin() + 300, stream.begin() + 812});
    fake.streamTransfers.push_back({stream.begin() + 812, stream.begin() + 1324});
    fake.streamTransfers.push_back({stream.begin() + 1324, stream.end()});
    fake.failNext('B', board::kStreamPort, Success);
    fake.failNext('B', board::kStreamPort, BusError);  // the data that came still count
    ASSERT_EQ(workerFor(state), &LegacyReadoutWorker);
    EXPECT_EQ(LegacyReadoutWorker(state), 0);
    EXPECT_EQ(state.progress.busErrorCount.load(), 1u);
    EXPECT_EQ(state.progress.cyclesDone.load(), 3);
    EXPECT_EQ(state.progress.eventsLost.load(), 1u);
    auto clean = readWords(state.settings.filenameClr);
    ASSERT_EQ(clean.size(), 3u * 512);
    EXPECT_TRUE(std::equal(clean.begin(), clean.end(), stream.begin() + 100));
    EXPECT_EQ(readWords(state.settings.filename), stream);
    EXPECT_EQ(fake.log.size(), 4u);
    for (const auto& a : fake.log) {
        EXPECT_EQ(a, (A{'B', board::kStreamPort, 2048}));
    }
}

TEST_F(WorkersTest, StartStopAndTheRunTimer) {
    state.vmeHandle = -1;
    EXPECT_FALSE(StartAcquisition(state).joinable());
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Fatal: Initialization FAIL\nPress VME Reset to initilize"});
    EXPECT_EQ(state.progress.lastError.load(), CommError);
    EXPECT_TRUE(state.progress.acquisitionIdle.load());

    state.vmeHandle = 0;
    state.settings.offsetAdc = 40000;
    state.progress.busErrorCount = 7;
    state.settings.cycleCount = 1000000;
    fake.failNext('W', board::kOffsetAdc, BusError);
    std::thread worker = StartAcquisition(state);
    ASSERT_TRUE(worker.joinable());
    EXPECT_FALSE(state.progress.acquisitionIdle.load());
    RunTimerTick tick = OnRunTimer(state);
    EXPECT_FALSE(tick.finished);
    EXPECT_EQ(tick.busErrorText, "BusError Count=0");
    StopAcquisition(state);
    ASSERT_TRUE(state.events.AcquisitionDoneEvent.wait(std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(fake.log.front(), (A{'W', board::kOffsetAdc, 40000}));
    tick = OnRunTimer(state);
    EXPECT_TRUE(tick.finished);
    EXPECT_TRUE(state.progress.acquisitionIdle.load());
    EXPECT_FALSE(state.events.AcquisitionDoneEvent.isSet());
    EXPECT_EQ(tick.eventsLostText,
              "Events Lose=" + std::to_string(state.progress.eventsLost.load()));
    EXPECT_EQ(tick.cycleCount, 1000000);
    EXPECT_EQ(op.texts("error").back(), "FATAL: Write OffsetADC FAIL");

    // A type without a worker still ends, so the window does not wait for ever.
    state.settings.acquisitionType = 9;
    state.settings.adcRev1 = true;
    EXPECT_EQ(displayTimerInterval(9), 2000);
    EXPECT_EQ(displayTimerInterval(4), 200);
    state.settings.acquisitionType = 5;
    EXPECT_FALSE(StartAcquisition(state).joinable());
    EXPECT_TRUE(OnRunTimer(state).finished);
}

TEST_F(WorkersTest, SoftTriggerClearsTheDisplayHandOff) {
    state.events.DisplayReadyEvent.set();
    EXPECT_EQ(SoftTrigger(state), 0);
    EXPECT_FALSE(state.events.DisplayReadyEvent.isSet());
    EXPECT_EQ(fake.log.back(), (A{'W', board::kSoftwareTrigger, 0}));
    fake.failNext('W', board::kSoftwareTrigger, TimeoutError);
    EXPECT_EQ(SoftTrigger(state), TimeoutError);
    EXPECT_EQ(state.progress.lastError.load(), TimeoutError);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"FATAL: Software Trigger FAIL"});
}

}  // namespace
}  // namespace tarvo
