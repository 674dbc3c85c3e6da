#include "card/CardServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vmesim {

namespace {

bool readAll(int fd, void* data, size_t size) {
    auto* out = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, out, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

class Answer {
  public:
    explicit Answer(uint32_t status) { u32(status); }
    Answer& u8(uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    Answer& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
    Answer& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
    }
    bool send(int fd) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    std::vector<uint8_t> bytes;
};

struct Reader {
    int fd;
    bool ok = true;
    uint8_t u8() {
        uint8_t b = 0;
        ok = ok && readAll(fd, &b, 1);
        return b;
    }
    uint16_t u16() {
        uint8_t b[2] = {};
        ok = ok && readAll(fd, b, 2);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }
    uint32_t u32() {
        uint8_t b[4] = {};
        ok = ok && readAll(fd, b, 4);
        return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
};

constexpr uint8_t kDriverMajor = 6;
constexpr uint8_t kDriverMinor = 1;
constexpr uint8_t kDriverRevision = 0;

// How long the rest of a message may take once its opcode has arrived, and an answer may wait
// for the client to take it: a client stuck half-way must not hold a worker for ever.
constexpr std::chrono::seconds kMessageTimeout{5};
// How long accepting rests when the process has no descriptor left.
constexpr std::chrono::milliseconds kAcceptPause{100};

}  // namespace

CardServer::CardServer(PciCard& card, std::string path, std::chrono::milliseconds idleLimit)
    : card_(card), path_(std::move(path)), idleLimit_(idleLimit) {}

CardServer::~CardServer() {
    stop();
}

bool CardServer::start() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    ::unlink(path_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        return false;
    }
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        int error = errno;
        ::close(listenFd_);
        listenFd_ = -1;
        errno = error;
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        int error = errno;
        ::close(listenFd_);
        listenFd_ = -1;
        errno = error;
        return false;
    }
    started_ = true;
    pollThread_ = std::thread([this] { pollLoop(); });
    return true;
}

void CardServer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!started_ || stopping_) {
            return;
        }
        stopping_ = true;
        // Workers blocked in a read return at once.
        for (auto& [fd, c] : connections_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    work_.notify_all();
    wake();
    card_.shutdown();  // ends the notification waits
    pollThread_.join();
    for (auto& worker : workers_) {
        worker.join();
    }
    workers_.clear();
    for (auto& [fd, c] : connections_) {
        end(*c);
    }
    connections_.clear();
    queue_.clear();
    ::close(listenFd_);
    ::unlink(path_.c_str());
    ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

uint64_t CardServer::acceptPauses() const {
    std::lock_guard lock(mutex_);
    return acceptPauses_;
}

uint64_t CardServer::idleClosed() const {
    std::lock_guard lock(mutex_);
    return idleClosed_;
}

void CardServer::wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof(one));
}

void CardServer::pollLoop() {
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<Connection>> polled;
    for (;;) {
        const auto now = Clock::now();
        auto deadline = Clock::time_point::max();
        fds.clear();
        polled.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            const bool accepting = now >= acceptPausedUntil_;
            fds.push_back({accepting ? listenFd_ : -1, POLLIN, 0});
            if (!accepting) {
                deadline = acceptPausedUntil_;
            }
            for (auto it = connections_.begin(); it != connections_.end();) {
                auto& c = it->second;
                if (c->busy) {
                    ++it;
                    continue;
                }
                if (c->opener == 0 && idleLimit_.count() > 0) {
                    if (now - c->lastActive >= idleLimit_) {
                        ++idleClosed_;
                        end(*c);
                        it = connections_.erase(it);
                        continue;
                    }
                    deadline = std::min(deadline, c->lastActive + idleLimit_);
                }
                fds.push_back({c->fd, POLLIN, 0});
                polled.push_back(c);
                ++it;
            }
        }
        int timeoutMs = -1;
        if (deadline != Clock::time_point::max()) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 1, 60000));
        }
        int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof(count));
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        if (fds[1].revents != 0) {
            acceptAll(Clock::now());
        }
        for (size_t i = 0; i < polled.size(); ++i) {
            if (fds[i + 2].revents == 0) {
                continue;
            }
            // A message (or the end of the connection) is waiting: a worker takes it.
            polled[i]->busy = true;
            queue_.push_back(polled[i]);
            if (static_cast<int>(queue_.size()) > idleWorkers_ &&
                static_cast<int>(workers_.size()) < kMaxWorkers) {
                workers_.emplace_back([this] { workerLoop(); });
            } else {
                work_.notify_one();
            }
        }
    }
}

void CardServer::acceptAll(Clock::time_point now) {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The waiting connection keeps the socket readable: rest instead of spinning.
                ++acceptPauses_;
                acceptPausedUntil_ = now + kAcceptPause;
            }
            return;
        }
        const auto messageLimit =
            idleLimit_.count() > 0
                ? std::min<std::chrono::milliseconds>(idleLimit_, kMessageTimeout)
                : std::chrono::milliseconds(kMessageTimeout);
        timeval limit{static_cast<time_t>(messageLimit.count() / 1000),
                      static_cast<suseconds_t>(messageLimit.count() % 1000 * 1000)};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        auto c = std::make_shared<Connection>();
        c->fd = fd;
        c->lastActive = now;
        connections_[fd] = std::move(c);
    }
}

