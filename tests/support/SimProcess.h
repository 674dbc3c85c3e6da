#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "CrateProcess.h"
#include "support/TempDir.h"

namespace nimbra::test {

// Runs vmecrate-sim as a separate process on a temporary folder, the way the library meets a
// real bridge. The constructor returns once the simulator has printed "ready"; the destructor
// stops it with SIGTERM. By default it also points KOVRAVME_SIM_DIR of this process at the folder.
class SimProcess {
  public:
    struct Options {
        std::vector<std::string>
            args;           // extra command-line arguments, e.g. {"--memory", "0x0:0x10000"}
        bool trace = true;  // pass --trace DIR/trace.txt
        bool setEnvironment = true;  // setenv KOVRAVME_SIM_DIR for this process
    };

    SimProcess();
    explicit SimProcess(Options options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    std::string dir() const { return dir_.path().string(); }
    std::string tracePath() const { return dir_.file("trace.txt"); }
    pid_t pid() const;

    // The trace lines written so far ("W <hex>" / "R <hex>"), in order.
    std::vector<std::string> traceLines() const;
    // Forgets what the trace holds so far: traceLines() then returns only later exchanges.
    void clearTrace();

    // Sends SIGTERM and waits for the process; returns its exit status (-1 if it died by signal).
    int stop();

    static std::string binaryPath();

  private:
    TempDir dir_;
    std::unique_ptr<vmecrate::CrateProcess> crate_;
    size_t traceSkip_ = 0;
};

}  // namespace nimbra::test
