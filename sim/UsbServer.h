#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Bridge.h"
#include "TraceLog.h"

namespace vmesim {

// Serves the USB bridge socket DIR/ezusb-<board>: one connection per opening of the device,
// 'W' frames carry requests to the bridge, 'R' frames take reply bytes back (see
// docs/virtual-crate-sockets.md). One thread runs an event loop over all connections, so
// requests reach the bridge in the order the clients sent them. A connection that sends nothing
// for the idle limit is closed, and when the process runs out of descriptors accepting pauses
// for a moment instead of failing over and over.
class UsbServer {
  public:
    struct Settings {
        std::string socketPath;
        std::chrono::microseconds delay{0};         // before each reply becomes readable
        std::chrono::milliseconds idleLimit{5000};  // 0: connections may idle for ever
    };

    UsbServer(Bridge& bridge, TraceLog& trace, Settings settings);
    ~UsbServer();
    UsbServer(const UsbServer&) = delete;
    UsbServer& operator=(const UsbServer&) = delete;

    // Creates the socket and starts serving; throws std::runtime_error when it cannot listen.
    void start();
    // Closes every connection, removes the socket and joins the thread.
    void stop();

    uint64_t exchanges() const { return exchanges_; }
    // Times accepting found no descriptor free and paused.
    uint64_t acceptPauses() const { return acceptPauses_; }
    uint64_t overlappingExchanges() const { return overlapping_; }
    void addStats(std::map<std::string, uint64_t>& counts) const;

  private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void run();
    void acceptAll();
    void receive(Connection& c);
    // Runs the complete frames received so far; false when the connection must be dropped.
    bool serve(Connection& c, bool clientGone);
    bool sendPending(Connection& c);
    void finish(Connection& c);  // the client left: run what it sent, then close
    void close(Connection& c);
    void watchOutput(Connection& c, bool on);
    void pauseAccepting();
    void closeIdle(Clock::time_point now);
    int nextTimeoutMs() const;

    Bridge& bridge_;
    TraceLog& trace_;
    Settings settings_;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::atomic<uint64_t> exchanges_{0};
    std::atomic<uint64_t> overlapping_{0};
    std::atomic<uint64_t> protocolErrors_{0};
    std::atomic<uint64_t> acceptPauses_{0};
    std::atomic<uint64_t> idleClosed_{0};
    Clock::time_point acceptPausedUntil_{};
    bool acceptPaused_ = false;
};

}  // namespace vmesim
