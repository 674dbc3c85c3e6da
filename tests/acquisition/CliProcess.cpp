#include "CliProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "acquisition/DaqFileLayout.h"

namespace tarvo::test {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::string& outputDir) {
    static int serial = 0;
    ++serial;
    outPath_ = outputDir + "/cli-" + std::to_string(serial) + ".out";
    errPath_ = outputDir + "/cli-" + std::to_string(serial) + ".err";
    std::vector<std::string> all = {TARVO_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        dup2(in, STDIN_FILENO);
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
}

void CliProcess::signal(int sig) {
    if (pid_ > 0) {
        kill(pid_, sig);
    }
}

int CliProcess::wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string CliProcess::out() const {
    return slurp(outPath_);
}
std::string CliProcess::err() const {
    return slurp(errPath_);
}

long residentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

long checkFifoFile(const std::string& path, int fifo, std::string& problem, bool allowPartial) {
    std::string bytes = slurp(path);
    if (bytes.size() % daq::kFifoRecordBytes != 0 && !allowPartial) {
        problem = path + ": " + std::to_string(bytes.size()) + " bytes, not whole records";
        return -1;
    }
    long records = static_cast<long>(bytes.size() / daq::kFifoRecordBytes);
    for (long r = 0; r < records; ++r) {
        uint32_t words[daq::kFifoRecordWords];
        std::memcpy(words, bytes.data() + r * daq::kFifoRecordBytes, sizeof words);
        uint32_t tag = daq::fifoTag(words[0]);
        for (int i = 0; i < daq::kFifoRecordWords; ++i) {
            uint32_t w = words[i];
            if ((w >> 31) != 0 || daq::fifoTag(w) != tag ||
                daq::fifoNumber(w) != static_cast<uint32_t>(fifo) ||
                daq::channel(w) != static_cast<uint32_t>(i / 8) ||
                daq::fifoSample(w) != static_cast<uint32_t>(i % 8)) {
                char text[160];
                std::snprintf(text, sizeof text, "%s: record %ld word %d is %08x", path.c_str(), r,
                              i, w);
                problem = text;
                return -1;
            }
        }
    }
    return records;
}

}  // namespace tarvo::test
