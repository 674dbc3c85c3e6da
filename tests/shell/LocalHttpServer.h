#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::test {

// A small HTTP/1.1 server on 127.0.0.1 for the web-update tests. Each path answers as its Reply
// says; unknown paths answer 404. It can stall (before its headers or part-way through a body)
// until released or stopped, redirect, send bodies with or without Content-Length, and declare
// more than it sends.
class LocalHttpServer {
  public:
    static constexpr size_t kNever = static_cast<size_t>(-1);

    struct Reply {
        int status = 200;
        std::string body;
        bool sendContentLength = true;    // without it the body ends when the connection does
        size_t declaredLength = kNever;   // a Content-Length other than the body's size
        std::string location;             // Location header (redirects)
        bool stallBeforeHeaders = false;  // accept the request, then send nothing
        size_t stallAfter = kNever;       // send this many body bytes, then nothing more

        static Reply ok(std::string content) {
            Reply r;
            r.body = std::move(content);
            return r;
        }
        static Reply withStatus(int code, std::string content = {}) {
            Reply r = ok(std::move(content));
            r.status = code;
            return r;
        }
        static Reply redirect(int code, std::string to) {
            Reply r = withStatus(code);
            r.location = std::move(to);
            return r;
        }
        static Reply silent() {
            Reply r;
            r.stallBeforeHeaders = true;
            return r;
        }
        Reply& noLength() {
            sendContentLength = false;
            return *this;
        }
        Reply& declaring(size_t length) {
            declaredLength = length;
            return *this;
        }
        Reply& stallingAfter(size_t bytes) {
            stallAfter = bytes;
            return *this;
        }
    };

    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    void route(const std::string& path, Reply reply);
    std::string url(const std::string& path) const;
    int port() const { return port_; }

    // The head (request line and headers) of every request so far.
    std::vector<std::string> requests() const;
    // Lets stalled replies go on (they then close without sending the rest).
    void releaseStalls();

  private:
    void acceptLoop();
    void serve(int fd);
    void waitForRelease();

    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool releasing_ = false;
    std::map<std::string, Reply> routes_;
    std::vector<std::string> requests_;
    std::vector<int> connections_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A loopback port that refuses connections: bound, never listening, held until destroyed.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace tarvo::test
