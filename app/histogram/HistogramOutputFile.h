#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace tarvo {

// An output text file written through a large buffer of its own, so that the hundreds of millions
// of short lines a histogram run produces cost one system call per buffer, not one per line.
// The text goes to a temporary file beside the target ("<path>.part") that close() renames onto
// the target once every byte is written: a run that fails or is killed half-way never leaves a
// partial list that looks like a complete one. A write error is remembered and reported by close().
class HistogramOutputFile {
  public:
    static constexpr size_t kDefaultBuffer = 64 * 1024;

    explicit HistogramOutputFile(size_t bufferSize = kDefaultBuffer);
    ~HistogramOutputFile();
    HistogramOutputFile(const HistogramOutputFile&) = delete;
    HistogramOutputFile& operator=(const HistogramOutputFile&) = delete;
    HistogramOutputFile(HistogramOutputFile&& other) noexcept;
    HistogramOutputFile& operator=(HistogramOutputFile&& other) noexcept;

    // Creates the temporary file; false (errno telling why) when it cannot be created.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Flushes, closes and puts the file in place of the target; false when any write failed since
    // open or the rename failed, and the target is then left as it was.
    bool close();
    // Closes and removes the temporary file; the target is left as it was. The destructor does
    // this for a file still open.
    void discard();

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
    std::string path_;
    bool failed_ = false;
    size_t used_ = 0;
    std::vector<char> buffer_;
};

}  // namespace tarvo
