// The SDK-shaped layer of the library against the simulated card, both in this process but
// talking over the card's socket, as the library and vmecrate-sim do.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "card/CardServer.h"
#include "card/LinkDevice.h"
#include "card/PciCard.h"
#include "device/PlxApi.h"
#include "support/TempDir.h"

using namespace plx;

namespace {

// A station whose reply is computed by the test; records what it was sent.
class ScriptedStation : public vmesim::LinkStation {
  public:
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> reply =
        [](const std::vector<uint8_t>& request) {
            std::vector<uint8_t> r = request;  // echo, then status 0x1234
            r.push_back(0x34);
            r.push_back(0x12);
            return r;
        };
    std::vector<std::vector<uint8_t>> received;
    uint8_t levels = 0;

    std::vector<uint8_t> exchange(const std::vector<uint8_t>& request) override {
        received.push_back(request);
        return reply(request);
    }
    uint8_t pendingInterrupts() override { return levels; }
    bool raiseInterrupt(uint8_t level) override {
        levels |= static_cast<uint8_t>(1u << (level - 1));
        return true;
    }
};

class PlxCard : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("KOVRAVME_SIM_DIR", dir.path().c_str(), 1);
        card0.attachBridge(0, &bridge0);
        card0.attachBridge(5, &bridge5);
        card0.attachLinkDevice(&linkDevice);
        ASSERT_TRUE(server0.start());
        ASSERT_TRUE(server1.start());
    }
    void TearDown() override { unsetenv("KOVRAVME_SIM_DIR"); }

    DeviceHandle open(int link) {
        DeviceLocation location;
        location.deviceId = 0x9054;
        location.vendorId = 0x10B5;
        std::snprintf(location.serialNumber, sizeof location.serialNumber, "Pci9054-%d", link);
        uint32_t limit = 80001;
        EXPECT_EQ(PlxPciDeviceFind(&location, &limit), kApiSuccess);
        DeviceHandle device = nullptr;
        EXPECT_EQ(PlxPciDeviceOpen(&location, &device), kApiSuccess);
        return device;
    }

    static void write(DeviceHandle device, uint32_t address, uint32_t value) {
        ASSERT_EQ(PlxBusIopWrite(device, kIopSpace0, address, true, &value, 4, AccessType::Bits32),
                  kApiSuccess);
    }
    static uint32_t read(DeviceHandle device, uint32_t address) {
        uint32_t value = 0;
        EXPECT_EQ(PlxBusIopRead(device, kIopSpace0, address, true, &value, 4, AccessType::Bits32),
                  kApiSuccess);
        return value;
    }
    // Pushes one request the way the library does: header word, then the bytes in words.
    static void push(DeviceHandle device, uint8_t board, const std::vector<uint8_t>& request) {
        uint32_t header = static_cast<uint32_t>(request.size() / 2) | board << 16 | board << 24;
        write(device, 0, header);
        for (size_t i = 0; i < request.size(); i += 4) {
            uint32_t word = 0;
            for (size_t k = 0; k < 4 && i + k < request.size(); ++k) {
                word |= static_cast<uint32_t>(request[i + k]) << (8 * k);
            }
            write(device, 0, word);
        }
    }
    // Moves every waiting word out of the receive port.
    static std::vector<uint32_t> drain(DeviceHandle device) {
        DmaChannelDescriptor descriptor;
        Status open = PlxDmaSglChannelOpen(device, 3, &descriptor);
        EXPECT_TRUE(open == kApiSuccess || open == kApiDmaChannelUnavailable);
        std::vector<uint32_t> all;
        for (uint32_t waiting; (waiting = read(device, 0x18)) >= 0x10000;) {
            std::vector<uint32_t> area(waiting >> 16);
            DmaTransferElement element;
            element.userAddress = area.data();
            element.localBusWidth = 4;
            element.transferCount = static_cast<uint32_t>(area.size() * 4);
            element.flags = 3;
            EXPECT_EQ(PlxDmaSglTransfer(device, 3, &element, false), kApiSuccess);
            all.insert(all.end(), area.begin(), area.end());
        }
        return all;
    }

    nimbra::test::TempDir dir;
    vmesim::PciCard card0{0};
    vmesim::PciCard card1{1};
    ScriptedStation bridge0;
    ScriptedStation bridge5;
    vmesim::LinkDevice linkDevice;
    vmesim::CardServer server0{card0, dir.file("pci9054-0")};
    vmesim::CardServer server1{card1, dir.file("pci9054-1")};
};

