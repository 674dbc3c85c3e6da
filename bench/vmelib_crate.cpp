#include "vmelib_crate.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace nimbra::bench {
namespace {

void sendAll(int fd, const void* data, size_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("send failed");
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
}

void receiveAll(int fd, void* data, size_t length) {
    auto* p = static_cast<uint8_t*>(data);
    while (length > 0) {
        ssize_t n = recv(fd, p, length, 0);
        if (n <= 0) {
            throw std::runtime_error("recv failed");
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

Crate::Crate() {
    char pattern[] = "/tmp/vmelib-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    process_ = std::make_unique<vmecrate::CrateProcess>(
        dir_, std::vector<std::string>{"--memory", "0x00100000:0x200000"});
    setenv("KOVRAVME_SIM_DIR", dir_.c_str(), 1);
}

Crate::~Crate() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

size_t bareExchange(const std::string& dir, const std::vector<uint8_t>& request, size_t replyBytes,
                    std::vector<uint8_t>& reply) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s/ezusb-0", dir.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error("connect failed");
    }
    uint32_t length = static_cast<uint32_t>(request.size());
    // One frame in one send, as the library sends it.
    std::vector<uint8_t> frame = {'W',
                                  0,
                                  uint8_t(length),
                                  uint8_t(length >> 8),
                                  uint8_t(length >> 16),
                                  uint8_t(length >> 24)};
    frame.insert(frame.end(), request.begin(), request.end());
    sendAll(fd, frame.data(), frame.size());
    reply.resize(replyBytes);
    size_t total = 0;
    while (total < replyBytes) {
        uint32_t piece = static_cast<uint32_t>(std::min<size_t>(61440, replyBytes - total));
        uint8_t ask[6] = {'R', 2, uint8_t(piece), uint8_t(piece >> 8), uint8_t(piece >> 16), 0};
        sendAll(fd, ask, sizeof(ask));
        uint8_t got[4];
        receiveAll(fd, got, sizeof(got));
        uint32_t n = got[0] | got[1] << 8 | got[2] << 16 | uint32_t(got[3]) << 24;
        receiveAll(fd, reply.data() + total, n);
        total += n;
        if (n < piece) {
            break;
        }
    }
    close(fd);
    return total;
}

struct timespec now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

double secondsSince(const struct timespec& start) {
    struct timespec end = now();
    return double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) * 1e-9;
}

}  // namespace nimbra::bench
