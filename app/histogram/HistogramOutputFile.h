#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace tarvo {

// An output text file written through a large buffer of its own, so that the hundreds of millions
// of short lines a histogram run produces cost one system call per buffer, not one per line.
// Created anew (truncated) on open. A write error is remembered and reported by close().
class HistogramOutputFile {
  public:
    static constexpr size_t kDefaultBuffer = 64 * 1024;

    explicit HistogramOutputFile(size_t bufferSize = kDefaultBuffer);
    ~HistogramOutputFile();
    HistogramOutputFile(const HistogramOutputFile&) = delete;
    HistogramOutputFile& operator=(const HistogramOutputFile&) = delete;
    HistogramOutputFile(HistogramOutputFile&& other) noexcept;
    HistogramOutputFile& operator=(HistogramOutputFile&& other) noexcept;

    // Creates or truncates the file; false when it cannot be created.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Flushes and closes; false when any write failed since open.
    bool close();

    // Room for at least n more bytes at the returned pointer; commit() what was used.
    char* reserve(size_t n) {
        if (buffer_.size() - used_ < n) {
            flush();
            if (buffer_.size() < n) {
                buffer_.resize(n < kDefaultBuffer ? kDefaultBuffer : n);
            }
        }
        return buffer_.data() + used_;
    }
    void commit(size_t n) { used_ += n; }
    void append(const char* data, size_t n) {
        std::memcpy(reserve(n), data, n);
        commit(n);
    }

    void flush();

  private:
    int fd_ = -1;
    bool failed_ = false;
    size_t used_ = 0;
    std::vector<char> buffer_;
};

}  // namespace tarvo
