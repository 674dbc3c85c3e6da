#include "acquisition/BoardClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace tarvo {
namespace {

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string programName() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::string words;
    size_t start = 0;
    // The program and up to two words after it ("tarvo-cli acquire").
    for (int i = 0; i < 2 && start < all.size(); ++i) {
        size_t end = all.find('\0', start);
        std::string word = all.substr(start, end - start);
        if (i == 0) {
            size_t slash = word.rfind('/');
            word = slash == std::string::npos ? word : word.substr(slash + 1);
        }
        words += (words.empty() ? "" : " ") + word;
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return words;
}

}  // namespace

std::string BoardClaim::defaultFolder() {
    const char* simDir = std::getenv("KOVRAVME_SIM_DIR");
    return simDir != nullptr && *simDir != '\0' ? simDir : "/tmp";
}

std::string BoardClaim::fileName(int32_t bridgeKind, int link, uint32_t baseAddress) {
    return "NIMBRA_RUN_" + std::to_string(bridgeKind) + "_" + std::to_string(link) + "_" +
           hex8(baseAddress) + ".lock";
}

std::optional<BoardClaim> BoardClaim::take(const std::string& folder, int32_t bridgeKind, int link,
                                           uint32_t baseAddress, std::string& refusal) {
    const std::string path = folder + "/" + fileName(bridgeKind, link, baseAddress);
    const std::string board = "board 0x" + hex8(baseAddress);
    // A folder every user writes to: never follow a planted link; keep the file usable by all.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        refusal = "Can't claim " + board + ": lock file " + path + " is unusable\n" +
                  std::strerror(errno);
        return std::nullopt;
    }
    fchmod(fd, 0666);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char text[256] = {};
        ssize_t got = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        std::string holder = got > 0 ? std::string(text, static_cast<size_t>(got)) : "";
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) {
            holder.pop_back();
        }
        if (error == EWOULDBLOCK) {
            refusal = "The " + board + " is in use by another run (" +
                      (holder.empty() ? "holder unknown" : holder) + ")\nLock file: " + path;
        } else {
            refusal = "Can't claim " + board + ": lock file " + path + " is unusable\n" +
                      std::strerror(error);
        }
        return std::nullopt;
    }
    const std::string holder = "pid " + std::to_string(getpid()) + ", " + programName() + "\n";
    // Without the note the claim still holds; a refused run then names no holder.
    if (ftruncate(fd, 0) == 0) {
        (void)!pwrite(fd, holder.data(), holder.size(), 0);
    }
    return BoardClaim(fd, path);
}

BoardClaim::BoardClaim(BoardClaim&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

BoardClaim& BoardClaim::operator=(BoardClaim&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

BoardClaim::~BoardClaim() {
    release();
}

void BoardClaim::release() {
    if (fd_ >= 0) {
        // The note goes before the lock, so a reader never sees a stale holder with a free lock.
        (void)!ftruncate(fd_, 0);
        flock(fd_, LOCK_UN);
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace tarvo
