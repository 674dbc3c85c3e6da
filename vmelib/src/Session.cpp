#include "Session.h"

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
        default:
            // The card kinds reach their bridge through the PCI optical-link card, which has no
            // path in this library yet: nothing can be opened.
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
        default:
            return false;
    }
}

bool Session::readRegister(uint16_t reg, uint16_t& value) {
    switch (record_.boardType) {
        case UsbBridge: {
            if (reg > kMaxRegister) {
                return false;
            }
            uint8_t reply[2];
            uint16_t status = 0;
            if (exchange(Request().word(registerReadCommand(reg)), reply, sizeof(reply), &status) <
                2) {
                return false;
            }
            value = readLe16(reply);
            return true;
        }
        default:
            return false;
    }
}

bool Session::writeRegister(uint16_t reg, uint16_t value) {
    switch (record_.boardType) {
        case UsbBridge:
            // The bridge does not answer a register write; nothing is read back.
            return reg <= kMaxRegister &&
                   send(Request().word(registerWriteCommand(reg)).word(value));
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
