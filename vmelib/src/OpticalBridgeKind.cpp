#include "CardKind.h"
#include "CardTransport.h"
#include "HandleTable.h"
#include "Session.h"

namespace kovravme {

namespace {

constexpr uint16_t kLinkRegister = 6;
constexpr uint16_t kLinkRegisterValue = 0xFF;
constexpr size_t kDriverReleaseBytes = 12;
// A block read goes in requests of at most 1,038,336 bytes.
constexpr int32_t kReadRequestBytes = 0xFD800;

// A VME bridge on the optical link: VME cycles, and the card's interrupt for its levels.
class OpticalBridgeKind final : public CardKind {
  public:
    bool hasVmeSide() const override { return true; }
    uint16_t firmwareRegister() const override { return 2; }
    FlashRegisters flashRegisters() const override { return {4, 3}; }
    int32_t blockReadSliceBytes() const override { return kReadRequestBytes; }

    ErrorCode driverRelease(HandleRecord& record, char* text) const override {
        // A driver that cannot tell its version leaves the text empty.
        if (record.card == nullptr || !cardDriverVersion(*record.card, text, kDriverReleaseBytes)) {
            text[0] = '\0';
        }
        return Success;
    }

    ErrorCode irqWait(HandleRecord& record, uint32_t mask, uint32_t timeoutMs) const override {
        if (record.card == nullptr) {
            return InvalidParam;
        }
        if (mask == 0 || record.lock == nullptr) {
            return GenericError;
        }
        return cardInterruptWait(*record.card, *record.lock, timeoutMs);
    }

    ErrorCode irqControl(HandleRecord& record, bool enable) const override {
        if (record.card == nullptr) {
            return InvalidParam;
        }
        // The card interrupts for every level; the bit goes directly into the card.
        uint32_t address = enable ? kInterruptSetRegister : kInterruptClearRegister;
        return writeCardRegister(record.card->card->device, address, kVmeInterrupt) ? Success
                                                                                    : GenericError;
    }

  protected:
    // The bridge must answer: its FIFO mode is read, and the link register set.
    ErrorCode afterAttach(int32_t handle, HandleRecord& record) const override {
        ErrorCode result = readFifoMode(handle, record);
        if (result == Success) {
            result = KOVRAVME_WriteRegister(handle, kLinkRegister, kLinkRegisterValue);
        }
        return result;
    }
};

}  // namespace

const BridgeKind& opticalBridgeKind() {
    static const OpticalBridgeKind kind;
    return kind;
}

}  // namespace kovravme
