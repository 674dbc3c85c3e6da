#include "histogram/HistogramOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace tarvo {

HistogramOutputFile::HistogramOutputFile(size_t bufferSize) : buffer_(bufferSize) {}

namespace {

std::string partPath(const std::string& path) {
    return path + ".part";
}

}  // namespace

HistogramOutputFile::~HistogramOutputFile() {
    discard();
}

HistogramOutputFile::HistogramOutputFile(HistogramOutputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      failed_(other.failed_),
      used_(std::exchange(other.used_, 0)),
      buffer_(std::move(other.buffer_)) {}

HistogramOutputFile& HistogramOutputFile::operator=(HistogramOutputFile&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        failed_ = other.failed_;
        used_ = std::exchange(other.used_, 0);
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

bool HistogramOutputFile::open(const std::string& path) {
    discard();
    // A folder in the way would only show at the rename, after all the work.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    fd_ = ::open(partPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    path_ = path;
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
    const std::string part = partPath(path_);
    if (!failed_ && std::rename(part.c_str(), path_.c_str()) != 0) {
        failed_ = true;
    }
    if (failed_) {
        ::unlink(part.c_str());
    }
    return !failed_;
}

void HistogramOutputFile::discard() {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
    ::unlink(partPath(path_).c_str());
    used_ = 0;
}

}  // namespace tarvo
