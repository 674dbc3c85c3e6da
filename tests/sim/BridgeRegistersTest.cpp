// The bridge's own registers and its serial flash, reached with register requests as the
// library sends them.
#include <gtest/gtest.h>

#include <filesystem>

#include "Bridge.h"
#include "UsbClient.h"
#include "VmeBus.h"
#include "support/TempDir.h"

namespace vmesim {
namespace {

using test::Bytes;
using test::bytes;

class RegisterTest : public ::testing::Test {
  protected:
    void write(int reg, uint16_t value) {
        auto reply = bridge->process(bytes({0x80 + reg, 0x00, value & 0xFF, value >> 8}));
        ASSERT_TRUE(reply);
        EXPECT_TRUE(reply->empty());
    }
    uint16_t read(int reg) {
        auto reply = bridge->process(bytes({0x80 + reg, 0x40}));
        EXPECT_TRUE(reply && reply->size() == 4);
        return reply && reply->size() == 4 ? uint16_t((*reply)[0] | (*reply)[1] << 8) : 0xDEAD;
    }
    // The USB form of a flash byte sequence: 0x03 0x00, then each byte followed by 0x01 while
    // more follow and 0x00 after the last.
    void sendFlash(const Bytes& sequence) {
        Bytes request = {0x03, 0x00};
        for (size_t i = 0; i < sequence.size(); ++i) {
            request.push_back(sequence[i]);
            request.push_back(i + 1 < sequence.size() ? 0x01 : 0x00);
        }
        auto reply = bridge->process(request);
        ASSERT_TRUE(reply);
        EXPECT_TRUE(reply->empty());
    }
    // One register-3 read without the last-operation bit: 128 bytes, a data byte at every even
    // offset, then the status word.
    Bytes readFlash64() {
        auto reply = bridge->process(bytes({0x03, 0x40}));
        EXPECT_TRUE(reply && reply->size() == 130);
        Bytes data;
        for (size_t i = 0; reply && i + 2 < reply->size(); i += 2) {
            data.push_back((*reply)[i]);
        }
        return data;
    }
    static Bytes address(unsigned page) { return {uint8_t(page >> 7), uint8_t(page << 1), 0x00}; }
    void writePage(unsigned page, const Bytes& data) {
        write(4, 0);
        write(4, 1);
        Bytes command = {0x82};
        Bytes at = address(page);
        command.insert(command.end(), at.begin(), at.end());
        command.insert(command.end(), data.begin(), data.end());
        sendFlash(command);
        write(4, 0);
    }
    Bytes readPage(unsigned page) {
        write(4, 0);
        write(4, 1);
        Bytes command = {0xD2};
        Bytes at = address(page);
        command.insert(command.end(), at.begin(), at.end());
        command.insert(command.end(), {0, 0, 0, 0});
        sendFlash(command);
        Bytes data;
        for (int i = 0; i < 5; ++i) {
            Bytes part = readFlash64();
            data.insert(data.end(), part.begin(), part.end());
        }
        write(4, 0);
        return data;
    }
    void erasePage(unsigned page) {
        write(4, 0);
        write(4, 1);
        // Byte by byte, one register write each, as the other board kinds send it.
        Bytes command = {0x81};
        Bytes at = address(page);
        command.insert(command.end(), at.begin(), at.end());
        for (uint8_t b : command) {
            write(3, b);
        }
        write(4, 0);
    }
    static Bytes pattern(uint8_t seed) {
        Bytes data(264);
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = uint8_t(seed + i * 3);
        }
        return data;
    }

