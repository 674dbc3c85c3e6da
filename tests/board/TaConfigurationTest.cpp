#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "acquisition/RunState.h"
#include "board/BoardRegisters.h"
#include "board/FakeBoard.h"
#include "board/HoldConfiguration.h"
#include "board/TaConfiguration.h"
#include "board/TaSettingFile.h"
#include "shell/Operator.h"
#include "support/TempDir.h"

namespace tarvo {
namespace {

using test::FakeBoard;
using A = FakeBoard::Access;

class TaBoardTest : public ::testing::Test {
  protected:
    TaBoardTest() {
        state.bus = &fake;
        state.op = &op;
        state.vmeHandle = 0;
        state.settings.baseAddress = FakeBoard::kBase;
    }
    FakeBoard fake;
    ScriptedOperator op;
    RunState state;
};

TEST(TaConfigurationTest, DacOffsetOfChannel10StraddlesReg2AndReg3) {
    TaConfiguration ta;
    ta.setDacOffset(10, 7);  // bits 30, 31, 32 set first
    ASSERT_TRUE(ta.setDacOffset(10, 5));
    EXPECT_EQ(ta.registers()[1], 1u << 30);  // Reg2 bit 30 set, bit 31 cleared
    EXPECT_EQ(ta.registers()[2], 1u);        // Reg3 bit 0
    EXPECT_EQ(ta.registers()[3], 0u);
    EXPECT_EQ(ta.dacOffset(10), 5u);
    EXPECT_EQ(ta.dacOffset(9), 0u);
    EXPECT_EQ(ta.dacOffset(11), 0u);
}

TEST(TaConfigurationTest, EveryChannelsOffsetRoundTripsWithoutTouchingItsNeighbours) {
    TaConfiguration ta;
    for (int c = 0; c < 32; ++c) {
        ta.setDacOffset(c, static_cast<uint32_t>(c % 8));
    }
    for (int c = 0; c < 32; ++c) {
        EXPECT_EQ(ta.dacOffset(c), static_cast<uint32_t>(c % 8)) << c;
    }
    ta.setDacOffset(31, 7);  // the top three bits of Reg4
    EXPECT_EQ(ta.registers()[3] >> 29, 7u);
    TaRegisterValues before = ta.registers();
    EXPECT_FALSE(ta.setDacOffset(4, 8));  // refused, nothing changes
    EXPECT_EQ(ta.registers(), before);
}

TEST(TaConfigurationTest, Reg6ListsAndTestModeKeepTheOtherBits) {
    TaConfiguration ta(TaRegisterValues{0, 0, 0, 0, 0, 0xABCD0000});
    ta.setGain(2);      // "Gain 6x"
    ta.setGainSign(1);  // "Gain -1"
    ta.setPolarity(1);  // "Negative"
    ta.setTestMode(true);
    EXPECT_EQ(ta.registers()[5], 0xABCD001Bu);
    EXPECT_EQ(ta.gain(), 2);
    EXPECT_EQ(ta.gainSign(), 1);
    EXPECT_EQ(ta.polarity(), 1);
    EXPECT_TRUE(ta.testMode());
    ta.setGain(3);
    ta.setTestMode(false);
    ta.setPolarity(0);
    EXPECT_EQ(ta.registers()[5], 0xABCD000Eu);
}

TEST(TaConfigurationTest, MasksBindOneBitPerChannel) {
    TaConfiguration ta;
    ta.setTestMask(0, true);
    ta.setTestMask(31, true);
    ta.setDisableMask(5, true);
    EXPECT_EQ(ta.registers()[0], 0x80000001u);
    EXPECT_EQ(ta.registers()[4], 0x20u);
    ta.setTestMask(0, false);
    EXPECT_EQ(ta.registers()[0], 0x80000000u);
    EXPECT_TRUE(ta.testMask(31));
    EXPECT_TRUE(ta.disableMask(5));
    EXPECT_FALSE(ta.disableMask(4));
}

TEST(HoldConfigurationTest, NanosecondsBecomeCodesOf20Ns) {
    EXPECT_EQ(holdCodeFromNs(45), 2);
    EXPECT_EQ(holdNs(*holdCodeFromNs(45)), 40u);
    EXPECT_EQ(holdCodeFromNs(30), 1);
    EXPECT_EQ(holdNs(1), 20u);
    EXPECT_EQ(holdCodeFromNs(5100), 255);
    EXPECT_EQ(holdCodeFromNs(0), 0);
    EXPECT_FALSE(holdCodeFromNs(5101));
    EXPECT_FALSE(holdCodeFromNs(-1));
}

TEST_F(TaBoardTest, HoldWritePacksChannelsIntoHold1AndHold2) {
    HoldCodeArray codes{1, 2, 3, 4, 0x10, 0x20, 0x30, 0xFF};
    ASSERT_EQ(writeHoldRegisters(state.boardContext(), codes), 0);
    std::vector<A> expected = {{'W', 0x100, 0x04030201}, {'W', 0x104, 0xFF302010}};
    EXPECT_EQ(fake.log, expected);
    HoldCodeArray read{};
    ASSERT_EQ(readHoldRegisters(state.boardContext(), read), 0);
    EXPECT_EQ(read, codes);
}

TEST_F(TaBoardTest, HoldFailuresShowTheirMessagesAndStop) {
    fake.failNext('W', 0x100, -1);
    EXPECT_EQ(writeHoldRegisters(state.boardContext(), {}), -1);
    ASSERT_EQ(fake.writes().size(), 1u);  // the failing Hold1 write only, Hold2 untouched
    EXPECT_EQ(fake.writes()[0].offset, 0x100u);
    fake.registers[0x100] = 0x04030201;
    fake.failNext('R', 0x104, -2);
    HoldCodeArray codes{9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(readHoldRegisters(state.boardContext(), codes), -2);
    EXPECT_EQ(codes, (HoldCodeArray{1, 2, 3, 4, 9, 9, 9, 9}));  // the first half arrived
    fake.failNext('R', 0x100, -2);
    EXPECT_EQ(readHoldRegisters(state.boardContext(), codes), -2);
    fake.failNext('W', 0x104, -5);
    EXPECT_EQ(writeHoldRegisters(state.boardContext(), {}), -5);
    EXPECT_EQ(op.texts("error"),
              (std::vector<std::string>{"FATAL: Write Hold1  FAIL", "FATAL: Read Hold2 FAIL",
                                        "FATAL: Read Hold1  FAIL", "FATAL: Write Hold2 FAIL"}));
}

TEST_F(TaBoardTest, ReadStopsAtTheFirstFailingRegisterKeepingWhatArrived) {
    for (int reg = 1; reg <= 6; ++reg) {
        fake.registers[board::taRegister(2, reg)] = 0x100u + reg;
    }
    fake.failNext('R', board::taRegister(2, 4), -1);
    TaRegisterValues regs{9, 9, 9, 9, 9, 9};
    EXPECT_EQ(readTaSection(state.boardContext(), 2, regs), -1);
    EXPECT_EQ(regs, (TaRegisterValues{0x101, 0x102, 0x103, 9, 9, 9}));
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"FATAL: Read Reg4 FAIL"});
    ASSERT_EQ(readTaSection(state.boardContext(), 2, regs), 0);
    EXPECT_EQ(regs, (TaRegisterValues{0x101, 0x102, 0x103, 0x104, 0x105, 0x106}));
}

TEST_F(TaBoardTest, InitSettingLoadsAllEightGoingOnAfterAFailureThenWritesHold) {
    std::array<TaRegisterValues, 8> sections{};
    for (int t = 0; t < 8; ++t) {
        sections[t] = {static_cast<uint32_t>(t), 0, 0, 0, 0, 0x10};
    }
    fake.failNext('W', board::taRegister(3, 2), -1);
    EXPECT_EQ(InitSetting(state, sections, {1, 2, 3, 4, 5, 6, 7, 8}, 0), 1);
    EXPECT_EQ(op.texts("error"), std::vector<std::string>{"FATAL: Write Reg2 FAIL"});
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(fake.registers[board::taRegister(t, 1)], static_cast<uint32_t>(t));
        EXPECT_EQ(fake.registers[board::taRegister(t, 6)], t == 3 ? 0u : 0x10u) << t;
    }
    EXPECT_EQ(fake.registers[0x100], 0x04030201u);
    EXPECT_EQ(fake.registers[0x104], 0x08070605u);
}

