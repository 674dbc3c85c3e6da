#include <cstdio>
#include <cstring>

#include "BridgeKind.h"
#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Session.h"

using namespace kovravme;

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
    return guarded([&]() -> ErrorCode {
        if (text == nullptr) {
            return InvalidParam;
        }
        std::strcpy(text, "2.10");
        return Success;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_Init(int32_t boardType, int16_t link, int16_t boardNumber,
                                     int32_t* handle) {
    return guarded([&]() -> ErrorCode {
        if (handle == nullptr) {
            return InvalidParam;
        }
        HandleTable& table = HandleTable::instance();
        int index = table.claim(boardType, link, boardNumber);
        if (index < 0) {
            return GenericError;
        }
        HandleRecord& record = *table.find(index);
        if (record.kind == nullptr) {
            table.release(index);
            return InvalidParam;
        }
        ErrorCode result = GenericError;
        try {
            record.lock = BridgeLock::named(BridgeLock::handleLockName(boardType, link));
            result = record.lock != nullptr ? record.kind->open(index, record) : GenericError;
        } catch (...) {
            // An open that failed half-way (memory ran out) must not leave the board looking open.
            record.kind->close(index, record);
            table.release(index);
            throw;
        }
        if (result != Success) {
            table.release(index);
            return result;
        }
        *handle = index;
        return Success;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_End(int32_t handle) {
    return guarded([&]() -> ErrorCode {
        HandleRecord* record = HandleTable::instance().find(handle);
        if (record == nullptr) {
            return InvalidParam;
        }
        record->kind->close(handle, *record);
        HandleTable::instance().release(handle);
        return Success;
    });
}

KOVRAVME_API ErrorCode KOVRAVME_DriverRelease(int32_t handle, char* text) {
    return guarded([&]() -> ErrorCode {
        HandleRecord* record = HandleTable::instance().find(handle);
        if (record == nullptr) {
            return CommError;
        }
        if (text == nullptr) {
            return InvalidParam;
        }
        return record->kind->driverRelease(*record, text);
    });
}

KOVRAVME_API ErrorCode KOVRAVME_BoardFWRelease(int32_t handle, char* text) {
    return guarded([&]() -> ErrorCode {
        HandleRecord* record = HandleTable::instance().find(handle);
        if (record == nullptr) {
            return CommError;
        }
        if (text == nullptr) {
            return InvalidParam;
        }
        uint16_t reg = record->kind->firmwareRegister();
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
    });
}

}  // extern "C"
