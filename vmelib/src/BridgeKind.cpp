#include "BridgeKind.h"

#include "Request.h"
#include "Session.h"

namespace kovravme {

namespace {

// A bridge flash read answers 64 data bytes, each in the low byte of a 16-bit item.
constexpr size_t kFlashReadItems = 64;

}  // namespace

const BridgeKind* bridgeKind(int32_t boardType) {
    switch (boardType) {
        case UsbBridge:
            return &usbBridgeKind();
        case OpticalBridge:
            return &opticalBridgeKind();
        case PciLinkCard:
            return &pciLinkCardKind();
        case LinkDevice:
            return &linkDeviceKind();
        default:
            return nullptr;
    }
}

bool BridgeKind::registerFits(uint16_t reg) const {
    // The register number travels inside the command word; a larger one would turn the request
    // into another.
    return reg <= kMaxRegister;
}

void BridgeKind::close(int32_t, HandleRecord&) const {}

bool BridgeKind::end(HandleRecord&) const {
    return true;
}

int BridgeKind::exchange(HandleRecord&, const uint8_t*, size_t, void*, size_t, uint16_t*) const {
    return -1;
}

bool BridgeKind::send(HandleRecord&, const uint8_t*, size_t) const {
    return false;
}

bool BridgeKind::readRegister(Session& session, uint16_t reg, uint16_t& value) const {
    if (reg > kMaxRegister) {
        return false;
    }
    uint8_t reply[2];
    uint16_t status = 0;
    if (session.exchange(Request().word(registerReadCommand(reg)), reply, sizeof(reply), &status) <
        2) {
        return false;
    }
    value = readLe16(reply);
    return true;
}

bool BridgeKind::writeRegister(Session& session, uint16_t reg, uint16_t value) const {
    // The bridge does not answer a register write; nothing is read back.
    return reg <= kMaxRegister &&
           session.send(Request().word(registerWriteCommand(reg)).word(value));
}

bool BridgeKind::sendFlashBytes(Session& session, const std::vector<uint8_t>& bytes,
                                FlashRegisters regs) const {
    for (uint8_t byte : bytes) {
        if (!session.writeRegister(regs.data, byte)) {
            return false;
        }
    }
    return true;
}

bool BridgeKind::readFlashBytes(Session& session, uint8_t* data, size_t length,
                                FlashRegisters regs) const {
    // Data-register reads without the last-operation bit, 64 bytes each.
    Request request;
    request.word(static_cast<uint16_t>(0x4000 | regs.data));
    for (size_t done = 0; done < length; done += kFlashReadItems) {
        uint8_t reply[2 * kFlashReadItems];
        uint16_t status = 0;
        if (session.exchange(request, reply, sizeof(reply), &status) <
            static_cast<int>(sizeof(reply))) {
            return false;
        }
        for (size_t i = 0; i < kFlashReadItems && done + i < length; ++i) {
            data[done + i] = reply[2 * i];
        }
    }
    return true;
}

bool BridgeKind::readFlashByRegister(Session& session, uint8_t* data, size_t length,
                                     FlashRegisters regs) {
    for (size_t i = 0; i < length; ++i) {
        uint16_t value = 0;
        if (!session.readRegister(regs.data, value)) {
            return false;
        }
        data[i] = static_cast<uint8_t>(value);
    }
    return true;
}

ErrorCode BridgeKind::driverRelease(HandleRecord&, char* text) const {
    // A driver that cannot tell its version leaves the text empty.
    text[0] = '\0';
    return Success;
}

ErrorCode BridgeKind::irqWait(HandleRecord&, uint32_t, uint32_t) const {
    return InvalidParam;
}

ErrorCode BridgeKind::irqControl(HandleRecord&, bool) const {
    return InvalidParam;
}

}  // namespace kovravme
