#include "i2c/backends/LinuxI2cBackend.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "i2c/I2cBus.h"

namespace tarvo {

namespace {

int32_t statusOfErrno(int error) {
    switch (error) {
        case ENXIO:
            return kI2cAddressNack;
        case EREMOTEIO:
            return kI2cDataNack;
        case ETIMEDOUT:
            return kI2cTimeout;
        default:
            return kI2cIoError;
    }
}

// i2c-dev cannot end a write without a stop on its own: I2C_RDWR runs its messages with
// repeated starts between them and one stop at the end. So a write without stop is held back
// and sent in one I2C_RDWR with the read that follows it, which is the pair the chips expect.
class LinuxI2cLink : public I2cLink {
  public:
    explicit LinuxI2cLink(int fd) : fd_(fd) {}
    ~LinuxI2cLink() override { ::close(fd_); }

    int32_t write(std::span<const uint8_t> bytes, bool stop) override {
        if (bytes.empty()) {
            return kI2cBufferSize;
        }
        if (int32_t status = flushPending(); status != kI2cSuccess) {
            return status;
        }
        pending_.assign(bytes.begin(), bytes.end());
        return stop ? flushPending() : kI2cSuccess;
    }

    int32_t read(uint8_t addressByte, std::span<uint8_t> buffer) override {
        i2c_msg messages[2]{};
        unsigned count = 0;
        if (!pending_.empty()) {
            messages[count++] = message(pending_);
        }
        messages[count].addr = uint16_t(addressByte >> 1);
        messages[count].flags = I2C_M_RD;
        messages[count].len = uint16_t(buffer.size());
        messages[count].buf = buffer.data();
        ++count;
        int32_t status = transfer(messages, count);
        pending_.clear();
        return status;
    }

  private:
    static i2c_msg message(std::vector<uint8_t>& bytes) {
        i2c_msg m{};
        m.addr = uint16_t(bytes[0] >> 1);
        m.flags = 0;
        m.len = uint16_t(bytes.size() - 1);
        m.buf = bytes.data() + 1;
        return m;
    }

    int32_t flushPending() {
        if (pending_.empty()) {
            return kI2cSuccess;
        }
        i2c_msg m = message(pending_);
        int32_t status = transfer(&m, 1);
        pending_.clear();
        return status;
    }

    int32_t transfer(i2c_msg* messages, unsigned count) {
        i2c_rdwr_ioctl_data data{messages, count};
        if (::ioctl(fd_, I2C_RDWR, &data) < 0) {
            return statusOfErrno(errno);
        }
        return kI2cSuccess;
    }

    int fd_;
    std::vector<uint8_t> pending_;
};

std::string firstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

}  // namespace

LinuxI2cBackend::LinuxI2cBackend(std::string devDir, std::string sysDir)
    : devDir_(std::move(devDir)), sysDir_(std::move(sysDir)) {}

int32_t LinuxI2cBackend::list(std::vector<AdapterEntry>& entries) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<std::pair<int, AdapterEntry>> found;
    for (const auto& item : fs::directory_iterator(sysDir_, error)) {
        std::string id = item.path().filename().string();
        int number = -1;
        size_t used = 0;
        if (id.rfind("i2c-", 0) != 0) {
            continue;
        }
        try {
            number = std::stoi(id.substr(4), &used);
        } catch (const std::exception&) {
            continue;
        }
        if (used != id.size() - 4 || number < 0 || !fs::exists(fs::path(devDir_) / id, error)) {
            continue;
        }
        std::string name = firstLine(item.path() / "name");
        AdapterEntry entry{id, name.empty() ? id : name, number, "", "i2c-dev"};
        found.emplace_back(number, std::move(entry));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [number, entry] : found) {
        entries.push_back(std::move(entry));
    }
    return error && error != std::errc::no_such_file_or_directory ? kI2cIoError : kI2cSuccess;
}

int32_t LinuxI2cBackend::open(const AdapterEntry& entry, uint32_t&,
                              std::unique_ptr<I2cLink>& link) {
    if (entry.id.rfind("i2c-", 0) != 0 || entry.id.find('/') != std::string::npos) {
        return kI2cDeviceNotFound;
    }
    std::string path = devDir_ + "/" + entry.id;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? kI2cDeviceNotFound : kI2cDeviceOpenFailed;
    }
    unsigned long functions = 0;
    if (::ioctl(fd, I2C_FUNCS, &functions) < 0 || !(functions & I2C_FUNC_I2C)) {
        ::close(fd);
        return kI2cNotI2cAdapter;
    }
    ::ioctl(fd, I2C_TIMEOUT, 10);  // in units of 10 ms: the 100 ms acknowledge time-out
    link = std::make_unique<LinuxI2cLink>(fd);
    return kI2cSuccess;
}

}  // namespace tarvo
