#include "Request.h"

#include <cstring>

namespace kovravme {

std::optional<Width> decodeWidth(DataWidth width, bool allowD64) {
    switch (width) {
        case D8:
            return Width{1, 0, false};
        case D16:
            return Width{2, 1, false};
        case D32:
            return Width{4, 2, false};
        case D16Swapped:
            return Width{2, 1, true};
        case D32Swapped:
            return Width{4, 2, true};
        case D64:
            return allowD64 ? std::optional(Width{8, 3, false}) : std::nullopt;
        case D64Swapped:
            return allowD64 ? std::optional(Width{8, 3, true}) : std::nullopt;
        default:
            return std::nullopt;
    }
}

namespace {

bool isDataModifier(uint32_t am) {
    switch (am) {
        case AmA32UserData:
        case AmA32UserProgram:
        case AmA32SuperData:
        case AmA32SuperProgram:
        case AmA16User:
        case AmA16Super:
        case AmA24UserData:
        case AmA24UserProgram:
        case AmA24SuperData:
        case AmA24SuperProgram:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool isSingleCycleModifier(uint32_t am) {
    return isDataModifier(am) || am == AmConfigRom;
}

bool isAddressOnlyModifier(uint32_t am) {
    return isDataModifier(am);
}

bool isHandshakeModifier(uint32_t am) {
    return isDataModifier(am) || am == AmA32Lock || am == AmA24Lock;
}

bool isMbltModifier(uint32_t am) {
    return am == AmA32UserBlock64 || am == AmA32SuperBlock64 || am == AmA24UserBlock64 ||
           am == AmA24SuperBlock64;
}

uint16_t vmeCommand(bool read, uint32_t am, Width width, uint8_t operation, bool last) {
    return static_cast<uint16_t>(0x8000 | (read ? 0x4000 : 0) | (am & 0x3F) << 8 |
                                 (last ? 0x80 : 0) | (width.swapped ? 0x40 : 0) |
                                 (width.code & 3) << 4 | (operation & 0x0F));
}

uint16_t registerReadCommand(uint16_t reg) {
    return static_cast<uint16_t>(0x4080 + reg);
}

uint16_t registerWriteCommand(uint16_t reg) {
    return static_cast<uint16_t>(0x0080 + reg);
}

Request& Request::word(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    return *this;
}

Request& Request::dword(uint32_t value) {
    word(static_cast<uint16_t>(value));
    return word(static_cast<uint16_t>(value >> 16));
}

Request& Request::bytes(const void* data, size_t length) {
    auto* first = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), first, first + length);
    return *this;
}

Request& Request::cycleData(uint32_t address, Width width, uint32_t value) {
    if (width.bytes == 1) {
        auto byte = static_cast<uint8_t>(value);
        bytes_.push_back((address & 1) ? byte : 0);
        bytes_.push_back((address & 1) ? 0 : byte);
        return *this;
    }
    return width.bytes == 2 ? word(static_cast<uint16_t>(value)) : dword(value);
}

uint16_t readLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t readLe32(const uint8_t* bytes) {
    return readLe16(bytes) | static_cast<uint32_t>(readLe16(bytes + 2)) << 16;
}

uint32_t cycleValue(const uint8_t* field, uint32_t address, Width width) {
    switch (width.bytes) {
        case 1:
            return (address & 1) ? field[0] : field[1];
        case 2:
            return readLe16(field);
        default:
            return readLe32(field);
    }
}

void storeValue(void* destination, Width width, uint32_t value) {
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::memcpy(destination, bytes, width.bytes);
}

uint32_t loadValue(const void* source, Width width) {
    uint8_t bytes[4] = {};
    std::memcpy(bytes, source, width.bytes);
    return readLe32(bytes);
}

}  // namespace kovravme
