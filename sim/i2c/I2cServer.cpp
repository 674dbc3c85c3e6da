#include "i2c/I2cServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vmesim::i2c {

namespace {

// Reads exactly size bytes; false when the client left (or the server stops).
bool receiveAll(int fd, uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::recv(fd, out + done, size - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

I2cServer::I2cServer(I2cBench& bench, std::string socketPath)
    : bench_(bench), socketPath_(std::move(socketPath)) {}

I2cServer::~I2cServer() {
    stop();
}

void I2cServer::start() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof(address.sun_path)) {
        throw std::runtime_error("socket path too long: " + socketPath_);
    }
    std::strcpy(address.sun_path, socketPath_.c_str());
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_, SOMAXCONN) != 0) {
        std::string reason = std::strerror(errno);
        stop();
        throw std::runtime_error("cannot listen on " + socketPath_ + ": " + reason);
    }
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void I2cServer::stop() {
    if (acceptThread_.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof(one));
        acceptThread_.join();
    }
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_) {
            ::shutdown(c.fd, SHUT_RDWR);
        }
    }
    for (auto& c : connections_) {
        if (c.thread.joinable()) {
            c.thread.join();
        }
        ::close(c.fd);
    }
    connections_.clear();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketPath_.c_str());
        listenFd_ = -1;
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
}

void I2cServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The waiting connection keeps the socket readable: rest instead of spinning
                // until ending connections give descriptors back.
                pollfd stop{stopFd_, POLLIN, 0};
                ::poll(&stop, 1, 100);
            }
            continue;
        }
        std::unique_lock lock(mutex_);
        reapEnded();
        // Clients that have just left may not have ended their threads yet: give them a moment
        // before a new opening is refused.
        for (int wait = 0; wait < 20 && connections_.size() >= size_t(kMaxConnections); ++wait) {
            lock.unlock();
            pollfd stop{stopFd_, POLLIN, 0};
            ::poll(&stop, 1, 10);
            lock.lock();
            reapEnded();
        }
        if (connections_.size() >= static_cast<size_t>(kMaxConnections)) {
            ::close(fd);  // too many openings at once: this one is refused
            continue;
        }
        Connection& c = connections_.emplace_back();
        c.fd = fd;
        c.thread = std::thread([this, &c] {
            serve(c.fd);
            c.done = true;
        });
    }
}

void I2cServer::reapEnded() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->done) {
            it->thread.join();
            ::close(it->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void I2cServer::serve(int fd) {
    for (;;) {
        uint8_t kind = 0;
        uint8_t flags = 0;
        if (!receiveAll(fd, &kind, 1) || !receiveAll(fd, &flags, 1)) {
            return;
        }
        if (kind == 'W') {
            uint8_t length[2];
            if (!receiveAll(fd, length, 2)) {
                return;
            }
            std::vector<uint8_t> bytes(size_t(length[0] | length[1] << 8));
            if (bytes.empty() || !receiveAll(fd, bytes.data(), bytes.size())) {
                return;
            }
            auto result = bench_.write(bytes, flags & 1);
            if (!sendAll(fd, {uint8_t(result)})) {
                return;
            }
        } else if (kind == 'R') {
            uint8_t header[3];
            if (!receiveAll(fd, header, 3)) {
                return;
            }
            std::vector<uint8_t> data;
            auto result = bench_.read(header[0], size_t(header[1] | header[2] << 8), data);
            std::vector<uint8_t> reply{uint8_t(result)};
            if (result == I2cBench::kAck) {
                reply.insert(reply.end(), data.begin(), data.end());
            }
            if (!sendAll(fd, reply)) {
                return;
            }
        } else {
            return;  // not a frame of this socket: drop the client
        }
    }
}

}  // namespace vmesim::i2c
