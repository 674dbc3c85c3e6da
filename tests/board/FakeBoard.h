#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "board/BoardBus.h"

namespace tarvo::test {

// A readout board behind a BoardBus, in the test's own process: registers, queued events on the
// event port, queued transfers on the stream port, and failures placed on chosen accesses.
class FakeBoard : public BoardBus {
  public:
    static constexpr uint32_t kBase = 0x03030000;

    struct Access {
        char kind;  // 'R' single read, 'W' single write, 'B' block read
        uint32_t offset;
        uint32_t value;  // written value, or bytes asked for by a block read
        bool operator==(const Access&) const = default;
    };

    std::map<uint32_t, uint32_t> registers;  // by offset
    std::vector<Access> log;
    // The next access of this kind at this offset fails with the result (once).
    std::map<std::pair<char, uint32_t>, std::deque<int32_t>> failures;
    // Not-ready answers given before each queued event becomes ready.
    uint32_t notReadyPolls = 0;
    // Block reads of the event port deliver at most this many bytes each.
    int32_t maxBlockBytes = 1 << 20;
    // Called on every status poll (e.g. to signal a stop).
    std::function<void(uint32_t pollNumber)> onPoll;

    // Event-port events: a ready status word with the tag, then the FIFO data.
    void queueEvent(uint32_t tag, const std::vector<uint32_t>& words);
    // Stream-port transfers, one per block read.
    std::deque<std::vector<uint32_t>> streamTransfers;

    void failNext(char kind, uint32_t offset, int32_t result) {
        failures[{kind, offset}].push_back(result);
    }
    std::vector<Access> writes() const;
    int blockReads() const;

    int32_t readCycle(int32_t handle, uint32_t address, uint32_t& value) override;
    int32_t writeCycle(int32_t handle, uint32_t address, uint32_t value) override;
    int32_t bltReadCycle(int32_t handle, uint32_t address, uint32_t* words, int32_t bytes,
                         int32_t& count) override;

  private:
    bool takeFailure(char kind, uint32_t offset, int32_t& result);

    struct Event {
        uint32_t tag;
        std::vector<uint32_t> words;
    };
    std::deque<Event> events_;
    std::vector<uint32_t> current_;
    size_t cursor_ = 0;
    uint32_t pollsLeft_ = 0;
    bool pollsArmed_ = false;
    uint32_t pollNumber_ = 0;
};

// A data word of the FIFO layout.
constexpr uint32_t dataWord(uint32_t tag, uint32_t fifo, uint32_t channel, uint32_t sample,
                            uint32_t adc) {
    return (tag << 28) | (fifo << 25) | (channel << 20) | (sample << 16) | adc;
}

// A whole event of 8 FIFOs x wordsPerFifo words, FIFO-major, with ADC values from `adc`
// (fifo, index) or a fixed pattern.
std::vector<uint32_t> makeEvent(uint32_t tag, int wordsPerFifo,
                                std::function<uint32_t(int fifo, int index)> adc = nullptr);

}  // namespace tarvo::test
