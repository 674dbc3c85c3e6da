#include "support/SimProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace nimbra::test {

std::string SimProcess::binaryPath() {
    if (const char* path = std::getenv("VMECRATE_SIM")) {
        return path;
    }
    return VMECRATE_SIM_PATH;
}

SimProcess::SimProcess() : SimProcess(Options{}) {}

SimProcess::SimProcess(Options options) {
    start(options);
}

void SimProcess::start(const Options& options) {
    std::vector<std::string> args = {binaryPath(), "--dir", dir()};
    if (options.trace) {
        args.push_back("--trace");
        args.push_back(tracePath());
    }
    args.insert(args.end(), options.args.begin(), options.args.end());

    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // Wait for the "ready" line; anything else before it is passed through to our stderr.
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
        throw std::runtime_error("vmecrate-sim did not become ready: " + args[0]);
    }
    if (options.setEnvironment) {
        setenv("KOVRAVME_SIM_DIR", dir().c_str(), 1);
    }
}

SimProcess::~SimProcess() {
    stop();
}

int SimProcess::stop() {
    if (pid_ <= 0) {
        return 0;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> SimProcess::traceLines() const {
    std::vector<std::string> lines;
    std::ifstream in(tracePath());
    std::string line;
    size_t index = 0;
    while (std::getline(in, line)) {
        if (index++ >= traceSkip_) {
            lines.push_back(line);
        }
    }
    return lines;
}

void SimProcess::clearTrace() {
    std::ifstream in(tracePath());
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) {
        ++count;
    }
    traceSkip_ = count;
}

}  // namespace nimbra::test
