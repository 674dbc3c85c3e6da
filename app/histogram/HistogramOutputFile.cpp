#include "histogram/HistogramOutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tarvo {

HistogramOutputFile::HistogramOutputFile(size_t bufferSize) : buffer_(bufferSize) {}

HistogramOutputFile::~HistogramOutputFile() {
    close();
}

HistogramOutputFile::HistogramOutputFile(HistogramOutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      failed_(other.failed_),
      used_(std::exchange(other.used_, 0)),
      buffer_(std::move(other.buffer_)) {}

HistogramOutputFile& HistogramOutputFile::operator=(HistogramOutputFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        failed_ = other.failed_;
        used_ = std::exchange(other.used_, 0);
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

bool HistogramOutputFile::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    failed_ = false;
    used_ = 0;
    return fd_ >= 0;
}

void HistogramOutputFile::flush() {
    if (fd_ < 0) {
        used_ = 0;
        return;
    }
    const char* p = buffer_.data();
    size_t left = used_;
    while (left > 0 && !failed_) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed_ = true;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    used_ = 0;
}

bool HistogramOutputFile::close() {
    if (fd_ < 0) {
        return !failed_;
    }
    flush();
    if (::close(fd_) != 0) {
        failed_ = true;
    }
    fd_ = -1;
    return !failed_;
}

}  // namespace tarvo
