#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tarvo::test {
namespace {

int boundLoopbackSocket(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        default:
            return "Status";
    }
}

}  // namespace

LocalHttpServer::LocalHttpServer() {
    listener_ = boundLoopbackSocket(port_);
    if (listen(listener_, 16) != 0 || pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer() {
    {
        std::lock_guard lock(mutex_);
        releasing_ = true;
        for (int fd : connections_) {
            shutdown(fd, SHUT_RDWR);
        }
    }
    released_.notify_all();
    (void)!write(wakePipe_[1], "x", 1);
    acceptor_.join();
    for (auto& worker : workers_) {
        worker.join();
    }
    close(listener_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

void LocalHttpServer::route(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(reply);
}

std::string LocalHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LocalHttpServer::releaseStalls() {
    {
        std::lock_guard lock(mutex_);
        releasing_ = true;
    }
    released_.notify_all();
}

void LocalHttpServer::waitForRelease() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return releasing_; });
}

void LocalHttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        connections_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void LocalHttpServer::serve(int fd) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        head.append(buffer, static_cast<size_t>(got));
    }
    std::string path;
    const size_t firstBlank = head.find(' ');
    if (firstBlank != std::string::npos) {
        path = head.substr(firstBlank + 1, head.find(' ', firstBlank + 1) - firstBlank - 1);
    }
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
        auto it = routes_.find(path);
        if (it != routes_.end()) {
            reply = it->second;
        } else {
            reply.status = 404;
            reply.body = "<html>not here</html>";
        }
    }
    if (reply.stallBeforeHeaders) {
        waitForRelease();
    } else {
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                          "\r\nConnection: close\r\n";
        if (reply.sendContentLength) {
            const size_t length =
                reply.declaredLength == kNever ? reply.body.size() : reply.declaredLength;
            out += "Content-Length: " + std::to_string(length) + "\r\n";
        }
        if (!reply.location.empty()) {
            out += "Location: " + reply.location + "\r\n";
        }
        out += "\r\n";
        const size_t sent =
            reply.stallAfter < reply.body.size() ? reply.stallAfter : reply.body.size();
        out += reply.body.substr(0, sent);
        if (sendAll(fd, out.data(), out.size()) && reply.stallAfter != kNever) {
            waitForRelease();
        }
    }
    shutdown(fd, SHUT_RDWR);
    std::lock_guard lock(mutex_);
    std::erase(connections_, fd);
    close(fd);
}

RefusingPort::RefusingPort() {
    fd_ = boundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    close(fd_);
}

}  // namespace tarvo::test
