#include "board/ReadoutBoard.h"

#include "board/BenchCoupling.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace vmesim::board {

namespace {

bool isA32DataModifier(uint32_t am) {
    switch (am) {
        case 0x08:  // block, 64-bit
        case 0x09:  // user data
        case 0x0B:  // user block
        case 0x0C:
        case 0x0D:  // supervisory data
        case 0x0F:
            return true;
        default:
            return false;
    }
}

}  // namespace

ReadoutBoard::ReadoutBoard(BoardOptions options)
    : options_(std::move(options)),
      signals_(options_.seed),
      rng_(options_.seed),
      stream_(signals_, options_.seed ^ 0xB10C5u) {
    if (options_.eventRateHz > 0) {
        // Periods are capped at some thirty years, so that a tiny rate cannot overflow the clock.
        periodNs_ = static_cast<uint64_t>(std::llround(std::min(1e9 / options_.eventRateHz, 1e18)));
    }
    nextEventNs_ = nextBlockNs_ = nextPulseNs_ = now();
    event_.reserve(kSections * 512);
}

uint64_t ReadoutBoard::now() const {
    if (options_.clockNs) {
        return options_.clockNs();
    }
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool ReadoutBoard::claims(uint32_t address, uint32_t am) const {
    return isA32DataModifier(am) && address - options_.base < kWindowBytes;
}

bool ReadoutBoard::injectBusError() {
    if (options_.busErrorEvery == 0) {
        return false;
    }
    if (++dataAccesses_ % options_.busErrorEvery != 0) {
        return false;
    }
    ++counts_.busErrorsInjected;
    return true;
}

bool ReadoutBoard::read(uint32_t address, uint32_t am, unsigned bytes, Access access,
                        uint64_t& value) {
    if (!claims(address, am) || (address & 3) != 0) {
        return false;
    }
    const uint32_t offset = address - options_.base;
    if (offset >= kEventPort) {
        // The ports are 32 bits wide; a 64-bit block item carries two words, the first in the
        // low half.
        if (bytes != 4 && !(bytes == 8 && access == Access::Block)) {
            return false;
        }
        if (injectBusError()) {
            return false;
        }
        uint32_t first = 0;
        if (!takePortWord(offset, access, first)) {
            return false;
        }
        value = first;
        if (bytes == 8) {
            uint32_t second = kEmptyWord;
            takePortWord(offset, access, second);
            value |= static_cast<uint64_t>(second) << 32;
        }
        return true;
    }
    if (bytes != 4) {
        return false;
    }
    uint32_t word = 0;
    if (!readRegister(offset, word)) {
        return false;
    }
    value = word;
    return true;
}

bool ReadoutBoard::takePortWord(uint32_t offset, Access access, uint32_t& word) {
    if (offset >= kStreamPort) {
        return takeStreamWord(word);
    }
    word = access == Access::Single ? readStatus() : takeEventWord();
    return true;
}

bool ReadoutBoard::write(uint32_t address, uint32_t am, unsigned bytes, Access access,
                         uint64_t value) {
    (void)access;
    if (!claims(address, am) || (address & 3) != 0 || bytes != 4) {
        return false;
    }
    return writeRegister(address - options_.base, static_cast<uint32_t>(value));
}

bool ReadoutBoard::readRegister(uint32_t offset, uint32_t& value) const {
    if (offset < kSections * kSectionStride) {
        const uint32_t index = (offset % kSectionStride) / 4;
        if (index >= kSectionRegisters) {
            return false;
        }
        value = taRegisters_[(offset / kSectionStride) * kSectionRegisters + index];
        return true;
    }
    switch (offset) {
        case kHold1:
            value = hold1_;
            return true;
        case kHold2:
            value = hold2_;
            return true;
        case kControl1:
            value = control1_;
            return true;
        case kControl2:
            value = control2_;
            return true;
        case kOffsetAdc:
            value = offsetAdc_;
            return true;
        default:
            return false;  // the trigger and the holes between registers do not answer reads
    }
}

bool ReadoutBoard::writeRegister(uint32_t offset, uint32_t value) {
    if (offset < kSections * kSectionStride) {
        const uint32_t index = (offset % kSectionStride) / 4;
        if (index >= kSectionRegisters) {
            return false;
        }
        taRegisters_[(offset / kSectionStride) * kSectionRegisters + index] = value;
        return true;
    }
    switch (offset) {
        case kHold1:
            hold1_ = value;
            return true;
        case kHold2:
            hold2_ = value;
            return true;
        case kControl1:
            control1_ = value;
            abandonEvent();
            return true;
        case kControl2:
            control2_ = value;
            abandonEvent();
            return true;
        case kOffsetAdc:
            offsetAdc_ = value;
            return true;
        case kSoftTrigger:
            softwareTrigger();
            return true;
        default:
            return false;
    }
}

void ReadoutBoard::softwareTrigger() {
    const Mode mode = modeOf(control1_);
    if (mode == Mode::ConfigurationLoad) {
        const unsigned section = loadSection(control2_);
        std::copy_n(taRegisters_.begin() + section * kSectionRegisters, kSectionRegisters,
                    frontEnd_[section].reg.begin());
        ++counts_.configurationLoads;
        return;
    }
    // A trigger while an event waits to be read finds the board busy and is lost.
    if (wordsPerFifo(mode) > 0 && !eventPending_) {
        makeEvent();
    }
}

uint32_t ReadoutBoard::readStatus() {
    if (eventPending_ && eventPos_ > 0) {
        abandonEvent();
    }
    if (!eventPending_ && wordsPerFifo(modeOf(control1_)) > 0 && eventDue()) {
        makeEvent();
    }
    if (eventPending_) {
        return statusReady(tag_);
    }
    return wordsPerFifo(modeOf(control1_)) > 0 ? kBusyStatus : 0;
}

// Triggers come at the set rate, on a fixed time grid. Those that arrive while the board is busy
// leave one latched trigger behind, so a reader that falls behind gets one event at once and then
// the rate again, never a burst.
bool ReadoutBoard::eventDue() {
    if (options_.bench != nullptr && wordsPerFifo(modeOf(control1_)) == 256) {
        return triggerDue();
    }
    return dueOnGrid(nextEventNs_, periodNs_);
}

// The read-out modes on a bench: the sections' discriminators, OR-ed. Detector signals and noise
// fire at the board's event rate, generator pulses at the generator's frequency.
bool ReadoutBoard::triggerDue() {
    const BenchState::Snapshot bench = options_.bench->snapshot();
    bool freeRunning = false;
    bool pulse = false;
    for (unsigned s = 0; s < kSections; ++s) {
        switch (bench::triggerSource(frontEnd_[s], bench.thresholdVolts[s], bench)) {
            case bench::TriggerSource::Input:
            case bench::TriggerSource::Noise:
                freeRunning = true;
                break;
            case bench::TriggerSource::Pulse:
                pulse = true;
                break;
            case bench::TriggerSource::None:
                break;
        }
    }
    const bool freeDue = freeRunning && dueOnGrid(nextEventNs_, periodNs_);
    const auto pulsePeriod = static_cast<uint64_t>(std::llround(1e9 / bench.generatorHz));
    const bool pulseDue = pulse && dueOnGrid(nextPulseNs_, std::max<uint64_t>(pulsePeriod, 1));
    return freeDue || pulseDue;
}

bool ReadoutBoard::dueOnGrid(uint64_t& nextNs, uint64_t periodNs) {
    if (periodNs == 0) {
        return true;
    }
    const uint64_t t = now();
    if (t < nextNs) {
        return false;
    }
    nextNs += periodNs * (1 + (t - nextNs) / periodNs);
    return true;
}

void ReadoutBoard::makeEvent() {
    const Mode mode = modeOf(control1_);
    const int n = wordsPerFifo(mode);
    if (counts_.eventsMade > 0) {
        tag_ = (tag_ + 1) & 0x7;
    }
    ++counts_.eventsMade;
    event_.resize(static_cast<size_t>(kSections) * n);
    const int shift = SignalModel::adcShiftFor(offsetAdc_);
    if (options_.bench != nullptr) {
        signals_.setTestPulseVolts(bench::calibrationVolts(options_.bench->snapshot()));
    }
    for (unsigned k = 0; k < kSections; ++k) {
        uint32_t* out = event_.data() + k * n;
        if (n == 256) {
            signals_.fillReadoutRecord(out, tag_, k, frontEnd_[k], shift, rng_);
        } else {
            const unsigned channel =
                mode == Mode::Monitor ? monitoredChannel(control2_) : channelUnderTest(control2_);
            signals_.fillWaveform(out, tag_, k, channel, frontEnd_[k], shift, rng_);
        }
    }
    eventPos_ = 0;
    eventPending_ = true;
    if (options_.corruptEvery != 0 && counts_.eventsMade % options_.corruptEvery == 0) {
        corruptOneWord();
    }
}

// One word goes bad in one of the three ways a reader must catch, taken in turn.
void ReadoutBoard::corruptOneWord() {
    uint32_t& word = event_[rng_.below(static_cast<uint32_t>(event_.size()))];
    switch (corruptionKind_++ % 3) {
        case 0:
            word |= 0x80000000u;
            break;
        case 1: {
            const uint32_t tag = (word >> 28) & 0x7;
            const uint32_t wrong = (tag + 1 + rng_.below(7)) & 0x7;
            word = (word & ~0x70000000u) | (wrong << 28);
            break;
        }
        default: {
            const uint32_t fifo = (word >> 25) & 0x7;
            const uint32_t wrong = (fifo + 1 + rng_.below(7)) & 0x7;
            word = (word & ~0x0E000000u) | (wrong << 25);
            break;
        }
    }
    ++counts_.corruptEventsInjected;
}

void ReadoutBoard::abandonEvent() {
    eventPending_ = false;
    eventPos_ = 0;
}

uint32_t ReadoutBoard::takeEventWord() {
    if (!eventPending_) {
        return kEmptyWord;
    }
    const uint32_t word = event_[eventPos_++];
    if (eventPos_ == event_.size()) {
        ++counts_.eventsRead;
        abandonEvent();
    }
    return word;
}

bool ReadoutBoard::takeStreamWord(uint32_t& word) {
    if (!stream_.hasWord()) {
        if (!dueOnGrid(nextBlockNs_, periodNs_)) {
            ++counts_.streamEmptyReads;
            return false;
        }
        stream_.startBlock(frontEnd_[0], SignalModel::adcShiftFor(offsetAdc_));
    }
    word = stream_.takeWord();
    return true;
}

void ReadoutBoard::addStats(std::map<std::string, uint64_t>& counts) const {
    counts["events_made"] += counts_.eventsMade;
    counts["events_read"] += counts_.eventsRead;
    counts["bus_errors_injected"] += counts_.busErrorsInjected;
    counts["corrupt_events_injected"] += counts_.corruptEventsInjected;
    counts["stream_blocks_read"] += stream_.blocksRead();
    counts["stream_fragments_read"] += stream_.fragmentsRead();
    counts["stream_empty_bus_errors"] += counts_.streamEmptyReads;
}

}  // namespace vmesim::board
