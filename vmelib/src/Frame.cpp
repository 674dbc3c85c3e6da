#include <cstdio>
#include <cstring>

#include "CardTable.h"
#include "CardTransport.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Session.h"

using namespace kovravme;

namespace {

constexpr uint16_t kControlRegister = 1;
constexpr uint16_t kFifoModeBit = 0x0200;
constexpr uint16_t kFirmwareRegisterBridge = 2;
constexpr uint16_t kFirmwareRegisterCard = 28;
constexpr uint16_t kFirmwareRegisterLinkDevice = 4;

constexpr uint16_t kLinkRegister = 6;
constexpr uint16_t kLinkRegisterValue = 0xFF;
constexpr size_t kDriverReleaseBytes = 12;

// Reads the bridge's FIFO mode into the record. This first exchange is the only proof that the
// bridge answers.
ErrorCode readFifoMode(int32_t handle, HandleRecord& record) {
    uint8_t reply[2];
    uint16_t status = 0;
    Request request;
    request.word(registerReadCommand(kControlRegister));
    if (transact(handle, request, reply, sizeof(reply), &status) < 2) {
        return CommError;
    }
    record.fifoMode = (readLe16(reply) & kFifoModeBit) ? -1 : 0;
    return Success;
}

// The card kinds: open (or share) the PCI card of the link; an optical bridge must then answer.
ErrorCode openCardKind(int32_t handle, HandleRecord& record) {
    if (record.boardNumber == -1) {
        return CommError;
    }
    record.card =
        CardTable::instance().attach(handle, record.boardType, record.link, record.boardNumber);
    if (record.card == nullptr) {
        return CommError;
    }
    if (record.boardType != OpticalBridge) {
        return Success;
    }
    ErrorCode result = readFifoMode(handle, record);
    if (result == Success) {
        result = KOVRAVME_WriteRegister(handle, kLinkRegister, kLinkRegisterValue);
    }
    if (result != Success) {
        // The handle does not come into being, so it must not keep the card open either.
        CardTable::instance().detach(handle);
        record.card = nullptr;
    }
    return result;
}

// Opens the bridge side of a fresh record; Success or the error Init returns.
ErrorCode openBridge(int32_t handle, HandleRecord& record) {
    switch (record.boardType) {
        case UsbBridge:
            return readFifoMode(handle, record);
        case OpticalBridge:
        case PciLinkCard:
        case LinkDevice:
            return openCardKind(handle, record);
        default:
            return InvalidParam;
    }
}

}  // namespace

extern "C" {

KOVRAVME_API const char* KOVRAVME_DecodeError(ErrorCode code) {
    switch (code) {
        case Success:
            return "Success";
        case BusError:
            return "Bus error";
        case CommError:
            return "Communication error";
        case GenericError:
            return "Generic error";
        case InvalidParam:
            return "Invalid parameter";
        case TimeoutError:
            return "Timeout";
    }
    return "Unknown error";
}

KOVRAVME_API ErrorCode KOVRAVME_SWRelease(char* text) {
    if (text == nullptr) {
        return InvalidParam;
    }
    std::strcpy(text, "2.10");
    return Success;
}

KOVRAVME_API ErrorCode KOVRAVME_Init(int32_t boardType, int16_t link, int16_t boardNumber,
                                     int32_t* handle) {
    if (handle == nullptr) {
        return InvalidParam;
    }
    HandleTable& table = HandleTable::instance();
    int index = table.claim(boardType, link, boardNumber);
    if (index < 0) {
        return GenericError;
    }
    HandleRecord& record = *table.find(index);
    record.lock = BridgeLock::named(BridgeLock::handleLockName(boardType, link));
    ErrorCode result = record.lock != nullptr ? openBridge(index, record) : GenericError;
    if (result != Success) {
        table.release(index);
        return result;
    }
    *handle = index;
    return Success;
}

KOVRAVME_API ErrorCode KOVRAVME_End(int32_t handle) {
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return InvalidParam;
    }
    if (record->card != nullptr) {
        // The card closes with the last handle of its link.
        CardTable::instance().detach(handle);
    }
    HandleTable::instance().release(handle);
    return Success;
}

KOVRAVME_API ErrorCode KOVRAVME_DriverRelease(int32_t handle, char* text) {
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return CommError;
    }
    if (text == nullptr) {
        return InvalidParam;
    }
    switch (record->boardType) {
        case UsbBridge: {
            Session session(*record);
            if (!session.ok()) {
                return CommError;
            }
            std::strcpy(text, "1.0");
            return session.finish() ? Success : CommError;
        }
        case OpticalBridge:
            // A driver that cannot tell its version leaves the text empty.
            if (record->card == nullptr ||
                !cardDriverVersion(*record->card, text, kDriverReleaseBytes)) {
                text[0] = '\0';
            }
            return Success;
        default:
            text[0] = '\0';
            return Success;
    }
}

KOVRAVME_API ErrorCode KOVRAVME_BoardFWRelease(int32_t handle, char* text) {
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return CommError;
    }
    if (text == nullptr) {
        return InvalidParam;
    }
    uint16_t reg = kFirmwareRegisterBridge;
    switch (record->boardType) {
        case UsbBridge:
        case OpticalBridge:
            break;
        case PciLinkCard:
            reg = kFirmwareRegisterCard;
            break;
        case LinkDevice:
            reg = kFirmwareRegisterLinkDevice;
            break;
        default:
            return CommError;
    }
    Session session(*record);
    if (!session.ok()) {
        return CommError;
    }
    uint16_t value = 0;
    // A release that could not be read is a failure, and says so: the buffer is left alone.
    bool read = session.readRegister(reg, value);
    if (!session.finish() || !read) {
        return CommError;
    }
    std::snprintf(text, 8, "%01u.%01u", static_cast<unsigned>(value >> 8),
                  static_cast<unsigned>(value & 0xFF));
    return Success;
}

}  // extern "C"
