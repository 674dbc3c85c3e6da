#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "BridgeKind.h"
#include "CApiGuard.h"
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
constexpr auto kProgramTime = std::chrono::milliseconds(20);
constexpr auto kReadSetupTime = std::chrono::milliseconds(1);

std::vector<uint8_t> command(uint8_t code, int32_t page) {
    return {code, static_cast<uint8_t>(page >> 7), static_cast<uint8_t>(page << 1), 0x00};
}

bool enableFlash(Session& s, FlashRegisters regs) {
    return s.writeRegister(regs.enable, 0) && s.writeRegister(regs.enable, 1);
}

// The flash exports serve every kind; the kind picks the registers and the path.
ErrorCode flashOperation(int32_t handle, int32_t page,
                         const std::function<bool(Session&, const BridgeKind&)>& work) {
    if (page < 0 || page > kLastPage) {
        return InvalidParam;
    }
    return registerOperation(handle, true, [&](Session& s) { return work(s, *s.record().kind); });
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_WriteFlashPage(int32_t handle, const uint8_t* data, int32_t page) {
    return guarded([&]() -> ErrorCode {
        if (data == nullptr) {
            return InvalidParam;
        }
        return flashOperation(handle, page, [&](Session& s, const BridgeKind& kind) {
            FlashRegisters regs = kind.flashRegisters();
            std::vector<uint8_t> bytes = command(kWritePage, page);
            bytes.insert(bytes.end(), data, data + kPageBytes);
            if (!enableFlash(s, regs) || !kind.sendFlashBytes(s, bytes, regs) ||
                !s.writeRegister(regs.enable, 0)) {
                return false;
            }
            std::this_thread::sleep_for(kProgramTime);
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_ReadFlashPage(int32_t handle, uint8_t* data, int32_t page) {
    return guarded([&]() -> ErrorCode {
        if (data == nullptr) {
            return InvalidParam;
        }
        return flashOperation(handle, page, [&](Session& s, const BridgeKind& kind) {
            FlashRegisters regs = kind.flashRegisters();
            std::vector<uint8_t> bytes = command(kReadPage, page);
            bytes.insert(bytes.end(), 4, 0x00);
            if (!enableFlash(s, regs) || !kind.sendFlashBytes(s, bytes, regs)) {
                return false;
            }
            std::this_thread::sleep_for(kReadSetupTime);
            // Five reads of 64 fetch 320 bytes; only the page's 264 reach the caller.
            uint8_t received[kPageBytes];
            if (!kind.readFlashBytes(s, received, kPageBytes, regs) ||
                !s.writeRegister(regs.enable, 0)) {
                return false;
            }
            std::memcpy(data, received, kPageBytes);
            return true;
        });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_EraseFlashPage(int32_t handle, int32_t page) {
    return guarded([&]() -> ErrorCode {
        return flashOperation(handle, page, [&](Session& s, const BridgeKind& kind) {
            FlashRegisters regs = kind.flashRegisters();
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
    });
}

}  // extern "C"
