#include "CardTransport.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"

using namespace kovravme;

namespace {

constexpr uint16_t kPendingLevelsRegister = 5;

// Enabling, disabling and waiting rest on the PCI card's interrupt, which only the optical bridge
// has. Its card record, or null (InvalidParam in `kind`) for any other handle.
CardHandle* cardInterruptHandle(int32_t handle, ErrorCode& kind) {
    HandleRecord* record = HandleTable::instance().find(handle);
    bool optical = record != nullptr && record->boardType == OpticalBridge && record->card;
    kind = optical ? Success : InvalidParam;
    return optical ? record->card : nullptr;
}

// Writes the VME-interrupt bit into the card's set or clear register, directly on the card.
ErrorCode cardInterruptControl(int32_t handle, uint32_t address) {
    ErrorCode kind = Success;
    CardHandle* card = cardInterruptHandle(handle, kind);
    if (card == nullptr) {
        return kind;
    }
    return writeCardRegister(card->card->device, address, kVmeInterrupt) ? Success : GenericError;
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
    ErrorCode kind = Success;
    CardHandle* card = cardInterruptHandle(handle, kind);
    if (card == nullptr) {
        return kind;
    }
    if (mask == 0) {
        return GenericError;
    }
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record->lock == nullptr) {
        return GenericError;
    }
    return cardInterruptWait(*card, *record->lock, timeoutMs);
}

KOVRAVME_API ErrorCode KOVRAVME_IRQEnable(int32_t handle, uint32_t mask) {
    (void)mask;  // the card interrupts for every level
    return cardInterruptControl(handle, kInterruptSetRegister);
}

KOVRAVME_API ErrorCode KOVRAVME_IRQDisable(int32_t handle, uint32_t mask) {
    (void)mask;
    return cardInterruptControl(handle, kInterruptClearRegister);
}

}  // extern "C"
