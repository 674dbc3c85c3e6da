// Runs killed at random moments on the virtual crate, each followed by a next run on another set
// of TA sections; after every next run the files must be in step again (the surviving events of
// the killed run are the same events in each of its files) and nothing from before the killed run
// may be cut. NIMBRA_KILL_CAMPAIGN=N turns the short version into a campaign of N kills
// (scripts/kill-campaign.sh); NIMBRA_KILL_CAMPAIGN_SLOW=0 kills at full write speed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
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

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The event tag of every whole record (bits 28..30 of its first word).
std::vector<uint32_t> recordTags(const std::string& bytes) {
    std::vector<uint32_t> tags(bytes.size() / daq::kFifoRecordBytes);
    for (size_t r = 0; r < tags.size(); ++r) {
        uint32_t word = 0;
        std::memcpy(&word, bytes.data() + r * daq::kFifoRecordBytes, 4);
        tags[r] = daq::fifoTag(word);
    }
    return tags;
}

std::string taList(unsigned mask) {
    std::string list;
    for (int k = 0; k < 8; ++k) {
        if (mask & (1u << k)) {
            list += (list.empty() ? "" : ",") + std::to_string(k + 1);
        }
    }
    return list;
}

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atol(text) : fallback;
}

class KillCampaignTest : public ::testing::Test {
  protected:
    std::string clr() const { return dir.file("daqclr.bin"); }
    std::string fifoFile(int k) const { return daq::fifoFileName(clr(), k); }
    std::vector<std::string> acquire(long cycles, unsigned mask) const {
        return {"acquire",    "--rev1", "--cycles", std::to_string(cycles),
                "--file-clr", clr(),    "--ta",     taList(mask)};
    }

    TempDir dir;
};

