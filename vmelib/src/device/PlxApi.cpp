#include "device/PlxApi.h"

#include <memory>

#include "device/CardDevice.h"
#include "device/SimCardDevice.h"

namespace plx {

// The virtual crate's card is the one backend built; a driver for real cards would be chosen here.
CardDriver& cardDriver() {
    static SimCardDriver driver;
    return driver;
}

Status PlxPciDeviceFind(DeviceLocation* location, uint32_t* requestLimit) {
    if (location == nullptr || requestLimit == nullptr) {
        return kApiNullParam;
    }
    return cardDriver().find(*location, *requestLimit);
}

Status PlxPciDeviceOpen(const DeviceLocation* location, DeviceHandle* device) {
    if (location == nullptr || device == nullptr) {
        return kApiNullParam;
    }
    std::unique_ptr<Device> opened;
    Status status = cardDriver().open(*location, opened);
    if (status == kApiSuccess) {
        *device = opened.release();
    }
    return status;
}

Status PlxPciDeviceClose(DeviceHandle device) {
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    // Ending the opening is what releases the card's state for this opener.
    delete device;
    return kApiSuccess;
}

uint32_t PlxPciConfigRegisterRead(uint8_t bus, uint8_t slot, uint16_t offset, Status* status) {
    uint32_t value = 0;
    Status result = cardDriver().configRead(bus, slot, offset, value);
    if (status != nullptr) {
        *status = result;
    }
    return result == kApiSuccess ? value : 0;
}

Status PlxDmaSglChannelOpen(DeviceHandle device, uint32_t channel,
                            const DmaChannelDescriptor* descriptor) {
    if (descriptor == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->dmaChannelOpen(channel, *descriptor) : kApiInvalidHandle;
}

Status PlxDmaSglTransfer(DeviceHandle device, uint32_t channel, const DmaTransferElement* element,
                         bool returnImmediate) {
    (void)returnImmediate;  // every transfer here completes before the call returns
    if (element == nullptr || element->userAddress == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->dmaTransfer(channel, *element) : kApiInvalidHandle;
}

Status PlxBusIopWrite(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                      const void* buffer, uint32_t byteCount, AccessType access) {
    (void)remap;
    if (buffer == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->iopWrite(space, address, buffer, byteCount, access)
                             : kApiInvalidHandle;
}

Status PlxBusIopRead(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                     void* buffer, uint32_t byteCount, AccessType access) {
    (void)remap;
    if (buffer == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->iopRead(space, address, buffer, byteCount, access)
                             : kApiInvalidHandle;
}

Status PlxNotificationRegisterFor(DeviceHandle device, const InterruptRecord* record,
                                  NotifyObject* notify) {
    if (record == nullptr || notify == nullptr) {
        return kApiNullParam;
    }
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    Status status = device->notificationRegister(*record);
    if (status == kApiSuccess) {
        notify->registered = true;
    }
    return status;
}

Status PlxNotificationWait(DeviceHandle device, NotifyObject* notify, uint32_t timeoutMs) {
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    if (notify == nullptr) {
        return kApiNullParam;
    }
    return device->notificationWait(timeoutMs);
}

Status PlxNotificationCancel(DeviceHandle device, NotifyObject* notify) {
    if (notify == nullptr) {
        return kApiNullParam;
    }
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    Status status = device->notificationCancel();
    if (status == kApiSuccess) {
        notify->registered = false;
    }
    return status;
}

Status PlxIntrEnable(DeviceHandle device, const InterruptRecord* record) {
    if (record == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->interruptEnable(*record) : kApiInvalidHandle;
}

Status PlxIntrStatusGet(DeviceHandle device, InterruptRecord* record) {
    if (record == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->interruptStatus(*record) : kApiInvalidHandle;
}

Status PlxDriverVersion(DeviceHandle device, uint8_t* major, uint8_t* minor, uint8_t* revision) {
    if (major == nullptr || minor == nullptr || revision == nullptr) {
        return kApiNullParam;
    }
    return device != nullptr ? device->driverVersion(*major, *minor, *revision) : kApiInvalidHandle;
}

}  // namespace plx
