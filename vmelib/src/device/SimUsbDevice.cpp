#include "device/SimUsbDevice.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "device/SocketTimeLimit.h"

namespace kovravme {
namespace {

// Sends every byte of the gathered buffers; false on any error (the peer closing included).
bool sendAll(int fd, iovec* parts, int count) {
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        auto left = static_cast<size_t>(sent);
        while (count > 0 && left >= parts->iov_len) {
            left -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

bool receiveAll(int fd, void* data, size_t length) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (length > 0) {
        ssize_t got = recv(fd, bytes, length, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

void putLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::unique_ptr<UsbDevice> SimUsbDevice::open(const std::string& dir, int boardNumber) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir + "/ezusb-" + std::to_string(boardNumber);
    if (boardNumber < 0 || path.size() >= sizeof(address.sun_path)) {
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    // A crate that stopped answering fails the exchange after the limit instead of holding it.
    if (!limitSocket(fd, socketTimeLimitMs())) {
        ::close(fd);
        return nullptr;
    }
    int result;
    do {
        result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<UsbDevice>(new SimUsbDevice(fd));
}

SimUsbDevice::~SimUsbDevice() {
    close();
}

long SimUsbDevice::bulkWrite(int pipe, const void* data, size_t length) {
    if (fd_ < 0 || length > UINT32_MAX) {
        return -EBADF;
    }
    uint8_t header[6] = {'W', static_cast<uint8_t>(pipe)};
    putLe32(header + 2, static_cast<uint32_t>(length));
    iovec parts[2] = {{header, sizeof(header)}, {const_cast<void*>(data), length}};
    if (!sendAll(fd_, parts, length > 0 ? 2 : 1)) {
        return -EIO;
    }
    return static_cast<long>(length);
}

long SimUsbDevice::bulkRead(int pipe, void* data, size_t maximum) {
    if (fd_ < 0) {
        return -EBADF;
    }
    if (maximum > kMaxTransfer) {
        maximum = kMaxTransfer;
    }
    uint8_t header[6] = {'R', static_cast<uint8_t>(pipe)};
    putLe32(header + 2, static_cast<uint32_t>(maximum));
    iovec part = {header, sizeof(header)};
    uint8_t lengthBytes[4];
    if (!sendAll(fd_, &part, 1) || !receiveAll(fd_, lengthBytes, sizeof(lengthBytes))) {
        return -EIO;
    }
    uint32_t length = lengthBytes[0] | lengthBytes[1] << 8 | lengthBytes[2] << 16 |
                      static_cast<uint32_t>(lengthBytes[3]) << 24;
    // A device never hands back more than it was asked for; a peer that does is broken.
    if (length > maximum || !receiveAll(fd_, data, length)) {
        return -EIO;
    }
    return static_cast<long>(length);
}

bool SimUsbDevice::close() {
    if (fd_ < 0) {
        return true;
    }
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

}  // namespace kovravme
