#pragma once

#include <mutex>
#include <string>

namespace kovravme {

// A lock shared by every process that names the same file: `flock` on the file excludes other
// processes (and the kernel drops it when a holder dies), an in-process mutex excludes the other
// threads of this process, which share the one open file.
class BridgeLock {
  public:
    // The process-wide lock of this name, opened on first use; null when the lock file can
    // neither be created nor opened.
    static BridgeLock* named(const std::string& path);

    // False only when the file lock cannot be taken; the mutex is then not held either.
    bool lock();
    void unlock();

    // "/tmp/KOVRAX4410_LCK_<type><link>": the handle lock every exchange holds.
    static std::string handleLockName(int boardType, int link);
    // "/tmp/PLX_LCK_<type><link>": the card lock held while a request is pushed into a card.
    static std::string cardLockName(int boardType, int link);

    BridgeLock(const BridgeLock&) = delete;
    BridgeLock& operator=(const BridgeLock&) = delete;

  private:
    explicit BridgeLock(int fd) : fd_(fd) {}

    std::mutex mutex_;
    int fd_;
};

}  // namespace kovravme
