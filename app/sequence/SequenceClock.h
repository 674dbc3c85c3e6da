#pragma once

#include <chrono>

namespace tarvo {

// The fixed waits of the sequence tests (500 ms per section, 100 ms after a set-up or a
// threshold). The program waits for real; tests pass a clock that only counts.
class SequenceClock {
  public:
    virtual ~SequenceClock() = default;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// The clock of the program: the thread sleeps.
SequenceClock& realSequenceClock();

}  // namespace tarvo
