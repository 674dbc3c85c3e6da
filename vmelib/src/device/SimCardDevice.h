#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device/CardDevice.h"
#include "device/PlxChannel.h"

namespace plx {

// The virtual crate's card: the Unix-domain socket DIR/pci9054-<link> (docs/virtual-crate-card.md).
// Without KOVRAVME_SIM_DIR no card is ever found, as on a machine without one.
class SimCardDriver final : public CardDriver {
  public:
    Status find(DeviceLocation& location, uint32_t& requestLimit) override;
    Status open(const DeviceLocation& location, std::unique_ptr<Device>& device) override;
    Status configRead(uint8_t bus, uint8_t slot, uint16_t offset, uint32_t& value) override;
};

// An open card: the connection that carries its calls, one call at a time, and the opener id the
// card gave it (notification waits run on connections of their own and name it).
class SimCardDevice final : public Device {
  public:
    explicit SimCardDevice(std::string path) : path_(std::move(path)) {}
    // Connects and opens the card: false when the card refused or could not be reached.
    bool open();

    Status dmaChannelOpen(uint32_t channel, const DmaChannelDescriptor& descriptor) override;
    Status dmaTransfer(uint32_t channel, const DmaTransferElement& element) override;
    Status iopWrite(uint32_t space, uint32_t address, const void* buffer, uint32_t byteCount,
                    AccessType access) override;
    Status iopRead(uint32_t space, uint32_t address, void* buffer, uint32_t byteCount,
                   AccessType access) override;
    Status notificationRegister(const InterruptRecord& record) override;
    Status notificationWait(uint32_t timeoutMs) override;
    Status notificationCancel() override;
    Status interruptEnable(const InterruptRecord& record) override;
    Status interruptStatus(InterruptRecord& record) override;
    Status driverVersion(uint8_t& major, uint8_t& minor, uint8_t& revision) override;

  private:
    // Sends one call on the connection and reads its status; `more` reads what follows a
    // successful status. A broken connection is a failed call.
    template <typename ReadMore>
    Status call(const Message& message, ReadMore more);
    Status call(const Message& message);

    const std::string path_;
    uint32_t opener_ = 0;
    std::mutex mutex_;
    PlxChannel channel_;
};

}  // namespace plx
