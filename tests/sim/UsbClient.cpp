#include "UsbClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace vmesim::test {

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(uint8_t(v));
    }
    return out;
}

std::string hex(const Bytes& data) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : data) {
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    }
    return text;
}

UsbClient::UsbClient(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close();
        throw std::runtime_error("cannot connect to " + socketPath);
    }
}

UsbClient::~UsbClient() {
    close();
}

void UsbClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void UsbClient::sendRaw(const Bytes& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("send failed");
        }
        sent += size_t(n);
    }
}

void UsbClient::bulkWrite(const Bytes& request, uint8_t pipe) {
    uint32_t n = uint32_t(request.size());
    Bytes frame = {'W', pipe, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    frame.insert(frame.end(), request.begin(), request.end());
    sendRaw(frame);
}

static void receiveAll(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t got = ::recv(fd, p, n, 0);
        if (got <= 0) {
            throw std::runtime_error("connection closed by the simulator");
        }
        p += got;
        n -= size_t(got);
    }
}

Bytes UsbClient::bulkRead(uint32_t maximum, uint8_t pipe) {
    sendRaw({'R', pipe, uint8_t(maximum), uint8_t(maximum >> 8), uint8_t(maximum >> 16),
             uint8_t(maximum >> 24)});
    uint8_t header[4];
    receiveAll(fd_, header, 4);
    uint32_t n = header[0] | header[1] << 8 | header[2] << 16 | uint32_t(header[3]) << 24;
    Bytes data(n);
    receiveAll(fd_, data.data(), n);
    return data;
}

Bytes UsbClient::exchange(const Bytes& request) {
    bulkWrite(request);
    Bytes reply;
    for (;;) {
        Bytes piece = bulkRead(61440);
        reply.insert(reply.end(), piece.begin(), piece.end());
        if (piece.size() < 61440) {
            return reply;
        }
    }
}

bool UsbClient::peerClosed() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1) {
        return false;
    }
    char c;
    return ::recv(fd_, &c, 1, MSG_DONTWAIT) == 0;
}

}  // namespace vmesim::test
