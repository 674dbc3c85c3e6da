#pragma once

#include <functional>

namespace tarvo {

// Runs work on the thread that owns it (the window's GUI thread, for instance). post() may be
// called from any thread and returns at once; the work runs later, in order, on the owner.
class Executor {
  public:
    virtual ~Executor() = default;
    virtual void post(std::function<void()> work) = 0;
};

}  // namespace tarvo
