#include "BridgeKind.h"
#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"

using namespace kovravme;

namespace {

constexpr uint16_t kPendingLevelsRegister = 5;

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_IRQCheck(int32_t handle, uint8_t* mask) {
    return guarded([&]() -> ErrorCode {
        if (refusesVmeCycles(handle) || mask == nullptr) {
            return InvalidParam;
        }
        uint16_t pending = 0;
        ErrorCode result = KOVRAVME_ReadRegister(handle, kPendingLevelsRegister, &pending);
        if (result == Success) {
            *mask = static_cast<uint8_t>(pending);
        }
        return result;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_IRQWait(int32_t handle, uint32_t mask, uint32_t timeoutMs) {
    return guarded([&]() -> ErrorCode {
        HandleRecord* record = HandleTable::instance().find(handle);
        return record != nullptr ? record->kind->irqWait(*record, mask, timeoutMs) : InvalidParam;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_IRQEnable(int32_t handle, uint32_t mask) {
    return guarded([&]() -> ErrorCode {
        (void)mask;  // the card interrupts for every level
        HandleRecord* record = HandleTable::instance().find(handle);
        return record != nullptr ? record->kind->irqControl(*record, true) : InvalidParam;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_IRQDisable(int32_t handle, uint32_t mask) {
    return guarded([&]() -> ErrorCode {
        (void)mask;
        HandleRecord* record = HandleTable::instance().find(handle);
        return record != nullptr ? record->kind->irqControl(*record, false) : InvalidParam;
    });
}

}  // extern "C"
