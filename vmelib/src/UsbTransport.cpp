#include "UsbTransport.h"

#include <cstring>
#include <memory>
#include <new>

#include "Request.h"

namespace kovravme {

long usbBulkRead(UsbDevice& device, uint8_t* data, size_t n) {
    size_t total = 0;
    while (total < n) {
        size_t piece = std::min(n - total, UsbDevice::kMaxTransfer);
        long got = device.bulkRead(UsbDevice::kReadPipe, data + total, piece);
        if (got < 0) {
            return got;
        }
        total += static_cast<size_t>(got);
        if (static_cast<size_t>(got) < piece) {
            break;
        }
    }
    return static_cast<long>(total);
}

bool usbSend(UsbDevice& device, const uint8_t* request, size_t length) {
    long written = device.bulkWrite(UsbDevice::kWritePipe, request, length);
    return written >= 0 && static_cast<size_t>(written) == length;
}

int usbExchange(UsbDevice& device, const uint8_t* request, size_t length, void* reply,
                size_t replySize, uint16_t* status) {
    if (!usbSend(device, request, length)) {
        return -1;
    }
    // The reply is read into an area two bytes longer than the caller's, for the status word,
    // which may end up anywhere once a bus error cuts the data short.
    constexpr size_t kSmallReply = 1024;
    uint8_t small[kSmallReply];
    std::unique_ptr<uint8_t[]> large;
    uint8_t* area = small;
    if (replySize + 2 > kSmallReply) {
        large.reset(new (std::nothrow) uint8_t[replySize + 2]);
        if (!large) {
            return -1;
        }
        area = large.get();
    }
    long received = usbBulkRead(device, area, replySize + 2);
    if (received < 2) {
        return -1;
    }
    size_t data = static_cast<size_t>(received) - 2;
    if (status != nullptr) {
        *status = readLe16(area + data);
    }
    if (data > 0) {
        std::memcpy(reply, area, data);
    }
    return static_cast<int>(data);
}

}  // namespace kovravme
