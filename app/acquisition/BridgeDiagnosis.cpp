#include "acquisition/BridgeDiagnosis.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "KOVRAVMElib.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// The ids of the bridge's USB interface chip, unless the environment names others (as the
// library reads them: decimal, 0x hex or 0 octal).
constexpr uint16_t kUsbVendorId = 0x04B4;
constexpr uint16_t kUsbProductId = 0x8613;

uint16_t usbId(const char* name, uint16_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0' || *text == '-') {
        return fallback;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 0);
    return errno == 0 && *end == '\0' && value <= 0xFFFF ? static_cast<uint16_t>(value) : fallback;
}

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string readLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string libraryResult(int32_t result) {
    return "the bridge library gave " +
           std::string(KOVRAVME_DecodeError(static_cast<ErrorCode>(result))) + " (" +
           std::to_string(result) + ")";
}

// Empty when the lock file can be used (or does not exist yet and can be made).
std::string lockProblem(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return "Lock file " + path + " is unusable: " + std::strerror(errno);
        }
        const std::string folder = fs::path(path).parent_path().string();
        if (access(folder.c_str(), W_OK | X_OK) != 0) {
            return "Lock file " + path + " cannot be made: " + std::strerror(errno);
        }
        return {};
    }
    if (S_ISLNK(st.st_mode)) {
        return "Lock file " + path + " is unusable: it is a symbolic link";
    }
    if (!S_ISREG(st.st_mode)) {
        return "Lock file " + path + " is unusable: it is not a regular file";
    }
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return "Lock file " + path + " is unusable: " + std::strerror(errno);
    }
    close(fd);
    return {};
}

std::string simProblem(const std::string& dir, int boardNumber) {
    const std::string socketPath = dir + "/ezusb-" + std::to_string(boardNumber);
    struct stat st {};
    if (stat(socketPath.c_str(), &st) != 0) {
        return "No virtual crate socket at " + socketPath + " (" + std::strerror(errno) + ")";
    }
    if (!S_ISSOCK(st.st_mode)) {
        return socketPath + " is not a socket";
    }
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path) {
        return "The socket path " + socketPath + " is too long";
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    int connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = errno;
    close(fd);
    if (connected != 0) {
        return "No virtual crate answers at " + socketPath + " (" + std::strerror(error) + ")";
    }
    return {};
}

std::string usbProblem(const BridgeDiagnosisInputs& in) {
    const std::string ids =
        "vendor id " + hex4(in.vendorId) + " and product id " + hex4(in.productId);
    std::error_code error;
    int found = 0;
    fs::path device;
    for (const auto& entry : fs::directory_iterator(in.usbDevices, error)) {
        if (readLine(entry.path() / "idVendor") == hex4(in.vendorId) &&
            readLine(entry.path() / "idProduct") == hex4(in.productId)) {
            if (found++ == in.boardNumber) {
                device = entry.path();
            }
        }
    }
    if (found == 0) {
        return "No USB bridge with " + ids + " is attached";
    }
    if (device.empty()) {
        return "USB bridge " + std::to_string(in.boardNumber) + " with " + ids +
               " is not attached (" + std::to_string(found) + " found)";
    }
    const std::string bus = readLine(device / "busnum");
    const std::string dev = readLine(device / "devnum");
    if (!bus.empty() && !dev.empty()) {
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(bus.c_str()),
                      std::atoi(dev.c_str()));
        if (access(node, R_OK | W_OK) != 0) {
            return "The USB bridge at " + std::string(node) +
                   " cannot be opened: " + std::strerror(errno);
        }
    }
    return {};
}

}  // namespace

std::string diagnoseBridgeFailure(const BridgeDiagnosisInputs& in) {
    if (in.simDir != nullptr && *in.simDir == '\0') {
        return "KOVRAVME_SIM_DIR is set but empty";
    }
    if (std::string lock = lockProblem(in.lockPath); !lock.empty()) {
        return lock;
    }
    if (in.bridgeKind == UsbBridge) {
        std::string why =
            in.simDir != nullptr ? simProblem(in.simDir, in.boardNumber) : usbProblem(in);
        if (!why.empty()) {
            return why;
        }
    }
    return "The bridge did not open: " + libraryResult(in.result);
}

BridgeDiagnosisInputs bridgeDiagnosisInputs(int32_t bridgeKind, int link, int boardNumber,
                                            int32_t result) {
    BridgeDiagnosisInputs in;
    in.bridgeKind = bridgeKind;
    in.link = link;
    in.boardNumber = boardNumber;
    in.result = result;
    in.simDir = std::getenv("KOVRAVME_SIM_DIR");
    // The library's handle lock for the kind and link.
    in.lockPath = "/tmp/KOVRAX4410_LCK_" + std::to_string(bridgeKind) + std::to_string(link);
    in.usbDevices = "/sys/bus/usb/devices";
    in.vendorId = usbId("KOVRAVME_USB_VID", kUsbVendorId);
    in.productId = usbId("KOVRAVME_USB_PID", kUsbProductId);
    return in;
}

}  // namespace tarvo
