#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "RegisterAccess.h"

using namespace kovravme;

namespace {

constexpr size_t kPageBytes = 264;
constexpr int32_t kLastPage = 0x7FFF;  // the page number's high bits travel in one byte
constexpr uint8_t kWritePage = 0x82;
constexpr uint8_t kReadPage = 0xD2;
constexpr uint8_t kErasePage = 0x81;
// A bridge flash read answers 64 data bytes, each in the low byte of a 16-bit item.
constexpr size_t kReadItems = 64;
constexpr auto kProgramTime = std::chrono::milliseconds(20);
constexpr auto kReadSetupTime = std::chrono::milliseconds(1);

struct FlashRegisters {
    uint16_t enable;
    uint16_t data;
};

FlashRegisters flashRegisters(int32_t boardType) {
    switch (boardType) {
        case PciLinkCard:
            return {20, 16};
        case LinkDevice:
            return {3, 2};
        default:
            return {4, 3};
    }
}

std::vector<uint8_t> command(uint8_t code, int32_t page) {
    return {code, static_cast<uint8_t>(page >> 7), static_cast<uint8_t>(page << 1), 0x00};
}

// Sends a byte sequence to the flash data register.
bool sendBytes(Session& s, const std::vector<uint8_t>& bytes, FlashRegisters regs) {
    if (s.record().boardType != UsbBridge) {
        for (uint8_t byte : bytes) {
            if (!s.writeRegister(regs.data, byte)) {
                return false;
            }
        }
        return true;
    }
    // One bulk write: register 3 without the last-operation bit, then every byte as a 16-bit
    // item whose bit 8 says that more bytes follow.
    Request request;
    request.word(regs.data);
    for (size_t i = 0; i < bytes.size(); ++i) {
        request.word(static_cast<uint16_t>(bytes[i] | (i + 1 < bytes.size() ? 0x0100 : 0)));
    }
    return s.send(request);
}

bool readBytes(Session& s, uint8_t* data, size_t length, FlashRegisters regs) {
    int32_t kind = s.record().boardType;
    if (kind == PciLinkCard || kind == LinkDevice) {
        for (size_t i = 0; i < length; ++i) {
            uint16_t value = 0;
            if (!s.readRegister(regs.data, value)) {
                return false;
            }
            data[i] = static_cast<uint8_t>(value);
        }
        return true;
    }
    // Register-3 reads without the last-operation bit, 64 bytes each.
    Request request;
    request.word(static_cast<uint16_t>(0x4000 | regs.data));
    for (size_t done = 0; done < length; done += kReadItems) {
        uint8_t reply[2 * kReadItems];
        uint16_t status = 0;
        if (s.exchange(request, reply, sizeof(reply), &status) < static_cast<int>(sizeof(reply))) {
            return false;
        }
        for (size_t i = 0; i < kReadItems && done + i < length; ++i) {
            data[done + i] = reply[2 * i];
        }
    }
    return true;
}

bool enableFlash(Session& s, FlashRegisters regs) {
    return s.writeRegister(regs.enable, 0) && s.writeRegister(regs.enable, 1);
}

// The flash exports serve every kind; the kind picks the registers and the path.
ErrorCode flashOperation(int32_t handle, int32_t page, const std::function<bool(Session&)>& work) {
    if (page < 0 || page > kLastPage) {
        return InvalidParam;
    }
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record != nullptr && (record->boardType < UsbBridge || record->boardType > LinkDevice)) {
        return InvalidParam;
    }
    return registerOperation(handle, true, work);
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_WriteFlashPage(int32_t handle, const uint8_t* data, int32_t page) {
    if (data == nullptr) {
        return InvalidParam;
    }
    return flashOperation(handle, page, [&](Session& s) {
        FlashRegisters regs = flashRegisters(s.record().boardType);
        std::vector<uint8_t> bytes = command(kWritePage, page);
        bytes.insert(bytes.end(), data, data + kPageBytes);
        if (!enableFlash(s, regs) || !sendBytes(s, bytes, regs) ||
            !s.writeRegister(regs.enable, 0)) {
            return false;
        }
        std::this_thread::sleep_for(kProgramTime);
        return true;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_ReadFlashPage(int32_t handle, uint8_t* data, int32_t page) {
    if (data == nullptr) {
        return InvalidParam;
    }
    return flashOperation(handle, page, [&](Session& s) {
        FlashRegisters regs = flashRegisters(s.record().boardType);
        std::vector<uint8_t> bytes = command(kReadPage, page);
        bytes.insert(bytes.end(), 4, 0x00);
        if (!enableFlash(s, regs) || !sendBytes(s, bytes, regs)) {
            return false;
        }
        std::this_thread::sleep_for(kReadSetupTime);
        // Five reads of 64 fetch 320 bytes; only the page's 264 reach the caller.
        uint8_t fetched[kPageBytes];
        if (!readBytes(s, fetched, kPageBytes, regs) || !s.writeRegister(regs.enable, 0)) {
            return false;
        }
        std::memcpy(data, fetched, kPageBytes);
        return true;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_EraseFlashPage(int32_t handle, int32_t page) {
    return flashOperation(handle, page, [&](Session& s) {
        FlashRegisters regs = flashRegisters(s.record().boardType);
        if (!enableFlash(s, regs)) {
            return false;
        }
        // The erase command goes byte by byte, each a register write of its own.
        for (uint8_t byte : command(kErasePage, page)) {
            if (!s.writeRegister(regs.data, byte)) {
                return false;
            }
        }
        return s.writeRegister(regs.enable, 0);
    });
}

}  // extern "C"
