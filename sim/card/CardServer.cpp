#include "card/CardServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

}  // namespace

CardServer::CardServer(PciCard& card, std::string path) : card_(card), path_(std::move(path)) {}

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
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void CardServer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || listenFd_ < 0) {
            return;
        }
        stopping_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);
        for (int fd : clients_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    card_.shutdown();
    acceptThread_.join();
    ::close(listenFd_);
    ::unlink(path_.c_str());
    std::list<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) {
        worker->thread.join();
    }
}

void CardServer::acceptLoop() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        reapFinished();
        clients_.insert(fd);
        auto worker = std::make_unique<Worker>();
        Worker* self = worker.get();
        worker->thread = std::thread([this, fd, self] {
            serve(fd);
            {
                std::lock_guard guard(mutex_);
                clients_.erase(fd);
            }
            ::close(fd);
            self->done = true;
        });
        workers_.push_back(std::move(worker));
    }
}

void CardServer::reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CardServer::serve(int fd) {
    Reader in{fd};
    uint32_t opener = 0;  // set once the connection opened the card
    auto opened = [&] { return opener != 0; };
    bool alive = true;
    while (alive) {
        uint8_t op = in.u8();
        if (!in.ok) {
            break;
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
                alive = false;  // not our protocol: drop the connection
                continue;
        }
        if (!in.ok || !answer.send(fd)) {
            break;
        }
    }
    if (opened()) {
        card_.close(opener);
    }
}

}  // namespace vmesim
