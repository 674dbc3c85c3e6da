// Acquisitions on the virtual crate, run as an operator runs them: vmecrate-sim with the readout
// board and tarvo-cli acquire as separate processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CliProcess.h"
#include "acquisition/DaqFileLayout.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using nimbra::test::SimProcess;
using nimbra::test::TempDir;
using test::checkFifoFile;
using test::CliProcess;

SimProcess::Options crate(std::vector<std::string> extra, const std::string& statsPath = "") {
    SimProcess::Options options;
    options.trace = false;  // long runs would write gigabytes of trace
    options.args = {"--board"};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    if (!statsPath.empty()) {
        options.args.insert(options.args.end(), {"--stats", statsPath});
    }
    return options;
}

struct Summary {
    long cycles = -1, busErrors = -1, eventsLost = -1, lastError = 0;
};

// The last line of stdout: cycles=<n> bus_errors=<n> events_lost=<n> last_error=<n>.
Summary parseSummary(const std::string& out) {
    Summary s;
    size_t start = out.rfind('\n', out.size() >= 2 ? out.size() - 2 : 0);
    start = start == std::string::npos ? 0 : start + 1;
    char end = 0;
    if (std::sscanf(out.c_str() + start,
                    "cycles=%ld bus_errors=%ld events_lost=%ld last_error=%ld%c", &s.cycles,
                    &s.busErrors, &s.eventsLost, &s.lastError, &end) != 5 ||
        end != '\n') {
        return Summary{};
    }
    return s;
}

