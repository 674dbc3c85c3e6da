#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BridgeFixture.h"
#include "support/TempDir.h"

namespace nimbra::test {
namespace {

TEST(DecodeError, GivesTheTextOfEveryCodeAndUnknownForOthers) {
    EXPECT_STREQ(KOVRAVME_DecodeError(Success), "Success");
    EXPECT_STREQ(KOVRAVME_DecodeError(BusError), "Bus error");
    EXPECT_STREQ(KOVRAVME_DecodeError(CommError), "Communication error");
    EXPECT_STREQ(KOVRAVME_DecodeError(GenericError), "Generic error");
    EXPECT_STREQ(KOVRAVME_DecodeError(InvalidParam), "Invalid parameter");
    EXPECT_STREQ(KOVRAVME_DecodeError(TimeoutError), "Timeout");
    EXPECT_STREQ(KOVRAVME_DecodeError(static_cast<ErrorCode>(-6)), "Unknown error");
    EXPECT_STREQ(KOVRAVME_DecodeError(static_cast<ErrorCode>(1)), "Unknown error");
}

TEST(Exports, TheLibraryExportsExactlyTheSixtyTwoFunctions) {
    std::string command = std::string("nm -D --defined-only ") + KOVRAVME_LIBRARY_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    int functions = 0;
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        char address[64];
        char type[8];
        char name[256];
        ASSERT_EQ(std::sscanf(line, "%63s %7s %255s", address, type, name), 3) << line;
        EXPECT_EQ(std::string(name).rfind("KOVRAVME_", 0), 0u) << name;
        EXPECT_STREQ(type, "T") << name;
        ++functions;
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(functions, 62);
}

using Frame = BridgeTest;

TEST_F(Frame, ReleasesOfLibraryDriverAndFirmware) {
    char text[32];
    ASSERT_EQ(KOVRAVME_SWRelease(text), Success);
    EXPECT_STREQ(text, "2.10");
    ASSERT_EQ(KOVRAVME_DriverRelease(handle_, text), Success);
    EXPECT_STREQ(text, "1.0");
    ASSERT_EQ(KOVRAVME_BoardFWRelease(handle_, text), Success);
    // Register 2 holds 0x0105: high byte, a point, low byte.
    EXPECT_STREQ(text, "1.5");
    // The firmware release is a register-2 read: 0x4080 + 2.
    EXPECT_EQ(requests(), hexes({"8240"}));
}

TEST_F(Frame, OpeningTheSameBoardTwiceFailsUntilItIsClosed) {
    int32_t second = -1;
    EXPECT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &second), GenericError);
    EXPECT_EQ(second, -1);
    ASSERT_EQ(KOVRAVME_End(handle_), Success);
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &second), Success);
    EXPECT_EQ(second, handle_);
}

TEST_F(Frame, HundredHandlesFitAndTheHundredAndFirstDoesNot) {
    // Links 1..99 beside the fixture's link 0: distinct identities, all on the same bridge.
    std::vector<int32_t> handles;
    for (int16_t link = 1; link < 100; ++link) {
        int32_t h = -1;
        ASSERT_EQ(KOVRAVME_Init(UsbBridge, link, 0, &h), Success) << link;
        handles.push_back(h);
    }
    int32_t extra = -1;
    EXPECT_EQ(KOVRAVME_Init(UsbBridge, 100, 0, &extra), GenericError);
    // Freeing one slot lets exactly that slot be taken again.
    ASSERT_EQ(KOVRAVME_End(handles[41]), Success);
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 100, 0, &extra), Success);
    EXPECT_EQ(extra, handles[41]);
    handles[41] = extra;
    for (int32_t h : handles) {
        EXPECT_EQ(KOVRAVME_End(h), Success);
    }
}

TEST_F(Frame, EndRefusesHandlesThatAreNotOpen) {
    EXPECT_EQ(KOVRAVME_End(100), InvalidParam);
    EXPECT_EQ(KOVRAVME_End(-1), InvalidParam);
    EXPECT_EQ(KOVRAVME_End(handle_ + 1), InvalidParam);
    ASSERT_EQ(KOVRAVME_End(handle_), Success);
    EXPECT_EQ(KOVRAVME_End(handle_), InvalidParam);
    // A closed handle reaches no bridge any more.
    uint32_t value = 0;
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserData, D32), CommError);
    char text[16];
    EXPECT_EQ(KOVRAVME_DriverRelease(handle_, text), CommError);
    EXPECT_EQ(KOVRAVME_BoardFWRelease(handle_, text), CommError);
    handle_ = -1;
}

TEST_F(Frame, FailedOpensLeaveNoRecordBehind) {
    int32_t h = 77;
    EXPECT_EQ(KOVRAVME_Init(4, 0, 1, &h), InvalidParam);
    EXPECT_EQ(KOVRAVME_Init(-1, 0, 1, &h), InvalidParam);
    // The card kinds have no card to open.
    EXPECT_EQ(KOVRAVME_Init(OpticalBridge, 0, 0, &h), CommError);
    EXPECT_EQ(KOVRAVME_Init(PciLinkCard, 0, 0, &h), CommError);
    EXPECT_EQ(KOVRAVME_Init(LinkDevice, 0, 0, &h), CommError);
    // No bridge 1 in this crate.
    EXPECT_EQ(KOVRAVME_Init(UsbBridge, 0, 1, &h), CommError);
    EXPECT_EQ(h, 77);
    // The next open takes the slot right after the fixture's: none of the failures kept one.
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 1, 0, &h), Success);
    EXPECT_EQ(h, handle_ + 1);
    EXPECT_EQ(KOVRAVME_End(h), Success);
}

TEST_F(Frame, NullResultPointersAreRefused) {
    EXPECT_EQ(KOVRAVME_SWRelease(nullptr), InvalidParam);
    EXPECT_EQ(KOVRAVME_Init(UsbBridge, 1, 0, nullptr), InvalidParam);
    EXPECT_EQ(KOVRAVME_DriverRelease(handle_, nullptr), InvalidParam);
    EXPECT_EQ(KOVRAVME_BoardFWRelease(handle_, nullptr), InvalidParam);
}

TEST_F(Frame, TheFifoModeIsReadAtOpen) {
    ASSERT_EQ(KOVRAVME_WriteRegister(handle_, 1, 0x0200), Success);
    ASSERT_EQ(KOVRAVME_End(handle_), Success);
    ASSERT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &handle_), Success);
    // With the bridge in FIFO mode a plain block read keeps its start address for every piece.
    clearTrace();
    std::vector<uint8_t> buffer(61441);
    int32_t count = 0;
    ASSERT_EQ(KOVRAVME_BLTReadCycle(handle_, kMemoryBase, buffer.data(), 61441, AmA32UserBlock, D8,
                                    &count),
              Success);
    EXPECT_EQ(requests(), hexes({"07cb00f000001000 84cb010000001000"}));
}

TEST(FrameWithoutCrate, ABridgeThatCannotBeOpenedIsACommunicationError) {
    TempDir empty;
    setenv("KOVRAVME_SIM_DIR", empty.path().c_str(), 1);
    int32_t h = -1;
    EXPECT_EQ(KOVRAVME_Init(UsbBridge, 0, 0, &h), CommError);
    unsetenv("KOVRAVME_SIM_DIR");
}

}  // namespace
}  // namespace nimbra::test