// The file's bytes, built from the layout: hold codes, then Reg1..Reg6 of each section, LE.
std::vector<uint8_t> expectedBytes(const TaSetting& s) {
    std::vector<uint8_t> bytes(s.holdCodes.begin(), s.holdCodes.end());
    for (const auto& section : s.sections) {
        for (uint32_t w : section) {
            bytes.insert(bytes.end(),
                         {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                          static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)});
        }
    }
    return bytes;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(TaSettingFileTest, SaveWrites200BytesAndAppendsTaOnlyWithoutExtension) {
    nimbra::test::TempDir dir;
    TaSetting s;
    s.holdCodes = {1, 2, 3, 4, 5, 6, 7, 0xFF};
    for (int t = 0; t < 8; ++t) {
        for (int r = 0; r < 6; ++r) {
            s.sections[t][r] = 0x01020304u * (t + 1) + static_cast<uint32_t>(r);
        }
    }
    TaFileResult saved = SaveSetting(dir.file("bench"), s);
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(saved.path, dir.file("bench.ta"));
    auto bytes = fileBytes(dir.file("bench.ta"));
    ASSERT_EQ(bytes.size(), 200u);
    EXPECT_EQ(bytes, expectedBytes(s));
    EXPECT_EQ(bytes[8], 0x04);  // Reg1 of TA 1, low byte first
    EXPECT_EQ(bytes[8 + 24 * 7], static_cast<uint8_t>(0x01020304u * 8));

    EXPECT_EQ(SaveSetting(dir.file("bench.cfg"), s).path, dir.file("bench.cfg"));
    EXPECT_EQ(fileBytes(dir.file("bench.cfg")).size(), 200u);

    TaSetting loaded;
    TaFileResult r = LoadSetting(dir.file("bench.ta"), loaded);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 200u);
    EXPECT_EQ(loaded.holdCodes, s.holdCodes);
    EXPECT_EQ(loaded.sections, s.sections);
}

TEST(TaSettingFileTest, ShortFileLoadsWhatItHoldsAndSaysHowMuch) {
    nimbra::test::TempDir dir;
    std::vector<uint8_t> bytes = {9, 8, 7, 6, 5, 4, 3, 2, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB};
    std::ofstream(dir.file("short.ta"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TaSetting s;
    s.sections[0] = {1, 1, 1, 1, 1, 1};
    s.sections[7] = {7, 7, 7, 7, 7, 7};
    TaFileResult r = LoadSetting(dir.file("short.ta"), s);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, 14u);
    EXPECT_EQ(s.holdCodes, (HoldCodeArray{9, 8, 7, 6, 5, 4, 3, 2}));
    EXPECT_EQ(s.sections[0], (TaRegisterValues{0x12345678, 1, 1, 1, 1, 1}));  // Reg2 cut: kept
    EXPECT_EQ(s.sections[7], (TaRegisterValues{7, 7, 7, 7, 7, 7}));

    TaSetting untouched;
    EXPECT_FALSE(LoadSetting(dir.file("missing.ta"), untouched).ok);
    EXPECT_FALSE(SaveSetting(dir.file("no/such/folder/x"), untouched).ok);
}

}  // namespace
}  // namespace tarvo
