#include "shell/OwnerThreadOperator.h"

#include <condition_variable>
#include <mutex>

namespace tarvo {

// What the posted work and the waiting caller share; it outlives the operator while work is
// still queued on the owner.
struct OwnerThreadOperator::Shared {
    explicit Shared(Operator& t) : target(&t) {}

    std::mutex mutex;
    std::condition_variable answered;
    Operator* target;  // nullptr once shut down
};

OwnerThreadOperator::OwnerThreadOperator(Operator& target, Executor& executor)
    : shared_(std::make_shared<Shared>(target)),
      executor_(executor),
      owner_(std::this_thread::get_id()) {}

OwnerThreadOperator::~OwnerThreadOperator() {
    shutDown();
}

void OwnerThreadOperator::shutDown() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->target = nullptr;
    }
    shared_->answered.notify_all();
}

bool OwnerThreadOperator::isShutDown() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->target == nullptr;
}

template <typename Result, typename Call>
Result OwnerThreadOperator::marshal(Call call, Result fallback) {
    if (std::this_thread::get_id() == owner_) {
        Operator* target = nullptr;
        {
            std::lock_guard lock(shared_->mutex);
            target = shared_->target;
        }
        return target != nullptr ? call(*target) : fallback;
    }
    // One question: its answer, and whether it has one. Held by the posted work and the caller.
    struct Pending {
        std::optional<Result> answer;
    };
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->target == nullptr) {
            return fallback;
        }
    }
    executor_.post([shared = shared_, pending, call] {
        Operator* target = nullptr;
        {
            std::lock_guard lock(shared->mutex);
            target = shared->target;
        }
        // The target is only ever used on the owner thread, which is also the thread that shuts
        // down, so it cannot go away while the call below runs.
        Result result = target != nullptr ? call(*target) : Result{};
        {
            std::lock_guard lock(shared->mutex);
            pending->answer = std::move(result);
        }
        shared->answered.notify_all();
    });
    std::unique_lock lock(shared_->mutex);
    shared_->answered.wait(
        lock, [&] { return pending->answer.has_value() || shared_->target == nullptr; });
    return pending->answer ? std::move(*pending->answer) : fallback;
}

void OwnerThreadOperator::error(const std::string& text) {
    marshal<bool>(
        [text](Operator& target) {
            target.error(text);
            return true;
        },
        false);
}

void OwnerThreadOperator::warning(const std::string& text) {
    marshal<bool>(
        [text](Operator& target) {
            target.warning(text);
            return true;
        },
        false);
}

bool OwnerThreadOperator::askYesNo(const std::string& text) {
    return marshal<bool>([text](Operator& target) { return target.askYesNo(text); }, false);
}

bool OwnerThreadOperator::askOkCancel(const std::string& text) {
    return marshal<bool>([text](Operator& target) { return target.askOkCancel(text); }, false);
}

bool OwnerThreadOperator::askRetryCancel(const std::string& text) {
    return marshal<bool>([text](Operator& target) { return target.askRetryCancel(text); }, false);
}

std::optional<std::string> OwnerThreadOperator::chooseOpenFile(const std::string& preset,
                                                               const std::string& defaultExtension,
                                                               const std::string& filter) {
    return marshal<std::optional<std::string>>(
        [=](Operator& target) { return target.chooseOpenFile(preset, defaultExtension, filter); },
        std::nullopt);
}

std::optional<std::string> OwnerThreadOperator::chooseSaveFile(const std::string& preset,
                                                               const std::string& defaultExtension,
                                                               const std::string& filter) {
    return marshal<std::optional<std::string>>(
        [=](Operator& target) { return target.chooseSaveFile(preset, defaultExtension, filter); },
        std::nullopt);
}

std::optional<std::string> OwnerThreadOperator::chooseFolder(const std::string& title,
                                                             const std::string& preset) {
    return marshal<std::optional<std::string>>(
        [=](Operator& target) { return target.chooseFolder(title, preset); }, std::nullopt);
}

}  // namespace tarvo
