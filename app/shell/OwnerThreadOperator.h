#pragma once

#include <memory>
#include <thread>

#include "shell/Executor.h"
#include "shell/Operator.h"

namespace tarvo {

// Puts the operator a worker talks to on the thread that owns the person's attention.
//
// Each call from another thread is posted to the owner's executor, where `target` shows it; only
// the asking thread waits for the answer. Calls made on the owner thread itself go straight to
// the target. shutDown() releases every waiting and every later call at once with the default
// answer (false, or no path; messages are dropped), so the owner may join a worker that might
// still be asking without waiting for itself. Work already posted and not yet run then does
// nothing, even when it runs after this object is gone.
class OwnerThreadOperator : public Operator {
  public:
    // The owner thread is the one constructing this object.
    OwnerThreadOperator(Operator& target, Executor& executor);
    ~OwnerThreadOperator() override;
    OwnerThreadOperator(const OwnerThreadOperator&) = delete;
    OwnerThreadOperator& operator=(const OwnerThreadOperator&) = delete;

    void shutDown() override;
    bool isShutDown() const;

    void error(const std::string& text) override;
    void warning(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    bool askRetryCancel(const std::string& text) override;
    std::optional<std::string> chooseOpenFile(const std::string& preset,
                                              const std::string& defaultExtension,
                                              const std::string& filter) override;
    std::optional<std::string> chooseSaveFile(const std::string& preset,
                                              const std::string& defaultExtension,
                                              const std::string& filter) override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& preset) override;

  private:
    struct Shared;

    // Runs `call` on the target on the owner thread and waits for its result; `fallback` after
    // shutDown().
    template <typename Result, typename Call>
    Result marshal(Call call, Result fallback);

    std::shared_ptr<Shared> shared_;
    Executor& executor_;
    std::thread::id owner_;
};

}  // namespace tarvo
