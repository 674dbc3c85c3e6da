#include "BridgeLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>

namespace kovravme {

BridgeLock* BridgeLock::named(const std::string& path) {
    static std::mutex registryMutex;
    // Locks live as long as the process: a handle closed and opened again finds the same one.
    static auto* registry = new std::map<std::string, std::unique_ptr<BridgeLock>>();
    std::lock_guard guard(registryMutex);
    auto found = registry->find(path);
    if (found != registry->end()) {
        return found->second.get();
    }
    // The lock files live in a folder every user can write to: never follow a symbolic link
    // planted there, and widen the permissions only of a file this call created.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
        // Every user of the bridge, whatever its umask, must be able to open the file later.
        fchmod(fd, 0666);
    } else if (errno == EEXIST) {
        fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) {
            // A lock file made by another user may be read-only for us; flock works on it anyway.
            fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
    }
    if (fd < 0) {
        return nullptr;
    }
    auto* lock = new BridgeLock(fd);
    registry->emplace(path, std::unique_ptr<BridgeLock>(lock));
    return lock;
}

bool BridgeLock::lock() {
    mutex_.lock();
    int result;
    do {
        result = flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        mutex_.unlock();
        return false;
    }
    return true;
}

void BridgeLock::unlock() {
    flock(fd_, LOCK_UN);
    mutex_.unlock();
}

std::string BridgeLock::handleLockName(int boardType, int link) {
    return "/tmp/KOVRAX4410_LCK_" + std::to_string(boardType) + std::to_string(link);
}

std::string BridgeLock::cardLockName(int boardType, int link) {
    return "/tmp/PLX_LCK_" + std::to_string(boardType) + std::to_string(link);
}

}  // namespace kovravme