    nimbra::test::TempDir dir;
    VmeBus bus;
    std::unique_ptr<Bridge> bridge = std::make_unique<Bridge>(bus);
};

TEST_F(RegisterTest, OutputRegisterHasASetPortAndAClearPort) {
    write(10, 0x00F0);
    write(10, 0x0003);
    write(16, 0x0030);
    EXPECT_EQ(read(10), 0x00C3);
    EXPECT_EQ(read(16), 0x00C3);
    // The library's "set the output register to mask": mask to 10, its complement to 16.
    write(10, 0x0101);
    write(16, uint16_t(~0x0101));
    EXPECT_EQ(read(10), 0x0101);
}

TEST_F(RegisterTest, ConfigurationPairsSetAndClearTheSameRegister) {
    for (auto [set, clear] : {std::pair{11, 17}, std::pair{12, 18}, std::pair{13, 19}}) {
        write(set, 0x0E08);
        write(clear, 0x0008);
        write(set, 0x0001);
        EXPECT_EQ(read(set), 0x0E01) << set;
        EXPECT_EQ(read(clear), 0x0E01) << clear;
    }
    // Three different registers, not one.
    write(17, 0xFFFF);
    EXPECT_EQ(read(11), 0);
    EXPECT_EQ(read(12), 0x0E01);
}

TEST_F(RegisterTest, PlainRegistersReadBackAndReadOnlyOnesDoNot) {
    for (int reg : {1, 22, 23, 25, 26, 28, 40, 41, 44}) {
        write(reg, uint16_t(0x1000 + reg));
        EXPECT_EQ(read(reg), 0x1000 + reg) << reg;
    }
    write(2, 0);
    write(5, 0x7F);
    write(32, 0x1234);
    EXPECT_EQ(read(2), 0x0105);
    EXPECT_EQ(read(5), 0);
    EXPECT_EQ(read(32), 0);
}

TEST_F(RegisterTest, ResetBitDrivesSystemResetOnceWhenItGoesOn) {
    int resets = 0;
    bus.addResetHandler([&] { ++resets; });
    // As the library pulses it: read, write with bit 7, write without; other bits kept.
    write(1, 0x0082);
    write(1, 0x0082);
    EXPECT_EQ(read(1), 0x0082);
    write(1, 0x0002);
    EXPECT_EQ(resets, 1);
    write(1, 0x0280);
    EXPECT_EQ(resets, 2);
}

TEST_F(RegisterTest, PendingInterruptsShowInRegisterFive) {
    bus.raiseInterrupt(1, 0x10);
    bus.raiseInterrupt(5, 0x50);
    bus.raiseInterrupt(5, 0x51);
    EXPECT_EQ(read(5), 0x11);
    uint32_t vector = 0;
    ASSERT_TRUE(bus.acknowledge(5, vector));
    EXPECT_EQ(vector, 0x50u);
    EXPECT_EQ(read(5), 0x11);  // a second interrupt still waits on level 5
    ASSERT_TRUE(bus.acknowledge(5, vector));
    EXPECT_EQ(vector, 0x51u);
    EXPECT_EQ(read(5), 0x01);
}

TEST_F(RegisterTest, FlashPageWrittenReadsBackAndErasesToFF) {
    Bytes data = pattern(7);
    writePage(300, data);
    Bytes fetched = readPage(300);
    ASSERT_EQ(fetched.size(), 320u);
    EXPECT_EQ(Bytes(fetched.begin(), fetched.begin() + 264), data);
    // Reading on past the page end wraps to its start.
    EXPECT_EQ(Bytes(fetched.begin() + 264, fetched.end()), Bytes(data.begin(), data.begin() + 56));
    // Neighbouring pages untouched: page 300 is bytes 0x02 0x58, not page 299 or 301.
    EXPECT_EQ(readPage(299), Bytes(320, 0xFF));
    EXPECT_EQ(readPage(301), Bytes(320, 0xFF));
    erasePage(300);
    EXPECT_EQ(readPage(300), Bytes(320, 0xFF));
}

TEST_F(RegisterTest, FlashIgnoresBytesWhileNotEnabledAndProgramsOnRelease) {
    write(4, 0);
    sendFlash(Bytes{0x82, 0x00, 0x02, 0x00, 0x55});  // not enabled: ignored
    EXPECT_EQ(readPage(1), Bytes(320, 0xFF));
    write(4, 1);
    sendFlash(Bytes{0x82, 0x00, 0x02, 0x00, 0x55});
    // Still selected: the page is programmed only when the enable drops.
    write(4, 0);
    Bytes page = readPage(1);
    EXPECT_EQ(page[0], 0x55);
    EXPECT_EQ(page[1], 0xFF);
}

TEST_F(RegisterTest, FlashFileKeepsWrittenPagesForTheNextBridge) {
    std::string path = dir.file("flash.bin");
    bridge = std::make_unique<Bridge>(bus, path);
    writePage(4095, pattern(1));
    writePage(0, pattern(2));
    EXPECT_EQ(std::filesystem::file_size(path), 4096u * 264);
    bridge = std::make_unique<Bridge>(bus, path);
    Bytes last = readPage(4095);
    Bytes first = readPage(0);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 264), pattern(1));
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 264), pattern(2));
    erasePage(0);
    bridge = std::make_unique<Bridge>(bus, path);
    EXPECT_EQ(readPage(0), Bytes(320, 0xFF));
}

TEST_F(RegisterTest, LocationMonitorCountsCyclesAtItsAddressAndModifier) {
    write(40, 0x0010);
    write(41, 0x0000);
    write(44, 0x09);
    bus.addressOnly(0x10, 0x09, false);
    bus.addressOnly(0x10, 0x0D, false);
    bus.addressOnly(0x14, 0x09, false);
    std::map<std::string, uint64_t> counts;
    bridge->addStats(counts);
    EXPECT_EQ(counts["location_monitor_hits"], 1u);
}

}  // namespace
}  // namespace vmesim
