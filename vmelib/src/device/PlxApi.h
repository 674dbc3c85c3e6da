#pragma once

// The PCI optical-link card's SDK calls, as the card paths of the library use them. The calls
// keep the SDK's names, arguments and status codes; behind them sits a card backend
// (device/CardDevice.h), today the virtual crate's card reached at
// $KOVRAVME_SIM_DIR/pci9054-<link>. Without that folder no card is ever found, as on a machine
// without one. Internal to the library.

#include <cstdint>

namespace plx {

using Status = uint32_t;

// Only these four values are what callers look at; the others tell failures apart in tests.
constexpr Status kApiSuccess = 512;
constexpr Status kApiFailed = 513;
constexpr Status kApiNullParam = 514;
constexpr Status kApiDmaChannelUnavailable = 515;
constexpr Status kApiInvalidHandle = 516;
constexpr Status kApiNoDevice = 517;
constexpr Status kApiWaitTimeout = 579;
constexpr Status kApiWaitCanceled = 580;

// Search criteria and result of PlxPciDeviceFind. 0xFF in bus or slot, 0xFFFF in an id and an
// empty serial text match any card.
struct DeviceLocation {
    uint8_t busNumber = 0xFF;
    uint8_t slotNumber = 0xFF;
    uint16_t deviceId = 0xFFFF;
    uint16_t vendorId = 0xFFFF;
    char serialNumber[16] = {};
};

struct Device;
using DeviceHandle = Device*;

// Local-bus access: address space 0 is the card's register and port space.
constexpr uint32_t kIopSpace0 = 0;
enum class AccessType : uint32_t { Bits8 = 0, Bits16 = 1, Bits32 = 2 };

struct DmaChannelDescriptor {
    uint32_t mode = 0;
    uint32_t next = 0;
    uint32_t reserved = 0;
};

// One DMA transfer from the card's receive port into process memory.
struct DmaTransferElement {
    void* userAddress = nullptr;
    uint32_t pciAddress = 0;
    uint32_t localAddress = 0;
    uint32_t localBusWidth = 0;
    uint32_t transferCount = 0;
    uint32_t flags = 0;  // bit 0: card to memory, bit 1: return when done
};

// Interrupt sources: bit 23 is the card's local interrupt, as PlxIntrStatusGet reports it.
struct InterruptRecord {
    uint32_t sources = 0;
    uint32_t extra = 0;
};
constexpr uint32_t kLocalInterrupt = 0x00800000;

// The process-wide object a notification wait blocks on.
struct NotifyObject {
    bool registered = false;
};

Status PlxPciDeviceFind(DeviceLocation* location, uint32_t* requestLimit);
Status PlxPciDeviceOpen(const DeviceLocation* location, DeviceHandle* device);
Status PlxPciDeviceClose(DeviceHandle device);
uint32_t PlxPciConfigRegisterRead(uint8_t bus, uint8_t slot, uint16_t offset, Status* status);

Status PlxDmaSglChannelOpen(DeviceHandle device, uint32_t channel,
                            const DmaChannelDescriptor* descriptor);
Status PlxDmaSglTransfer(DeviceHandle device, uint32_t channel, const DmaTransferElement* element,
                         bool returnImmediate);

Status PlxBusIopWrite(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                      const void* buffer, uint32_t byteCount, AccessType access);
Status PlxBusIopRead(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                     void* buffer, uint32_t byteCount, AccessType access);

Status PlxNotificationRegisterFor(DeviceHandle device, const InterruptRecord* record,
                                  NotifyObject* notify);
Status PlxNotificationWait(DeviceHandle device, NotifyObject* notify, uint32_t timeoutMs);
Status PlxNotificationCancel(DeviceHandle device, NotifyObject* notify);

Status PlxIntrEnable(DeviceHandle device, const InterruptRecord* record);
Status PlxIntrStatusGet(DeviceHandle device, InterruptRecord* record);

Status PlxDriverVersion(DeviceHandle device, uint8_t* major, uint8_t* minor, uint8_t* revision);

}  // namespace plx
