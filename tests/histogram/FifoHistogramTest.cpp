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

class FifoHistogram : public HistogramTest {
  protected:
    void SetUp() override { useLayout(true); }
    std::string input(int fifo) { return dir.file("daqclr_" + std::to_string(fifo) + ".bin"); }
    std::string output(int fifo, int channel, const char* ext) {
        return dir.file("daqclr_" + std::to_string(fifo) + "_" + std::to_string(channel) + ext);
    }
    bool run() { return tarvo::FifoHistogramWorker(state, fixedTime); }
    std::vector<std::string> errors() const { return op.texts("error"); }
    int spectrumFiles() const {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            n += entry.path().extension() == ".spe";
        }
        return n;
    }
};

TEST_F(FifoHistogram, WholeRunMatchesTheFilesByteForByte) {
    // 2.5 records: the half record at the end is not read.
    auto value = [](int c, int s, int r) { return uint32_t(c * 100 + s * 10 + r); };
    writeWords(input(3), fifoRecords(2, value, 3), 512);
    state.settings.taDaqEnable[3] = true;
    state.settings.samplesFrom = 2;
    state.settings.samplesTo = 5;

    ASSERT_TRUE(run()) << testing::PrintToString(errors());
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    EXPECT_EQ(state.progress.bytesProcessed.load(), 2048u);
    EXPECT_EQ(state.progress.histogramTotal.load(), 2048u);

    for (int c : {0, 17, 31}) {
        std::vector<uint32_t> listed;
        std::vector<uint32_t> counts(8192, 0);
        for (int r = 0; r < 2; ++r) {
            for (int s = 2; s <= 5; ++s) {
                listed.push_back(value(c, s, r));
                ++counts[value(c, s, r)];
            }
        }
        EXPECT_EQ(readFile(output(3, c, ".txt")), valueList(listed)) << c;
        EXPECT_EQ(readFile(output(3, c, ".spe")), expectedSpectrum(c, kFixedDate, counts)) << c;
    }
    EXPECT_EQ(spectrumFiles(), 32);
}

TEST_F(FifoHistogram, OnlyEnabledFifosAndAMissingFileSkipsTheRest) {
    auto value = [](int, int s, int) { return uint32_t(s); };
    writeWords(input(0), fifoRecords(1, value, 0));  // present but not enabled
    writeWords(input(1), fifoRecords(1, value, 1));
    writeWords(input(6), fifoRecords(1, value, 6));
    state.settings.taDaqEnable[1] = state.settings.taDaqEnable[4] = state.settings.taDaqEnable[6] =
        true;

    EXPECT_FALSE(run());
    EXPECT_EQ(errors(), std::vector<std::string>{"Can't open file: " + input(4) +
                                                 "\nNo such file or directory"});
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    EXPECT_TRUE(exists(output(1, 31, ".spe")));
    EXPECT_FALSE(exists(output(0, 0, ".txt")));
    EXPECT_FALSE(exists(output(6, 0, ".txt")));
    EXPECT_EQ(spectrumFiles(), 32);
}

TEST_F(FifoHistogram, ChannelAndSampleBitsMustMatchTheWordsPlace) {
    struct Case {
        int word;
        uint32_t replacement;
        const char* message;
    };
    const Case cases[] = {
        {8, fifoWord(0, 0, 5), "Fatal Channel error "},   // channel 1, sample 0 says channel 0
        {9, fifoWord(1, 2, 5), "Fatal campione error "},  // channel 1, sample 1 says sample 2
        {9, fifoWord(2, 2, 5), "Fatal Channel error "},   // both wrong: the channel is named
        {255, fifoWord(31, 7, 5) | 0x00080000, nullptr},  // bit 19 is not part of the sample
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        tarvo::ScriptedOperator caseOp;
        state.op = &caseOp;
        auto words = fifoRecords(2, [](int, int s, int r) { return uint32_t(r * 8 + s); });
        words[256 + c.word] = c.replacement;  // in the second record
        writeWords(input(0), words);
        state.settings.taDaqEnable[0] = true;
        std::filesystem::remove(output(0, 0, ".spe"));

        bool ok = run();
        if (c.message == nullptr) {
            EXPECT_TRUE(ok);
            continue;
        }
        EXPECT_FALSE(ok);
        // The second line names the file and the record (the second, at byte 1024).
        EXPECT_EQ(caseOp.texts("error"),
                  std::vector<std::string>{std::string(c.message) + "\n" + input(0) +
                                           ": record 2 at byte 1024"});
        EXPECT_EQ(spectrumFiles(), 0);
        // No value list is left half-written to pass for a complete one.
        for (int channel = 0; channel < 32; ++channel) {
            EXPECT_FALSE(exists(output(0, channel, ".txt"))) << channel;
            EXPECT_FALSE(exists(output(0, channel, ".txt.part"))) << channel;
        }
    }
}