class CrateRunTest : public ::testing::Test {
  protected:
    std::string clr() const { return dir.file("daqclr.bin"); }
    std::string fifoFile(int k) const { return daq::fifoFileName(clr(), k); }
    std::vector<std::string> acquire(long cycles, std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {"acquire",    "--rev1", "--cycles", std::to_string(cycles),
                                         "--file-clr", clr()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    // Every FIFO file holds whole, valid records; returns the record count they share.
    long checkAllFiles() const {
        long common = -1;
        for (int k = 0; k < 8; ++k) {
            std::string problem;
            long records = checkFifoFile(fifoFile(k), k, problem);
            EXPECT_GE(records, 0) << problem;
            if (k > 0) {
                EXPECT_EQ(records, common) << "FIFO " << k;
            }
            common = records;
        }
        return common;
    }

    TempDir dir;
};

TEST_F(CrateRunTest, FaultsAreCountedExactlyAndNeverReachTheFiles) {
    std::string stats = dir.file("stats.json");
    SimProcess sim(crate({"--bus-error-every", "9973", "--corrupt-every", "37"}, stats));
    CliProcess cli(acquire(2500), dir.path());
    ASSERT_EQ(cli.wait(), 0) << cli.err();
    Summary s = parseSummary(cli.out());
    sim.stop();
    std::ifstream in(stats);
    auto counts = nlohmann::json::parse(in);

    EXPECT_EQ(s.cycles, 2500);
    EXPECT_GT(counts["bus_errors_injected"].get<long>(), 200);
    EXPECT_GT(counts["corrupt_events_injected"].get<long>(), 60);
    EXPECT_EQ(s.busErrors, counts["bus_errors_injected"].get<long>());
    EXPECT_EQ(s.eventsLost, counts["corrupt_events_injected"].get<long>());
    EXPECT_EQ(counts["events_made"].get<long>(), 2500 + s.eventsLost);
    EXPECT_EQ(checkAllFiles(), 2500);
}

TEST_F(CrateRunTest, StoppedAndKilledRunsLeaveFilesTheNextRunAppendsTo) {
    SimProcess sim(crate({"--event-rate", "2000"}));
    auto waitForRecords = [&](long records) {
        for (int i = 0;
             i < 1000 && (!fs::exists(fifoFile(7)) ||
                          fs::file_size(fifoFile(7)) < static_cast<uintmax_t>(records) * 1024u);
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };

    CliProcess stopped(acquire(1000000), dir.path());
    waitForRecords(50);
    stopped.signal(SIGINT);
    ASSERT_EQ(stopped.wait(), 0) << stopped.err();
    EXPECT_NE(stopped.err().find("Stop Acquire"), std::string::npos);
    Summary s = parseSummary(stopped.out());
    EXPECT_GE(s.cycles, 50);
    EXPECT_EQ(checkAllFiles(), s.cycles);

    CliProcess killed(acquire(1000000), dir.path());
    waitForRecords(s.cycles + 100);
    killed.signal(SIGKILL);
    EXPECT_EQ(killed.wait(), 128 + SIGKILL);
    // A kill in mid-write may leave a partial record; everything before it is whole.
    long before = -1;
    for (int k = 0; k < 8; ++k) {
        std::string problem;
        long records = checkFifoFile(fifoFile(k), k, problem, true);
        ASSERT_GE(records, s.cycles + 99) << problem;
        before = std::max(before, records);
    }

    CliProcess next(acquire(30), dir.path());
    ASSERT_EQ(next.wait(), 0) << next.err();
    for (int k = 0; k < 8; ++k) {
        std::string problem;
        long records = checkFifoFile(fifoFile(k), k, problem);
        EXPECT_GE(records, s.cycles + 99 + 30) << problem;
        EXPECT_LE(records, before + 30);
    }
}

TEST_F(CrateRunTest, FullDiskEndsTheRunWithTheFileAndReason) {
    // A small tmpfs gives a real ENOSPC in the middle of a run; without the right to mount, a
    // FIFO file that is a link to /dev/full gives the same error from the first write.
    fs::path disk = dir.path() / "disk";
    fs::create_directory(disk);
    bool mounted = geteuid() == 0 && ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=300k") == 0;
    std::string base = (disk / "daqclr.bin").string();
    std::string failing = daq::fifoFileName(base, 0);
    if (!mounted) {
        fs::create_symlink("/dev/full", daq::fifoFileName(base, 3));
        failing = daq::fifoFileName(base, 3);
    }
    {
        SimProcess sim(crate({}));
        CliProcess cli({"acquire", "--rev1", "--cycles", "1000", "--file-clr", base}, dir.path());
        EXPECT_EQ(cli.wait(), 1);
        std::string err = cli.err();
        const std::string prefix = "Can't write file: ";
        size_t at = err.find(prefix);
        size_t reason = err.find("\nNo space left on device", at);
        ASSERT_TRUE(at != std::string::npos && reason != std::string::npos) << err;
        std::string path = err.substr(at + prefix.size(), reason - at - prefix.size());
        if (mounted) {
            EXPECT_EQ(fs::path(path).parent_path(), disk);
        } else {
            EXPECT_EQ(path, failing);
        }
        Summary s = parseSummary(cli.out());
        EXPECT_LT(s.cycles, 1000);
        for (int k = 0; k < 8; ++k) {
            std::string path = daq::fifoFileName(base, k);
            if (fs::is_symlink(path)) {
                continue;
            }
            std::string problem;
            EXPECT_EQ(checkFifoFile(path, k, problem), s.cycles) << problem;
        }
    }
    if (mounted) {
        ::umount(disk.c_str());
    }
}

TEST_F(CrateRunTest, MemoryStaysFlatOverALongRun) {
#ifdef NIMBRA_SANITIZED
    const long events = 20000;
    // The sanitizer keeps freed blocks in quarantine, which would look like growth here.
    setenv("ASAN_OPTIONS", "quarantine_size_mb=0", 1);
#else
    const long events = 100000;
#endif
    SimProcess sim(crate({}));
    CliProcess cli(acquire(events, {"--ta", "1"}), dir.path());
    // Resident memory sampled through the run: once the run is under way it must not grow.
    std::vector<long> samples;
    while (::kill(cli.pid(), 0) == 0) {
        long kb = test::residentKb(cli.pid());
        if (kb <= 0) {
            break;  // ended (a zombie has no resident set)
        }
        samples.push_back(kb);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (fs::exists(fifoFile(0)) &&
            fs::file_size(fifoFile(0)) >= static_cast<uintmax_t>(events) * 1024) {
            break;
        }
    }
    ASSERT_EQ(cli.wait(), 0) << cli.err();
    EXPECT_EQ(parseSummary(cli.out()).cycles, events);
    ASSERT_GE(samples.size(), 10u);
    long early = samples[samples.size() / 10];
    long late = *std::max_element(samples.begin() + samples.size() / 2, samples.end());
    RecordProperty("rss_early_kb", std::to_string(early));
    RecordProperty("rss_late_max_kb", std::to_string(late));
    std::printf("resident memory: %ld kB at 10%% of the run, at most %ld kB in its second half\n",
                early, late);
    EXPECT_LE(late - early, 512);
}

TEST_F(CrateRunTest, SecondWriterAndMissingBridgeAreRefused) {
    SimProcess sim(crate({"--event-rate", "500"}));
    CliProcess first(acquire(1000000), dir.path());
    for (int i = 0; i < 500 && !fs::exists(fifoFile(7)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CliProcess second(acquire(10), dir.path());
    EXPECT_EQ(second.wait(), 1);
    // The first run holds the journal of these files for as long as it runs.
    EXPECT_NE(second.err().find("Can't open file: " + dir.file("daqclr.journal") +
                                "\nthe file is in use by another run"),
              std::string::npos)
        << second.err();
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 0);

    setenv("KOVRAVME_SIM_DIR", dir.file("no-crate").c_str(), 1);
    CliProcess orphan(acquire(10), dir.path());
    EXPECT_EQ(orphan.wait(), 1);
    EXPECT_NE(orphan.err().find("Fatal: Initialization FAIL\nPress VME Reset to initilize"),
              std::string::npos)
        << orphan.err();
    EXPECT_EQ(parseSummary(orphan.out()).lastError, -2);
    setenv("KOVRAVME_SIM_DIR", sim.dir().c_str(), 1);
}

TEST_F(CrateRunTest, OlderLayoutKeepsWholeEventsAndTheRawStream) {
    SimProcess sim(crate({}));
    std::string raw = dir.file("daq.bin");
    CliProcess cli({"acquire", "--cycles", "40", "--file", raw, "--file-clr", clr()}, dir.path());
    ASSERT_EQ(cli.wait(), 0) << cli.err();
    Summary s = parseSummary(cli.out());
    std::ifstream in(clr(), std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(bytes.size() % daq::kLegacyRecordBytes, 0u);
    long records = static_cast<long>(bytes.size() / daq::kLegacyRecordBytes);
    EXPECT_EQ(records, s.cycles);
    EXPECT_GE(records, 40);
    for (long r = 0; r < records; ++r) {
        const char* record = bytes.data() + r * daq::kLegacyRecordBytes;
        uint32_t first = 0;
        std::memcpy(&first, record, 4);
        for (int i = 0; i < daq::kLegacyRecordWords; ++i) {
            uint32_t w = 0;
            std::memcpy(&w, record + 4 * i, 4);
            ASSERT_EQ(daq::legacyTag(w), daq::legacyTag(first)) << r << ":" << i;
            ASSERT_EQ(daq::channel(w), static_cast<uint32_t>(i / 16)) << r << ":" << i;
            ASSERT_EQ(daq::legacySample(w), static_cast<uint32_t>(i % 16)) << r << ":" << i;
        }
    }
    // The raw file holds every transfer: the clean events and whatever fragments came between.
    EXPECT_GE(fs::file_size(raw), bytes.size());
}

TEST_F(CrateRunTest, FindPeakPrintsItsSummaryBeforeTheCounters) {
    SimProcess sim(crate({}));
    CliProcess cli({"acquire", "--rev1", "--type", "4", "--cycles", "20", "--channel", "3"},
                   dir.path());
    ASSERT_EQ(cli.wait(), 0) << cli.err();
    std::string out = cli.out();
    std::istringstream lines(out);
    std::string line;
    for (int k = 1; k <= 8; ++k) {
        ASSERT_TRUE(std::getline(lines, line)) << out;
        int fifo = 0, peak = -1, peakNeg = -1, average = -1;
        char tail = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "FIFO%d Peak=%d PeakNeg=%d Average=%d%c", &fifo, &peak,
                              &peakNeg, &average, &tail),
                  4)
            << line;
        EXPECT_EQ(fifo, k);
        EXPECT_EQ(line.compare(15, 9, " PeakNeg="), 0) << line;  // %4d keeps the columns
        EXPECT_LE(peakNeg, average);
        EXPECT_LE(average, peak);
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "cycles=20 bus_errors=0 events_lost=0 last_error=0");
    EXPECT_FALSE(std::getline(lines, line));
}

}  // namespace
}  // namespace tarvo
