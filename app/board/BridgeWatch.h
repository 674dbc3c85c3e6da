#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvo {

// Tells a bridge that has gone from one that answers with errors. Every exchange of a run is
// noted; once none has been answered for `lostAfter`, the bridge counts as lost. A bus error is an
// answer (the bridge reports the VME bus), as is success; a communication error or a time-out is
// not.
class BridgeWatch {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLostAfter{5};
    // After an exchange that got no answer, the reader waits this long before the next one, so a
    // crate that is gone is not hammered with connections.
    static constexpr std::chrono::milliseconds kPauseAfterFailure{20};

    explicit BridgeWatch(Clock::duration lostAfter = kLostAfter);

    // Notes one exchange's result; false once the bridge counts as lost.
    bool note(int32_t result);
    bool lost() const { return lost_; }
    int32_t lastFailure() const { return lastFailure_; }
    // The message a run ends with when its bridge is lost.
    std::string lostMessage() const;

  private:
    Clock::duration lostAfter_;
    Clock::time_point lastAnswer_;
    int32_t lastFailure_ = 0;
    bool lost_ = false;
};

}  // namespace tarvo