TEST_F(FifoHistogram, WordsOutsideTheSampleWindowAreNotChecked) {
    auto words = fifoRecords(1, [](int, int, int) { return 1u; });
    words[7] = 0xFFFFFFFF;  // channel 0, sample 7
    writeWords(input(0), words);
    state.settings.taDaqEnable[0] = true;
    state.settings.samplesTo = 6;
    EXPECT_TRUE(run());
    EXPECT_TRUE(errors().empty());
}

// One record whose eight samples per channel sit at and around the base line and 4096.
const uint32_t kAroundBase[8] = {300, 499, 500, 4095, 4096, 5000, 0, 8191};

TEST_F(FifoHistogram, MergeAndSwapUseTheFifosBaseLine) {
    writeWords(input(2), fifoRecords(
                             1, [](int, int s, int) { return kAroundBase[s]; }, 2));
    state.settings.taDaqEnable[2] = true;
    state.settings.baseLine = {9999, 9999, 500, 9999, 9999, 9999, 9999, 9999};

    struct Expect {
        int32_t mode;
        std::vector<uint32_t> bins;
    };
    const Expect expects[] = {
        {tarvo::kModeNone, {300, 499, 500, 4095, 4096, 5000, 0, 8191}},
        {tarvo::kModeMerge, {700, 501, 500, 4095, 4096, 5000, 1000, 8191}},
        {tarvo::kModeSwap, {700, 501, 4096, 5000, 1000, 8191}},
    };
    for (const auto& e : expects) {
        SCOPED_TRACE(e.mode);
        state.settings.histogramMode = e.mode;
        ASSERT_TRUE(run()) << testing::PrintToString(errors());
        std::vector<uint32_t> counts(8192, 0);
        for (uint32_t bin : e.bins) {
            ++counts[bin];
        }
        for (int c : {0, 13, 31}) {
            EXPECT_EQ(spectrumCounts(output(2, c, ".spe")), counts);
            // The list holds the raw values, also those Swap did not count.
            EXPECT_EQ(readFile(output(2, c, ".txt")),
                      valueList(std::vector<uint32_t>(kAroundBase, kAroundBase + 8)));
        }
    }
}

TEST_F(FifoHistogram, Ch0BaseShiftsAgainstChannelZeroAndSkipsIt) {
    auto words = fifoRecords(2, [](int c, int s, int r) -> uint32_t {
        if (c == 0) {
            return s == 1 ? 1000 + r : 7;  // the first sample of the window is the base
        }
        return s == 1 ? 1000 + r : s == 2 ? 1001 + r : 0;
    });
    words[2] = 0xFFFFFFFF;  // channel 0 itself is neither checked nor counted
    writeWords(input(5), words);
    state.settings.taDaqEnable[5] = true;
    state.settings.histogramMode = tarvo::kModeCh0Base;
    state.settings.samplesFrom = 1;
    state.settings.samplesTo = 3;

    ASSERT_TRUE(run()) << testing::PrintToString(errors());
    EXPECT_FALSE(exists(output(5, 0, ".spe")));
    EXPECT_TRUE(exists(output(5, 0, ".txt")));
    EXPECT_EQ(readFile(output(5, 0, ".txt")), "");
    EXPECT_EQ(spectrumFiles(), 31);
    // Record 0: base 1000; record 1: base 1001; 0 shifts to 4096 - base.
    const std::vector<uint32_t> listed = {4096, 4097, 3096, 4096, 4097, 3095};
    std::vector<uint32_t> counts(8192, 0);
    for (uint32_t v : listed) {
        ++counts[v];
    }
    EXPECT_EQ(readFile(output(5, 9, ".txt")), valueList(listed));
    EXPECT_EQ(readFile(output(5, 9, ".spe")), expectedSpectrum(9, kFixedDate, counts));
}

