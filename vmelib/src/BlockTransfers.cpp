#include <algorithm>

#include "BridgeKind.h"
#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Request.h"
#include "Session.h"

using namespace kovravme;

namespace {

// Bytes per block-read piece: one driver request each.
constexpr int32_t kUsbPieceBytes = 61440;
constexpr size_t kWriteReplySize = 64;

struct BlockArguments {
    int32_t handle;
    uint32_t address;
    void* buffer;
    int32_t size;
    AddressModifier am;
    DataWidth width;
    int32_t* count;
    bool fifo;     // the FIFO variants keep the address
    bool d64Only;  // MBLT forms: D64 and the 64-bit block modifiers
};

// Refuses what the transfer cannot start with; on success fills `width` and `record`.
ErrorCode checkBlock(const BlockArguments& a, Width& width, HandleRecord*& record) {
    if (refusesVmeCycles(a.handle)) {
        return InvalidParam;
    }
    auto decoded = decodeWidth(a.width, true);
    if (!decoded || (a.d64Only && !isMbltModifier(a.am)) || a.count == nullptr || a.size < 0 ||
        (a.buffer == nullptr && a.size > 0)) {
        return InvalidParam;
    }
    width = *decoded;
    record = HandleTable::instance().find(a.handle);
    // Nothing is built for a handle that is not open, whatever size it was given.
    return record != nullptr ? Success : CommError;
}

// Whether pieces and chunks after the first continue at a rising address.
bool stepsAddress(const BlockArguments& a, const HandleRecord* record) {
    return !a.fifo && record != nullptr && record->fifoMode.load() == 0;
}

// One request of block-read pieces for `size` bytes starting at `address`.
Request readRequest(const BlockArguments& a, Width width, uint32_t address, int32_t size,
                    bool step) {
    Request request;
    // 64-bit steps: the last piece of a size near the 32-bit limit must not wrap the offset.
    for (int64_t offset = 0; offset < size; offset += kUsbPieceBytes) {
        auto piece = static_cast<int32_t>(std::min<int64_t>(kUsbPieceBytes, size - offset));
        bool last = offset + piece >= size;
        uint8_t operation = (last ? kOpBlock : kOpBlockPiece) | (a.fifo ? kOpFifoFlag : 0);
        request.word(vmeCommand(true, a.am, width, operation, last))
            .word(static_cast<uint16_t>(piece / width.bytes))
            .dword(address + (step ? static_cast<uint32_t>(offset) : 0));
    }
    return request;
}

ErrorCode blockRead(const BlockArguments& a) {
    Width width{};
    HandleRecord* record = nullptr;
    if (ErrorCode check = checkBlock(a, width, record); check != Success) {
        return check;
    }
    *a.count = 0;
    if (a.size == 0) {
        return Success;
    }
    bool step = stepsAddress(a, record);
    // Some kinds take the whole transfer as one request, others in slices.
    int32_t sliceBytes = record->kind->blockReadSliceBytes();
    int32_t slice = sliceBytes > 0 ? sliceBytes : a.size;
    auto* data = static_cast<uint8_t*>(a.buffer);
    int32_t total = 0;
    uint16_t status = 0;
    while (total < a.size) {
        int32_t size = std::min(slice, a.size - total);
        // A later slice continues where the previous one ended whenever the address steps.
        uint32_t address = a.address + (step ? static_cast<uint32_t>(total) : 0);
        int received = transact(a.handle, readRequest(a, width, address, size, step), data + total,
                                static_cast<size_t>(size), &status);
        if (received < 0) {
            *a.count = 0;
            return CommError;
        }
        total += received;
        *a.count = total;
        if (sliceBytes == 0 || (status & kStatusBusError) || received == 0) {
            break;
        }
    }
    // A bus error that cuts the transfer short is normal: the count says how much arrived.
    return (status & kStatusBusError) ? BusError : Success;
}

ErrorCode blockWrite(const BlockArguments& a) {
    Width width{};
    HandleRecord* record = nullptr;
    if (ErrorCode check = checkBlock(a, width, record); check != Success) {
        return check;
    }
    *a.count = 0;
    bool step = stepsAddress(a, record);
    auto* data = static_cast<const uint8_t*>(a.buffer);
    int64_t items = 0;
    int32_t chunkBytes = record->kind->blockWriteChunkBytes();
    for (int64_t offset = 0; offset < a.size; offset += chunkBytes) {
        auto chunk = static_cast<int32_t>(std::min<int64_t>(chunkBytes, a.size - offset));
        Request request;
        request.word(vmeCommand(false, a.am, width, kOpBlock | (a.fifo ? kOpFifoFlag : 0), true))
            .word(static_cast<uint16_t>(chunk / width.bytes))
            .dword(a.address + (step ? static_cast<uint32_t>(offset) : 0))
            .bytes(data + offset, static_cast<size_t>(chunk));
        uint8_t reply[kWriteReplySize];
        uint16_t status = 0;
        int received = transact(a.handle, request, reply, sizeof(reply), &status);
        // Without the two bytes of its item count the reply tells nothing of what was written.
        if (received < 2) {
            *a.count = static_cast<int32_t>(items * width.bytes);
            return CommError;
        }
        items += readLe16(reply);
        if (status & kStatusBusError) {
            *a.count = static_cast<int32_t>(items * width.bytes);
            return BusError;
        }
    }
    *a.count = static_cast<int32_t>(items * width.bytes);
    return Success;
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_BLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                             int32_t size, AddressModifier am, DataWidth width,
                                             int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockRead({handle, address, buffer, size, am, width, count, false, false});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_BLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                              int32_t size, AddressModifier am, DataWidth width,
                                              int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockWrite({handle, address, buffer, size, am, width, count, false, false});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_MBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                              int32_t size, AddressModifier am, int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockRead({handle, address, buffer, size, am, D64, count, false, true});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_MBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                               int32_t size, AddressModifier am, int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockWrite({handle, address, buffer, size, am, D64, count, false, true});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_FIFOBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                                 int32_t size, AddressModifier am, DataWidth width,
                                                 int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockRead({handle, address, buffer, size, am, width, count, true, false});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_FIFOBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                                  int32_t size, AddressModifier am, DataWidth width,
                                                  int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockWrite({handle, address, buffer, size, am, width, count, true, false});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_FIFOMBLTReadCycle(int32_t handle, uint32_t address, void* buffer,
                                                  int32_t size, AddressModifier am,
                                                  int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockRead({handle, address, buffer, size, am, D64, count, true, true});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_FIFOMBLTWriteCycle(int32_t handle, uint32_t address, void* buffer,
                                                   int32_t size, AddressModifier am,
                                                   int32_t* count) {
    return guarded([&]() -> ErrorCode {
        return blockWrite({handle, address, buffer, size, am, D64, count, true, true});
    });
}

}  // extern "C"
