#include <gtest/gtest.h>

#include "sequence/SequenceDisplay.h"

namespace tarvo {
namespace {

TEST(SequenceDisplay, TheSavedResourceIsPreferredElseThePreviousIndexStays) {
    const std::vector<std::string> items{"ASRL/dev/ttyUSB0::INSTR",
                                         "TCPIP0::127.0.0.1::5025::SOCKET"};
    EXPECT_EQ(visaResourceSelection(items, "TCPIP0::127.0.0.1::5025::SOCKET", 0), 1);
    EXPECT_EQ(visaResourceSelection(items, "GPIB0::1::INSTR", 0), 0);  // not listed
    EXPECT_EQ(visaResourceSelection(items, "", 1), 1);                 // "Refr."
    EXPECT_EQ(visaResourceSelection(items, "", 2), -1);                // the list got shorter
    EXPECT_EQ(visaResourceSelection({}, "x", 0), -1);
}

TEST(SequenceDisplay, TheWorkbookLiesBesideFilenameClrWithTheNameAsPrefix) {
    EXPECT_EQ(sequenceWorkbookPath("/data/run/daq.bin", "DUT_"),
              "/data/run/DUT_SequenceTest_8.xls");
    EXPECT_EQ(sequenceWorkbookPath("/data/run/daq.bin", ""), "/data/run/SequenceTest_8.xls");
    EXPECT_EQ(sequenceWorkbookPath("daq.bin", "A%d"), "A%dSequenceTest_8.xls");
    EXPECT_EQ(sequenceWorkbookPath("", "X"), "XSequenceTest_8.xls");
}

TEST(SequenceDisplay, GraphRangeFollowsTypeAndSequencePoints) {
    EXPECT_EQ(graphXRange(0, true, 512), 256);
    EXPECT_EQ(graphXRange(3, true, 512), 256);
    EXPECT_EQ(graphXRange(4, true, 256), 512);
    EXPECT_EQ(graphXRange(5, true, 256), 256);
    EXPECT_EQ(graphXRange(6, true, 512), 512);
    EXPECT_EQ(graphXRange(6, false, 256), 512);
    EXPECT_TRUE(instrumentGroupVisible(6));
    EXPECT_FALSE(instrumentGroupVisible(5));
}

}  // namespace
}  // namespace tarvo
