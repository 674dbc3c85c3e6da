#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "i2c/TemperatureHistory.h"
#include "support/TempDir.h"

namespace {

using tarvo::TemperatureHistory;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TemperatureHistory::Sample sampleOf(double base) {
    TemperatureHistory::Sample s;
    for (int ch = 0; ch < 8; ++ch) {
        s[size_t(ch)] = base + ch;
    }
    return s;
}

TEST(TemperatureHistory, EmptyHistoryWritesTheHeaderOnly) {
    nimbra::test::TempDir dir;
    TemperatureHistory history;
    ASSERT_TRUE(history.writeGraphFile(dir.file("g.txt")));
    EXPECT_EQ(readFile(dir.file("g.txt")),
              "VATA1\tVATA2\tVATA3\tVATA4\tVATA5\tVATA6\tVATA7\tVATA8\r\n");
}

TEST(TemperatureHistory, GraphFileFieldsAndSigns) {
    nimbra::test::TempDir dir;
    TemperatureHistory history;
    history.AddSample({-5.0, 0.0, 123.456, -0.04, 25.25, 60.0, -20.0, 31.55});
    history.AddSample(sampleOf(1.0));
    ASSERT_TRUE(history.writeGraphFile(dir.file("g.txt")));
    EXPECT_EQ(readFile(dir.file("g.txt")),
              "VATA1\tVATA2\tVATA3\tVATA4\tVATA5\tVATA6\tVATA7\tVATA8\r\n"
              "-5.0\t0.0\t123.5\t-0.0\t25.2\t60.0\t-20.0\t31.6\r\n"
              "1.0\t2.0\t3.0\t4.0\t5.0\t6.0\t7.0\t8.0\r\n");
    EXPECT_FALSE(history.writeGraphFile(dir.file("no/such/folder/g.txt")));
}

TEST(TemperatureHistory, HoldsAtMost2047SamplesAndDropsTheOldest) {
    TemperatureHistory history;
    for (int i = 0; i < 2047; ++i) {
        history.AddSample(sampleOf(i));
    }
    EXPECT_EQ(history.size(), 2047u);
    EXPECT_EQ(history.start(), 0u);
    EXPECT_EQ(history.end(), 2047u);
    EXPECT_EQ(history.at(0)[0], 0.0);

    history.AddSample(sampleOf(2047));
    EXPECT_EQ(history.size(), 2047u);
    EXPECT_EQ(history.end(), 0u);
    EXPECT_EQ(history.start(), 1u);
    EXPECT_EQ(history.at(0)[0], 1.0);
    EXPECT_EQ(history.at(2046)[0], 2047.0);

    history.AddSample(sampleOf(2048));
    std::vector<double> channel3 = history.channel(3);
    ASSERT_EQ(channel3.size(), 2047u);
    EXPECT_EQ(channel3.front(), 2.0 + 3);
    EXPECT_EQ(channel3.back(), 2048.0 + 3);

    // The saved file holds one line per sample, oldest first, across the wrap.
    std::string text = history.graphFileText();
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u + 2047u);
    EXPECT_NE(text.find("\r\n2.0\t3.0\t"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 9), "\t2055.0\r\n");
}

TEST(TemperatureHistory, GraphAxisDoublesAndNeverShrinks) {
    using tarvo::graphAxisMaximum;
    EXPECT_EQ(graphAxisMaximum(0.5, 1), 2.0);
    EXPECT_EQ(graphAxisMaximum(2.0, 2), 2.0);  // already covered
    EXPECT_EQ(graphAxisMaximum(2.0, 3), 6.0);
    EXPECT_EQ(graphAxisMaximum(6.0, 7), 14.0);
    EXPECT_EQ(graphAxisMaximum(1000.0, 1023), 2046.0);
    EXPECT_EQ(graphAxisMaximum(2046.0, 2047), 2048.0);  // twice n reaches 2048
    EXPECT_EQ(graphAxisMaximum(1500.0, 1024), 1500.0);
    EXPECT_EQ(graphAxisMaximum(1500.0, 1600), 2048.0);
    EXPECT_EQ(graphAxisMaximum(2048.0, 5), 2048.0);
    EXPECT_EQ(graphAxisMaximum(100.0, 2048), 2048.0);
}

}  // namespace
