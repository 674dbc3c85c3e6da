#include "CrateProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace vmecrate {

std::string CrateProcess::binaryPath() {
    if (const char* path = std::getenv("VMECRATE_SIM"); path != nullptr && *path != '\0') {
        return path;
    }
    return VMECRATE_SIM_PATH;
}

CrateProcess::CrateProcess(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {binaryPath(), "--dir", dir};
    argv.insert(argv.end(), args.begin(), args.end());
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ < 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> pointers;
        for (auto& a : argv) {
            pointers.push_back(a.data());
        }
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    bool ready = false;
    while (read(out[0], &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line == "ready") {
            ready = true;
            break;
        }
        std::fprintf(stderr, "vmecrate-sim: %s\n", line.c_str());
        line.clear();
    }
    close(out[0]);
    if (!ready) {
        stop();
        throw std::runtime_error("vmecrate-sim did not become ready: " + argv[0]);
    }
}

CrateProcess::~CrateProcess() {
    stop();
}

int CrateProcess::stop() {
    if (pid_ <= 0) {
        return 0;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vmecrate
