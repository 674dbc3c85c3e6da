#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvo::test {

// tarvo-cli run as a separate process with its output in files, as an operator runs it.
class CliProcess {
  public:
    CliProcess(const std::vector<std::string>& args, const std::string& outputDir);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig);
    // Waits for the end; the exit status, or 128 + the signal that ended it.
    int wait();
    std::string out() const;
    std::string err() const;

  private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
};

// Peak resident memory and current resident memory (kB) of a running process.
long residentKb(pid_t pid);

// Checks every record of a FIFO file: one tag throughout, the file's FIFO number, bit 31 clear,
// channel and sample bits matching the word's position. Returns the record count, or -1 with
// the first problem in `problem`. A trailing partial record is a problem unless allowPartial.
long checkFifoFile(const std::string& path, int fifo, std::string& problem,
                   bool allowPartial = false);

}  // namespace tarvo::test
