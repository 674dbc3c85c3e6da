#include "CardKind.h"
#include "CardTransport.h"
#include "HandleTable.h"
#include "Session.h"

namespace kovravme {

namespace {

// The device on the optical link that has registers but no VME side. Its requests are the
// bridge's register requests, routed to it by card register 8 for as long as they take.
class LinkDeviceKind final : public CardKind {
  public:
    bool hasVmeSide() const override { return false; }
    uint16_t firmwareRegister() const override { return 4; }
    FlashRegisters flashRegisters() const override { return {3, 2}; }

    bool readRegister(Session& session, uint16_t reg, uint16_t& value) const override {
        return session.ok() && throughLinkDevice(*session.record().card, [&] {
                   return BridgeKind::readRegister(session, reg, value);
               });
    }

    bool writeRegister(Session& session, uint16_t reg, uint16_t value) const override {
        return session.ok() && throughLinkDevice(*session.record().card, [&] {
                   return BridgeKind::writeRegister(session, reg, value);
               });
    }

    bool readFlashBytes(Session& session, uint8_t* data, size_t length,
                        FlashRegisters regs) const override {
        return readFlashByRegister(session, data, length, regs);
    }
};

}  // namespace

const BridgeKind& linkDeviceKind() {
    static const LinkDeviceKind kind;
    return kind;
}

}  // namespace kovravme
