#include "HandleTable.h"

#include "BridgeKind.h"

namespace kovravme {

HandleTable& HandleTable::instance() {
    static HandleTable table;
    return table;
}

void HandleRecord::reset() {
    boardType = -1;
    kind = nullptr;
    boardNumber = -1;
    link = -1;
    fifoMode = -1;
    lock = nullptr;
    device.reset();
    card = nullptr;
}

HandleRecord* HandleTable::find(int32_t handle) {
    if (handle < 0 || handle >= kHandleCount ||
        !records_[handle].inUse.load(std::memory_order_acquire)) {
        return nullptr;
    }
    return &records_[handle];
}

int HandleTable::claim(int32_t boardType, int16_t link, int16_t boardNumber) {
    std::lock_guard guard(mutex_);
    for (const HandleRecord& record : records_) {
        if (record.inUse && record.boardType == boardType && record.link == link &&
            record.boardNumber == boardNumber) {
            return -1;
        }
    }
    for (int i = 0; i < kHandleCount; ++i) {
        HandleRecord& record = records_[i];
        if (!record.inUse) {
            record.reset();
            record.boardType = boardType;
            record.kind = bridgeKind(boardType);
            record.link = link;
            record.boardNumber = boardNumber;
            record.inUse.store(true, std::memory_order_release);
            return i;
        }
    }
    return -2;
}

void HandleTable::release(int32_t handle) {
    std::lock_guard guard(mutex_);
    if (handle >= 0 && handle < kHandleCount) {
        records_[handle].inUse.store(false, std::memory_order_release);
        records_[handle].reset();
    }
}

bool refusesVmeCycles(int32_t handle) {
    HandleRecord* record = HandleTable::instance().find(handle);
    return record != nullptr && record->kind != nullptr && !record->kind->hasVmeSide();
}

}  // namespace kovravme
