#include "card/LinkDevice.h"

namespace vmesim {

namespace {
constexpr uint16_t kFlashData = 2;
constexpr uint16_t kFlashEnable = 3;
constexpr uint16_t kFirmware = 4;
constexpr uint16_t kVmeOperation = 0x8000;
constexpr uint16_t kRead = 0x4000;
constexpr uint16_t kLast = 0x0080;
constexpr uint16_t kBusErrorStatus = 0x0020;
}  // namespace

std::vector<uint8_t> LinkDevice::exchange(const std::vector<uint8_t>& request) {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> reply;
    bool answered = false;
    uint16_t status = 0;
    size_t at = 0;
    auto word = [&](uint16_t& out) {
        if (at + 2 > request.size()) {
            return false;
        }
        out = static_cast<uint16_t>(request[at] | request[at + 1] << 8);
        at += 2;
        return true;
    };
    uint16_t command = 0;
    while (word(command)) {
        if (command & kVmeOperation) {
            // No VME side: whatever a VME request asked for ends in a bus error.
            status = kBusErrorStatus;
            answered = true;
            break;
        }
        uint16_t reg = command & 0x3F;
        if (command & kRead) {
            uint16_t value = readRegister(reg);
            reply.push_back(static_cast<uint8_t>(value));
            reply.push_back(static_cast<uint8_t>(value >> 8));
            answered = true;
        } else {
            uint16_t value = 0;
            if (!word(value)) {
                break;
            }
            writeRegister(reg, value);
        }
        if (command & kLast) {
            break;
        }
    }
    if (!answered) {
        return {};
    }
    reply.push_back(static_cast<uint8_t>(status));
    reply.push_back(static_cast<uint8_t>(status >> 8));
    return reply;
}

uint16_t LinkDevice::registerValue(uint16_t reg) {
    std::lock_guard lock(mutex_);
    return reg == kFlashData ? 0 : readRegister(reg);
}

uint16_t LinkDevice::readRegister(uint16_t reg) {
    switch (reg) {
        case kFirmware:
            return kFirmwareRelease;
        case kFlashData:
            return flash_.readByte();
        default:
            return registers_[reg];
    }
}

void LinkDevice::writeRegister(uint16_t reg, uint16_t value) {
    switch (reg) {
        case kFirmware:
            return;
        case kFlashData:
            flash_.writeByte(static_cast<uint8_t>(value));
            return;
        case kFlashEnable:
            flash_.select(value & 1);
            [[fallthrough]];
        default:
            registers_[reg] = value;
    }
}

}  // namespace vmesim
