#pragma once

// The seam below the card's SDK calls, as UsbDevice is for the USB bridge: PlxApi checks the
// arguments the SDK checks and hands each call to an opened Device, or to the CardDriver for the
// calls made before there is one. The virtual crate's card is one backend (SimCardDevice); a
// driver for a real card is one more.

#include <cstdint>
#include <memory>

#include "device/PlxApi.h"

namespace plx {

// One opening of a card (the SDK's device handle). Calls may come from several threads at once;
// a backend keeps its own connection to the card consistent.
struct Device {
    virtual ~Device() = default;

    virtual Status dmaChannelOpen(uint32_t channel, const DmaChannelDescriptor& descriptor) = 0;
    virtual Status dmaTransfer(uint32_t channel, const DmaTransferElement& element) = 0;
    virtual Status iopWrite(uint32_t space, uint32_t address, const void* buffer,
                            uint32_t byteCount, AccessType access) = 0;
    virtual Status iopRead(uint32_t space, uint32_t address, void* buffer, uint32_t byteCount,
                           AccessType access) = 0;
    virtual Status notificationRegister(const InterruptRecord& record) = 0;
    // Blocks for up to `timeoutMs`; must not hold up the device's other calls meanwhile.
    virtual Status notificationWait(uint32_t timeoutMs) = 0;
    virtual Status notificationCancel() = 0;
    virtual Status interruptEnable(const InterruptRecord& record) = 0;
    virtual Status interruptStatus(InterruptRecord& record) = 0;
    virtual Status driverVersion(uint8_t& major, uint8_t& minor, uint8_t& revision) = 0;
};

// What the SDK does before a card is open: finding cards, opening one, configuration space.
class CardDriver {
  public:
    virtual ~CardDriver() = default;

    // Fills `location` with the first matching card and `requestLimit` with how many match.
    virtual Status find(DeviceLocation& location, uint32_t& requestLimit) = 0;
    virtual Status open(const DeviceLocation& location, std::unique_ptr<Device>& device) = 0;
    virtual Status configRead(uint8_t bus, uint8_t slot, uint16_t offset, uint32_t& value) = 0;
};

// The driver the SDK calls go to.
CardDriver& cardDriver();

}  // namespace plx
