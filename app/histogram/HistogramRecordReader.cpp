#include "histogram/HistogramRecordReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace tarvo {

HistogramRecordReader::HistogramRecordReader(size_t recordBytes, size_t chunkBytes)
    : recordBytes_(recordBytes),
      buffer_(std::max(chunkBytes / recordBytes, size_t{1}) * recordBytes / 4) {}

HistogramRecordReader::~HistogramRecordReader() {
    close();
}

bool HistogramRecordReader::open(const std::string& path) {
    close();
    failure_.clear();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        failure_ = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        failure_ = std::strerror(errno);
        close();
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        failure_ = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        close();
        return false;
    }
    total_ = static_cast<uint64_t>(info.st_size) / recordBytes_ * recordBytes_;
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

void HistogramRecordReader::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    total_ = consumed_ = 0;
    filled_ = pos_ = 0;
    shortRead_ = false;
}

const uint32_t* HistogramRecordReader::refill() {
    if (fd_ < 0 || consumed_ >= total_ || shortRead_) {
        return nullptr;
    }
    size_t want = static_cast<size_t>(
        std::min<uint64_t>(buffer_.size() * sizeof(uint32_t), total_ - consumed_));
    auto* bytes = reinterpret_cast<char*>(buffer_.data());
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::read(fd_, bytes + got, want - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    consumed_ += got;
    filled_ = got / recordBytes_ * recordBytes_;
    pos_ = 0;
    if (got < want) {
        shortRead_ = true;
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < filled_ / 4; ++i) {
            buffer_[i] = __builtin_bswap32(buffer_[i]);
        }
    }
    if (filled_ == 0) {
        return nullptr;
    }
    pos_ = recordBytes_;
    return buffer_.data();
}

}  // namespace tarvo
