#include "generator/GeneratorServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

namespace vmesim::generator {

GeneratorServer::GeneratorServer(BenchState& bench, Settings settings)
    : generator_(bench), settings_(std::move(settings)) {}

GeneratorServer::~GeneratorServer() {
    stop();
}

std::string GeneratorServer::resourceName() const {
    return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET";
}

void GeneratorServer::start() {
    if (!settings_.logPath.empty()) {
        log_.open(settings_.logPath, std::ios::binary | std::ios::trunc);
        if (!log_) {
            throw std::runtime_error("cannot write the generator log " + settings_.logPath);
        }
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error(std::string("generator socket: ") + std::strerror(errno));
    }
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(settings_.port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        const std::string why = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        throw std::runtime_error("generator port " + std::to_string(settings_.port) + ": " + why);
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("generator pipe: ") + std::strerror(errno));
    }
    if (!settings_.resourceFile.empty()) {
        // Written whole under another name first, so a search never reads half a name.
        const std::string temporary = settings_.resourceFile + ".tmp";
        std::ofstream out(temporary, std::ios::trunc);
        out << resourceName() << '\n';
        out.close();
        if (!out || std::rename(temporary.c_str(), settings_.resourceFile.c_str()) != 0) {
            throw std::runtime_error("cannot write " + settings_.resourceFile);
        }
    }
    thread_ = std::thread([this] { serve(); });
}

void GeneratorServer::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        (void)!::write(wakePipe_[1], &byte, 1);
        thread_.join();
    }
    auto closeFd = [](int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    };
    closeFd(listenFd_);
    closeFd(wakePipe_[0]);
    closeFd(wakePipe_[1]);
    if (!settings_.resourceFile.empty()) {
        std::remove(settings_.resourceFile.c_str());
    }
}

void GeneratorServer::log(const std::string& line) {
    std::lock_guard lock(logMutex_);
    if (log_.is_open()) {
        log_ << line << '\n';
        log_.flush();
    }
}

void GeneratorServer::serve() {
    std::map<int, std::string> clients;  // fd -> text received after the last line end
    for (;;) {
        std::vector<pollfd> fds{{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto& client : clients) {
            fds.push_back({client.first, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients[fd];
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const int fd = fds[i].fd;
            std::string& pending = clients[fd];
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (!pending.empty()) {
                    log("# unterminated: " + pending);
                }
                ::close(fd);
                clients.erase(fd);
                continue;
            }
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                log(line);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                if (auto reply = generator_.execute(line)) {
                    *reply += '\n';
                    (void)!::send(fd, reply->data(), reply->size(), MSG_NOSIGNAL);
                }
            }
        }
    }
    for (const auto& client : clients) {
        if (!client.second.empty()) {
            log("# unterminated: " + client.second);
        }
        ::close(client.first);
    }
}

}  // namespace vmesim::generator
