#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "i2c/I2cBench.h"

namespace vmesim::i2c {

// Serves the I2C adapter socket DIR/i2c-0: one connection per opening of the adapter, frames as
// docs/virtual-crate-i2c.md gives them. Each connection has its own thread; the bench orders the
// transactions of all of them. A program holds its opening for as long as it runs, so connections
// are not closed for idling; instead at most kMaxConnections are served at once (one more is
// closed at once) and the threads of ended ones are reaped.
class I2cServer {
  public:
    static constexpr int kMaxConnections = 32;

    I2cServer(I2cBench& bench, std::string socketPath);
    ~I2cServer();
    I2cServer(const I2cServer&) = delete;
    I2cServer& operator=(const I2cServer&) = delete;

    // Throws std::runtime_error when it cannot listen.
    void start();
    void stop();

  private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void reapEnded();
    void serve(int fd);

    I2cBench& bench_;
    std::string socketPath_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::list<Connection> connections_;
};

}  // namespace vmesim::i2c
