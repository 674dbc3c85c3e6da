#include "support/SimProcess.h"

#include <cstdlib>
#include <fstream>

namespace nimbra::test {

std::string SimProcess::binaryPath() {
    return vmecrate::CrateProcess::binaryPath();
}

SimProcess::SimProcess() : SimProcess(Options{}) {}

SimProcess::SimProcess(Options options) {
    std::vector<std::string> args;
    if (options.trace) {
        args.push_back("--trace");
        args.push_back(tracePath());
    }
    args.insert(args.end(), options.args.begin(), options.args.end());
    crate_ = std::make_unique<vmecrate::CrateProcess>(dir(), args);
    if (options.setEnvironment) {
        setenv("KOVRAVME_SIM_DIR", dir().c_str(), 1);
    }
}

SimProcess::~SimProcess() = default;

pid_t SimProcess::pid() const {
    return crate_ ? crate_->pid() : -1;
}

int SimProcess::stop() {
    return crate_ ? crate_->stop() : 0;
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
