#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "board/BoardAccess.h"
#include "board/BridgeWatch.h"
#include "board/RunEvents.h"
#include "board/RunProgress.h"

namespace tarvo {

// How reading one event ended.
enum class ReadOutcome {
    Event,           // an event arrived and passed its checks
    Stopped,         // StopEvent was signalled (and has been reset)
    DeadlinePassed,  // the time limit ran out
    BridgeLost       // no exchange was answered for the watch's time (see watchBridge)
};

// Polls the event port's status word, block-reads the eight FIFOs of a ready event and checks
// every word. Bridge errors are counted in `progress` and the request is repeated, so only a stop
// request (StopEvent in `events`), the deadline, or, when watched, a bridge that no longer answers
// ends it without an event.
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

    // Ends the reading with BridgeLost once no exchange has been answered for the watch's time;
    // the runs use this, the board operations with their own deadlines do not.
    void watchBridge(BridgeWatch* watch) { watch_ = watch; }

    // The tag of the last ready status word.
    uint32_t tag() const { return tag_; }
    int wordsPerFifo() const { return wordsPerFifo_; }

    // True when each of the words carries the event tag and the FIFO number, with bit 31 clear.
    static bool fifoWordsValid(const uint32_t* words, int count, uint32_t tag, int fifo);

  private:
    std::optional<ReadOutcome> interruption();
    ReadOutcome waitForEvent();
    ReadOutcome readFifo(int fifo, uint32_t* dest);
    // Counts a failed exchange and pauses (a stop request cuts the pause short); BridgeLost once
    // the watched bridge counts as lost.
    std::optional<ReadOutcome> failed(int32_t result);

    BoardAccess& board_;
    RunProgress& progress_;
    RunEvents& events_;
    int wordsPerFifo_;
    uint32_t pollLimit_;
    std::optional<Clock::time_point> deadline_;
    uint32_t tag_ = 0;
    BridgeWatch* watch_ = nullptr;
};

}  // namespace tarvo