TEST_F(KillCampaignTest, AfterEveryKillTheNextRunLeavesTheFilesInStep) {
#ifdef NIMBRA_SANITIZED
    GTEST_SKIP() << "the write shim cannot be preloaded into a sanitized program";
#endif
    const long kills = envNumber("NIMBRA_KILL_CAMPAIGN", 6);
    const bool slow = envNumber("NIMBRA_KILL_CAMPAIGN_SLOW", 1) != 0;
    const int nextCycles = 5;
    std::mt19937 random(static_cast<unsigned>(envNumber("NIMBRA_KILL_CAMPAIGN_SEED", 20261208)));
    SimProcess::Options options;
    options.trace = false;
    options.args = {"--board", "--event-rate", "500"};
    SimProcess sim(options);

    long outOfStepAfterKill = 0;
    bool histogramWarned = false;
    for (long kill = 0; kill < kills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        // Two TA sections or more, so that a kill can fall between two of their writes.
        unsigned killedMask = 0;
        while (std::popcount(killedMask) < 2) {
            killedMask = static_cast<unsigned>(random() & 0xFF);
        }
        unsigned nextMask = 0;
        while (nextMask == 0) {
            nextMask = static_cast<unsigned>(random() & 0xFF);
        }
        // What each file held before the killed run: its length and its last records.
        std::array<std::string, 8> before;
        std::array<long, 8> beforeRecords{};
        for (int k = 0; k < 8; ++k) {
            before[k] = fs::exists(fifoFile(k)) ? readBytes(fifoFile(k)) : std::string();
            beforeRecords[k] = static_cast<long>(before[k].size() / daq::kFifoRecordBytes);
        }

        if (slow) {
            setenv("LD_PRELOAD", SLOW_RECORD_WRITES_PATH, 1);
        }
        CliProcess killed(acquire(1000000, killedMask), dir.path());
        unsetenv("LD_PRELOAD");
        // Wait until the run writes, then let it go on for a random while.
        auto grown = [&] {
            for (int k = 0; k < 8; ++k) {
                if ((killedMask & (1u << k)) && fs::exists(fifoFile(k)) &&
                    fs::file_size(fifoFile(k)) > before[k].size()) {
                    return true;
                }
            }
            return false;
        };
        for (int i = 0; i < 2000 && !grown(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(grown()) << killed.err();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 200000));
        killed.signal(SIGKILL);
        ASSERT_EQ(killed.wait(), 128 + SIGKILL);

        long firstGrowth = -1;
        bool outOfStep = false;
        for (int k = 0; k < 8; ++k) {
            if (killedMask & (1u << k)) {
                long growth =
                    static_cast<long>(fs::file_size(fifoFile(k)) / 1024) - beforeRecords[k];
                outOfStep = outOfStep || (firstGrowth >= 0 && growth != firstGrowth);
                firstGrowth = firstGrowth < 0 ? growth : firstGrowth;
            }
        }
        if (outOfStep) {
            ++outOfStepAfterKill;
            if (!histogramWarned) {
                CliProcess histogram({"histogram", "--rev1", "--file-clr", clr(), "--ta",
                                      taList(killedMask), "--histograms-only"},
                                     dir.path());
                EXPECT_EQ(histogram.wait(), 0) << histogram.err();
                EXPECT_NE(histogram.err().find("hold different numbers of records"),
                          std::string::npos)
                    << histogram.err();
                EXPECT_NE(histogram.err().find("The last run ended between the writes of one "
                                               "event"),
                          std::string::npos)
                    << histogram.err();
                histogramWarned = true;
            }
        }

        CliProcess next(acquire(nextCycles, nextMask), dir.path());
        ASSERT_EQ(next.wait(), 0) << next.err();

        // Every file: whole valid records, nothing from before the killed run cut or changed.
        std::array<std::vector<uint32_t>, 8> tags;
        long kept = -1;
        for (int k = 0; k < 8; ++k) {
            SCOPED_TRACE("FIFO " + std::to_string(k));
            const bool inKilled = killedMask & (1u << k);
            const bool inNext = nextMask & (1u << k);
            std::string now = fs::exists(fifoFile(k)) ? readBytes(fifoFile(k)) : std::string();
            if (!inKilled && !inNext) {
                ASSERT_EQ(now, before[k]);
                continue;
            }
            std::string problem;
            ASSERT_GE(checkFifoFile(fifoFile(k), k, problem), 0) << problem;
            ASSERT_GE(now.size(), before[k].size());
            // Repairs only ever cut, so the last records from before are the ones that count.
            const size_t tail = std::min<size_t>(before[k].size(), 16 * daq::kFifoRecordBytes);
            ASSERT_EQ(now.compare(before[k].size() - tail, tail, before[k], before[k].size() - tail,
                                  tail),
                      0);
            tags[k] = recordTags(now);
            const long survived =
                static_cast<long>(tags[k].size()) - beforeRecords[k] - (inNext ? nextCycles : 0);
            if (!inKilled) {
                EXPECT_EQ(survived, 0);
            } else if (kept < 0) {
                kept = survived;
            } else {
                ASSERT_EQ(survived, kept) << "the killed run's files are out of step";
            }
        }
        // The kept events of the killed run, then the next run's: the same events in each file.
        std::vector<uint32_t> keptTags, nextTags;
        for (int k = 0; k < 8; ++k) {
            if (killedMask & (1u << k)) {
                auto first = tags[k].begin() + beforeRecords[k];
                std::vector<uint32_t> mine(first, first + kept);
                if (keptTags.empty()) {
                    keptTags = mine;
                }
                EXPECT_EQ(mine, keptTags) << "FIFO " << k;
            }
            if (nextMask & (1u << k)) {
                std::vector<uint32_t> mine(tags[k].end() - nextCycles, tags[k].end());
                if (nextTags.empty()) {
                    nextTags = mine;
                }
                EXPECT_EQ(mine, nextTags) << "FIFO " << k;
            }
        }
        if (HasFatalFailure()) {
            return;
        }
    }
    RecordProperty("kills", std::to_string(kills));
    RecordProperty("out_of_step_after_kill", std::to_string(outOfStepAfterKill));
    std::printf(
        "kill campaign: %ld kills (%s writes), %ld left the files out of step; files "
        "checked after every next run\n",
        kills, slow ? "slowed" : "full-speed", outOfStepAfterKill);
    if (slow) {
        // Slowed, nearly every kill lands between two writes of one event: the case was met.
        EXPECT_GT(outOfStepAfterKill, 0);
    }
}

}  // namespace
}  // namespace tarvo
