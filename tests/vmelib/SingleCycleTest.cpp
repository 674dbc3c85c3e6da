#include <gtest/gtest.h>

#include "BridgeFixture.h"

namespace nimbra::test {
namespace {

using SingleCycle = BridgeTest;

constexpr uint32_t kUnmapped = 0x00900000;

TEST_F(SingleCycle, ReadAndWriteRequestsInEveryWidth) {
    uint32_t value = 0x89ABCDEF;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100010, &value, AmA32UserData, D32), Success);
    uint16_t half = 0x1234;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100014, &half, AmA24SuperData, D16), Success);
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100018, &value, AmA32UserData, D32Swapped), Success);
    uint32_t back = 0;
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, 0x00100010, &back, AmA32UserData, D32), Success);
    EXPECT_EQ(back, 0x89ABCDEFu);
    uint16_t halfBack = 0;
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, 0x00100014, &halfBack, AmA32SuperProgram, D16Swapped),
              Success);
    EXPECT_EQ(halfBack, 0x3412);

    EXPECT_EQ(requests(), hexes({
                              "a189 10001000 efcdab89",  // 0x8081 | AM 0x09 << 8 | D32 0x20
                              "91bd 14001000 3412",      // AM 0x3D, D16 0x10
                              "e189 18001000 efcdab89",  // swap bit 0x40
                              "a1c9 10001000",           // 0xC081 | 0x09 << 8 | 0x20
                              "d1ce 14001000",           // AM 0x0E, D16 swapped
                          }));
    EXPECT_EQ(replies(), hexes({"0000", "0000", "0000", "efcdab890000", "12340000"}));
}

TEST_F(SingleCycle, D8TravelsInTheByteThatTheAddressParityChooses) {
    uint8_t even = 0xAB;
    uint8_t odd = 0xCD;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100002, &even, AmA32UserData, D8), Success);
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100003, &odd, AmA32UserData, D8), Success);
    uint8_t evenBack = 0;
    uint8_t oddBack = 0;
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, 0x00100002, &evenBack, AmA32UserData, D8), Success);
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, 0x00100003, &oddBack, AmA32UserData, D8), Success);
    EXPECT_EQ(evenBack, 0xAB);
    EXPECT_EQ(oddBack, 0xCD);
    // Even address: a zero, then the byte; odd address: the byte, then a zero.
    EXPECT_EQ(requests(), hexes({"8189 02001000 00ab", "8189 03001000 cd00", "81c9 02001000",
                                 "81c9 03001000"}));
    EXPECT_EQ(replies()[2], "00ab0000");
    EXPECT_EQ(replies()[3], "cd000000");
}

TEST_F(SingleCycle, AWriteTakesOnlyTheWidthsBytesOfTheCallersData) {
    // Under the address sanitizer, reading four bytes of these would be caught.
    uint8_t byte = 0x5A;
    uint16_t half = 0xBEEF;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100021, &byte, AmA32UserData, D8), Success);
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100022, &half, AmA32UserData, D16), Success);
    ASSERT_EQ(KOVRAVME_RMWCycle(handle_, 0x00100022, &half, AmA32UserData, D16), Success);
    EXPECT_EQ(requests(2)[0], hexText("8189 21001000 5a00"));
    EXPECT_EQ(requests()[1], hexText("9189 22001000 efbe"));
}

