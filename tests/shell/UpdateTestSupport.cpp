#include "UpdateTestSupport.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvo::test {

void RecordingProgress::setRange(std::uint32_t low, std::uint32_t high) {
    std::lock_guard lock(mutex_);
    calls_.push_back({"range", low, high, {}});
}

void RecordingProgress::setPosition(std::uint32_t position) {
    std::lock_guard lock(mutex_);
    calls_.push_back({"position", position, 0, {}});
    if (position >= abortAt_) {
        abortEvent().set();
    }
}

void RecordingProgress::setText(const std::string& text) {
    std::lock_guard lock(mutex_);
    calls_.push_back({"text", 0, 0, text});
}

std::vector<RecordingProgress::Call> RecordingProgress::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::uint64_t> RecordingProgress::positions() const {
    std::vector<std::uint64_t> out;
    for (const auto& c : calls()) {
        if (c.what == "position") {
            out.push_back(c.a);
        }
    }
    return out;
}

std::string standInUpdater(const std::string& logDir) {
    return "#!/bin/sh\n"
           "out=\"" +
           logDir +
           "/args.$$\"\n"
           "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.tmp\"\n"
           "mv \"$out.tmp\" \"$out\"\n";
}

std::vector<std::vector<std::string>> recordedStarts(const std::string& logDir) {
    std::vector<std::vector<std::string>> starts;
    for (const auto& name : folderEntries(logDir)) {
        if (!name.starts_with("args.") || name.ends_with(".tmp")) {
            continue;
        }
        std::istringstream in(readFile(logDir + "/" + name));
        std::vector<std::string> args;
        for (std::string line; std::getline(in, line);) {
            args.push_back(line);
        }
        starts.push_back(args);
    }
    return starts;
}

std::vector<std::vector<std::string>> waitForStarts(const std::string& logDir, size_t count) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto starts = recordedStarts(logDir);
    while (starts.size() < count && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        starts = recordedStarts(logDir);
    }
    return starts;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content, bool executable) {
    std::ofstream(path, std::ios::binary) << content;
    if (executable) {
        chmod(path.c_str(), 0755);
    }
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tarvo::test
