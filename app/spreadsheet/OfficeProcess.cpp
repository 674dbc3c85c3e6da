#include "spreadsheet/OfficeProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvo {

std::unique_ptr<OfficeProcess> OfficeProcess::start(const std::string& program,
                                                    const std::vector<std::string>& args) {
    std::string logPath = "/tmp/tarvo-office-XXXXXX";
    const int log = ::mkstemp(logPath.data());
    if (log < 0) {
        throw std::runtime_error(std::string("cannot create the office's log file: ") +
                                 std::strerror(errno));
    }
    ::fcntl(log, F_SETFD, FD_CLOEXEC);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, log, STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(log);
    if (rc != 0) {
        ::unlink(logPath.c_str());
        throw std::runtime_error(program + ": " + std::strerror(rc));
    }
    return std::unique_ptr<OfficeProcess>(new OfficeProcess(pid, std::move(logPath)));
}

OfficeProcess::~OfficeProcess() {
    ::unlink(logPath_.c_str());
}

bool OfficeProcess::running() {
    if (status_) {
        return false;
    }
    int status = 0;
    const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
    if (rc == 0) {
        return true;
    }
    status_ = rc == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
}

bool OfficeProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void OfficeProcess::kill() {
    ::kill(-pid_, SIGKILL);
    waitForExit(std::chrono::seconds(10));
}

std::string OfficeProcess::output() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    std::string out = text.str();
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) {
        out.pop_back();
    }
    return out;
}

}  // namespace tarvo
