#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "RegisterAccess.h"

using namespace kovravme;

namespace {

constexpr uint16_t kControlRegister = 1;

// Fields of the control register: position and width in bits.
struct Field {
    int shift;
    int bits;
    uint16_t mask() const { return static_cast<uint16_t>(((1u << bits) - 1) << shift); }
};
constexpr Field kArbiterType{1, 1};
constexpr Field kRequesterType{2, 1};
constexpr Field kReleaseType{3, 1};
constexpr Field kBusReqLevel{4, 2};
constexpr Field kSystemReset{7, 1};
constexpr Field kTimeout{8, 1};
constexpr Field kFifoMode{9, 1};

// Read-modify-write of one field, under the handle lock so that concurrent setters from other
// threads or processes cannot lose each other's bits.
ErrorCode setField(int32_t handle, Field field, int32_t value) {
    if (value < 0 || value >= (1 << field.bits)) {
        return InvalidParam;
    }
    return bridgeRegisterOperation(handle, [&](Session& s) {
        uint16_t control = 0;
        return s.readRegister(kControlRegister, control) &&
               s.writeRegister(kControlRegister, static_cast<uint16_t>((control & ~field.mask()) |
                                                                       (value << field.shift)));
    });
}

ErrorCode getField(int32_t handle, Field field, int32_t* value) {
    if (value == nullptr) {
        return InvalidParam;
    }
    return bridgeRegisterOperation(handle, [&](Session& s) {
        uint16_t control = 0;
        if (!s.readRegister(kControlRegister, control)) {
            return false;
        }
        *value = (control & field.mask()) >> field.shift;
        return true;
    });
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_SetArbiterType(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode { return setField(handle, kArbiterType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetRequesterType(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode { return setField(handle, kRequesterType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetReleaseType(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode { return setField(handle, kReleaseType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetBusReqLevel(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode { return setField(handle, kBusReqLevel, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetTimeout(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode { return setField(handle, kTimeout, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_SetFIFOMode(int32_t handle, int32_t value) {
    return guarded([&]() -> ErrorCode {
        int32_t on = value != 0 ? 1 : 0;
        ErrorCode result = setField(handle, kFifoMode, on);
        // Block transfers decide their address stepping by the handle's FIFO mode; keep it in step
        // with what was just written rather than waiting for the next KOVRAVME_GetFIFOMode.
        if (result == Success) {
            if (HandleRecord* record = HandleTable::instance().find(handle)) {
                record->fifoMode = on ? -1 : 0;
            }
        }
        return result;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_GetArbiterType(int32_t handle, int32_t* value) {
    return guarded([&]() -> ErrorCode { return getField(handle, kArbiterType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_GetRequesterType(int32_t handle, int32_t* value) {
    return guarded([&]() -> ErrorCode { return getField(handle, kRequesterType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_GetReleaseType(int32_t handle, int32_t* value) {
    return guarded([&]() -> ErrorCode { return getField(handle, kReleaseType, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_GetBusReqLevel(int32_t handle, int32_t* value) {
    return guarded([&]() -> ErrorCode { return getField(handle, kBusReqLevel, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_GetTimeout(int32_t handle, int32_t* value) {
    return guarded([&]() -> ErrorCode { return getField(handle, kTimeout, value); });
}

KOVRAVME_API ErrorCode KOVRAVME_GetFIFOMode(int32_t handle, int16_t* value) {
    return guarded([&]() -> ErrorCode {
        if (value == nullptr) {
            return InvalidParam;
        }
        int32_t on = 0;
        ErrorCode result = getField(handle, kFifoMode, &on);
        if (result == Success) {
            *value = on ? -1 : 0;
            if (HandleRecord* record = HandleTable::instance().find(handle)) {
                record->fifoMode = on ? -1 : 0;
            }
        }
        return result;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_SystemReset(int32_t handle) {
    return guarded([&]() -> ErrorCode {
        return bridgeRegisterOperation(handle, [&](Session& s) {
            uint16_t control = 0;
            return s.readRegister(kControlRegister, control) &&
                   s.writeRegister(kControlRegister, control | kSystemReset.mask()) &&
                   s.writeRegister(kControlRegister, control & ~kSystemReset.mask());
        });
    });
}

}  // extern "C"
