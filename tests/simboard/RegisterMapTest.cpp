#include <gtest/gtest.h>

#include "BoardHarness.h"

namespace simboard {
namespace {

TEST(BoardRegisters, EveryRegisterReadsBackWhatWasWritten) {
    BoardHarness h;
    for (unsigned ta = 0; ta < 8; ++ta) {
        for (unsigned r = 0; r < 6; ++r) {
            h.setReg(0x20 * ta + 4 * r, 0xA5000000u | (ta << 8) | r);
        }
    }
    h.setReg(0x100, 0x04030201);
    h.setReg(0x104, 0x08070605);
    h.setReg(0x108, 0xDEAD0008);  // bits outside the mode field are kept as written
    h.setReg(0x10C, 0xBEEF7FFF);
    h.setReg(0x110, 40000);
    for (unsigned ta = 0; ta < 8; ++ta) {
        for (unsigned r = 0; r < 6; ++r) {
            EXPECT_EQ(h.reg(0x20 * ta + 4 * r), 0xA5000000u | (ta << 8) | r);
        }
    }
    EXPECT_EQ(h.reg(0x100), 0x04030201u);
    EXPECT_EQ(h.reg(0x104), 0x08070605u);
    EXPECT_EQ(h.reg(0x108), 0xDEAD0008u);
    EXPECT_EQ(h.reg(0x10C), 0xBEEF7FFFu);
    EXPECT_EQ(h.reg(0x110), 40000u);
}

TEST(BoardRegisters, HolesWidthsAndModifiersEndInBusErrors) {
    BoardHarness h;
    uint32_t v = 0;
    EXPECT_FALSE(h.readReg(0x18, v));  // between Reg6 of TA 0 and Reg1 of TA 1
    EXPECT_FALSE(h.writeReg(0x1C, 1));
    EXPECT_FALSE(h.readReg(0x114, v));
    EXPECT_FALSE(h.readReg(0xA00, v));  // the trigger only takes writes
    EXPECT_FALSE(h.writeReg(0x1000, 0));
    EXPECT_FALSE(h.writeReg(0x8000, 0));

    uint64_t w = 0;
    auto& b = h.board;
    EXPECT_FALSE(b.read(h.base() + 0x108, kAm, 2, Access::Single, w));  // D32 only
    EXPECT_FALSE(b.read(h.base() + 0x10A, kAm, 4, Access::Single, w));  // misaligned
    EXPECT_FALSE(b.claims(h.base() + 0x108, 0x29));                     // A16
    EXPECT_FALSE(b.claims(h.base() - 4, kAm));
    EXPECT_FALSE(b.claims(h.base() + 0x10000, kAm));
    EXPECT_TRUE(b.claims(h.base() + 0xFFFC, kAm));
    EXPECT_TRUE(b.claims(h.base() + 0x1000, 0x0B));
}

TEST(BoardRegisters, BaseAddressIsAnOption) {
    BoardOptions options;
    options.base = 0x10000000;
    BoardHarness h(options);
    EXPECT_TRUE(h.board.claims(0x10000108, kAm));
    EXPECT_FALSE(h.board.claims(0x03030108, kAm));
    h.setReg(0x108, 3);
    EXPECT_EQ(h.reg(0x108), 3u);
}

TEST(BoardConfigurationLoad, LoadsOnlyTheAddressedSectionAndOnlyInMode0010) {
    BoardHarness h;
    const std::array<uint32_t, 6> regs = {0x00000010, 0x11111111, 0x22222222,
                                          0x33333333, 0x00000100, 0x0000001B};
    for (unsigned r = 0; r < 6; ++r) {
        h.setReg(0x20 * 5 + 4 * r, regs[r]);
        h.setReg(0x20 * 2 + 4 * r, 0xFFFFFFFF);
    }
    // A trigger in a read-out mode loads nothing.
    h.setReg(0x10C, 5u << 12);
    h.setReg(0x108, 0x0);
    h.setReg(0xA00, 0);
    EXPECT_EQ(h.board.frontEnd(5).reg, (std::array<uint32_t, 6>{}));
    EXPECT_EQ(h.board.counts().configurationLoads, 0u);

    // Bits above the mode field do not hide the load mode.
    h.setReg(0x108, 0xFFFFFFF2);
    h.setReg(0xA00, 0);
    EXPECT_EQ(h.board.frontEnd(5).reg, regs);
    for (unsigned ta = 0; ta < 8; ++ta) {
        if (ta != 5) {
            EXPECT_EQ(h.board.frontEnd(ta).reg, (std::array<uint32_t, 6>{})) << "TA " << ta;
        }
    }
    // Register writes after the load reach the front end only with the next load.
    h.setReg(0x20 * 5, 0);
    EXPECT_EQ(h.board.frontEnd(5).testMask(), 0x10u);
    h.setReg(0xA00, 0);
    EXPECT_EQ(h.board.frontEnd(5).testMask(), 0u);

    const auto& fe = h.board.frontEnd(5);
    EXPECT_TRUE(fe.negativePolarity());
    EXPECT_TRUE(fe.invertingGain());
    EXPECT_EQ(fe.gainFactor(), 6u);
    EXPECT_TRUE(fe.testMode());
    EXPECT_TRUE(fe.disables(8));
    EXPECT_EQ(h.board.counts().configurationLoads, 2u);
}

TEST(BoardConfigurationLoad, DacOffsetFieldSpansRegisterBoundaries) {
    vmesim::board::FrontEndConfig fe;
    // Channel 10 owns bits 30..32: Reg2 bits 30, 31 and Reg3 bit 0. Offset 5 = 101b.
    fe.reg[1] = 1u << 30;
    fe.reg[2] = 1u;
    EXPECT_EQ(fe.dacOffset(10), 5u);
    EXPECT_EQ(fe.dacOffset(9), 0u);
    EXPECT_EQ(fe.dacOffset(11), 0u);
    fe.reg[3] = 0xE0000000u;  // channel 31: bits 93..95
    EXPECT_EQ(fe.dacOffset(31), 7u);
}

}  // namespace
}  // namespace simboard
