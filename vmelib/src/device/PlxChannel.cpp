#include "device/PlxChannel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "device/SocketTimeLimit.h"

namespace plx {

Message& Message::u8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

Message& Message::u16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
}

Message& Message::u32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes_.push_back(static_cast<uint8_t>(v >> shift));
    }
    return *this;
}

PlxChannel::~PlxChannel() {
    close();
}

bool PlxChannel::connect(const std::string& path, uint32_t extraMs) {
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return false;
    }
    uint64_t limit = static_cast<uint64_t>(kovravme::socketTimeLimitMs()) + extraMs;
    if (!kovravme::limitSocket(fd_, static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX)))) {
        close();
        return false;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close();
        return false;
    }
    return true;
}

void PlxChannel::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {

// Moves all `size` bytes, as many socket calls as it takes; `call(done)` moves some of the bytes
// from offset `done` on. A call cut short by a signal is made again.
template <typename Call>
bool moveAll(size_t size, Call call) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = call(done);
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

}  // namespace

bool PlxChannel::send(const Message& message) {
    const auto& bytes = message.bytes();
    return moveAll(bytes.size(), [&](size_t done) {
        return ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    });
}

bool PlxChannel::receive(void* data, size_t size) {
    auto* out = static_cast<uint8_t*>(data);
    return moveAll(size, [&](size_t done) { return ::recv(fd_, out + done, size - done, 0); });
}

bool PlxChannel::receiveU16(uint16_t& v) {
    uint8_t b[2];
    if (!receive(b, sizeof b)) {
        return false;
    }
    v = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
}

bool PlxChannel::receiveU32(uint32_t& v) {
    uint8_t b[4];
    if (!receive(b, sizeof b)) {
        return false;
    }
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
        static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
}

namespace {

const char* simDir() {
    const char* dir = std::getenv("KOVRAVME_SIM_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : nullptr;
}

constexpr const char* kSocketPrefix = "pci9054-";

}  // namespace

std::string cardSocketPath(int link) {
    const char* dir = simDir();
    if (dir == nullptr) {
        return {};
    }
    return std::string(dir) + "/" + kSocketPrefix + std::to_string(link);
}

std::vector<std::string> cardSocketPaths() {
    std::vector<std::pair<long, std::string>> found;
    const char* dir = simDir();
    if (dir == nullptr) {
        return {};
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kSocketPrefix, 0) != 0) {
            continue;
        }
        std::string digits = name.substr(std::strlen(kSocketPrefix));
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit)) {
            continue;
        }
        found.emplace_back(std::strtol(digits.c_str(), nullptr, 10), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [link, path] : found) {
        paths.push_back(path);
    }
    return paths;
}

}  // namespace plx
