#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "shell/Executor.h"

namespace tarvo::test {

// An owner thread's queue for tests: work posted from any thread runs only when the test, on its
// own thread, calls runPending(), so a test decides whether the owner answers at all.
class QueueExecutor : public Executor {
  public:
    void post(std::function<void()> work) override {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(work));
        }
        posted_.notify_all();
    }
    // Runs what is queued (first waiting for something when asked to); how many ran.
    int runPending(bool wait = false) {
        std::deque<std::function<void()>> work;
        {
            std::unique_lock lock(mutex_);
            if (wait) {
                posted_.wait(lock, [this] { return !queue_.empty(); });
            }
            work.swap(queue_);
        }
        for (auto& w : work) {
            w();
        }
        return static_cast<int>(work.size());
    }
    void waitForWork() {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [this] { return !queue_.empty(); });
    }

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace tarvo::test
