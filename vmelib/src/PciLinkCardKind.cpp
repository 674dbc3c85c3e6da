#include "CardKind.h"
#include "CardTransport.h"
#include "HandleTable.h"
#include "Session.h"

namespace kovravme {

namespace {

// The PCI optical-link card itself: its own local registers and flash, nothing on the link.
class PciLinkCardKind final : public CardKind {
  public:
    bool hasVmeSide() const override { return false; }
    // The card's registers are local-bus addresses, not numbers inside a command word.
    bool registerFits(uint16_t) const override { return true; }
    uint16_t firmwareRegister() const override { return 28; }
    FlashRegisters flashRegisters() const override { return {20, 16}; }

    int exchange(HandleRecord&, const uint8_t*, size_t, void*, size_t, uint16_t*) const override {
        return -1;
    }
    bool send(HandleRecord&, const uint8_t*, size_t) const override { return false; }

    bool readRegister(Session& session, uint16_t reg, uint16_t& value) const override {
        uint32_t local = 0;
        if (!session.ok() || !readCardRegister(session.record().card->card->device, reg, local)) {
            return false;
        }
        value = static_cast<uint16_t>(local);
        return true;
    }

    bool writeRegister(Session& session, uint16_t reg, uint16_t value) const override {
        return session.ok() && writeCardRegister(session.record().card->card->device, reg, value);
    }

    bool readFlashBytes(Session& session, uint8_t* data, size_t length,
                        FlashRegisters regs) const override {
        return readFlashByRegister(session, data, length, regs);
    }

  protected:
    // Replies on the link belong to the stations' handles, never to the card's.
    bool receivesReplies() const override { return false; }
};

}  // namespace

const BridgeKind& pciLinkCardKind() {
    static const PciLinkCardKind kind;
    return kind;
}

}  // namespace kovravme
