#include "device/SimCardDevice.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/PlxChannel.h"

namespace plx {

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

}  // namespace

Status SimCardDriver::find(DeviceLocation& location, uint32_t& requestLimit) {
    uint32_t seen = 0;
    std::optional<CardInfo> first;
    for (const auto& path : cardSocketPaths()) {
        if (seen >= requestLimit) {
            break;
        }
        auto info = queryInfo(path);
        if (!info || !matches(location, info->location)) {
            continue;
        }
        if (!first) {
            first = info;
        }
        ++seen;
    }
    requestLimit = seen;
    if (!first) {
        return kApiNoDevice;
    }
    location = first->location;
    return kApiSuccess;
}

Status SimCardDriver::open(const DeviceLocation& location, std::unique_ptr<Device>& device) {
    auto info = findCard(location);
    if (!info) {
        return kApiNoDevice;
    }
    auto opened = std::make_unique<SimCardDevice>(info->path);
    if (!opened->open()) {
        return kApiFailed;
    }
    device = std::move(opened);
    return kApiSuccess;
}

Status SimCardDriver::configRead(uint8_t bus, uint8_t slot, uint16_t offset, uint32_t& value) {
    DeviceLocation want;
    want.busNumber = bus;
    want.slotNumber = slot;
    auto info = findCard(want);
    if (!info) {
        return kApiNoDevice;
    }
    PlxChannel channel;
    uint32_t answer = 0;
    if (!channel.connect(info->path) || !channel.send(Message('C').u16(offset)) ||
        !channel.receiveU32(answer) || (answer == kApiSuccess && !channel.receiveU32(value))) {
        return kApiFailed;
    }
    return answer;
}

bool SimCardDevice::open() {
    uint32_t status = 0;
    return channel_.connect(path_) && channel_.send(Message('O')) && channel_.receiveU32(status) &&
           status == kApiSuccess && channel_.receiveU32(opener_);
}

template <typename ReadMore>
Status SimCardDevice::call(const Message& message, ReadMore more) {
    std::lock_guard lock(mutex_);
    uint32_t status = 0;
    if (!channel_.isOpen() || !channel_.send(message) || !channel_.receiveU32(status)) {
        channel_.close();  // out of step with the card: no later call may use it
        return kApiFailed;
    }
    if (status == kApiSuccess && !more(channel_)) {
        channel_.close();
        return kApiFailed;
    }
    return status;
}

Status SimCardDevice::call(const Message& message) {
    return call(message, [](PlxChannel&) { return true; });
}

Status SimCardDevice::dmaChannelOpen(uint32_t channel, const DmaChannelDescriptor& descriptor) {
    return call(Message('D').u32(channel).u32(descriptor.mode));
}

Status SimCardDevice::dmaTransfer(uint32_t channel, const DmaTransferElement& element) {
    // The simulated engine always completes before answering, whatever the element asks.
    Message message('T');
    message.u32(channel).u32(element.localAddress).u32(element.transferCount);
    uint32_t moved = 0;
    Status status = call(message, [&](PlxChannel& link) {
        return link.receiveU32(moved) && moved <= element.transferCount &&
               link.receive(element.userAddress, moved);
    });
    // A short transfer would leave stale bytes in the area that the caller takes for data.
    if (status == kApiSuccess && moved != element.transferCount) {
        return kApiFailed;
    }
    return status;
}

Status SimCardDevice::iopWrite(uint32_t space, uint32_t address, const void* buffer,
                               uint32_t byteCount, AccessType access) {
    if (byteCount != 4 || access != AccessType::Bits32) {
        return kApiFailed;  // the simulated card has 32-bit accesses only
    }
    uint32_t value;
    std::memcpy(&value, buffer, sizeof value);
    return call(Message('w').u32(space).u32(address).u32(value));
}

Status SimCardDevice::iopRead(uint32_t space, uint32_t address, void* buffer, uint32_t byteCount,
                              AccessType access) {
    if (byteCount != 4 || access != AccessType::Bits32) {
        return kApiFailed;
    }
    return call(Message('r').u32(space).u32(address), [&](PlxChannel& link) {
        uint32_t value = 0;
        if (!link.receiveU32(value)) {
            return false;
        }
        std::memcpy(buffer, &value, sizeof value);
        return true;
    });
}

Status SimCardDevice::notificationRegister(const InterruptRecord& record) {
    return call(Message('N').u32(record.sources));
}

Status SimCardDevice::notificationWait(uint32_t timeoutMs) {
    // The wait gets a connection of its own, so the device's connection stays free for the
    // calls of other threads meanwhile; the card holds it for up to the time-out.
    PlxChannel channel;
    uint32_t status = 0;
    if (!channel.connect(path_, timeoutMs) ||
        !channel.send(Message('A').u32(opener_).u32(timeoutMs)) || !channel.receiveU32(status)) {
        return kApiFailed;
    }
    return status;
}

Status SimCardDevice::notificationCancel() {
    return call(Message('X'));
}

Status SimCardDevice::interruptEnable(const InterruptRecord& record) {
    return call(Message('E').u32(record.sources).u32(record.extra));
}

Status SimCardDevice::interruptStatus(InterruptRecord& record) {
    return call(Message('S'), [&](PlxChannel& link) {
        return link.receiveU32(record.sources) && link.receiveU32(record.extra);
    });
}

Status SimCardDevice::driverVersion(uint8_t& major, uint8_t& minor, uint8_t& revision) {
    return call(Message('V'), [&](PlxChannel& link) {
        return link.receiveU8(major) && link.receiveU8(minor) && link.receiveU8(revision);
    });
}

}  // namespace plx
