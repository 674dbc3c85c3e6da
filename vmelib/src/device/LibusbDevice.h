#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/UsbDevice.h"

struct libusb_device_handle;
struct libusb_interface_descriptor;

namespace kovravme {

// Ids a bridge answers to unless KOVRAVME_USB_VID / KOVRAVME_USB_PID say otherwise: those its USB
// controller reports before it has been given ids of its own.
constexpr uint16_t kDefaultUsbVendorId = 0x04B4;
constexpr uint16_t kDefaultUsbProductId = 0x8613;

// A USB device as enumeration reports it; enough to pick the n-th bridge.
struct UsbCandidate {
    uint8_t bus = 0;
    uint8_t address = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// Reads a vendor or product id as C reads numbers ("0x04b4", "1204"); empty when the text is not
// a whole number in 0..0xFFFF.
std::optional<uint16_t> parseUsbId(const char* text);

// Index into `candidates` of bridge `boardNumber`: the boardNumber-th device with the given ids
// in bus and address order; -1 when there is no such device.
int selectUsbBoard(const std::vector<UsbCandidate>& candidates, uint16_t vendorId,
                   uint16_t productId, int boardNumber);

// The endpoints the driver's pipes stand for: pipe 0 is the first bulk OUT endpoint, pipe 2 the
// first bulk IN endpoint of the interface.
struct BulkEndpoints {
    uint8_t out = 0;
    uint8_t in = 0;
};
std::optional<BulkEndpoints> findBulkEndpoints(const libusb_interface_descriptor& interface);

// A real USB bridge reached through libusb-1.0.
class LibusbDevice final : public UsbDevice {
  public:
    static std::unique_ptr<UsbDevice> open(int boardNumber);
    ~LibusbDevice() override;

    long bulkWrite(int pipe, const void* data, size_t length) override;
    long bulkRead(int pipe, void* data, size_t maximum) override;
    bool close() override;

  private:
    LibusbDevice(libusb_device_handle* handle, int interfaceNumber, BulkEndpoints endpoints)
        : handle_(handle), interface_(interfaceNumber), endpoints_(endpoints) {}

    libusb_device_handle* handle_;
    int interface_;
    BulkEndpoints endpoints_;
};

}  // namespace kovravme
