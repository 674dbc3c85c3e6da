#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "shell/UpdateProgress.h"

namespace tarvo::test {

// Records what a download shows, and can press "Abort" itself once a number of bytes has come.
class RecordingProgress : public UpdateProgress {
  public:
    struct Call {
        std::string what;  // "range", "position", "text"
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::string text;
    };

    explicit RecordingProgress(std::uint64_t abortAt = UINT64_MAX) : abortAt_(abortAt) {}

    void setRange(std::uint32_t low, std::uint32_t high) override;
    void setPosition(std::uint32_t position) override;
    void setText(const std::string& text) override;

    std::vector<Call> calls() const;
    std::vector<std::uint64_t> positions() const;

  private:
    std::uint64_t abortAt_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// A stand-in for the updater: a shell script that writes its arguments, one a line, to
// "<logDir>/args.<pid>" when started.
std::string standInUpdater(const std::string& logDir);

// The argument lists of every start of the stand-in so far, each file read once complete.
std::vector<std::vector<std::string>> recordedStarts(const std::string& logDir);

// Waits (up to a generous limit) until `count` starts have been recorded.
std::vector<std::vector<std::string>> waitForStarts(const std::string& logDir, size_t count);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, bool executable = false);
// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::string& folder);

}  // namespace tarvo::test