void CardServer::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        --idleWorkers_;
        if (stopping_) {
            return;
        }
        auto c = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const bool alive = serveOne(*c);
        lock.lock();
        if (alive && !stopping_) {
            c->busy = false;
            c->lastActive = Clock::now();
        } else if (!stopping_) {
            const int fd = c->fd;
            end(*c);
            connections_.erase(fd);
        }
        wake();
    }
}

void CardServer::end(Connection& c) {
    if (c.opener != 0) {
        card_.close(c.opener);
        c.opener = 0;
    }
    if (c.fd >= 0) {
        ::close(c.fd);
        c.fd = -1;
    }
}

bool CardServer::serveOne(Connection& c) {
    const int fd = c.fd;
    Reader in{fd};
    uint32_t& opener = c.opener;
    auto opened = [&] { return opener != 0; };
    {
        uint8_t op = in.u8();
        if (!in.ok) {
            return false;
        }
        Answer answer(PciCard::kSuccess);
        switch (op) {
            case 'I': {
                std::string serial = card_.serial();
                answer.u8(PciCard::kBus)
                    .u8(card_.slot())
                    .u16(PciCard::kDeviceId)
                    .u16(PciCard::kVendorId)
                    .u8(static_cast<uint8_t>(serial.size()));
                answer.bytes.insert(answer.bytes.end(), serial.begin(), serial.end());
                break;
            }
            case 'C': {
                uint16_t offset = in.u16();
                uint32_t value = 0;
                PciCard::Status status = card_.configRead(offset, value);
                answer = Answer(status);
                if (status == PciCard::kSuccess) {
                    answer.u32(value);
                }
                break;
            }
            case 'O':
                if (opened()) {
                    answer = Answer(PciCard::kFailed);
                } else {
                    opener = card_.open();
                    answer.u32(opener);
                }
                break;
            case 'w': {
                uint32_t space = in.u32(), address = in.u32(), value = in.u32();
                answer = Answer(opened() ? card_.iopWrite(opener, space, address, value)
                                         : PciCard::kInvalidHandle);
                break;
            }
            case 'r': {
                uint32_t space = in.u32(), address = in.u32(), value = 0;
                PciCard::Status status = opened() ? card_.iopRead(opener, space, address, value)
                                                  : PciCard::kInvalidHandle;
                answer = Answer(status);
                if (status == PciCard::kSuccess) {
                    answer.u32(value);
                }
                break;
            }
            case 'D': {
                uint32_t channel = in.u32();
                in.u32();  // the descriptor's mode word: the simulated engine has one mode
                answer =
                    Answer(opened() ? card_.dmaOpen(opener, channel) : PciCard::kInvalidHandle);
                break;
            }
            case 'T': {
                uint32_t channel = in.u32(), local = in.u32(), bytes = in.u32();
                std::vector<uint8_t> data;
                PciCard::Status status =
                    opened() ? card_.dmaTransfer(opener, channel, local, bytes, data)
                             : PciCard::kInvalidHandle;
                answer = Answer(status);
                if (status == PciCard::kSuccess) {
                    answer.u32(static_cast<uint32_t>(data.size()));
                    answer.bytes.insert(answer.bytes.end(), data.begin(), data.end());
                }
                break;
            }
            case 'N': {
                uint32_t sources = in.u32();
                answer = Answer(opened() ? card_.registerNotification(opener, sources)
                                         : PciCard::kInvalidHandle);
                break;
            }
            case 'X':
                answer =
                    Answer(opened() ? card_.cancelNotification(opener) : PciCard::kInvalidHandle);
                break;
            case 'E': {
                uint32_t sources = in.u32();
                in.u32();
                answer = Answer(opened() ? card_.enableInterrupts(opener, sources)
                                         : PciCard::kInvalidHandle);
                break;
            }
            case 'S': {
                uint32_t sources = 0;
                PciCard::Status status =
                    opened() ? card_.interruptStatus(opener, sources) : PciCard::kInvalidHandle;
                answer = Answer(status);
                if (status == PciCard::kSuccess) {
                    answer.u32(sources).u32(0);
                }
                break;
            }
            case 'V':
                if (!opened()) {
                    answer = Answer(PciCard::kInvalidHandle);
                } else {
                    answer.u8(kDriverMajor).u8(kDriverMinor).u8(kDriverRevision);
                }
                break;
            case 'A': {
                uint32_t waitFor = in.u32(), timeoutMs = in.u32();
                if (!in.ok) {
                    break;
                }
                answer = Answer(card_.waitNotification(waitFor, timeoutMs));
                break;
            }
            case 'K':
                card_.dropNextReplies(in.u32());
                break;
            case 'L': {
                uint32_t count = in.u32(), ms = in.u32();
                card_.delayNextReplies(count, ms);
                break;
            }
            case 'Q': {
                uint8_t board = in.u8(), level = in.u8();
                if (!card_.raiseInterrupt(board, level)) {
                    answer = Answer(PciCard::kFailed);
                }
                break;
            }
            default:
                return false;  // not our protocol: drop the connection
        }
        return in.ok && answer.send(fd);
    }
}

}  // namespace vmesim
