#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

// An office the program started itself. It runs in a session of its own, so that a Ctrl-C at
// the terminal does not take the user's spreadsheet down with the command, and so that its
// launcher and the office behind it can be ended together. Its output goes to a file that
// explains a failed start.
class OfficeProcess {
  public:
    // Throws std::runtime_error with the system's text when the program cannot be started.
    static std::unique_ptr<OfficeProcess> start(const std::string& program,
                                                const std::vector<std::string>& args);
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once the launched program has ended (its status is then kept).
    bool running();
    std::optional<int> exitStatus() const { return status_; }
    bool waitForExit(std::chrono::milliseconds limit);
    // Ends every process of its session at once.
    void kill();
    // What it wrote to its output and error streams, trimmed.
    std::string output() const;

  private:
    OfficeProcess(pid_t pid, std::string logPath) : pid_(pid), logPath_(std::move(logPath)) {}

    pid_t pid_;
    std::string logPath_;
    std::optional<int> status_;
};

}  // namespace tarvo
