#include "TraceLog.h"

#include <stdexcept>

namespace vmesim {

TraceLog::TraceLog(const std::string& path) {
    if (path.empty()) {
        return;
    }
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        throw std::runtime_error("cannot write trace file " + path);
    }
}

TraceLog::~TraceLog() {
    if (file_) {
        std::fclose(file_);
    }
}

void TraceLog::exchange(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
    if (!file_) {
        return;
    }
    std::lock_guard lock(mutex_);
    line('W', request);
    line('R', reply);
}

void TraceLog::text(const std::string& line) {
    if (!file_) {
        return;
    }
    std::lock_guard lock(mutex_);
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void TraceLog::line(char kind, std::span<const uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    text_.assign(1, kind);
    text_ += ' ';
    for (uint8_t b : bytes) {
        text_ += kHex[b >> 4];
        text_ += kHex[b & 0xF];
    }
    text_ += '\n';
    std::fwrite(text_.data(), 1, text_.size(), file_);
    std::fflush(file_);
}

}  // namespace vmesim
