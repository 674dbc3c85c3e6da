#include "instruments/FdInstrument.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo {
namespace {

constexpr std::chrono::milliseconds kWriteTimeout{2000};

std::string systemError(int code) {
    return std::strerror(code);
}

bool waitWritable(int fd, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLOUT, 0};
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

speed_t speedFor(unsigned baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B0;
    }
}

}  // namespace

FdInstrument::FdInstrument(int fd, bool socket, std::chrono::milliseconds timeout)
    : fd_(fd), socket_(socket), timeout_(timeout) {}

FdInstrument::~FdInstrument() {
    ::close(fd_);
}

bool FdInstrument::write(const std::string& text, std::string& error) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = socket_ ? ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL)
                            : ::write(fd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitWritable(fd_, timeout_)) {
                error =
                    "the instrument took no data for " + std::to_string(timeout_.count()) + " ms";
                return false;
            }
            continue;
        }
        error = n == 0 ? std::string("the instrument took no data") : systemError(errno);
        return false;
    }
    return true;
}

std::unique_ptr<Instrument> connectSocket(const SocketResource& resource,
                                          std::chrono::milliseconds timeout, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(resource.port);
    if (int rc = ::getaddrinfo(resource.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + resource.host + ": " + gai_strerror(rc);
        return nullptr;
    }
    error = "no address for " + resource.host;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            error = systemError(errno);
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            if (!waitWritable(fd, timeout)) {
                error = "no connection within " + std::to_string(timeout.count()) + " ms";
                ::close(fd);
                continue;
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            rc = soError == 0 ? 0 : -1;
            errno = soError;
        }
        if (rc != 0) {
            error = systemError(errno);
            ::close(fd);
            continue;
        }
        ::freeaddrinfo(found);
        return std::make_unique<FdInstrument>(fd, true, kWriteTimeout);
    }
    ::freeaddrinfo(found);
    return nullptr;
}

std::unique_ptr<Instrument> openSerial(const SerialResource& resource, std::string& error) {
    const speed_t speed = speedFor(resource.baud);
    if (speed == B0) {
        error = "unsupported baud rate " + std::to_string(resource.baud);
        return nullptr;
    }
    int fd = ::open(resource.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = resource.device + ": " + systemError(errno);
        return nullptr;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        error = resource.device + ": not a serial port (" + systemError(errno) + ")";
        ::close(fd);
        return nullptr;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static constexpr tcflag_t kSize[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSize[resource.dataBits - 5] | CLOCAL | CREAD;
    if (resource.parity != 'N') {
        tio.c_cflag |= PARENB | (resource.parity == 'O' ? PARODD : 0);
    }
    if (resource.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = resource.device + ": " + systemError(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FdInstrument>(fd, false, kWriteTimeout);
}

std::unique_ptr<Instrument> openDeviceFile(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + systemError(errno);
        return nullptr;
    }
    return std::make_unique<FdInstrument>(fd, false, kWriteTimeout);
}

}  // namespace tarvo
