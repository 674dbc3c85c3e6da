// The card's flash and the link device, driven as the library drives them.
#include <gtest/gtest.h>

#include "card/LinkDevice.h"
#include "card/PageFlash.h"

namespace {

std::vector<uint8_t> command(uint8_t op, uint32_t page) {
    return {op, static_cast<uint8_t>(page >> 7), static_cast<uint8_t>(page << 1), 0x00};
}

TEST(PageFlash, WriteReadEraseOfOnePageLeavesItsNeighboursAlone) {
    vmesim::PageFlash flash;
    auto run = [&](std::vector<uint8_t> bytes) {
        flash.setEnable(false);
        flash.setEnable(true);
        for (uint8_t b : bytes) {
            flash.writeByte(b);
        }
    };
    std::vector<uint8_t> write = command(0x82, 300);
    ASSERT_EQ(write[1], 0x02);  // page 300 is addressed 0x02, 0x58
    ASSERT_EQ(write[2], 0x58);
    for (int i = 0; i < 264; ++i) {
        write.push_back(static_cast<uint8_t>(i * 7));
    }
    run(write);
    flash.setEnable(false);
    EXPECT_EQ(flash.page(300)[263], static_cast<uint8_t>(263 * 7));
    EXPECT_EQ(flash.page(301)[0], 0xFF);

    std::vector<uint8_t> read = command(0xD2, 300);
    read.insert(read.end(), {0, 0, 0, 0});
    run(read);
    for (int i = 0; i < 264; ++i) {
        ASSERT_EQ(flash.readByte(), static_cast<uint8_t>(i * 7)) << i;
    }
    run(command(0x81, 300));
    flash.setEnable(false);
    EXPECT_EQ(flash.page(300)[5], 0xFF);
}

TEST(PageFlash, ACommandCutShortChangesNothing) {
    vmesim::PageFlash flash;
    flash.setEnable(true);
    for (uint8_t b : command(0x82, 2)) {
        flash.writeByte(b);
    }
    flash.writeByte(0x00);  // one data byte of 264
    flash.setEnable(false);
    EXPECT_EQ(flash.page(2)[0], 0xFF);
}

std::vector<uint8_t> words(std::initializer_list<uint16_t> list) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : list) {
        bytes.push_back(static_cast<uint8_t>(w));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    return bytes;
}

TEST(LinkDevice, AnswersRegisterRequestsAndRefusesVmeCycles) {
    vmesim::LinkDevice device;
    EXPECT_TRUE(device.exchange(words({0x0089, 0xBEEF})).empty());  // register 9 write: no reply
    EXPECT_EQ(device.exchange(words({0x4089})), words({0xBEEF, 0x0000}));
    EXPECT_EQ(device.exchange(words({0x4084})), words({0x0201, 0x0000}));
    EXPECT_TRUE(device.exchange(words({0x0084, 0x9999})).empty());
    EXPECT_EQ(device.registerValue(4), 0x0201);  // the release is read-only
    // A VME read: no VME side, so a bus error (status bit 5).
    EXPECT_EQ(device.exchange(words({0xC981, 0x0000, 0x0010})), words({0x0020}));
}

}  // namespace
