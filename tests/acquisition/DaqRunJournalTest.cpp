// The files of one base name kept in step when a run is killed between the per-FIFO writes of one
// event: the kill is reproduced by hand (a journal noted, then records appended unevenly), the
// next run is the real readout worker on the fake board.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "acquisition/AcquisitionWorkers.h"
#include "acquisition/DaqFileLayout.h"
#include "acquisition/DaqRunJournal.h"
#include "board/FakeBoard.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class DaqRunJournalTest : public ::testing::Test {
  protected:
    DaqRunJournalTest() {
        state.bus = &fake;
        state.op = &op;
        state.vmeHandle = 0;
        state.settings.baseAddress = test::FakeBoard::kBase;
        state.settings.filenameClr = dir.file("daqclr.bin");
    }
    std::string fifoFile(int k) const { return daq::fifoFileName(state.settings.filenameClr, k); }
    // Appends `records` records of FIFO k carrying `tag`.
    void append(int k, int records, uint32_t tag) {
        std::ofstream out(fifoFile(k), std::ios::binary | std::ios::app);
        std::vector<uint32_t> event = test::makeEvent(tag, 256);
        for (int r = 0; r < records; ++r) {
            out.write(reinterpret_cast<const char*>(event.data() + k * 256), 1024);
        }
    }
    long records(int k) const {
        return fs::exists(fifoFile(k)) ? static_cast<long>(fs::file_size(fifoFile(k)) / 1024) : -1;
    }
    // A run on `enabled` that noted its start and was killed with `written[k]` records appended.
    void killedRun(const std::vector<int>& enabled, const std::vector<int>& written) {
        DaqRunJournal journal;
        std::string path, reason;
        ASSERT_TRUE(journal.open(state.settings.filenameClr, path, reason)) << reason;
        FifoRecordCounts start;
        start.fill(-1);
        for (int k : enabled) {
            start[static_cast<size_t>(k)] = std::max(records(k), 0L);
        }
        ASSERT_TRUE(journal.recordStart(start, reason)) << reason;
        for (size_t i = 0; i < enabled.size(); ++i) {
            append(enabled[i], written[i], 5);
        }
    }
    int runWorker(std::array<bool, 8> enabled, int events) {
        state.settings.taDaqEnable = enabled;
        state.settings.cycleCount = events;
        state.progress.cyclesDone = 0;
        state.events.AcquisitionDoneEvent.reset();
        state.events.DisplayReadyEvent.reset();
        for (int e = 0; e < events; ++e) {
            fake.queueEvent(2, test::makeEvent(2, 256));
        }
        return FifoReadoutWorker(state);
    }

    nimbra::test::TempDir dir;
    test::FakeBoard fake;
    ScriptedOperator op;
    RunState state;
};

TEST_F(DaqRunJournalTest, NextRunCutsTheKilledRunBackToItsLastWholeEventOnly) {
    // An earlier, complete run on TA 1..3 and one on TA 4 alone.
    ASSERT_EQ(runWorker({true, true, true, false, false, false, false, false}, 10), 0);
    ASSERT_EQ(runWorker({false, false, false, true, false, false, false, false}, 20), 0);
    const std::string earlierFifo3 = readBytes(fifoFile(3));
    const std::string earlierFifo0 = readBytes(fifoFile(0));
    // Then a run on TA 1..3 killed with 47, 46 and 44 events in its files.
    killedRun({0, 1, 2}, {47, 46, 44});
    auto warning = fifoFilesOutOfStep(state.settings.filenameClr, {true, true, true});
    ASSERT_TRUE(warning.has_value());
    EXPECT_EQ(*warning, "The files of " + state.settings.filenameClr +
                            " hold different numbers of records: daqclr_0.bin 57, daqclr_1.bin "
                            "56, daqclr_2.bin 54.\nThe last run ended between the writes of one "
                            "event; the next run on these files brings them back in step.");

    // The next run writes TA 1 and TA 4 only, yet the killed run's TA 2 and 3 are put right too.
    ASSERT_EQ(runWorker({true, false, false, true, false, false, false, false}, 3), 0);
    EXPECT_TRUE(op.entries().empty());
    EXPECT_EQ(records(0), 10 + 44 + 3);
    EXPECT_EQ(records(1), 10 + 44);
    EXPECT_EQ(records(2), 10 + 44);
    EXPECT_EQ(records(3), 20 + 3);
    EXPECT_FALSE(fs::exists(fifoFile(4)));
    // Nothing from before the killed run was cut, and the new events follow the kept ones.
    EXPECT_EQ(readBytes(fifoFile(3)).substr(0, earlierFifo3.size()), earlierFifo3);
    const std::string fifo0 = readBytes(fifoFile(0));
    EXPECT_EQ(fifo0.substr(0, earlierFifo0.size()), earlierFifo0);
    std::vector<uint32_t> next = test::makeEvent(2, 256);
    EXPECT_EQ(std::memcmp(fifo0.data() + 54 * 1024, next.data(), 1024), 0);
    // Files of runs with other TA sections differ in count, and are said to, without blame.
    warning = fifoFilesOutOfStep(state.settings.filenameClr, {true, true, true, true});
    ASSERT_TRUE(warning.has_value());
    EXPECT_EQ(warning->find("The last run ended"), std::string::npos) << *warning;
}

