#pragma once

#include <cstdint>
#include <functional>

#include "KOVRAVMElib.h"
#include "Session.h"

namespace kovravme {

// The frame of every bridge-register export: refuse the kinds without the resource, then hold
// the handle lock with the device open while `work` does its register accesses in order, stopping
// at the first that fails. InvalidParam for a refused kind; CommError for a handle that is not
// open, a device that cannot be opened, a failed access or a failed close.
ErrorCode registerOperation(int32_t handle, bool servesCardKinds,
                            const std::function<bool(Session&)>& work);

// The same for the exports of the bridge's own resources, which the card kinds do not have.
inline ErrorCode bridgeRegisterOperation(int32_t handle,
                                         const std::function<bool(Session&)>& work) {
    return registerOperation(handle, false, work);
}

}  // namespace kovravme
