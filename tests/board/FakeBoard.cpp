#include "board/FakeBoard.h"

#include <algorithm>
#include <cstring>

#include "KOVRAVMElib.h"
#include "board/BoardRegisters.h"

namespace tarvo::test {

void FakeBoard::queueEvent(uint32_t tag, const std::vector<uint32_t>& words) {
    events_.push_back({tag, words});
}

std::vector<FakeBoard::Access> FakeBoard::writes() const {
    std::vector<Access> out;
    for (const auto& a : log) {
        if (a.kind == 'W') {
            out.push_back(a);
        }
    }
    return out;
}

int FakeBoard::blockReads() const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [](const Access& a) {
        return a.kind == 'B' && a.offset == board::kEventPort;
    }));
}

bool FakeBoard::takeFailure(char kind, uint32_t offset, int32_t& result) {
    auto it = failures.find({kind, offset});
    if (it == failures.end() || it->second.empty()) {
        return false;
    }
    result = it->second.front();
    it->second.pop_front();
    return true;
}

int32_t FakeBoard::readCycle(int32_t, uint32_t address, uint32_t& value) {
    uint32_t offset = address - kBase;
    log.push_back({'R', offset, 0});
    if (gone != Success) {
        return gone;
    }
    int32_t failure = 0;
    if (offset == board::kEventPort) {
        if (onPoll) {
            onPoll(++pollNumber_);
        }
        if (takeFailure('R', offset, failure)) {
            return failure;
        }
        if (events_.empty()) {
            value = 0;
            return Success;
        }
        if (!pollsArmed_) {
            pollsLeft_ = notReadyPolls;
            pollsArmed_ = true;
        }
        if (pollsLeft_ > 0) {
            --pollsLeft_;
            value = 0x40000000;  // bit 30 set: not ready
            return Success;
        }
        pollsArmed_ = false;
        Event event = std::move(events_.front());
        events_.pop_front();
        current_ = std::move(event.words);
        cursor_ = 0;
        value = 0x80000000u | (event.tag << 16) | 0x1234;
        return Success;
    }
    if (takeFailure('R', offset, failure)) {
        return failure;
    }
    value = registers[offset];
    return Success;
}

int32_t FakeBoard::writeCycle(int32_t, uint32_t address, uint32_t value) {
    uint32_t offset = address - kBase;
    log.push_back({'W', offset, value});
    if (gone != Success) {
        return gone;
    }
    int32_t failure = 0;
    if (takeFailure('W', offset, failure)) {
        return failure;
    }
    registers[offset] = value;
    return Success;
}

int32_t FakeBoard::bltReadCycle(int32_t, uint32_t address, uint32_t* words, int32_t bytes,
                                int32_t& count) {
    uint32_t offset = address - kBase;
    log.push_back({'B', offset, static_cast<uint32_t>(bytes)});
    count = 0;
    if (gone != Success) {
        return gone;
    }
    if (offset == board::kStreamPort) {
        int32_t failure = 0;
        if (streamTransfers.empty()) {
            return takeFailure('B', offset, failure) ? failure : Success;
        }
        auto transfer = std::move(streamTransfers.front());
        streamTransfers.pop_front();
        size_t n = std::min(transfer.size(), static_cast<size_t>(bytes) / 4);
        std::memcpy(words, transfer.data(), n * 4);
        count = static_cast<int32_t>(n * 4);
        return takeFailure('B', offset, failure) ? failure : Success;
    }
    int32_t failure = 0;
    // A failing block read delivers half of what it could before the error.
    size_t want = std::min<size_t>(static_cast<size_t>(std::min(bytes, maxBlockBytes)) / 4,
                                   current_.size() - cursor_);
    bool fails = takeFailure('B', offset, failure);
    if (fails) {
        want /= 2;
    }
    std::memcpy(words, current_.data() + cursor_, want * 4);
    cursor_ += want;
    count = static_cast<int32_t>(want * 4);
    return fails ? failure : Success;
}

std::vector<uint32_t> makeEvent(uint32_t tag, int wordsPerFifo,
                                std::function<uint32_t(int fifo, int index)> adc) {
    std::vector<uint32_t> words;
    int samples = wordsPerFifo / 32;
    for (int k = 0; k < 8; ++k) {
        for (int i = 0; i < wordsPerFifo; ++i) {
            uint32_t value = adc ? adc(k, i) : static_cast<uint32_t>(100 * k + i % 50);
            words.push_back(dataWord(tag, static_cast<uint32_t>(k),
                                     static_cast<uint32_t>(i / samples),
                                     static_cast<uint32_t>(i % samples) & 0x7, value & 0x1FFF));
        }
    }
    return words;
}

}  // namespace tarvo::test
