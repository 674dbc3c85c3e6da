#pragma once

#include <memory>
#include <string>

#include "device/UsbDevice.h"

namespace kovravme {

// A USB bridge of the virtual crate: the Unix-domain socket DIR/ezusb-<board>. One connection is
// one opening of the device; bulk requests are framed as 'W' / 'R' records (see
// docs/virtual-crate-sockets.md).
class SimUsbDevice final : public UsbDevice {
  public:
    static std::unique_ptr<UsbDevice> open(const std::string& dir, int boardNumber);
    ~SimUsbDevice() override;

    long bulkWrite(int pipe, const void* data, size_t length) override;
    long bulkRead(int pipe, void* data, size_t maximum) override;
    bool close() override;

  private:
    explicit SimUsbDevice(int fd) : fd_(fd) {}

    int fd_;
};

}  // namespace kovravme
