#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Request.h"
#include "Session.h"

using namespace kovravme;

namespace {

constexpr size_t kCycleReplySize = 64;

// Sends one single-cycle request; for cycles with data, stores the reply field at `data` before
// the bus-error bit is looked at.
ErrorCode runCycle(int32_t handle, const Request& request, uint32_t address, Width width,
                   void* data) {
    uint8_t reply[kCycleReplySize];
    uint16_t status = 0;
    int received = transact(handle, request, reply, sizeof(reply), &status);
    if (received < 0) {
        return CommError;
    }
    if (data != nullptr) {
        if (static_cast<size_t>(received) < replyFieldBytes(width)) {
            return CommError;
        }
        storeValue(data, width, cycleValue(reply, address, width));
    }
    return (status & kStatusBusError) ? BusError : Success;
}

ErrorCode dataCycle(int32_t handle, uint32_t address, void* data, AddressModifier am,
                    DataWidth width, uint8_t operation, bool read, bool sendsData) {
    if (refusesVmeCycles(handle)) {
        return InvalidParam;
    }
    auto decoded = decodeWidth(width, false);
    if (!decoded || !isSingleCycleModifier(am) || data == nullptr) {
        return InvalidParam;
    }
    Request request;
    request.word(vmeCommand(read, am, *decoded, operation, true)).dword(address);
    if (sendsData) {
        request.cycleData(address, *decoded, loadValue(data, *decoded));
    }
    return runCycle(handle, request, address, *decoded, read ? data : nullptr);
}

ErrorCode addressOnlyCycle(int32_t handle, uint32_t address, AddressModifier am, bool handshake) {
    if (refusesVmeCycles(handle)) {
        return InvalidParam;
    }
    if (handshake ? !isHandshakeModifier(am) : !isAddressOnlyModifier(am)) {
        return InvalidParam;
    }
    Width none{0, 0, false};
    Request request;
    request
        .word(
            vmeCommand(true, am, none, handshake ? kOpAddressOnlyHandshake : kOpAddressOnly, true))
        .dword(address);
    return runCycle(handle, request, address, none, nullptr);
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_ReadCycle(int32_t handle, uint32_t address, void* data,
                                          AddressModifier am, DataWidth width) {
    return guarded([&]() -> ErrorCode {
        return dataCycle(handle, address, data, am, width, kOpSingle, true, false);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_WriteCycle(int32_t handle, uint32_t address, void* data,
                                           AddressModifier am, DataWidth width) {
    return guarded([&]() -> ErrorCode {
        return dataCycle(handle, address, data, am, width, kOpSingle, false, true);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_RMWCycle(int32_t handle, uint32_t address, void* data,
                                         AddressModifier am, DataWidth width) {
    return guarded([&]() -> ErrorCode {
        return dataCycle(handle, address, data, am, width, kOpReadModifyWrite, true, true);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_ADOCycle(int32_t handle, uint32_t address, AddressModifier am) {
    return guarded([&]() -> ErrorCode { return addressOnlyCycle(handle, address, am, false); });
}

KOVRAVME_API ErrorCode KOVRAVME_ADOHCycle(int32_t handle, uint32_t address, AddressModifier am) {
    return guarded([&]() -> ErrorCode { return addressOnlyCycle(handle, address, am, true); });
}

KOVRAVME_API ErrorCode KOVRAVME_IACKCycle(int32_t handle, uint32_t level, void* vector,
                                          DataWidth width) {
    return guarded([&]() -> ErrorCode {
        if (refusesVmeCycles(handle)) {
            return InvalidParam;
        }
        auto decoded = decodeWidth(width, false);
        // One bit of 1..64: levels 1 to 7.
        bool oneLevel = level != 0 && level <= 64 && (level & (level - 1)) == 0;
        if (!decoded || !oneLevel || vector == nullptr) {
            return InvalidParam;
        }
        uint32_t number = static_cast<uint32_t>(__builtin_ctz(level)) + 1;
        // The acknowledge carries no modifier; its address field is twice the level.
        uint32_t address = 2 * number;
        Request request;
        request.word(vmeCommand(true, 0, *decoded, kOpInterruptAcknowledge, true)).dword(address);
        return runCycle(handle, request, address, *decoded, vector);
    });
}

}  // extern "C"
