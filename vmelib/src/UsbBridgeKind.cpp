#include <cstring>

#include "BridgeKind.h"
#include "HandleTable.h"
#include "Request.h"
#include "Session.h"
#include "UsbTransport.h"

namespace kovravme {

namespace {

// A bridge on USB: the device is opened for each stretch of work and closed after it, so that
// processes share the bridge between exchanges.
class UsbBridgeKind final : public BridgeKind {
  public:
    bool hasVmeSide() const override { return true; }
    uint16_t firmwareRegister() const override { return 2; }
    FlashRegisters flashRegisters() const override { return {4, 3}; }
    int32_t blockWriteChunkBytes() const override {
        return static_cast<int32_t>(UsbDevice::kMaxTransfer);
    }

    ErrorCode open(int32_t handle, HandleRecord& record) const override {
        return readFifoMode(handle, record);
    }

    bool begin(HandleRecord& record) const override {
        record.device = openUsbDevice(record.boardNumber);
        return record.device != nullptr;
    }

    bool end(HandleRecord& record) const override {
        if (!record.device) {
            return true;
        }
        bool closed = record.device->close();
        record.device.reset();
        return closed;
    }

    int exchange(HandleRecord& record, const uint8_t* request, size_t length, void* reply,
                 size_t replySize, uint16_t* status) const override {
        return usbExchange(*record.device, request, length, reply, replySize, status);
    }

    bool send(HandleRecord& record, const uint8_t* request, size_t length) const override {
        return usbSend(*record.device, request, length);
    }

    bool sendFlashBytes(Session& session, const std::vector<uint8_t>& bytes,
                        FlashRegisters regs) const override {
        // One bulk write: the data register without the last-operation bit, then every byte as
        // a 16-bit item whose bit 8 says that more bytes follow.
        Request request;
        request.word(regs.data);
        for (size_t i = 0; i < bytes.size(); ++i) {
            request.word(static_cast<uint16_t>(bytes[i] | (i + 1 < bytes.size() ? 0x0100 : 0)));
        }
        return session.send(request);
    }

    ErrorCode driverRelease(HandleRecord& record, char* text) const override {
        Session session(record);
        if (!session.ok()) {
            return CommError;
        }
        std::strcpy(text, "1.0");
        return session.finish() ? Success : CommError;
    }
};

}  // namespace

const BridgeKind& usbBridgeKind() {
    static const UsbBridgeKind kind;
    return kind;
}

}  // namespace kovravme
