#include <gtest/gtest.h>

#include "acquisition/LiveDisplay.h"
#include "acquisition/MainDialogRules.h"
#include "acquisition/RunState.h"

namespace tarvo {
namespace {

TEST(MainDialogRulesTest, EnablingTableForEveryTypeWithAndWithoutAdcRev1) {
    for (bool rev1 : {false, true}) {
        for (bool idle : {false, true}) {
            for (bool hidle : {false, true}) {
                for (int type = 0; type < kAcquisitionTypeCount; ++type) {
                    SCOPED_TRACE(::testing::Message() << "rev1 " << rev1 << " idle " << idle
                                                      << " hidle " << hidle << " type " << type);
                    ControlEnabling e = enablingFor({idle, hidle, rev1, type});
                    EXPECT_EQ(e.start, idle);
                    EXPECT_EQ(e.filenameVisible, !rev1);
                    EXPECT_EQ(e.filename, idle && !rev1);
                    EXPECT_EQ(e.filenameClr, idle && hidle);
                    EXPECT_EQ(e.genChannels, hidle);
                    EXPECT_EQ(e.taDaqEnable, rev1 && idle && hidle);
                    EXPECT_EQ(e.spyFifo, rev1);
                    EXPECT_EQ(e.typeCombo, rev1 && idle);
                    EXPECT_EQ(e.channel, rev1 && idle && type != 0 && type != 3);
                    EXPECT_EQ(e.softTrigger, type == 1);
                    EXPECT_EQ(e.instrumentGroupVisible, type == 6);
                    EXPECT_EQ(e.instrumentControls, type == 6 && idle);
                    EXPECT_EQ(e.name, type == 6);
                    EXPECT_EQ(e.taMenuItems, rev1);
                    EXPECT_STREQ(e.filenameClrLabel, rev1 ? "Filename" : "Filename clr");
                }
            }
        }
    }
    // A type outside the list never enables "Channel".
    EXPECT_FALSE(enablingFor({true, true, true, 9}).channel);
}

TEST(MainDialogRulesTest, XRangeByTypeWithAdcRev1And512Without) {
    const double expected[] = {256, 512, 512, 256, 512, 300, 300};
    for (int type = 0; type < kAcquisitionTypeCount; ++type) {
        EXPECT_EQ(xRangeFor(true, type, 300), (AxisRange{0, expected[type]})) << type;
        EXPECT_EQ(xRangeFor(false, type, 300), (AxisRange{0, 512})) << type;
    }
    EXPECT_EQ(xRangeFor(true, 5, 512), (AxisRange{0, 512}));
}

TEST(MainDialogRulesTest, YAxisEveryBranch) {
    // Inside the axis with a ratio of 1.2: left alone.
    EXPECT_FALSE(adjustYAxis(100, 200, {90, 210}));
    // Ratio above 1.4 (too wide): widened data span by 12 % on either side.
    EXPECT_EQ(adjustYAxis(100, 200, {0, 1000}), (AxisRange{88, 212}));
    // Ratio below 1 (too narrow) and data outside the axis.
    EXPECT_EQ(adjustYAxis(100, 200, {120, 180}), (AxisRange{88, 212}));
    // Below the axis's minimum / above its maximum with a good ratio.
    EXPECT_EQ(adjustYAxis(100, 200, {101, 221}), (AxisRange{88, 212}));
    EXPECT_EQ(adjustYAxis(100, 200, {79, 199}), (AxisRange{88, 212}));
    // Narrow data (1.2 x span < 10) outside the axis: centred +-5.
    EXPECT_EQ(adjustYAxis(500, 507, {0, 10}), (AxisRange{498, 508}));
    // Narrow data inside an axis that is too wide: set again to what it was.
    EXPECT_EQ(adjustYAxis(500, 507, {400, 600}), (AxisRange{400, 600}));
    // Span 0: all values equal.
    EXPECT_EQ(adjustYAxis(1000, 1000, {0, 100}), (AxisRange{995, 1005}));
    EXPECT_EQ(adjustYAxis(50, 50, {0, 100}), (AxisRange{0, 100}));
    EXPECT_EQ(adjustYAxis(50, 50, {50, 50}), (AxisRange{50, 50}));
    // Ratios of exactly 1 and 1.4 are fine; a span of 25 far from the axis takes 12 %.
    EXPECT_FALSE(adjustYAxis(100, 200, {100, 200}));
    EXPECT_FALSE(adjustYAxis(100, 200, {80, 220}));
    EXPECT_EQ(adjustYAxis(0, 25, {100, 200}), (AxisRange{-3, 28}));
}

class LiveDisplayTest : public ::testing::Test {
  protected:
    LiveDisplayTest() {
        state.settings.adcRev1 = true;
        state.settings.acquisitionType = kTypeFindPeak;
    }
    void picture(uint32_t lo, uint32_t hi, bool resetScale) {
        for (int i = 0; i < 512; ++i) {
            state.display.SpyBuffer[2][i] = 0x70000000u | (i % 2 ? hi : lo);  // tag bits are masked
        }
        state.display.resetScale = resetScale;
        state.events.DisplayReadyEvent.set();
    }
    RunState state;
    LiveDisplay display;
};

TEST_F(LiveDisplayTest, NothingIsDrawnUntilAPictureIsReadyAndTheEventIsHandedBack) {
    EXPECT_FALSE(display.step(state, 2, true, {0, 100}, 512));
    picture(1000, 2000, true);
    auto frame = display.step(state, 2, true, {0, 100}, 512);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(state.events.DisplayReadyEvent.isSet());
    ASSERT_EQ(frame->data.size(), 512u);
    EXPECT_EQ(frame->data[0], 1000);
    EXPECT_EQ(frame->data[1], 2000);
    EXPECT_TRUE(frame->averages.empty());
    EXPECT_EQ(frame->yRange, (AxisRange{880, 2120}));
}

TEST_F(LiveDisplayTest, HoldMinMaxOnlyWidensAfterTheFirstPictureOffFollowsEachPicture) {
    picture(1000, 2000, true);
    display.step(state, 2, true, {0, 100}, 512);
    picture(1400, 1500, false);  // a narrower picture of the same run
    auto held = display.step(state, 2, true, {880, 2120}, 512);
    EXPECT_EQ(display.runningMin(), 1000u);
    EXPECT_EQ(display.runningMax(), 2000u);
    EXPECT_FALSE(held->yRange);  // the axis keeps the whole run's range

    picture(1400, 1500, false);
    auto followed = display.step(state, 2, false, {880, 2120}, 512);
    EXPECT_EQ(display.runningMin(), 1400u);
    EXPECT_EQ(followed->yRange, (AxisRange{1388, 1512}));
}

TEST_F(LiveDisplayTest, AveragesAreDrawnOnceMoreThanOneCycleIsSummed) {
    picture(10, 20, true);
    state.display.SumBuffer[2].fill(31);
    state.display.sumCount = 1;
    EXPECT_TRUE(display.step(state, 2, true, {0, 100}, 512)->averages.empty());
    picture(10, 20, false);
    state.display.sumCount = 4;
    auto frame = display.step(state, 2, true, {0, 100}, 512);
    ASSERT_EQ(frame->averages.size(), 512u);
    EXPECT_EQ(frame->averages[0], 8);  // (31 + 2) / 4
}

TEST_F(LiveDisplayTest, PointsFollowTheTypeAndTheOlderLayoutShowsRowZeroIn13Bits) {
    state.settings.acquisitionType = kTypeNormalReadout;
    picture(1, 2, true);
    EXPECT_EQ(display.step(state, 2, true, {0, 10}, 512)->data.size(), 256u);
    state.settings.adcRev1 = false;
    state.display.SpyBuffer[0].fill(0xFFFFFFFF);
    state.events.DisplayReadyEvent.set();
    auto frame = display.step(state, 2, true, {0, 10}, 512);
    ASSERT_EQ(frame->data.size(), 512u);
    EXPECT_EQ(frame->data[511], 0x1FFF);
    EXPECT_FALSE(frame->yRange);
}

}  // namespace
}  // namespace tarvo
