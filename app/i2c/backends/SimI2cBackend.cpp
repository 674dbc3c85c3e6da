#include "i2c/backends/SimI2cBackend.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "i2c/I2cBus.h"

namespace tarvo {

namespace {

constexpr int kAnswerTimeoutMs = 2000;

// Reply status bytes of the socket.
constexpr uint8_t kAck = 0;
constexpr uint8_t kNackAddress = 1;
constexpr uint8_t kNackData = 2;

class SimI2cLink : public I2cLink {
  public:
    explicit SimI2cLink(int fd) : fd_(fd) {}
    ~SimI2cLink() override { ::close(fd_); }

    int32_t write(std::span<const uint8_t> bytes, bool stop) override {
        if (bytes.empty() || bytes.size() > 0xFFFF) {
            return kI2cBufferSize;
        }
        std::vector<uint8_t> frame{'W', uint8_t(stop ? 1 : 0), uint8_t(bytes.size()),
                                   uint8_t(bytes.size() >> 8)};
        frame.insert(frame.end(), bytes.begin(), bytes.end());
        uint8_t status = 0;
        if (!sendAll(frame) || !receiveAll(&status, 1)) {
            return kI2cIoError;
        }
        return statusOf(status);
    }

    int32_t read(uint8_t addressByte, std::span<uint8_t> buffer) override {
        if (buffer.size() > 0xFFFF) {
            return kI2cBufferSize;
        }
        std::vector<uint8_t> frame{'R', 1, addressByte, uint8_t(buffer.size()),
                                   uint8_t(buffer.size() >> 8)};
        uint8_t status = 0;
        if (!sendAll(frame) || !receiveAll(&status, 1)) {
            return kI2cIoError;
        }
        if (status != kAck) {
            return statusOf(status);
        }
        return receiveAll(buffer.data(), buffer.size()) ? kI2cSuccess : kI2cIoError;
    }

  private:
    static int32_t statusOf(uint8_t status) {
        switch (status) {
            case kAck:
                return kI2cSuccess;
            case kNackAddress:
                return kI2cAddressNack;
            case kNackData:
                return kI2cDataNack;
            default:
                return kI2cIoError;
        }
    }

    bool sendAll(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
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

    bool receiveAll(uint8_t* out, size_t size) {
        size_t done = 0;
        while (done < size) {
            pollfd p{fd_, POLLIN, 0};
            int ready = ::poll(&p, 1, kAnswerTimeoutMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return false;
            }
            ssize_t n = ::recv(fd_, out + done, size - done, 0);
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

    int fd_;
};

}  // namespace

SimI2cBackend::SimI2cBackend() {
    if (const char* dir = std::getenv("KOVRAVME_SIM_DIR")) {
        dir_ = dir;
    }
}

SimI2cBackend::SimI2cBackend(std::string dir) : dir_(std::move(dir)) {}

std::string SimI2cBackend::socketPath() const {
    return dir_ + "/i2c-0";
}

int32_t SimI2cBackend::list(std::vector<AdapterEntry>& entries) {
    struct stat info {};
    if (dir_.empty() || ::stat(socketPath().c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return kI2cSuccess;
    }
    entries.push_back({"sim", "Virtual crate I2C", 0, "A", "sim"});
    return kI2cSuccess;
}

int32_t SimI2cBackend::open(const AdapterEntry&, uint32_t&, std::unique_ptr<I2cLink>& link) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = socketPath();
    if (path.size() >= sizeof(address.sun_path)) {
        return kI2cDeviceNotFound;
    }
    std::strcpy(address.sun_path, path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kI2cDeviceOpenFailed;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        int error = errno;
        ::close(fd);
        return error == ENOENT ? kI2cDeviceNotFound : kI2cDeviceOpenFailed;
    }
    // The virtual bus runs at whatever clock is asked, so clockHz stays as requested.
    link = std::make_unique<SimI2cLink>(fd);
    return kI2cSuccess;
}

}  // namespace tarvo
