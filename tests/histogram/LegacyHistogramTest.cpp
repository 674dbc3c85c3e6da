#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "DaqTestFiles.h"
#include "acquisition/RunState.h"
#include "histogram/HistogramWorker.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

using namespace histotest;

namespace {

class LegacyHistogram : public HistogramTest {
  protected:
    void SetUp() override { useLayout(false); }
    std::string output(int channel, const char* ext) {
        return dir.file("daqclr_" + std::to_string(channel) + ext);
    }
    bool run() { return tarvo::LegacyHistogramWorker(state, fixedTime); }
    std::vector<std::string> errors() const { return op.texts("error"); }
};

uint32_t legacyValue(int c, int s, int r) {
    return uint32_t(c * 200 + s * 10 + r);
}

TEST_F(LegacyHistogram, WholeRunMatchesTheFilesByteForByte) {
    writeWords(state.settings.filenameClr, legacyRecords(2, legacyValue), 2047);
    state.settings.samplesFrom = 9;  // sample indices 8..15 use bit 19

    ASSERT_TRUE(run()) << testing::PrintToString(errors());
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    EXPECT_EQ(state.progress.bytesProcessed.load(), 4096u);
    EXPECT_EQ(state.progress.histogramTotal.load(), 4096u);
    for (int c : {0, 17, 31}) {
        std::vector<uint32_t> listed;
        std::vector<uint32_t> counts(8192, 0);
        for (int r = 0; r < 2; ++r) {
            for (int s = 9; s <= 15; ++s) {
                listed.push_back(legacyValue(c, s, r));
                ++counts[legacyValue(c, s, r)];
            }
        }
        EXPECT_EQ(readFile(output(c, ".txt")), valueList(listed)) << c;
        EXPECT_EQ(readFile(output(c, ".spe")), expectedSpectrum(c, kFixedDate, counts)) << c;
    }
}

TEST_F(LegacyHistogram, ModesChangeNothingButSwapReversesTheSpectra) {
    // Values on both sides of the base line and of 4096, which the FIFO layout would correct.
    writeWords(state.settings.filenameClr,
               legacyRecords(3, [](int c, int s, int r) { return uint32_t(s * 500 + c + r); }));
    state.settings.baseLine.fill(3000);
    auto runMode = [&](int32_t mode) {
        state.settings.histogramMode = mode;
        EXPECT_TRUE(run()) << mode;
        std::vector<std::string> files;
        for (int c = 0; c < 32; ++c) {
            files.push_back(readFile(output(c, ".txt")));
            files.push_back(readFile(output(c, ".spe")));
        }
        return files;
    };
    const auto none = runMode(tarvo::kModeNone);
    EXPECT_EQ(runMode(tarvo::kModeMerge), none);
    EXPECT_EQ(runMode(tarvo::kModeCh0Base), none);
    const auto swap = runMode(tarvo::kModeSwap);
    for (int c = 0; c < 32; ++c) {
        EXPECT_EQ(swap[2 * c], none[2 * c]) << "value list " << c;
        auto forward = spectrumCounts(output(c, ".spe"));
        std::vector<uint32_t> counts(8192, 0);
        for (int r = 0; r < 3; ++r) {
            for (int s = 0; s < 16; ++s) {
                ++counts[s * 500 + c + r];
            }
        }
        EXPECT_EQ(swap[2 * c + 1], expectedSpectrum(c, kFixedDate, counts, true)) << c;
    }
    EXPECT_TRUE(errors().empty());
}

TEST_F(LegacyHistogram, ChannelAndSampleErrorsEndWithoutSpectra) {
    struct Case {
        int word;
        uint32_t replacement;
        const char* message;
    };
    const Case cases[] = {
        {2 * 16 + 12, legacyWord(2, 4, 1), "Fatal campione error "},  // bit 19 lost
        {2 * 16 + 3, legacyWord(3, 3, 1), "Fatal Channel error "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        tarvo::ScriptedOperator caseOp;
        state.op = &caseOp;
        auto words = legacyRecords(1, [](int, int s, int) { return uint32_t(s); });
        words[c.word] = c.replacement;
        writeWords(state.settings.filenameClr, words);
        EXPECT_FALSE(run());
        EXPECT_EQ(caseOp.texts("error"),
                  std::vector<std::string>{std::string(c.message) + "\n" +
                                           state.settings.filenameClr + ": record 1 at byte 0"});
        EXPECT_FALSE(exists(output(0, ".spe")));
        EXPECT_FALSE(exists(output(1, ".txt")));
        EXPECT_FALSE(exists(output(2, ".txt")));
        EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    }
}

TEST_F(LegacyHistogram, ShortReadStillWritesTheSpectraOfWhatWasCounted) {
    writeWords(state.settings.filenameClr,
               legacyRecords(3, [](int, int s, int) { return uint32_t(s); }));
    tarvo::HistogramWorkspace ws(2048);
    ws.clock = fixedTime;
    ws.inputOpened = [](const std::string& name) { std::filesystem::resize_file(name, 5000); };

    EXPECT_FALSE(tarvo::legacyHistogramFile(state, ws));
    EXPECT_EQ(errors(), std::vector<std::string>{"Fatal Read file\n" + state.settings.filenameClr +
                                                 ": record 3 at byte 4096"});
    EXPECT_EQ(state.progress.bytesProcessed.load(), 4096u);
    std::vector<uint32_t> counts(8192, 0);
    for (int s = 0; s < 16; ++s) {
        counts[s] = 2;
    }
    for (int c = 0; c < 32; ++c) {
        EXPECT_EQ(spectrumCounts(output(c, ".spe")), counts) << c;
    }
}

TEST_F(LegacyHistogram, MissingInputAndHistogramsOnly) {
    EXPECT_FALSE(run());
    EXPECT_EQ(errors(), std::vector<std::string>{"Can't open file: " + state.settings.filenameClr +
                                                 "\nNo such file or directory"});
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    EXPECT_FALSE(exists(output(0, ".txt")));

    writeWords(state.settings.filenameClr, legacyRecords(1, [](int, int, int) { return 8191u; }));
    state.settings.histogramsOnly = true;
    state.settings.samplesFrom = 15;
    state.settings.samplesTo = 15;
    EXPECT_TRUE(run());
    EXPECT_FALSE(exists(output(0, ".txt")));
    std::vector<uint32_t> counts(8192, 0);
    counts[8191] = 1;
    EXPECT_EQ(readFile(output(31, ".spe")), expectedSpectrum(31, kFixedDate, counts));
}

}  // namespace
