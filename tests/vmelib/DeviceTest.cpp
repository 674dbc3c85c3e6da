#include <gtest/gtest.h>
#include <libusb.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "BridgeLock.h"
#include "UsbTransport.h"
#include "device/LibusbDevice.h"
#include "device/UsbDevice.h"

namespace kovravme {
namespace {

// A device that hands out queued reply bytes and records what it was asked.
class ScriptedDevice : public UsbDevice {
  public:
    std::vector<uint8_t> queued;
    std::vector<size_t> asked;
    std::vector<uint8_t> written;
    long failReadAt = -1;  // index of the read call that fails

    long bulkWrite(int pipe, const void* data, size_t length) override {
        EXPECT_EQ(pipe, kWritePipe);
        auto* bytes = static_cast<const uint8_t*>(data);
        written.assign(bytes, bytes + length);
        return static_cast<long>(length);
    }
    long bulkRead(int pipe, void* data, size_t maximum) override {
        EXPECT_EQ(pipe, kReadPipe);
        EXPECT_LE(maximum, kMaxTransfer);
        if (static_cast<long>(asked.size()) == failReadAt) {
            asked.push_back(maximum);
            return -5;
        }
        asked.push_back(maximum);
        size_t n = std::min(maximum, queued.size());
        std::memcpy(data, queued.data(), n);
        queued.erase(queued.begin(), queued.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
    bool close() override { return true; }
};

TEST(UsbBulkRead, ReadsInDriverPiecesAndStopsAtAShortOne) {
    ScriptedDevice device;
    device.queued.assign(61440, 1);
    std::vector<uint8_t> buffer(200000);
    // Exactly one full driver request.
    EXPECT_EQ(usbBulkRead(device, buffer.data(), 61440), 61440);
    EXPECT_EQ(device.asked, (std::vector<size_t>{61440}));

    device.asked.clear();
    device.queued.assign(61442, 2);
    EXPECT_EQ(usbBulkRead(device, buffer.data(), 61442), 61442);
    EXPECT_EQ(device.asked, (std::vector<size_t>{61440, 2}));

    // A bus error cut the reply short: the first short piece ends the read.
    device.asked.clear();
    device.queued.assign(100, 3);
    EXPECT_EQ(usbBulkRead(device, buffer.data(), 3 * 61440 + 2), 100);
    EXPECT_EQ(device.asked, (std::vector<size_t>{61440}));

    // The reply ended exactly at a piece boundary: the next piece gets nothing.
    device.asked.clear();
    device.queued.assign(61440, 4);
    EXPECT_EQ(usbBulkRead(device, buffer.data(), 2 * 61440), 61440);
    EXPECT_EQ(device.asked, (std::vector<size_t>{61440, 61440}));

    device.asked.clear();
    device.queued.assign(3 * 61440, 5);
    device.failReadAt = 1;
    EXPECT_EQ(usbBulkRead(device, buffer.data(), 3 * 61440), -5);
}

TEST(UsbExchange, TheLastTwoBytesAreTheStatusWord) {
    ScriptedDevice device;
    device.queued = {0x11, 0x22, 0x33, 0x20, 0x00};
    uint8_t request[] = {0x81, 0xC9, 0, 0, 0x10, 0};
    uint8_t reply[64];
    std::memset(reply, 0xEE, sizeof(reply));
    uint16_t status = 0;
    EXPECT_EQ(usbExchange(device, request, sizeof(request), reply, sizeof(reply), &status), 3);
    EXPECT_EQ(status, 0x0020);
    EXPECT_EQ(reply[2], 0x33);
    EXPECT_EQ(reply[3], 0xEE);
    EXPECT_EQ(device.written, std::vector<uint8_t>(request, request + sizeof(request)));
    EXPECT_EQ(device.asked, (std::vector<size_t>{66}));

    // Less than a status word is no reply at all.
    device.queued = {0x01};
    EXPECT_EQ(usbExchange(device, request, sizeof(request), reply, sizeof(reply), &status), -1);
    device.queued = {};
    EXPECT_EQ(usbExchange(device, request, sizeof(request), reply, sizeof(reply), &status), -1);
}

TEST(UsbIds, ReadAsCReadsNumbersWithinSixteenBits) {
    EXPECT_EQ(parseUsbId("0x04b4"), 0x04B4);
    EXPECT_EQ(parseUsbId("1204"), 1204);
    EXPECT_EQ(parseUsbId("0xFFFF"), 0xFFFF);
    EXPECT_EQ(parseUsbId("0x10000"), std::nullopt);
    EXPECT_EQ(parseUsbId("-1"), std::nullopt);
    EXPECT_EQ(parseUsbId("12ab"), std::nullopt);
    EXPECT_EQ(parseUsbId(""), std::nullopt);
    EXPECT_EQ(parseUsbId(nullptr), std::nullopt);
}

TEST(UsbSelection, BoardNIsTheNthMatchingDeviceInBusAndAddressOrder) {
    const std::vector<UsbCandidate> devices = {
        {3, 2, 0x04B4, 0x8613}, {1, 9, 0x04B4, 0x8613}, {1, 4, 0x1234, 0x8613},
        {1, 5, 0x04B4, 0x8613}, {2, 1, 0x04B4, 0x0001}, {2, 7, 0x04B4, 0x8613},
    };
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, 0), 3);  // bus 1 address 5
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, 1), 1);  // bus 1 address 9
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, 2), 5);  // bus 2 address 7
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, 3), 0);  // bus 3 address 2
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, 4), -1);
    EXPECT_EQ(selectUsbBoard(devices, 0x04B4, 0x8613, -1), -1);
    EXPECT_EQ(selectUsbBoard(devices, 0x1234, 0x8613, 0), 2);
    EXPECT_EQ(selectUsbBoard({}, 0x04B4, 0x8613, 0), -1);
}

