#include "HandleTable.h"
#include "KOVRAVMElib.h"

using namespace kovravme;

namespace {

constexpr uint16_t kPendingLevelsRegister = 5;

// Enabling, disabling and waiting rest on the PCI card's interrupt, which only the optical bridge
// has. Its card cannot be reached from this library yet, so on it they fail like a card access
// that fails.
ErrorCode cardInterruptKind(int32_t handle) {
    HandleRecord* record = HandleTable::instance().find(handle);
    return record != nullptr && record->boardType == OpticalBridge ? Success : InvalidParam;
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_IRQCheck(int32_t handle, uint8_t* mask) {
    if (refusesVmeCycles(handle) || mask == nullptr) {
        return InvalidParam;
    }
    uint16_t pending = 0;
    ErrorCode result = KOVRAVME_ReadRegister(handle, kPendingLevelsRegister, &pending);
    if (result == Success) {
        *mask = static_cast<uint8_t>(pending);
    }
    return result;
}

KOVRAVME_API ErrorCode KOVRAVME_IRQWait(int32_t handle, uint32_t mask, uint32_t timeoutMs) {
    (void)timeoutMs;
    if (ErrorCode kind = cardInterruptKind(handle); kind != Success) {
        return kind;
    }
    if (mask == 0) {
        return GenericError;
    }
    // No card interrupt to wait on: the wait fails as any other failure does.
    return GenericError;
}

KOVRAVME_API ErrorCode KOVRAVME_IRQEnable(int32_t handle, uint32_t mask) {
    (void)mask;
    ErrorCode kind = cardInterruptKind(handle);
    return kind != Success ? kind : GenericError;
}

KOVRAVME_API ErrorCode KOVRAVME_IRQDisable(int32_t handle, uint32_t mask) {
    (void)mask;
    ErrorCode kind = cardInterruptKind(handle);
    return kind != Success ? kind : GenericError;
}

}  // extern "C"
