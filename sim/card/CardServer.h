#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "card/PciCard.h"

namespace vmesim {

// Serves one PciCard on the Unix-domain socket DIR/pci9054-<link>, speaking the protocol of
// docs/virtual-crate-card.md, for any number of processes. One thread polls the listening socket
// and every connection that waits for its next message; a message that arrives goes to a small
// pool of workers, which answers it and hands the connection back. A notification wait holds
// its worker, so the pool grows on demand, up to kMaxWorkers. A connection that has not opened
// the card and sends nothing for the idle limit is closed; an opening is the card's device handle
// and lasts as long as its client keeps it.
class CardServer {
  public:
    static constexpr int kMaxWorkers = 32;

    CardServer(PciCard& card, std::string path,
               std::chrono::milliseconds idleLimit = std::chrono::milliseconds(5000));
    ~CardServer();
    CardServer(const CardServer&) = delete;
    CardServer& operator=(const CardServer&) = delete;

    // Binds and listens; false (with errno set) when the socket cannot be created.
    bool start();
    // Ends every connection and removes the socket.
    void stop();

    const std::string& path() const { return path_; }

    // Times accepting found no descriptor free and paused; connections closed for idling.
    uint64_t acceptPauses() const;
    uint64_t idleClosed() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        int fd = -1;
        uint32_t opener = 0;  // set once the connection opened the card
        bool busy = false;    // a worker owns it
        Clock::time_point lastActive;
    };

    void pollLoop();
    void workerLoop();
    void wake();
    void acceptAll(Clock::time_point now);
    // Answers one message; false when the connection must end.
    bool serveOne(Connection& c);
    void end(Connection& c);

    PciCard& card_;
    std::string path_;
    std::chrono::milliseconds idleLimit_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::thread pollThread_;

    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::map<int, std::shared_ptr<Connection>> connections_;
    std::deque<std::shared_ptr<Connection>> queue_;
    std::vector<std::thread> workers_;
    int idleWorkers_ = 0;
    bool stopping_ = false;
    bool started_ = false;
    Clock::time_point acceptPausedUntil_{};
    uint64_t acceptPauses_ = 0;
    uint64_t idleClosed_ = 0;
};

}  // namespace vmesim
