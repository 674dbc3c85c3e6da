#include "RegisterAccess.h"

#include "BridgeKind.h"
#include "CApiGuard.h"
#include "HandleTable.h"

namespace kovravme {

ErrorCode registerOperation(int32_t handle, bool servesCardKinds,
                            const std::function<bool(Session&)>& work) {
    if (!servesCardKinds && refusesVmeCycles(handle)) {
        return InvalidParam;
    }
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return CommError;
    }
    Session session(*record);
    if (!session.ok()) {
        return CommError;
    }
    bool done = work(session);
    bool closed = session.finish();
    return done && closed ? Success : CommError;
}

}  // namespace kovravme

using namespace kovravme;

namespace {

// Whether the handle's kind can carry the register number at all.
bool registerFits(int32_t handle, uint16_t reg) {
    HandleRecord* record = HandleTable::instance().find(handle);
    return record == nullptr || record->kind->registerFits(reg);
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_ReadRegister(int32_t handle, uint16_t reg, uint16_t* value) {
    return guarded([&]() -> ErrorCode {
        if (value == nullptr || !registerFits(handle, reg)) {
            return InvalidParam;
        }
        return registerOperation(handle, true,
                                 [&](Session& s) { return s.readRegister(reg, *value); });
    });
}

KOVRAVME_API ErrorCode KOVRAVME_WriteRegister(int32_t handle, uint16_t reg, uint16_t value) {
    return guarded([&]() -> ErrorCode {
        if (!registerFits(handle, reg)) {
            return InvalidParam;
        }
        return registerOperation(handle, true,
                                 [&](Session& s) { return s.writeRegister(reg, value); });
    });
}

}  // extern "C"
