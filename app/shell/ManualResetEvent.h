#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarvo {

// An event that stays signalled until reset, the hand-off between a worker and the window's
// timers (stop requests, run ends, display ready).
class ManualResetEvent {
  public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    bool isSet() const {
        std::lock_guard lock(mutex_);
        return signalled_;
    }
    // Waits until signalled or the time has passed; true when signalled.
    bool wait(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return signalled_; });
    }
    void wait() const {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return signalled_; });
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    bool signalled_ = false;
};

}  // namespace tarvo
