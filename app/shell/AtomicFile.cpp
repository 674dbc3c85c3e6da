#include "shell/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace tarvo {
namespace {

std::string failure(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The mode the new file gets: the old file's, or what a plain create would give.
mode_t modeFor(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return st.st_mode & 07777;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string writeFileAtomically(const std::filesystem::path& path, std::string_view data,
                                const std::function<void()>& afterPartialWrite) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return "cannot create " + folder.string() + ": " + ec.message();
    }
    std::string temp = path.string() + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return failure("cannot create a temporary file in " + folder.string(), errno);
    }
    auto abandon = [&](const std::string& what) {
        int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return failure(what, error);
    };
    if (::fchmod(fd, modeFor(path)) != 0) {
        return abandon("cannot set the mode of " + temp);
    }
    size_t half = data.size() / 2;
    if (!writeAll(fd, data.substr(0, half))) {
        return abandon("cannot write " + temp);
    }
    if (afterPartialWrite) {
        afterPartialWrite();
    }
    if (!writeAll(fd, data.substr(half))) {
        return abandon("cannot write " + temp);
    }
    if (::fsync(fd) != 0) {
        return abandon("cannot flush " + temp);
    }
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return failure("cannot close " + temp, error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return failure("cannot rename " + temp + " to " + path.string(), error);
    }
    // The rename itself is only durable once the folder's entry is on the disk.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

}  // namespace tarvo
