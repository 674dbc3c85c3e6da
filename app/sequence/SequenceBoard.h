#pragma once

#include <cstdint>

#include "acquisition/RunState.h"
#include "board/BoardOperations.h"

namespace tarvo {

// The board operations the sequence tests call, in one place so a test can put a scripted board
// behind them. Results and outputs are those of the board operations: the event reads return
// kReadDone, kReadStopped or kReadDeadlinePassed and set the run state's cyclesDone.
class SequenceBoard {
  public:
    virtual ~SequenceBoard() = default;
    virtual void systemReset() = 0;
    virtual void setupTaChannelTest(int ta, int32_t channel, int negative) = 0;
    virtual void setReadoutMode(uint32_t mode, uint32_t channel) = 0;
    virtual int32_t readEvents(int32_t count, uint32_t timeLimitMs, bool display) = 0;
    virtual int32_t readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display,
                                       uint32_t* means, uint32_t* peaks, uint32_t* peakNegs,
                                       AveragedEventDetail* detail) = 0;
};

// The board of the run state, through the bridge library (or the run state's bus). The
// sequence tests do not look at the results of the reset and the set-ups: the operations show
// their own failures.
class RunStateBoard : public SequenceBoard {
  public:
    explicit RunStateBoard(RunState& state) : state_(state) {}

    void systemReset() override;
    void setupTaChannelTest(int ta, int32_t channel, int negative) override;
    void setReadoutMode(uint32_t mode, uint32_t channel) override;
    int32_t readEvents(int32_t count, uint32_t timeLimitMs, bool display) override;
    int32_t readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display, uint32_t* means,
                               uint32_t* peaks, uint32_t* peakNegs,
                               AveragedEventDetail* detail) override;

  private:
    RunState& state_;
};

}  // namespace tarvo
