#include "UsbServer.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vmesim {

namespace {

constexpr uint8_t kBulkWrite = 'W';
constexpr uint8_t kBulkRead = 'R';
constexpr uint8_t kWritePipe = 0;
constexpr uint8_t kReadPipe = 2;
constexpr size_t kFrameHeader = 6;  // kind, pipe, 32-bit length
constexpr uint32_t kMaxRead = 61440;
// Far above any request the library builds (a 1 MiB block read is 18 headers, a write chunk
// 61448 bytes); larger lengths are taken as a broken frame.
constexpr uint32_t kMaxRequest = 16u << 20;
// How long accepting rests when the process has no descriptor left: connections that end in the
// meantime give some back.
constexpr std::chrono::milliseconds kAcceptPause{100};

uint32_t load32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A byte buffer consumed from the front.
struct ByteQueue {
    std::vector<uint8_t> bytes;
    size_t head = 0;

    size_t size() const { return bytes.size() - head; }
    const uint8_t* data() const { return bytes.data() + head; }
    void consume(size_t n) {
        head += n;
        if (head == bytes.size()) {
            bytes.clear();
            head = 0;
        } else if (head > 65536 && head > bytes.size() / 2) {
            bytes.erase(bytes.begin(), bytes.begin() + long(head));
            head = 0;
        }
    }
    void append(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
};

}  // namespace

struct UsbServer::Connection {
    int fd = -1;
    ByteQueue in;       // bytes received, not yet run
    ByteQueue replies;  // reply bytes queued for bulk reads
    ByteQueue out;      // bytes not yet accepted by the socket
    Clock::time_point readyAt{};
    Clock::time_point lastActive{};  // last bytes in or out, or the bridge's last answer
    bool watchingOutput = false;
    bool closed = false;
};

UsbServer::UsbServer(Bridge& bridge, TraceLog& trace, Settings settings)
    : bridge_(bridge), trace_(trace), settings_(std::move(settings)) {}

UsbServer::~UsbServer() {
    stop();
}

void UsbServer::start() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (settings_.socketPath.size() >= sizeof(address.sun_path)) {
        throw std::runtime_error("socket path too long: " + settings_.socketPath);
    }
    std::strcpy(address.sun_path, settings_.socketPath.c_str());
    ::unlink(settings_.socketPath.c_str());

    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_, SOMAXCONN) != 0) {
        std::string reason = std::strerror(errno);
        stop();
        throw std::runtime_error("cannot listen on " + settings_.socketPath + ": " + reason);
    }
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event);
    event.data.ptr = &stopFd_;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &event);
    thread_ = std::thread([this] { run(); });
}

void UsbServer::stop() {
    if (thread_.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof(one));
        thread_.join();
    }
    for (auto& c : connections_) {
        close(*c);
    }
    connections_.clear();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(settings_.socketPath.c_str());
        listenFd_ = -1;
    }
    if (epollFd_ >= 0) {
        ::close(epollFd_);
        epollFd_ = -1;
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
}

void UsbServer::run() {
    epoll_event events[64];
    for (;;) {
        int n = ::epoll_wait(epollFd_, events, 64, nextTimeoutMs());
        if (n < 0 && errno != EINTR) {
            return;
        }
        const auto now = Clock::now();
        if (acceptPaused_ && now >= acceptPausedUntil_) {
            acceptPaused_ = false;
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.ptr = nullptr;
            ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &event);
        }
        for (int i = 0; i < n; ++i) {
            void* tag = events[i].data.ptr;
            if (tag == &stopFd_) {
                return;
            }
            if (tag == nullptr) {
                acceptAll();
                continue;
            }
            auto& c = *static_cast<Connection*>(tag);
            if (c.closed) {
                continue;
            }
            if (events[i].events & EPOLLOUT) {
                if (!sendPending(c)) {
                    close(c);
                    continue;
                }
            }
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLRDHUP | EPOLLERR)) {
                receive(c);
            }
        }
        for (auto& c : connections_) {
            if (!c->closed && !serve(*c, false)) {
                close(*c);
            }
        }
        closeIdle(Clock::now());
        std::erase_if(connections_, [](const auto& c) { return c->closed; });
    }
}

void UsbServer::closeIdle(Clock::time_point now) {
    if (settings_.idleLimit.count() <= 0) {
        return;
    }
    for (auto& c : connections_) {
        // A reply held back by the delay is the server's wait, not the client's.
        const bool replyDue = c->in.size() > 0 && c->readyAt > now;
        if (!c->closed && !replyDue && now - c->lastActive >= settings_.idleLimit) {
            ++idleClosed_;
            close(*c);
        }
    }
}

void UsbServer::pauseAccepting() {
    ++acceptPauses_;
    acceptPaused_ = true;
    acceptPausedUntil_ = Clock::now() + kAcceptPause;
    // Level-triggered, the waiting connection would wake the loop at once, for ever.
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
}

