// The link device, driven as the library drives it.
#include <gtest/gtest.h>

#include "card/LinkDevice.h"

namespace {

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
