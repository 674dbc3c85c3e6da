#include "device/PlxApi.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/PlxChannel.h"

namespace plx {

// An open card: the connection that carries its calls, one call at a time, and the opener id
// the card gave it (notification waits run on connections of their own and name it).
struct Device {
    std::string path;
    PlxChannel channel;
    std::mutex mutex;
    uint32_t opener = 0;
};

namespace {

struct CardInfo {
    std::string path;
    DeviceLocation location;
};

std::optional<CardInfo> queryInfo(const std::string& path) {
    PlxChannel channel;
    if (!channel.connect(path) || !channel.send(Message('I'))) {
        return std::nullopt;
    }
    uint32_t status = 0;
    CardInfo info{path, {}};
    uint8_t serialLength = 0;
    if (!channel.receiveU32(status) || status != kApiSuccess ||
        !channel.receiveU8(info.location.busNumber) ||
        !channel.receiveU8(info.location.slotNumber) ||
        !channel.receiveU16(info.location.deviceId) ||
        !channel.receiveU16(info.location.vendorId) || !channel.receiveU8(serialLength)) {
        return std::nullopt;
    }
    std::string serial(serialLength, '\0');
    if (!channel.receive(serial.data(), serial.size())) {
        return std::nullopt;
    }
    std::strncpy(info.location.serialNumber, serial.c_str(),
                 sizeof(info.location.serialNumber) - 1);
    return info;
}

bool matches(const DeviceLocation& want, const DeviceLocation& have) {
    if (want.busNumber != 0xFF && want.busNumber != have.busNumber) {
        return false;
    }
    if (want.slotNumber != 0xFF && want.slotNumber != have.slotNumber) {
        return false;
    }
    if (want.deviceId != 0xFFFF && want.deviceId != have.deviceId) {
        return false;
    }
    if (want.vendorId != 0xFFFF && want.vendorId != have.vendorId) {
        return false;
    }
    return want.serialNumber[0] == '\0' ||
           std::strncmp(want.serialNumber, have.serialNumber, sizeof(want.serialNumber)) == 0;
}

std::optional<CardInfo> findCard(const DeviceLocation& want) {
    for (const auto& path : cardSocketPaths()) {
        if (auto info = queryInfo(path); info && matches(want, info->location)) {
            return info;
        }
    }
    return std::nullopt;
}

// Sends one call on the device's connection and reads its status; `more` reads what follows a
// successful status. A broken connection is a failed call.
template <typename ReadMore>
Status call(DeviceHandle device, const Message& message, ReadMore more) {
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    std::lock_guard lock(device->mutex);
    uint32_t status = 0;
    if (!device->channel.isOpen() || !device->channel.send(message) ||
        !device->channel.receiveU32(status)) {
        device->channel.close();  // out of step with the card: no later call may use it
        return kApiFailed;
    }
    if (status == kApiSuccess && !more(device->channel)) {
        device->channel.close();
        return kApiFailed;
    }
    return status;
}

Status call(DeviceHandle device, const Message& message) {
    return call(device, message, [](PlxChannel&) { return true; });
}

}  // namespace

Status PlxPciDeviceFind(DeviceLocation* location, uint32_t* requestLimit) {
    if (location == nullptr || requestLimit == nullptr) {
        return kApiNullParam;
    }
    uint32_t seen = 0;
    std::optional<CardInfo> first;
    for (const auto& path : cardSocketPaths()) {
        if (seen >= *requestLimit) {
            break;
        }
        auto info = queryInfo(path);
        if (!info || !matches(*location, info->location)) {
            continue;
        }
        if (!first) {
            first = info;
        }
        ++seen;
    }
    *requestLimit = seen;
    if (!first) {
        return kApiNoDevice;
    }
    *location = first->location;
    return kApiSuccess;
}

Status PlxPciDeviceOpen(const DeviceLocation* location, DeviceHandle* device) {
    if (location == nullptr || device == nullptr) {
        return kApiNullParam;
    }
    auto info = findCard(*location);
    if (!info) {
        return kApiNoDevice;
    }
    auto opened = std::make_unique<Device>();
    opened->path = info->path;
    uint32_t status = 0;
    if (!opened->channel.connect(info->path) || !opened->channel.send(Message('O')) ||
        !opened->channel.receiveU32(status) || status != kApiSuccess ||
        !opened->channel.receiveU32(opened->opener)) {
        return kApiFailed;
    }
    *device = opened.release();
    return kApiSuccess;
}

Status PlxPciDeviceClose(DeviceHandle device) {
    if (device == nullptr) {
        return kApiInvalidHandle;
    }
    // Closing the connection is what releases the card's state for this opener.
    delete device;
    return kApiSuccess;
}

uint32_t PlxPciConfigRegisterRead(uint8_t bus, uint8_t slot, uint16_t offset, Status* status) {
    Status result = kApiNoDevice;
    uint32_t value = 0;
    DeviceLocation want;
    want.busNumber = bus;
    want.slotNumber = slot;
    if (auto info = findCard(want)) {
        PlxChannel channel;
        uint32_t answer = 0;
        if (!channel.connect(info->path) || !channel.send(Message('C').u16(offset)) ||
            !channel.receiveU32(answer) || (answer == kApiSuccess && !channel.receiveU32(value))) {
            result = kApiFailed;
        } else {
            result = answer;
        }
    }
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
    return call(device, Message('D').u32(channel).u32(descriptor->mode));
}

Status PlxDmaSglTransfer(DeviceHandle device, uint32_t channel, const DmaTransferElement* element,
                         bool returnImmediate) {
    (void)returnImmediate;  // the simulated engine always completes before answering
    if (element == nullptr || element->userAddress == nullptr) {
        return kApiNullParam;
    }
    Message message('T');
    message.u32(channel).u32(element->localAddress).u32(element->transferCount);
    uint32_t moved = 0;
    Status status = call(device, message, [&](PlxChannel& link) {
        return link.receiveU32(moved) && moved <= element->transferCount &&
               link.receive(element->userAddress, moved);
    });
    // A short transfer would leave stale bytes in the area that the caller takes for data.
    if (status == kApiSuccess && moved != element->transferCount) {
        return kApiFailed;
    }
    return status;
}

Status PlxBusIopWrite(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                      const void* buffer, uint32_t byteCount, AccessType access) {
    (void)remap;
    if (buffer == nullptr) {
        return kApiNullParam;
    }
    if (byteCount != 4 || access != AccessType::Bits32) {
        return kApiFailed;
    }
    uint32_t value;
    std::memcpy(&value, buffer, sizeof value);
    return call(device, Message('w').u32(space).u32(address).u32(value));
}

Status PlxBusIopRead(DeviceHandle device, uint32_t space, uint32_t address, bool remap,
                     void* buffer, uint32_t byteCount, AccessType access) {
    (void)remap;
    if (buffer == nullptr) {
        return kApiNullParam;
    }
    if (byteCount != 4 || access != AccessType::Bits32) {
        return kApiFailed;
    }
    return call(device, Message('r').u32(space).u32(address), [&](PlxChannel& link) {
        uint32_t value = 0;
        if (!link.receiveU32(value)) {
            return false;
        }
        std::memcpy(buffer, &value, sizeof value);
        return true;
    });
}

Status PlxNotificationRegisterFor(DeviceHandle device, const InterruptRecord* record,
                                  NotifyObject* notify) {
    if (record == nullptr || notify == nullptr) {
        return kApiNullParam;
    }
    Status status = call(device, Message('N').u32(record->sources));
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
    // A wait blocks for up to its time-out, so it gets a connection of its own: the device's
    // connection stays free for the calls of other threads meanwhile.
    PlxChannel channel;
    uint32_t status = 0;
    if (!channel.connect(device->path, timeoutMs) ||
        !channel.send(Message('A').u32(device->opener).u32(timeoutMs)) ||
        !channel.receiveU32(status)) {
        return kApiFailed;
    }
    return status;
}

Status PlxNotificationCancel(DeviceHandle device, NotifyObject* notify) {
    if (notify == nullptr) {
        return kApiNullParam;
    }
    Status status = call(device, Message('X'));
    if (status == kApiSuccess) {
        notify->registered = false;
    }
    return status;
}

Status PlxIntrEnable(DeviceHandle device, const InterruptRecord* record) {
    if (record == nullptr) {
        return kApiNullParam;
    }
    return call(device, Message('E').u32(record->sources).u32(record->extra));
}

Status PlxIntrStatusGet(DeviceHandle device, InterruptRecord* record) {
    if (record == nullptr) {
        return kApiNullParam;
    }
    return call(device, Message('S'), [&](PlxChannel& link) {
        return link.receiveU32(record->sources) && link.receiveU32(record->extra);
    });
}

Status PlxDriverVersion(DeviceHandle device, uint8_t* major, uint8_t* minor, uint8_t* revision) {
    if (major == nullptr || minor == nullptr || revision == nullptr) {
        return kApiNullParam;
    }
    return call(device, Message('V'), [&](PlxChannel& link) {
        return link.receiveU8(*major) && link.receiveU8(*minor) && link.receiveU8(*revision);
    });
}

}  // namespace plx