TEST_F(FifoHistogram, ModeErrorsStopTheRunWithoutSpectra) {
    struct Case {
        int32_t mode;
        uint32_t baseLine;
        uint32_t channel0;  // channel 0's values (the Ch0Base base)
        uint32_t value;     // channel 4's value at sample 3, all others 4096
        const char* message;
    };
    const Case cases[] = {
        // Base lines above 4095 mirror past bin 8191: refused rather than counted out of range.
        {tarvo::kModeMerge, 5000, 4096, 1000, "Fatal Histogram Merge error "},
        {tarvo::kModeMerge, static_cast<uint32_t>(-5), 4096, 4095, "Fatal Histogram Merge error "},
        {tarvo::kModeSwap, 4500, 4096, 100, "Fatal Histogram Swap error "},
        {tarvo::kModeSwap, static_cast<uint32_t>(-1), 4096, 0, "Fatal Histogram Swap error "},
        {tarvo::kModeCh0Base, 0, 5000, 500, "Fatal Histogram Data-Base error "},
        {tarvo::kModeCh0Base, 0, 100, 4196, "Fatal Histogram Data-Base error "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        tarvo::ScriptedOperator caseOp;
        state.op = &caseOp;
        writeWords(input(7),
                   fifoRecords(
                       1,
                       [&c](int ch, int s, int) {
                           return ch == 0 ? c.channel0 : ch == 4 && s == 3 ? c.value : 4096u;
                       },
                       7));
        state.settings.taDaqEnable[7] = true;
        state.settings.histogramMode = c.mode;
        state.settings.baseLine[7] = c.baseLine;
        EXPECT_FALSE(run());
        EXPECT_EQ(caseOp.texts("error"),
                  std::vector<std::string>{std::string(c.message) + "\n" + input(7) +
                                           ": record 1 at byte 0"});
        EXPECT_EQ(spectrumFiles(), 0);
        EXPECT_FALSE(exists(output(7, 4, ".txt")));
        EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());
    }
}

TEST_F(FifoHistogram, EmptyWindowShortFilesAndHistogramsOnly) {
    writeWords(input(0), fifoRecords(3, [](int, int s, int) { return uint32_t(s); }));
    writeWords(input(1), {});
    writeWords(input(2), {}, 1023);
    state.settings.taDaqEnable[0] = state.settings.taDaqEnable[1] = state.settings.taDaqEnable[2] =
        true;
    state.settings.samplesFrom = 5;  // after samplesTo: nothing is used
    state.settings.samplesTo = 2;

    ASSERT_TRUE(run()) << testing::PrintToString(errors());
    const std::vector<uint32_t> zero(8192, 0);
    for (int fifo : {0, 1, 2}) {
        for (int c : {0, 31}) {
            EXPECT_TRUE(exists(output(fifo, c, ".txt")));
            EXPECT_EQ(readFile(output(fifo, c, ".txt")), "");
            EXPECT_EQ(readFile(output(fifo, c, ".spe")), expectedSpectrum(c, kFixedDate, zero));
        }
    }

    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    writeWords(input(0), fifoRecords(3, [](int, int s, int) { return uint32_t(s); }));
    state.settings.samplesFrom = 0;
    state.settings.samplesTo = 7;
    state.settings.taDaqEnable = {true, false, false, false, false, false, false, false};
    state.settings.histogramsOnly = true;
    ASSERT_TRUE(run()) << testing::PrintToString(errors());
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_NE(entry.path().extension(), ".txt") << entry.path();
    }
    std::vector<uint32_t> counts(8192, 0);
    for (int s = 0; s < 8; ++s) {
        counts[s] = 3;
    }
    EXPECT_EQ(spectrumCounts(output(0, 20, ".spe")), counts);
}