TEST_F(DaqRunJournalTest, FilesChangedByHandAreLeftAlone) {
    ASSERT_EQ(runWorker({true, true, false, false, false, false, false, false}, 10), 0);
    killedRun({0, 1}, {5, 3});
    // FIFO 1 was shortened below the run's start: these are no longer the run's files.
    fs::resize_file(fifoFile(1), 4 * 1024);
    ASSERT_EQ(runWorker({true, true, false, false, false, false, false, false}, 1), 0);
    EXPECT_EQ(records(0), 16);
    EXPECT_EQ(records(1), 5);

    // A file of the killed run that was moved away stops the repair as well.
    killedRun({0, 2}, {4, 2});
    fs::remove(fifoFile(2));
    ASSERT_EQ(runWorker({true, false, false, false, false, false, false, false}, 1), 0);
    EXPECT_EQ(records(0), 21);
}

TEST_F(DaqRunJournalTest, ASecondRunOnTheSameFilesIsRefusedBeforeItWrites) {
    ASSERT_EQ(runWorker({true, false, false, false, false, false, false, false}, 2), 0);
    killedRun({0}, {1});
    DaqRunJournal held;
    std::string path, reason;
    ASSERT_TRUE(held.open(state.settings.filenameClr, path, reason));
    const int blockReadsBefore = fake.blockReads();
    // Another run on other TA sections of the same base name.
    EXPECT_EQ(runWorker({false, true, false, false, false, false, false, false}, 2), 1);
    EXPECT_EQ(op.texts("error"),
              std::vector<std::string>{"Can't open file: " + dir.file("daqclr.journal") +
                                       "\nthe file is in use by another run"});
    EXPECT_FALSE(fs::exists(fifoFile(1)));
    EXPECT_EQ(records(0), 3);
    EXPECT_EQ(fake.blockReads(), blockReadsBefore);
}

TEST(DaqRunJournalFormat, ReadsOnlyACompleteNote) {
    nimbra::test::TempDir dir;
    const std::string clr = dir.file("run.dat");
    EXPECT_EQ(DaqRunJournal::pathFor(clr), dir.file("run.journal"));
    EXPECT_EQ(DaqRunJournal::pathFor(dir.file("plain")), dir.file("plain.journal"));
    auto write = [&](const std::string& text) {
        std::ofstream(DaqRunJournal::pathFor(clr), std::ios::binary) << text;
    };
    write("DAQ run start\n0 12\n7 3\nend\n");
    auto note = readDaqRunJournal(clr);
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(*note, (FifoRecordCounts{12, -1, -1, -1, -1, -1, -1, 3}));
    // Bytes of a longer earlier note behind the end line do not count.
    write("DAQ run start\n2 1\nend\n5 99\nend\n");
    EXPECT_EQ(readDaqRunJournal(clr), (FifoRecordCounts{-1, -1, 1, -1, -1, -1, -1, -1}));
    for (const char* broken :
         {"DAQ run start\n0 12\n", "DAQ run start\n8 1\nend\n", "DAQ run start\n0 -1\nend\n",
          "DAQ run start\n0 1\n0 2\nend\n", "DAQ run start\n0 1 x\nend\n", "", "hello\nend\n"}) {
        write(broken);
        EXPECT_FALSE(readDaqRunJournal(clr).has_value()) << broken;
    }
}

}  // namespace
}  // namespace tarvo