TEST(UsbSelection, PipesAreTheFirstBulkEndpointsOfEachDirection) {
    libusb_endpoint_descriptor endpoints[4] = {};
    endpoints[0].bEndpointAddress = 0x81;
    endpoints[0].bmAttributes = LIBUSB_TRANSFER_TYPE_INTERRUPT;
    endpoints[1].bEndpointAddress = 0x02;
    endpoints[1].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    endpoints[2].bEndpointAddress = 0x86;
    endpoints[2].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    endpoints[3].bEndpointAddress = 0x04;
    endpoints[3].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    libusb_interface_descriptor interface {};
    interface.bNumEndpoints = 4;
    interface.endpoint = endpoints;
    auto found = findBulkEndpoints(interface);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->out, 0x02);
    EXPECT_EQ(found->in, 0x86);
    interface.bNumEndpoints = 2;  // no bulk IN among the first two
    EXPECT_FALSE(findBulkEndpoints(interface).has_value());
}

TEST(UsbDevices, WithoutACrateAndWithoutMatchingHardwareNothingOpens) {
    unsetenv("KOVRAVME_SIM_DIR");
    // Ids that no device carries.
    setenv("KOVRAVME_USB_VID", "0xFFFE", 1);
    setenv("KOVRAVME_USB_PID", "0xFFFD", 1);
    EXPECT_EQ(openUsbDevice(0), nullptr);
    EXPECT_EQ(openUsbDevice(-1), nullptr);
    unsetenv("KOVRAVME_USB_VID");
    unsetenv("KOVRAVME_USB_PID");
    // A crate folder without the bridge's socket.
    setenv("KOVRAVME_SIM_DIR", "/nonexistent-crate", 1);
    EXPECT_EQ(openUsbDevice(0), nullptr);
    unsetenv("KOVRAVME_SIM_DIR");
}

TEST(LockNames, BaseTextUnderscoreThenTypeAndLinkWithNothingBetween) {
    EXPECT_EQ(BridgeLock::handleLockName(0, 0), "/tmp/KOVRAX4410_LCK_00");
    EXPECT_EQ(BridgeLock::handleLockName(1, 12), "/tmp/KOVRAX4410_LCK_112");
    EXPECT_EQ(BridgeLock::cardLockName(2, 3), "/tmp/PLX_LCK_23");
}

TEST(LockFiles, APlantedSymbolicLinkIsNotFollowed) {
    char folder[] = "/tmp/vmelib-lock-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string target = std::string(folder) + "/private";
    const std::string planted = std::string(folder) + "/planted";
    std::ofstream(target) << "secret";
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(symlink(target.c_str(), planted.c_str()), 0);
    EXPECT_EQ(BridgeLock::named(planted), nullptr);
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A lock file of its own is made, shared and usable by every user.
    const std::string own = std::string(folder) + "/lock";
    BridgeLock* lock = BridgeLock::named(own);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(BridgeLock::named(own), lock);
    ASSERT_EQ(stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    ASSERT_TRUE(lock->lock());
    lock->unlock();
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kovravme
