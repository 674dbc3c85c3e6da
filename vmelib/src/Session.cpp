#include "Session.h"

#include "CardTransport.h"
#include "UsbTransport.h"

namespace kovravme {

Session::Session(HandleRecord& record) : record_(record) {
    if (record_.lock == nullptr || !record_.lock->lock()) {
        return;
    }
    locked_ = true;
    switch (record_.boardType) {
        case UsbBridge:
            record_.device = openUsbDevice(record_.boardNumber);
            open_ = record_.device != nullptr;
            break;
        case OpticalBridge:
        case PciLinkCard:
        case LinkDevice:
            // The card stays open from Init to End; there is nothing to open per exchange.
            open_ = record_.card != nullptr;
            break;
        default:
            open_ = false;
            break;
    }
}

Session::~Session() {
    finish();
}

int Session::exchange(const uint8_t* request, size_t length, void* reply, size_t replySize,
                      uint16_t* status) {
    if (!open_) {
        return -1;
    }
    switch (record_.boardType) {
        case UsbBridge:
            return usbExchange(*record_.device, request, length, reply, replySize, status);
        case OpticalBridge:
        case LinkDevice:
            return cardExchange(*record_.card, request, length, reply, replySize, status);
        default:
            return -1;
    }
}

bool Session::send(const uint8_t* request, size_t length) {
    if (!open_) {
        return false;
    }
    switch (record_.boardType) {
        case UsbBridge:
            return usbSend(*record_.device, request, length);
        case OpticalBridge:
        case LinkDevice:
            return cardExchange(*record_.card, request, length, nullptr, 0, nullptr) ==
                   static_cast<int>(length);
        default:
            return false;
    }
}

bool Session::readRegister(uint16_t reg, uint16_t& value) {
    switch (record_.boardType) {
        case PciLinkCard: {
            uint32_t local = 0;
            if (!open_ || !readCardRegister(record_.card->card->device, reg, local)) {
                return false;
            }
            value = static_cast<uint16_t>(local);
            return true;
        }
        case LinkDevice:
            return open_ &&
                   throughLinkDevice(*record_.card, [&] { return readBridgeRegister(reg, value); });
        case UsbBridge:
        case OpticalBridge:
            return readBridgeRegister(reg, value);
        default:
            return false;
    }
}

// The register-read request of the bridge's wire format, over whatever carries it.
bool Session::readBridgeRegister(uint16_t reg, uint16_t& value) {
    if (reg > kMaxRegister) {
        return false;
    }
    uint8_t reply[2];
    uint16_t status = 0;
    if (exchange(Request().word(registerReadCommand(reg)), reply, sizeof(reply), &status) < 2) {
        return false;
    }
    value = readLe16(reply);
    return true;
}

bool Session::writeRegister(uint16_t reg, uint16_t value) {
    // The bridge does not answer a register write; nothing is read back.
    auto bridgeWrite = [&] {
        return reg <= kMaxRegister && send(Request().word(registerWriteCommand(reg)).word(value));
    };
    switch (record_.boardType) {
        case UsbBridge:
        case OpticalBridge:
            return bridgeWrite();
        case PciLinkCard:
            return open_ && writeCardRegister(record_.card->card->device, reg, value);
        case LinkDevice:
            return open_ && throughLinkDevice(*record_.card, bridgeWrite);
        default:
            return false;
    }
}

bool Session::finish() {
    open_ = false;
    if (!locked_) {
        return true;
    }
    bool closed = true;
    if (record_.device) {
        closed = record_.device->close();
        record_.device.reset();
    }
    locked_ = false;
    record_.lock->unlock();
    return closed;
}

int transact(int32_t handle, const Request& request, void* reply, size_t replySize,
             uint16_t* status) {
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return -1;
    }
    Session session(*record);
    int result = session.exchange(request, reply, replySize, status);
    if (!session.finish()) {
        return -1;
    }
    return result;
}

}  // namespace kovravme
