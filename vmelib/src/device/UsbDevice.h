#pragma once

#include <cstddef>
#include <memory>

namespace kovravme {

// One opening of a USB bridge: the EZ-USB driver's device as the library sees it. Opened for one
// exchange and closed after it, so that several processes can share a bridge between exchanges.
class UsbDevice {
  public:
    static constexpr int kWritePipe = 0;
    static constexpr int kReadPipe = 2;
    // The driver moves at most this many bytes per bulk request.
    static constexpr size_t kMaxTransfer = 61440;

    virtual ~UsbDevice() = default;

    // Bytes written, or a negated error number.
    virtual long bulkWrite(int pipe, const void* data, size_t length) = 0;
    // Bytes read (at most min(maximum, kMaxTransfer); fewer is a short packet that ends a read),
    // or a negated error number.
    virtual long bulkRead(int pipe, void* data, size_t maximum) = 0;
    // Ends this opening; false when the device reports a failure.
    virtual bool close() = 0;
};

// Opens USB bridge `boardNumber`: through the virtual crate when KOVRAVME_SIM_DIR is set, else
// through libusb. Null when the device cannot be opened.
std::unique_ptr<UsbDevice> openUsbDevice(int boardNumber);

}  // namespace kovravme
