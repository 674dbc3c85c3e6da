#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "card/PciCard.h"

namespace vmesim {

// Serves one PciCard on the Unix-domain socket DIR/pci9054-<link>, speaking the protocol of
// docs/virtual-crate-card.md: one thread per connection, any number of processes.
class CardServer {
  public:
    CardServer(PciCard& card, std::string path);
    ~CardServer();
    CardServer(const CardServer&) = delete;
    CardServer& operator=(const CardServer&) = delete;

    // Binds and listens; false (with errno set) when the socket cannot be created.
    bool start();
    // Ends every connection and removes the socket.
    void stop();

    const std::string& path() const { return path_; }

  private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(int fd);
    void reapFinished();

    PciCard& card_;
    std::string path_;
    int listenFd_ = -1;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<std::unique_ptr<Worker>> workers_;
    std::set<int> clients_;
    bool stopping_ = false;
};

}  // namespace vmesim
