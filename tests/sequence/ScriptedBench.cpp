#include "ScriptedBench.h"

#include <algorithm>

namespace tarvo::test {

void ScriptedBench::systemReset() {
    calls.push_back("reset");
}

void ScriptedBench::setupTaChannelTest(int ta, int32_t channel, int negative) {
    calls.push_back("setup " + std::to_string(ta) + " " + std::to_string(channel) + " " +
                    std::to_string(negative));
    if (channel >= 0) {
        section_ = ta;
    }
}

void ScriptedBench::setReadoutMode(uint32_t mode, uint32_t channel) {
    calls.push_back("mode " + std::to_string(mode) + " " + std::to_string(channel));
    channel_ = static_cast<int>(channel);
}

int32_t ScriptedBench::readEvents(int32_t count, uint32_t timeLimitMs, bool display) {
    calls.push_back("events " + std::to_string(count) + " " + std::to_string(timeLimitMs) + " " +
                    std::to_string(display));
    int32_t result = 0;
    if (display && !eventResults.empty()) {
        result = eventResults.front();
        eventResults.pop_front();
    } else {
        const double threshold = slots.count(section_) ? slots[section_] : 0.0;
        result = pulseVolts > threshold ? kReadDone : kReadDeadlinePassed;
    }
    // A channel that fires gives every event asked for; one that does not, none.
    const double threshold = slots.count(section_) ? slots[section_] : 0.0;
    state_.progress.cyclesDone.store(pulseVolts > threshold ? count : 0);
    return result;
}

int32_t ScriptedBench::readAveragedEvents(int32_t count, uint32_t timeLimitMs, bool display,
                                          uint32_t* means, uint32_t* peaks, uint32_t* peakNegs,
                                          AveragedEventDetail* detail) {
    calls.push_back("avg " + std::to_string(count) + " " + std::to_string(timeLimitMs) + " " +
                    std::to_string(display));
    int32_t result = 0;
    if (!display && !warmUpResults.empty()) {
        result = warmUpResults.front();
        warmUpResults.pop_front();
    } else if (display && state_.events.StopEvent.isSet()) {
        state_.events.StopEvent.reset();
        result = kReadStopped;
    } else if (display && !averagedResults.empty()) {
        result = averagedResults.front();
        averagedResults.pop_front();
    }
    for (int k = 0; k < 8; ++k) {
        if (means) {
            means[k] = mean(channel_, k);
        }
        if (peaks) {
            peaks[k] = peak(channel_, k);
        }
        if (peakNegs) {
            peakNegs[k] = peakNeg(channel_, k);
        }
    }
    if (detail) {
        for (int i = 0; i < 512; ++i) {
            detail->averages[7][i] = average(channel_, i);
            detail->lastEvent[7][i] = rawWord(channel_, i);
        }
    }
    state_.progress.cyclesDone.store(count);
    return result;
}

bool ScriptedBench::setThreshold(int slot, double volts) {
    thresholdRequests.push_back({slot, volts});
    slots[slot] = volts;
    return true;
}

std::vector<std::string> ScriptedBench::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    return out;
}

namespace {

class RecordingInstrument : public Instrument {
  public:
    explicit RecordingInstrument(RecordingInstruments& owner) : owner_(owner) {
        ++owner_.openConnections;
    }
    ~RecordingInstrument() override { --owner_.openConnections; }
    bool write(const std::string& text, std::string& error) override {
        if (!owner_.refused.empty() && text == owner_.refused) {
            error = "Connection reset by peer";
            return false;
        }
        owner_.written.push_back(text);
        return true;
    }

  private:
    RecordingInstruments& owner_;
};

}  // namespace

std::unique_ptr<Instrument> RecordingInstruments::open(const std::string& resource,
                                                       std::string& error) {
    opened.push_back(resource);
    if (std::find(absent.begin(), absent.end(), resource) != absent.end()) {
        error = "Connection refused";
        return nullptr;
    }
    return std::make_unique<RecordingInstrument>(*this);
}

}  // namespace tarvo::test