TEST_F(PlxCard, FindsTheCardBySerialTextAndChecksItsConfiguration) {
    DeviceLocation location;
    std::snprintf(location.serialNumber, sizeof location.serialNumber, "Pci9054-1");
    uint32_t limit = 80001;
    ASSERT_EQ(PlxPciDeviceFind(&location, &limit), kApiSuccess);
    EXPECT_EQ(location.slotNumber, 1);
    EXPECT_EQ(location.deviceId, 0x9054);
    EXPECT_EQ(location.vendorId, 0x10B5);
    Status status = 0;
    uint32_t subsystem = PlxPciConfigRegisterRead(location.busNumber, 1, 0x2C, &status);
    EXPECT_EQ(status, kApiSuccess);
    EXPECT_EQ(subsystem >> 16, 0x3057u);

    std::snprintf(location.serialNumber, sizeof location.serialNumber, "Pci9054-7");
    location.busNumber = location.slotNumber = 0xFF;
    EXPECT_EQ(PlxPciDeviceFind(&location, &limit), kApiNoDevice);

    unsetenv("KOVRAVME_SIM_DIR");  // a machine without a card
    std::snprintf(location.serialNumber, sizeof location.serialNumber, "Pci9054-0");
    EXPECT_EQ(PlxPciDeviceFind(&location, &limit), kApiNoDevice);
}