int UsbServer::nextTimeoutMs() const {
    auto now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    if (acceptPaused_) {
        next = acceptPausedUntil_;
    }
    for (const auto& c : connections_) {
        if (c->closed) {
            continue;
        }
        if (c->in.size() > 0 && c->readyAt > now) {
            next = std::min(next, c->readyAt);
        } else if (settings_.idleLimit.count() > 0) {
            next = std::min(next, c->lastActive + settings_.idleLimit);
        }
    }
    if (next == Clock::time_point::max()) {
        return -1;
    }
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return int(std::max<long long>(wait, 1));
}

void UsbServer::acceptAll() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pauseAccepting();
            }
            return;
        }
        ++exchanges_;
        // A connection whose client has already closed belongs to an earlier exchange: run what
        // it left before this one starts, so requests keep their order. One whose client is still
        // there overlaps this exchange.
        bool overlaps = false;
        for (auto& other : connections_) {
            if (other->closed) {
                continue;
            }
            pollfd p{other->fd, POLLRDHUP, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                finish(*other);
            } else {
                overlaps = true;
            }
        }
        if (overlaps) {
            ++overlapping_;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->lastActive = Clock::now();
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.ptr = c.get();
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event);
        connections_.push_back(std::move(c));
    }
}

void UsbServer::receive(Connection& c) {
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::recv(c.fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            c.in.append(buffer, size_t(n));
            c.lastActive = Clock::now();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        // End of stream or a broken connection: the client is gone.
        finish(c);
        return;
    }
}

void UsbServer::finish(Connection& c) {
    if (c.closed) {
        return;
    }
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::recv(c.fd, buffer, sizeof(buffer), 0);
        if (n > 0) {
            c.in.append(buffer, size_t(n));
        } else if (!(n < 0 && errno == EINTR)) {
            break;
        }
    }
    serve(c, true);
    close(c);
}

bool UsbServer::serve(Connection& c, bool clientGone) {
    while (c.in.size() >= kFrameHeader) {
        if (!clientGone && Clock::now() < c.readyAt) {
            return true;  // the delayed reply is not readable yet
        }
        const uint8_t* frame = c.in.data();
        uint32_t length = load32(frame + 2);
        if (frame[0] == kBulkWrite && frame[1] == kWritePipe && length <= kMaxRequest) {
            if (c.in.size() < kFrameHeader + length) {
                return true;
            }
            std::span<const uint8_t> request(frame + kFrameHeader, length);
            auto reply = bridge_.process(request);
            if (!reply) {
                trace_.exchange(request, {});
                std::fprintf(stderr, "vmecrate-sim: %s: request of %u bytes not understood\n",
                             settings_.socketPath.c_str(), length);
                ++protocolErrors_;
                return false;
            }
            trace_.exchange(request, *reply);
            c.in.consume(kFrameHeader + length);
            // The time the bridge took is not the client's idleness.
            c.lastActive = Clock::now();
            c.replies.append(reply->data(), reply->size());
            if (!reply->empty() && settings_.delay.count() > 0) {
                c.readyAt = Clock::now() + settings_.delay;
            }
        } else if (frame[0] == kBulkRead && frame[1] == kReadPipe && length <= kMaxRead) {
            c.in.consume(kFrameHeader);
            if (clientGone) {
                continue;
            }
            uint32_t n = uint32_t(std::min<size_t>(length, c.replies.size()));
            uint8_t header[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
            c.out.append(header, 4);
            c.out.append(c.replies.data(), n);
            c.replies.consume(n);
            if (!sendPending(c)) {
                return false;
            }
        } else {
            std::fprintf(stderr, "vmecrate-sim: %s: broken frame (kind 0x%02x, pipe %u)\n",
                         settings_.socketPath.c_str(), frame[0], frame[1]);
            ++protocolErrors_;
            return false;
        }
    }
    return true;
}

bool UsbServer::sendPending(Connection& c) {
    while (c.out.size() > 0) {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.consume(size_t(n));
            c.lastActive = Clock::now();
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            watchOutput(c, true);
            return true;
        } else {
            return false;
        }
    }
    watchOutput(c, false);
    return true;
}

void UsbServer::watchOutput(Connection& c, bool on) {
    if (c.watchingOutput == on) {
        return;
    }
    c.watchingOutput = on;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (on ? uint32_t(EPOLLOUT) : 0u);
    event.data.ptr = &c;
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &event);
}

void UsbServer::close(Connection& c) {
    if (c.closed) {
        return;
    }
    c.closed = true;
    if (epollFd_ >= 0) {
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.fd, nullptr);
    }
    ::close(c.fd);
    c.fd = -1;
}

void UsbServer::addStats(std::map<std::string, uint64_t>& counts) const {
    counts["exchanges"] += exchanges_;
    counts["overlapping_exchanges"] += overlapping_;
    counts["protocol_errors"] += protocolErrors_;
    counts["accept_pauses"] += acceptPauses_;
    counts["idle_connections_closed"] += idleClosed_;
}

}  // namespace vmesim