TEST_F(SingleCycle, ReadModifyWriteSendsTheValueAndReturnsTheReplysData) {
    uint32_t old = 0x11223344;
    ASSERT_EQ(KOVRAVME_WriteCycle(handle_, 0x00100030, &old, AmA32UserData, D32), Success);
    clearTrace();
    uint32_t value = 0x000000FF;
    ASSERT_EQ(KOVRAVME_RMWCycle(handle_, 0x00100030, &value, AmA32UserData, D32), Success);
    EXPECT_EQ(requests(), hexes({"a2c9 30001000 ff000000"}));
    std::vector<std::string> reply = replies();
    ASSERT_EQ(reply.size(), 1u);
    ASSERT_EQ(reply[0].size(), 12u);
    // Whatever the bridge answered is what the caller now holds.
    char expected[9];
    std::snprintf(expected, sizeof(expected), "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                  (value >> 16) & 0xFF, value >> 24);
    EXPECT_EQ(reply[0].substr(0, 8), expected);
}

TEST_F(SingleCycle, AddressOnlyCyclesAndTheirModifierLists) {
    EXPECT_EQ(KOVRAVME_ADOCycle(handle_, 0x00100040, AmA32UserData), Success);
    EXPECT_EQ(KOVRAVME_ADOHCycle(handle_, 0x00100040, AmA32Lock), Success);
    EXPECT_EQ(KOVRAVME_ADOHCycle(handle_, 0x00100040, AmA24Lock), Success);
    EXPECT_EQ(requests(), hexes({"85c9 40001000", "83c5 40001000", "83f2 40001000"}));
    clearTrace();
    // The configuration space serves data cycles but no address-only ones; the lock commands
    // only the handshake form.
    EXPECT_EQ(KOVRAVME_ADOCycle(handle_, 0x00100040, AmConfigRom), InvalidParam);
    EXPECT_EQ(KOVRAVME_ADOHCycle(handle_, 0x00100040, AmConfigRom), InvalidParam);
    EXPECT_EQ(KOVRAVME_ADOCycle(handle_, 0x00100040, AmA32Lock), InvalidParam);
    uint32_t value = 0;
    EXPECT_NE(KOVRAVME_ReadCycle(handle_, 0x00100040, &value, AmConfigRom, D32), InvalidParam);
    EXPECT_EQ(requests(1), hexes({"a1ef 40001000"}));
}

TEST_F(SingleCycle, IllegalArgumentsAreRefusedBeforeAnyExchange) {
    uint32_t value = 0x12345678;
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserData, D64), InvalidParam);
    EXPECT_EQ(KOVRAVME_WriteCycle(handle_, kMemoryBase, &value, AmA32UserData, D64Swapped),
              InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserData, 3), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserBlock, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_RMWCycle(handle_, kMemoryBase, &value, 0x49, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, nullptr, AmA32UserData, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_WriteCycle(handle_, kMemoryBase, nullptr, AmA32UserData, D32), InvalidParam);
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 3, &value, D16), InvalidParam);
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 0, &value, D16), InvalidParam);
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 128, &value, D16), InvalidParam);
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 4, &value, D64), InvalidParam);
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 4, nullptr, D16), InvalidParam);
    EXPECT_EQ(value, 0x12345678u);
    // One legal cycle behind them: it must be the only request the crate saw.
    ASSERT_EQ(KOVRAVME_ReadCycle(handle_, kMemoryBase, &value, AmA32UserData, D32), Success);
    EXPECT_EQ(requests(), hexes({"a1c9 00001000"}));
}

TEST_F(SingleCycle, ABusErrorStillDeliversTheReadData) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(KOVRAVME_ReadCycle(handle_, kUnmapped, &value, AmA32UserData, D32), BusError);
    std::vector<std::string> reply = replies(1);
    ASSERT_EQ(reply.size(), 1u);
    ASSERT_EQ(reply[0].size(), 12u);
    EXPECT_EQ(reply[0].substr(8), "2000");  // status bit 5
    EXPECT_NE(value, 0xDEADBEEFu);
    EXPECT_EQ(value, 0u);
    uint32_t write = 1;
    EXPECT_EQ(KOVRAVME_WriteCycle(handle_, kUnmapped, &write, AmA32UserData, D32), BusError);
}

TEST_F(SingleCycle, CyclesOnAHandleThatIsNotOpenAreCommunicationErrors) {
    uint32_t value = 0;
    EXPECT_EQ(KOVRAVME_ReadCycle(42, kMemoryBase, &value, AmA32UserData, D32), CommError);
    EXPECT_EQ(KOVRAVME_WriteCycle(-1, kMemoryBase, &value, AmA32UserData, D32), CommError);
    EXPECT_EQ(KOVRAVME_ADOCycle(100, kMemoryBase, AmA32UserData), CommError);
}

class InterruptAcknowledge : public BridgeTest {
  protected:
    void SetUp() override { start({"--irq", "0x44"}); }
};

TEST_F(InterruptAcknowledge, MaskOfLevelSevenSendsAddressByteFourteen) {
    uint8_t pending = 0;
    ASSERT_EQ(KOVRAVME_IRQCheck(handle_, &pending), Success);
    EXPECT_EQ(pending, 0x44);
    uint16_t vector = 0;
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 64, &vector, D16), Success);
    ASSERT_EQ(KOVRAVME_IRQCheck(handle_, &pending), Success);
    EXPECT_EQ(pending, 0x04);
    // Nothing pends on level 7 any more: the acknowledge ends in a bus error.
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 64, &vector, D16), BusError);
    uint8_t byte = 0;
    EXPECT_EQ(KOVRAVME_IACKCycle(handle_, 4, &byte, D8), Success);
    std::vector<std::string> sent = requests(5);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0], "8540");  // pending levels: register 5
    EXPECT_EQ(sent[1], hexText("98c0 0e000000"));
    EXPECT_EQ(sent[3], hexText("98c0 0e000000"));
    EXPECT_EQ(sent[4], hexText("88c0 06000000"));
}

}  // namespace
}  // namespace nimbra::test
