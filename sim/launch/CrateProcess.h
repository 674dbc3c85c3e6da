#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vmecrate {

// vmecrate-sim as a child process serving the folder `dir`. The constructor returns once the
// crate has printed "ready" (lines it prints before are passed on to stderr) and throws
// std::runtime_error when it never does; the destructor stops it with SIGTERM.
class CrateProcess {
  public:
    CrateProcess(const std::string& dir, const std::vector<std::string>& args);
    ~CrateProcess();
    CrateProcess(const CrateProcess&) = delete;
    CrateProcess& operator=(const CrateProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Sends SIGTERM and waits; the exit status, or -1 when it died by a signal.
    int stop();

    // $VMECRATE_SIM, else the crate built with this tree.
    static std::string binaryPath();

  private:
    pid_t pid_ = -1;
};

}  // namespace vmecrate
