#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "bench/BenchState.h"
#include "generator/PulseGenerator.h"

namespace vmesim::generator {

// The pulse generator on a loopback TCP port, as a LAN instrument takes SCPI: lines end at LF
// (a CR before it is dropped), queries are answered with one line ending in LF. Any number of
// clients may connect, one after the other or at once; they share the one generator. Every
// line received is appended to the log, when one is named, before it is carried out; text that
// a client leaves without a line end is logged as unterminated and not carried out.
class GeneratorServer {
  public:
    struct Settings {
        uint16_t port = 0;    // 0: any free port
        std::string logPath;  // empty: no log
        // The file that names the generator's resource for the instrument search; empty: none.
        std::string resourceFile;
    };

    GeneratorServer(BenchState& bench, Settings settings);
    ~GeneratorServer();
    GeneratorServer(const GeneratorServer&) = delete;
    GeneratorServer& operator=(const GeneratorServer&) = delete;

    // Listens and writes the resource file; throws std::runtime_error when it cannot.
    void start();
    void stop();

    uint16_t port() const { return port_; }
    // "TCPIP0::127.0.0.1::<port>::SOCKET"
    std::string resourceName() const;

  private:
    void serve();
    void log(const std::string& line);

    PulseGenerator generator_;
    Settings settings_;
    std::ofstream log_;
    std::mutex logMutex_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace vmesim::generator