TEST_F(PlxCard, RequestTravelsAsHeaderAndWordsAndReturnsAsPackets) {
    DeviceHandle device = open(0);
    write(device, 0xA4, 2);
    // A 6-byte read request for board 5: header 0x05050003, then two words, zero-padded.
    push(device, 5, {0x81, 0xE9, 0x00, 0x10, 0x00, 0x00});
    ASSERT_EQ(bridge5.received.size(), 1u);
    EXPECT_EQ(bridge5.received[0], (std::vector<uint8_t>{0x81, 0xE9, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_TRUE(bridge0.received.empty());
    // Reply of 8 bytes = 4 items: header with n = 4, the last-packet bit 9 and board 5 in 27-24.
    EXPECT_EQ(drain(device), (std::vector<uint32_t>{0x05000204, 0x1000E981, 0x12340000}));
    EXPECT_EQ(read(device, 0x18), 0u);
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, LongReplySplitsIntoWholePacketsAndOddDataIsPadded) {
    DeviceHandle device = open(0);
    bridge0.reply = [](const std::vector<uint8_t>&) {
        std::vector<uint8_t> r(200001, 0xAB);  // an odd number of data bytes, the last 0x55,
        r.back() = 0x55;
        r.push_back(0x20);  // ... then status 0x0020
        r.push_back(0x00);
        return r;
    };
    push(device, 0, {0x84, 0xC0, 0x00, 0x00});
    // The FIFO never shows more than it holds, and only whole packets.
    uint32_t first = read(device, 0x18) >> 16;
    EXPECT_LE(first, vmesim::PciCard::kFifoWords);
    EXPECT_GT(first, 0u);
    std::vector<uint32_t> words = drain(device);
    std::vector<uint8_t> data;
    size_t packets = 0, lastFlags = 0;
    for (size_t at = 0; at < words.size();) {
        uint32_t header = words[at++];
        size_t n = header & 0x1FF;
        ++packets;
        lastFlags += (header >> 9) & 1;
        for (size_t i = 0; i < n; ++i) {
            uint32_t word = words[at + i / 2];
            uint16_t item = static_cast<uint16_t>(i % 2 ? word >> 16 : word);
            data.push_back(static_cast<uint8_t>(item));
            data.push_back(static_cast<uint8_t>(item >> 8));
        }
        at += (n + 1) / 2;
    }
    EXPECT_EQ(lastFlags, 1u);
    EXPECT_EQ(packets, (200002 / 2 + 1 + 255) / 256);
    ASSERT_EQ(data.size(), 200004u);
    EXPECT_EQ(data[199999], 0xAB);
    EXPECT_EQ(data[200000], 0x55);
    EXPECT_EQ(data[200001], 0x00);  // pad
    EXPECT_EQ(data[200002], 0x20);  // status word last
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, EachOpenerSeesOnlyItsOwnRepliesAndSecondDmaOpenIsUnavailable) {
    DeviceHandle a = open(0);
    DeviceHandle b = open(0);
    DmaChannelDescriptor descriptor;
    EXPECT_EQ(PlxDmaSglChannelOpen(a, 3, &descriptor), kApiSuccess);
    EXPECT_EQ(PlxDmaSglChannelOpen(b, 3, &descriptor), kApiDmaChannelUnavailable);
    push(a, 0, {0x01, 0x40});
    EXPECT_EQ(read(b, 0x18), 0u);
    EXPECT_EQ(read(a, 0x18) >> 16, 2u);  // header and one word of two items
    PlxPciDeviceClose(a);
    PlxPciDeviceClose(b);
}

TEST_F(PlxCard, NotificationFiresOnceUntilReArmedAndCancelEndsAWait) {
    DeviceHandle device = open(0);
    InterruptRecord notifyOn{0x00800080, 0};
    NotifyObject notify;
    ASSERT_EQ(PlxNotificationRegisterFor(device, &notifyOn, &notify), kApiSuccess);
    InterruptRecord arm{0x00C00080, 4};
    ASSERT_EQ(PlxIntrEnable(device, &arm), kApiSuccess);
    EXPECT_EQ(PlxNotificationWait(device, &notify, 50), kApiWaitTimeout);

    push(device, 0, {0x01, 0x40});
    // Reply waiting but the reply interrupt still masked in the card.
    EXPECT_EQ(PlxNotificationWait(device, &notify, 50), kApiWaitTimeout);
    write(device, 0xA4, 2);
    EXPECT_EQ(PlxNotificationWait(device, &notify, 1000), kApiSuccess);
    InterruptRecord status;
    ASSERT_EQ(PlxIntrStatusGet(device, &status), kApiSuccess);
    EXPECT_TRUE(status.sources & kLocalInterrupt);
    // Latched off until re-enabled, although the reply is still there.
    EXPECT_EQ(PlxNotificationWait(device, &notify, 50), kApiWaitTimeout);
    ASSERT_EQ(PlxIntrEnable(device, &arm), kApiSuccess);
    EXPECT_EQ(PlxNotificationWait(device, &notify, 1000), kApiSuccess);
    drain(device);
    ASSERT_EQ(PlxIntrEnable(device, &arm), kApiSuccess);

    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PlxNotificationCancel(device, &notify);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PlxNotificationWait(device, &notify, 5000), kApiWaitCanceled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    canceller.join();
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, VmeInterruptShowsInPendingRegistersAndRaisesTheLocalInterrupt) {
    DeviceHandle device = open(0);
    InterruptRecord notifyOn{0x00800080, 0};
    NotifyObject notify;
    PlxNotificationRegisterFor(device, &notifyOn, &notify);
    InterruptRecord arm{0x00C00080, 4};
    PlxIntrEnable(device, &arm);
    write(device, 0xA4, 8);
    EXPECT_EQ(PlxNotificationWait(device, &notify, 30), kApiWaitTimeout);
    ASSERT_TRUE(card0.raiseInterrupt(5, 3));
    EXPECT_EQ(PlxNotificationWait(device, &notify, 1000), kApiSuccess);
    EXPECT_EQ(read(device, 0x24), 0u);
    EXPECT_EQ(read(device, 0x28), 0x0400u);  // board 5 = byte 1 of the second register, level 3
    write(device, 0xA0, 8);
    PlxIntrEnable(device, &arm);
    EXPECT_EQ(PlxNotificationWait(device, &notify, 30), kApiWaitTimeout);
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, RegisterEightBitTwoRoutesRequestsToTheLinkDevice) {
    DeviceHandle device = open(0);
    write(device, 8, read(device, 8) | 4);
    push(device, 0, {0x84, 0x40});  // register 4 read
    write(device, 8, read(device, 8) & ~4u);
    EXPECT_TRUE(bridge0.received.empty());
    EXPECT_EQ(drain(device), (std::vector<uint32_t>{0x00000202, 0x00000201}));
    EXPECT_EQ(read(device, 0x1C), vmesim::PciCard::kFirmwareRelease);
    uint8_t major = 0, minor = 0, revision = 0;
    EXPECT_EQ(PlxDriverVersion(device, &major, &minor, &revision), kApiSuccess);
    EXPECT_EQ(major, 6);
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, DroppedReplyNeverArrivesAndTheNextOneDoes) {
    DeviceHandle device = open(0);
    card0.dropNextReplies(1);
    push(device, 0, {0x01, 0x40});
    EXPECT_EQ(read(device, 0x18), 0u);
    push(device, 0, {0x02, 0x40});
    EXPECT_EQ(read(device, 0x18) >> 16, 2u);
    EXPECT_EQ(bridge0.received.size(), 2u);
    PlxPciDeviceClose(device);
}

TEST_F(PlxCard, CallsOnAClosedOrMissingDeviceFail) {
    EXPECT_EQ(PlxIntrEnable(nullptr, nullptr), kApiNullParam);
    InterruptRecord arm;
    EXPECT_EQ(PlxIntrEnable(nullptr, &arm), kApiInvalidHandle);
    DeviceLocation nowhere;
    std::snprintf(nowhere.serialNumber, sizeof nowhere.serialNumber, "Pci9054-9");
    DeviceHandle device = nullptr;
    EXPECT_EQ(PlxPciDeviceOpen(&nowhere, &device), kApiNoDevice);
    EXPECT_EQ(device, nullptr);
}

}  // namespace
