#include <gtest/gtest.h>

#include <vector>

#include "DaqTestFiles.h"
#include "histogram/HistogramModes.h"
#include "histogram/SpectrumWriter.h"
#include "support/TempDir.h"

using namespace histotest;
using tarvo::Correction;

namespace {

tarvo::SpectrumCounts countsOf(const std::vector<uint32_t>& counts) {
    return tarvo::SpectrumCounts(counts.data(), 8192);
}

TEST(SpectrumWriter, FileMatchesTheLayoutByteForByte) {
    nimbra::test::TempDir dir;
    std::vector<uint32_t> counts(8192, 0);
    counts[0] = 3;
    counts[1] = 12345678;       // exactly 8 digits: no leading blank
    counts[160] = 4000000000u;  // 10 digits: the line grows, the others keep their width
    counts[8191] = 1;
    const std::string path = dir.file("daqclr_3_17.spe");

    ASSERT_TRUE(tarvo::writeSpectrum(path, 17, countsOf(counts), false, fixedTime));
    EXPECT_EQ(readFile(path), expectedSpectrum(17, kFixedDate, counts));

    const std::string text = readFile(path);
    EXPECT_NE(text.find("\r\n12345678\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n4000000000\r\n"), std::string::npos);
    EXPECT_EQ(text.size(), expectedSpectrum(17, kFixedDate, counts).size());
    // The trailer is the fixed 212-byte block.
    EXPECT_EQ(text.substr(text.size() - 212, 7), "$ROI:\r\n");
    EXPECT_EQ(text.substr(text.size() - 214, 2), "\r\n");
}

TEST(SpectrumWriter, ReversedWritesBin8191First) {
    nimbra::test::TempDir dir;
    std::vector<uint32_t> counts(8192, 0);
    counts[0] = 7;
    counts[8191] = 99;
    counts[4000] = 5;
    const std::string path = dir.file("r.spe");
    ASSERT_TRUE(tarvo::writeSpectrum(path, 0, countsOf(counts), true, fixedTime));
    EXPECT_EQ(readFile(path), expectedSpectrum(0, kFixedDate, counts, true));
    auto back = spectrumCounts(path);
    ASSERT_EQ(back.size(), 8192u);
    EXPECT_EQ(back[0], 99u);
    EXPECT_EQ(back[8191], 7u);
    EXPECT_EQ(back[8191 - 4000], 5u);
}

TEST(SpectrumWriter, EmptySpectrumAndOverwrite) {
    nimbra::test::TempDir dir;
    const std::string path = dir.file("e.spe");
    writeWords(path, std::vector<uint32_t>(100000, 0xFFFFFFFF));  // an older, longer file
    std::vector<uint32_t> zero(8192, 0);
    ASSERT_TRUE(tarvo::writeSpectrum(path, 31, countsOf(zero), false, fixedTime));
    const std::string text = readFile(path);
    EXPECT_EQ(text, expectedSpectrum(31, kFixedDate, zero));
    EXPECT_NE(text.find("0 8192\r\n       0\r\n       0\r\n"), std::string::npos);
}

TEST(SpectrumWriter, UncreatableFileFails) {
    std::vector<uint32_t> zero(8192, 0);
    EXPECT_FALSE(
        tarvo::writeSpectrum("/nonexistent-folder/x.spe", 0, countsOf(zero), false, fixedTime));
}

TEST(SpectrumWriter, ValueLinesAreFiveWideWithCrLf) {
    nimbra::test::TempDir dir;
    const std::string path = dir.file("v.txt");
    {
        tarvo::HistogramOutputFile file(16);  // a tiny buffer forces many flushes
        ASSERT_TRUE(file.open(path));
        for (uint32_t v : {0u, 7u, 42u, 4096u, 8191u, 99999u, 123456u}) {
            tarvo::writeValueLine(file, v);
        }
        ASSERT_TRUE(file.close());
    }
    EXPECT_EQ(readFile(path), "    0\r\n    7\r\n   42\r\n 4096\r\n 8191\r\n99999\r\n123456\r\n");
}

struct ModeCase {
    int32_t mode;
    uint32_t v, b, base0;
    Correction::Kind kind;
    uint32_t bin;     // checked when counted
    uint32_t listed;  // checked unless failed
};

TEST(HistogramModes, CorrectionsAroundBaseLineAndLimits) {
    const uint32_t negative = static_cast<uint32_t>(-5);
    const ModeCase cases[] = {
        {tarvo::kModeNone, 8191, 100, 0, Correction::Count, 8191, 8191},
        // Merge mirrors below the base line.
        {tarvo::kModeMerge, 40, 100, 0, Correction::Count, 160, 40},
        {tarvo::kModeMerge, 100, 100, 0, Correction::Count, 100, 100},
        {tarvo::kModeMerge, 99, 100, 0, Correction::Count, 101, 99},
        {tarvo::kModeMerge, 30, 10, 0, Correction::Count, 30, 30},
        {tarvo::kModeMerge, 0, 4095, 0, Correction::Count, 8190, 0},
        {tarvo::kModeMerge, 5, negative, 0, Correction::Fail, 0, 0},
        // A base line above 4095 would mirror past the last bin: the mode's error, not a count.
        {tarvo::kModeMerge, 1000, 5000, 0, Correction::Fail, 0, 0},
        {tarvo::kModeMerge, 0, 4096, 0, Correction::Fail, 0, 0},
        {tarvo::kModeMerge, 1, 4096, 0, Correction::Count, 8191, 1},
        // Swap: above 4096 as is, between base line and 4096 nothing, below mirrored.
        {tarvo::kModeSwap, 300, 500, 0, Correction::Count, 700, 300},
        {tarvo::kModeSwap, 500, 500, 0, Correction::Skip, 0, 500},
        {tarvo::kModeSwap, 4095, 500, 0, Correction::Skip, 0, 4095},
        {tarvo::kModeSwap, 4096, 500, 0, Correction::Count, 4096, 4096},
        {tarvo::kModeSwap, 5000, 500, 0, Correction::Count, 5000, 5000},
        {tarvo::kModeSwap, 499, 500, 0, Correction::Count, 501, 499},
        {tarvo::kModeSwap, 10, negative, 0, Correction::Fail, 0, 0},
        {tarvo::kModeSwap, 100, 6000, 0, Correction::Fail, 0, 0},
        {tarvo::kModeSwap, 5000, 6000, 0, Correction::Count, 5000, 5000},
        // Ch0Base shifts against channel 0: equal lands in 4096, the 8192 bins bound it.
        {tarvo::kModeCh0Base, 300, 0, 300, Correction::Count, 4096, 4096},
        {tarvo::kModeCh0Base, 4095, 0, 0, Correction::Count, 8191, 8191},
        {tarvo::kModeCh0Base, 4096, 0, 0, Correction::Fail, 0, 0},
        {tarvo::kModeCh0Base, 0, 0, 4096, Correction::Count, 0, 0},
        {tarvo::kModeCh0Base, 0, 0, 4097, Correction::Fail, 0, 0},
        {tarvo::kModeCh0Base, 8191, 0, 8191, Correction::Count, 4096, 4096},
        // Unknown modes count nothing but still list the value.
        {7, 123, 0, 0, Correction::Skip, 0, 123},
        {-1, 123, 0, 0, Correction::Skip, 0, 123},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << " v " << c.v << " b " << c.b << " base0 " << c.base0);
        Correction k = tarvo::correctValue(c.mode, c.v, c.b, c.base0);
        EXPECT_EQ(k.kind, c.kind);
        if (k.kind == Correction::Count) {
            EXPECT_EQ(k.bin, c.bin);
        }
        if (k.kind != Correction::Fail) {
            EXPECT_EQ(k.listed, c.listed);
        }
    }
    EXPECT_STREQ(tarvo::modeErrorText(tarvo::kModeMerge), "Fatal Histogram Merge error ");
    EXPECT_STREQ(tarvo::modeErrorText(tarvo::kModeSwap), "Fatal Histogram Swap error ");
    EXPECT_STREQ(tarvo::modeErrorText(tarvo::kModeCh0Base), "Fatal Histogram Data-Base error ");
}

}  // namespace
