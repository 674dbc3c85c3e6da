#include "board/FifoEventReader.h"

#include <algorithm>
#include <thread>

#include "KOVRAVMElib.h"
#include "board/BoardRegisters.h"

namespace tarvo {
namespace {

// After a bus error the bridge is given a moment before the next request.
void pauseAfterBusError() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

FifoEventReader::FifoEventReader(BoardAccess& board, RunProgress& progress, RunEvents& events,
                                 int wordsPerFifo, uint32_t pollLimit,
                                 std::optional<Clock::time_point> deadline)
    : board_(board),
      progress_(progress),
      events_(events),
      wordsPerFifo_(wordsPerFifo),
      pollLimit_(pollLimit),
      deadline_(deadline) {}

bool FifoEventReader::fifoWordsValid(const uint32_t* words, int count, uint32_t tag, int fifo) {
    for (int i = 0; i < count; ++i) {
        if (!board::dataWordValid(words[i], tag, fifo)) {
            return false;
        }
    }
    return true;
}

std::optional<ReadOutcome> FifoEventReader::interruption() {
    if (events_.StopEvent.isSet()) {
        events_.StopEvent.reset();
        return ReadOutcome::Stopped;
    }
    if (deadline_ && Clock::now() > *deadline_) {
        return ReadOutcome::DeadlinePassed;
    }
    return std::nullopt;
}

ReadOutcome FifoEventReader::waitForEvent() {
    uint32_t polls = 0;
    for (;;) {
        if (auto stop = interruption()) {
            return *stop;
        }
        uint32_t status = 0;
        int32_t result = board_.read(board::kEventPort, status);
        if (result == BusError) {
            progress_.busErrorCount.fetch_add(1, std::memory_order_relaxed);
            pauseAfterBusError();
            continue;
        }
        if (result != Success) {
            progress_.lastError.store(result, std::memory_order_relaxed);
            continue;
        }
        if (board::eventReady(status)) {
            tag_ = board::eventTag(status);
            return ReadOutcome::Event;
        }
        progress_.lastError.store(board::kEventNotReady, std::memory_order_relaxed);
        if (++polls > pollLimit_) {
            progress_.eventsLost.fetch_add(1, std::memory_order_relaxed);
            polls = 0;
        }
    }
}

ReadOutcome FifoEventReader::readFifo(int fifo, uint32_t* dest) {
    (void)fifo;
    int got = 0;
    while (got < wordsPerFifo_) {
        if (auto stop = interruption()) {
            return *stop;
        }
        int32_t missing = 4 * (wordsPerFifo_ - got);
        int32_t count = 0;
        int32_t result = board_.blockRead(board::kEventPort, dest + got, missing, count);
        // A bridge that claims more than was asked for must not push us past the area.
        if (count > 0) {
            got += std::min(count, missing) / 4;
        }
        if (result == BusError) {
            progress_.busErrorCount.fetch_add(1, std::memory_order_relaxed);
            pauseAfterBusError();
        } else if (result != Success) {
            progress_.lastError.store(result, std::memory_order_relaxed);
        }
    }
    return ReadOutcome::Event;
}

ReadOutcome FifoEventReader::readEvent(uint32_t* area) {
    for (;;) {
        ReadOutcome waited = waitForEvent();
        if (waited != ReadOutcome::Event) {
            return waited;
        }
        bool accepted = true;
        for (int k = 0; k < kFifoCount; ++k) {
            uint32_t* fifoWords = area + static_cast<size_t>(k) * wordsPerFifo_;
            ReadOutcome read = readFifo(k, fifoWords);
            if (read != ReadOutcome::Event) {
                return read;
            }
            // Checked before the next FIFO is read, so a broken event costs no further transfers.
            if (!fifoWordsValid(fifoWords, wordsPerFifo_, tag_, k)) {
                progress_.eventsLost.fetch_add(1, std::memory_order_relaxed);
                progress_.lastError.store(board::kEventCheckFailed, std::memory_order_relaxed);
                accepted = false;
                break;
            }
        }
        if (accepted) {
            return ReadOutcome::Event;
        }
    }
}

}  // namespace tarvo
