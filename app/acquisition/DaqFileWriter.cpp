#include "acquisition/DaqFileWriter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvo {
namespace {

std::string systemReason(int error) {
    return std::strerror(error);
}

}  // namespace

DaqFileWriter::~DaqFileWriter() {
    std::string ignored;
    close(ignored);
}

bool DaqFileWriter::open(const std::string& path, Sharing sharing, size_t recordBytes,
                         std::string& reason) {
    std::string ignored;
    close(ignored);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = systemReason(errno);
        return false;
    }
    // The lock comes before any look at the length, so we never trim under another writer.
    if (sharing == Sharing::DenyWriters && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reason = errno == EWOULDBLOCK ? "the file is in use by another run" : systemReason(errno);
        ::close(fd);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reason = systemReason(errno);
        ::close(fd);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    if (recordBytes > 0 && size % recordBytes != 0) {
        size -= size % recordBytes;
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            reason = systemReason(errno);
            ::close(fd);
            return false;
        }
    }
    fd_ = fd;
    path_ = path;
    size_ = size;
    writeBackFrom_ = size;
    return true;
}

bool DaqFileWriter::append(const void* data, size_t bytes, std::string& reason) {
    if (fd_ < 0) {
        reason = systemReason(EBADF);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::write(fd_, p + done, bytes - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A write that moves nothing without an error is a full device that does not say so.
        reason = systemReason(n < 0 ? errno : ENOSPC);
        if (done > 0 && ::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
            reason += "; the partial record could not be removed: " + systemReason(errno);
        }
        return false;
    }
    size_ += bytes;
    // Start the write-back of what has piled up, without waiting for it, so that the sync at the
    // end of the run finds little left to do.
    if (size_ - writeBackFrom_ >= kWriteBackChunk) {
        ::sync_file_range(fd_, static_cast<off_t>(writeBackFrom_),
                          static_cast<off_t>(size_ - writeBackFrom_), SYNC_FILE_RANGE_WRITE);
        writeBackFrom_ = size_;
    }
    return true;
}

bool DaqFileWriter::truncate(size_t size, std::string& reason) {
    if (fd_ < 0 || size > size_) {
        reason = systemReason(EINVAL);
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        reason = systemReason(errno);
        return false;
    }
    size_ = size;
    writeBackFrom_ = std::min(writeBackFrom_, size);
    return true;
}

bool DaqFileWriter::close(std::string& reason) {
    if (fd_ < 0) {
        return true;
    }
    bool ok = true;
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        reason = systemReason(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        reason = systemReason(errno);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

std::string daqWriteFailedMessage(const std::string& path, const std::string& reason) {
    return "Can't write file: " + path + "\n" + reason;
}

std::string daqOpenFailedMessage(const std::string& path, const std::string& reason) {
    return "Can't open file: " + path + "\n" + reason;
}

}  // namespace tarvo