TEST_F(FifoHistogram, FileShrinkingWhileReadIsAFatalReadWithoutSpectra) {
    writeWords(input(0), fifoRecords(3, [](int, int s, int r) { return uint32_t(r * 10 + s); }));
    state.settings.taDaqEnable[0] = true;
    tarvo::HistogramWorkspace ws(1024);
    ws.clock = fixedTime;
    ws.inputOpened = [](const std::string& name) { std::filesystem::resize_file(name, 1536); };

    EXPECT_FALSE(tarvo::histogramFile(state, input(0), 0, ws));
    EXPECT_EQ(errors(),
              std::vector<std::string>{"Fatal Read file\n" + input(0) + ": record 2 at byte 1024"});
    EXPECT_EQ(state.progress.bytesProcessed.load(), 1024u);
    EXPECT_FALSE(exists(output(0, 3, ".txt")));
    EXPECT_EQ(spectrumFiles(), 0);
}

TEST_F(FifoHistogram, UncreatableOutputsAreReported) {
    writeWords(input(0), fifoRecords(1, [](int, int, int) { return 1u; }));
    state.settings.taDaqEnable[0] = true;
    std::filesystem::create_directory(output(0, 5, ".txt"));
    EXPECT_FALSE(run());
    EXPECT_EQ(errors(), std::vector<std::string>{"Can't open file: " + output(0, 5, ".txt") +
                                                 "\nIs a directory"});
    EXPECT_FALSE(exists(output(0, 4, ".txt")));  // the lists opened before it are dropped
    EXPECT_FALSE(exists(output(0, 4, ".txt.part")));

    std::filesystem::remove(output(0, 5, ".txt"));
    std::filesystem::create_directory(output(0, 3, ".spe"));
    tarvo::ScriptedOperator second;
    state.op = &second;
    EXPECT_FALSE(run());
    EXPECT_EQ(
        second.texts("error"),
        std::vector<std::string>{"Can't open file: " + output(0, 3, ".spe") + "\nIs a directory"});
    EXPECT_TRUE(exists(output(0, 2, ".spe")));
    EXPECT_FALSE(exists(output(0, 4, ".spe")));
}

TEST_F(FifoHistogram, SampleFieldsAreValidatedByLayout) {
    writeWords(input(0), fifoRecords(1, [](int, int, int) { return 1u; }));
    state.settings.taDaqEnable[0] = true;
    state.settings.samplesTo = 8;
    EXPECT_FALSE(run());
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_FALSE(exists(output(0, 0, ".txt")));
    EXPECT_TRUE(state.events.HistogramDoneEvent.isSet());

    for (auto [from, to, valid] : {std::tuple{0, 7, true},
                                   {7, 1, true},
                                   {-1, 7, false},
                                   {8, 7, false},
                                   {0, 0, false},
                                   {0, 15, false}}) {
        state.settings.samplesFrom = from;
        state.settings.samplesTo = to;
        EXPECT_EQ(!tarvo::validateHistogramFields(state).has_value(), valid) << from << ":" << to;
    }
    state.settings.adcRev1 = false;
    for (auto [from, to, valid] :
         {std::tuple{0, 15, true}, {15, 1, true}, {16, 15, false}, {0, 16, false}, {3, 0, false}}) {
        state.settings.samplesFrom = from;
        state.settings.samplesTo = to;
        EXPECT_EQ(!tarvo::validateHistogramFields(state).has_value(), valid) << from << ":" << to;
    }
}

}  // namespace
