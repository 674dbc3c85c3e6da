#include "sequence/SequenceBoard.h"

#include <thread>

#include "KOVRAVMElib.h"
#include "sequence/SequenceClock.h"

namespace tarvo {

namespace {

class RealSequenceClock : public SequenceClock {
  public:
    void sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

}  // namespace

SequenceClock& realSequenceClock() {
    static RealSequenceClock clock;
    return clock;
}

void RunStateBoard::systemReset() {
    (void)KOVRAVME_SystemReset(state_.vmeHandle);
}

void RunStateBoard::setupTaChannelTest(int ta, int32_t channel, int negative) {
    (void)SetupTaChannelTest(state_, ta, channel, negative);
}

void RunStateBoard::setReadoutMode(uint32_t mode, uint32_t channel) {
    (void)SetReadoutMode(state_, mode, channel);
}

int32_t RunStateBoard::readEvents(int32_t count, uint32_t timeLimitMs, bool display) {
    return ReadEvents(state_, count, timeLimitMs, display);
}

int32_t RunStateBoard::readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display,
                                          uint32_t* means, uint32_t* peaks, uint32_t* peakNegs,
                                          AveragedEventDetail* detail) {
    return ReadAveragedEvents(state_, count, timeLimitMs, display, means, peaks, peakNegs, detail);
}

}  // namespace tarvo
