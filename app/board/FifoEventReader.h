#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "board/BoardAccess.h"
#include "board/RunEvents.h"
#include "board/RunProgress.h"

namespace tarvo {

// How reading one event ended.
enum class ReadOutcome {
    Event,          // an event arrived and passed its checks
    Stopped,        // StopEvent was signalled (and has been reset)
    DeadlinePassed  // the time limit ran out
};

// Polls the event port's status word, block-reads the eight FIFOs of a ready event and checks
// every word. Bridge errors never end the reading: they are counted and the
// request is repeated, so only a stop request or the deadline ends it without an event. Bridge
// failures are counted in `progress`; a StopEvent in `events` ends the reading.
class FifoEventReader {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFifoCount = 8;

    // wordsPerFifo: 256 (read-out) or 512 (monitor and averaging); pollLimit: not-ready polls
    // that count one lost event (2048 or 4096).
    FifoEventReader(BoardAccess& board, RunProgress& progress, RunEvents& events, int wordsPerFifo,
                    uint32_t pollLimit, std::optional<Clock::time_point> deadline = std::nullopt);

    // Reads the next event that passes its checks into `area`: FIFO k at k * wordsPerFifo.
    // An event that fails its checks is dropped (one lost event, "Last Error" -10) and the
    // reader waits for the next one.
    ReadOutcome readEvent(uint32_t* area);

    // The tag of the last ready status word.
    uint32_t tag() const { return tag_; }
    int wordsPerFifo() const { return wordsPerFifo_; }

    // True when each of the words carries the event tag and the FIFO number, with bit 31 clear.
    static bool fifoWordsValid(const uint32_t* words, int count, uint32_t tag, int fifo);

  private:
    std::optional<ReadOutcome> interruption();
    ReadOutcome waitForEvent();
    ReadOutcome readFifo(int fifo, uint32_t* dest);

    BoardAccess& board_;
    RunProgress& progress_;
    RunEvents& events_;
    int wordsPerFifo_;
    uint32_t pollLimit_;
    std::optional<Clock::time_point> deadline_;
    uint32_t tag_ = 0;
};

}  // namespace tarvo
