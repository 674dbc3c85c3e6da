#include <algorithm>

#include "CApiGuard.h"
#include "HandleTable.h"
#include "KOVRAVMElib.h"
#include "Request.h"
#include "Session.h"

using namespace kovravme;

namespace {

// Cycles per exchange, and the buffers one group's request and reply fit in.
constexpr int32_t kGroupCycles = 100;
constexpr size_t kListReplySize = 600;

struct ListArguments {
    int32_t handle;
    uint32_t* addresses;
    uint32_t* data;
    int32_t n;
    AddressModifier* ams;
    DataWidth* widths;
    ErrorCode* results;
    bool read;
};

ErrorCode runList(const ListArguments& a) {
    if (refusesVmeCycles(a.handle)) {
        return InvalidParam;
    }
    if (a.n < 0 || (a.n > 0 && (a.addresses == nullptr || a.data == nullptr || a.ams == nullptr ||
                                a.widths == nullptr || a.results == nullptr))) {
        return InvalidParam;
    }
    ErrorCode overall = Success;
    // 64-bit steps: a count near the 32-bit limit must not wrap the group start.
    for (int64_t first = 0; first < a.n; first += kGroupCycles) {
        auto count = static_cast<int32_t>(std::min<int64_t>(kGroupCycles, a.n - first));
        Width widths[kGroupCycles];
        Request request;
        for (int32_t i = 0; i < count; ++i) {
            int64_t k = first + i;
            auto width = decodeWidth(a.widths[k], false);
            // Groups already sent stay done.
            if (!width) {
                return InvalidParam;
            }
            widths[i] = *width;
            request.word(vmeCommand(a.read, a.ams[k], *width, kOpSingle, i == count - 1))
                .dword(a.addresses[k]);
            if (!a.read) {
                request.cycleData(a.addresses[k], *width, a.data[k]);
            }
        }
        uint8_t reply[kListReplySize];
        uint16_t status = 0;
        int received = transact(a.handle, request, reply, sizeof(reply), &status);
        if (received < 0) {
            return CommError;
        }
        // Walk the reply entry by entry: read data (lists of reads), then the entry's status
        // word; the last entry's status is the exchange's.
        size_t offset = 0;
        for (int32_t i = 0; i < count; ++i) {
            int64_t k = first + i;
            size_t field = a.read ? replyFieldBytes(widths[i]) : 0;
            bool last = i == count - 1;
            if (offset + field + (last ? 0 : 2) > static_cast<size_t>(received)) {
                return CommError;
            }
            if (a.read) {
                a.data[k] = cycleValue(reply + offset, a.addresses[k], widths[i]);
                offset += field;
            }
            uint16_t entryStatus = status;
            if (!last) {
                entryStatus = readLe16(reply + offset);
                offset += 2;
            }
            a.results[k] = (entryStatus & kStatusBusError) ? BusError : Success;
            if (a.results[k] == BusError) {
                overall = BusError;
            }
        }
    }
    return overall;
}

}  // namespace

extern "C" {

KOVRAVME_API ErrorCode KOVRAVME_MultiRead(int32_t handle, uint32_t* addresses, uint32_t* data,
                                          int32_t n, AddressModifier* ams, DataWidth* widths,
                                          ErrorCode* results) {
    return guarded([&]() -> ErrorCode {
        return runList({handle, addresses, data, n, ams, widths, results, true});
    });
}

KOVRAVME_API ErrorCode KOVRAVME_MultiWrite(int32_t handle, uint32_t* addresses, uint32_t* data,
                                           int32_t n, AddressModifier* ams, DataWidth* widths,
                                           ErrorCode* results) {
    return guarded([&]() -> ErrorCode {
        return runList({handle, addresses, data, n, ams, widths, results, false});
    });
}

}  // extern "C"
